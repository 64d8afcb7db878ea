#!/usr/bin/env bash
# GUI tests of TandrelConfigurationController.exe under Wine, one case per run:
#   run_gui_tests.sh probe|upload|port-fails|about|help|help-f1|close-mid-run|
#                    about-run-end|failure-box|bad-answer|port-beyond-four|
#                    pulled-cable|close-timing|utf8-path|cancel-sent-twice|
#                    save-unwritable
# The station is tcc-station-sim on a pty, mapped to a COM port through Wine's
# registry; the windows are driven by guidriver.exe in the same prefix.
#
# Environment: WINEPREFIX, DISPLAY and friends from scripts/wine-env.sh;
# TCC_NATIVE_BUILD (the simulator and the TIOCMGET shim); from CTest GUIDRIVER,
# GUI_WORK, GUI_SCREENSHOTS and APP_EXE (PROBE for the probe case).
# Exit status: 0 passed, 1 failed, 77 skipped (a prerequisite is missing).
set -euo pipefail
# shellcheck source=../wine/station.sh
. "$(dirname "$0")/../wine/station.sh"

case_name="${1:?usage: run_gui_tests.sh CASE}"
readonly TITLE="Halvorix Serial Configuration Uploader"
readonly CAPTION="TandrelConfigurationController"
readonly ABOUT="About TandrelConfigurationController"
readonly IDC_UPLOAD=1000 IDC_PORT=1007 IDC_PROGRESS=1009 IDC_STATUS=1010 IDM_ABOUTBOX=0x0010 ID_HELP=57670

fail() { echo "FAIL [$case_name]: $*" >&2; exit 1; }
skip() { echo "SKIP [$case_name]: $*" >&2; exit 77; }
note() { echo "-- $*"; }

: "${WINEPREFIX:?source scripts/wine-env.sh first}"
[ -n "${DISPLAY:-}" ] || skip "no X display (source scripts/wine-env.sh)"
[ -n "${GUIDRIVER:-}" ] || fail "GUIDRIVER is not set (run through ctest)"

work="${GUI_WORK:?}/$case_name"
rm -rf "$work"
mkdir -p "$work" "${GUI_SCREENSHOTS:?}"

app_pid=""
cleanup() {
  local rc=$? failed="$BASH_COMMAND"
  # A command outside a check that ends the case through set -e says nothing
  # of its own: name it (a fail or a signal ends with "exit").
  if [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ] && [ "${failed%% *}" != exit ]; then
    echo "FAIL [$case_name]: \"$failed\" ended with status $rc" >&2
  fi
  # Kill only what this script started, then the prefix's wineserver with
  # every Wine process of the prefix (the driver, the program, its services).
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  station_stop
  wineserver -k 2>/dev/null || true
  if [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ]; then
    for f in "$work"/app.log "$work"/sim.err "$work"/wineserver.log; do
      [ -s "$f" ] && { echo "---- $f"; tail -n 20 "$f"; }
    done
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Every driver failure says how the driver ended, with its command: the exit
# status it chose, or the signal that killed it (a driver killed before it
# could print a word would otherwise leave only the check's own message).
drv() {
  local rc=0
  wine "$GUIDRIVER" "$@" || rc=$?
  if [ "$rc" -gt 128 ] && [ "$rc" -lt 160 ]; then
    echo "guidriver $*: killed by signal $((rc - 128)) (SIG$(kill -l $((rc - 128)) 2>/dev/null))" >&2
  elif [ "$rc" -ne 0 ]; then
    echo "guidriver $*: exit status $rc" >&2
  fi
  return "$rc"
}

expect_eq() {  # what, actual, expected
  [ "$2" = "$3" ] || fail "$1: got \"$2\", expected \"$3\""
}

wait_exit() {  # pid, seconds: polls, since the process is not always our child
  local deadline=$((SECONDS + $2))
  while kill -0 "$1" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

native_tools() {
  [ -n "${TCC_NATIVE_BUILD:-}" ] || skip "TCC_NATIVE_BUILD is not set (the simulator and the shim live there)"
  sim="$TCC_NATIVE_BUILD/tools/station-sim/tcc-station-sim"
  shim="$TCC_NATIVE_BUILD/tests/wine/libtiocmget_shim.so"
  [ -x "$sim" ] || fail "no simulator at $sim"
  [ -f "$shim" ] || fail "no TIOCMGET shim at $shim"
}

start_sim() {  # simulator arguments...
  station_start "$sim" "$work" "$@" || fail "the simulator did not start"
  slave="$station_pty"
  note "simulator on $slave"
}

# Wine reads its port mapping when its server starts, so the server is
# restarted after the registry has changed (the X11 driver's settings are
# the prefix's, from scripts/wine-env.sh).
prepare_prefix() {  # [port, unix device path]
  if [ $# -eq 2 ]; then
    station_map_com "$1" "$2" || fail "could not map $1 in the registry"
  fi
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  # Started here, so its diagnostics land in the case's folder rather than in
  # the output of whichever Wine process happened to start it.
  wineserver -p5 >>"$work/wineserver.log" 2>&1 || fail "could not start wineserver"
}

# A folder that Wine removes while find walks it is no reason to fail.
profile_files() {
  find "$WINEPREFIX/drive_c/windows" "$WINEPREFIX/drive_c/users" -maxdepth 5 \
       -iname 'TandrelConfigurationController.ini' 2>/dev/null || true
}

start_app() {
  # A first run: no profile from an earlier case (KEEP_PROFILE=1: a later run).
  if [ -z "${KEEP_PROFILE:-}" ]; then profile_files | while read -r f; do rm -f "$f"; done; fi
  (cd "$work" && LD_PRELOAD="${shim:-}" exec wine "$APP_EXE") >"$work/app.log" 2>&1 &
  app_pid=$!
  drv wait-window "$TITLE" 60 || fail "the upload window did not open"
  drv wait-text "$TITLE" $IDC_STATUS "Idle." 10 || fail "the status never read \"Idle.\""
}

close_app() {
  drv close "$TITLE" || fail "could not close the upload window"
  wait_exit "$app_pid" 30 || fail "the program did not end within 30 s of Cancel"
  app_pid=""
}

screenshot() {  # window title, png name
  local geometry
  geometry="$(drv rect "$1")" || fail "no window \"$1\" to photograph"
  import -window root -display "$DISPLAY" "$work/screen.png" || fail "import could not read $DISPLAY"
  convert "$work/screen.png" -crop "$geometry" +repage "$GUI_SCREENSHOTS/$2" ||
    fail "could not crop the screenshot to $geometry"
  note "screenshot $GUI_SCREENSHOTS/$2 ($geometry)"
}

ini_value() {  # file, section, key: the value, CRs removed
  tr -d '\r' <"$1" | awk -v s="[$2]" -v k="$3" '
    /^\[/ { in_s = ($0 == s); next }
    in_s && index($0, k "=") == 1 { print substr($0, length(k) + 2); exit }'
}

check_profile() {  # expected Port, expected Config_File
  local ini
  ini="$(profile_files | head -n 1)"
  [ -n "$ini" ] || fail "no TandrelConfigurationController.INI in the prefix after closing"
  note "profile $ini"
  expect_eq "Serial_Config/Port" "$(ini_value "$ini" Serial_Config Port)" "$1"
  expect_eq "Main/Config_File" "$(ini_value "$ini" Main Config_File)" "$2"
  local ip
  ip="$(ini_value "$ini" IP_Config Basestation_IP_Address)"
  [[ "$ip" =~ ^[0-9]{1,3}(\.[0-9]{1,3}){3}$ ]] || fail "IP_Config/Basestation_IP_Address is \"$ip\""
}

case_probe() {
  [ -n "${PROBE:-}" ] || fail "PROBE is not set"
  wine "$PROBE" >/dev/null 2>&1 &
  local probe_pid=$! text rc=0
  text="$(drv msgbox guidriver-probe 60)" || fail "the driver found no probe message box"
  expect_eq "message box text" "$text" "Probe text, line one."
  wait "$probe_pid" || rc=$?
  expect_eq "probe exit code (IDOK)" "$rc" 1
}

case_upload() {
  native_tools
  find "$WINEPREFIX/drive_c/users" -name runs.jsonl -delete 2>/dev/null || true
  start_sim --size 70000 --seed 11 --unpaced --save-image "$work/served.bin"
  prepare_prefix COM1 "$slave"
  start_app
  expect_eq "port field" "$(drv text "$TITLE" $IDC_PORT)" "COM1"
  drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload"
  # No UploadConfig.ini in the working folder: the line runs at its default.
  expect_eq "message without a baud-rate file" "$(drv msgbox "$CAPTION" 30)" \
    "Using Defaults, Contact Technical Support if communications fail."
  local out="$work/saved.qmf" win_out
  win_out="$(winepath -w "$out")"
  drv wait-window "Save As" 60 || fail "no Save As dialog after the transfer"
  expect_eq "Save As proposes" "$(drv text "Save As" 0x47C)" "default.map"
  # The status changes only once the dialog has closed.
  expect_eq "status under Save As" "$(drv text "$TITLE" $IDC_STATUS)" "Upload in progress."
  drv saveas "$win_out" 10 || fail "could not save through the Save As dialog"
  drv wait-text "$TITLE" $IDC_STATUS "Completed OK" 20 || fail "the status never read \"Completed OK\""
  [ -f "$out" ] || fail "nothing was saved at $out"
  cmp "$work/served.bin" "$out" || fail "the saved file differs from the image served"
  expect_eq "progress (pos lo hi)" "$(drv progress "$TITLE" $IDC_PROGRESS)" "70000 0 70000"
  expect_eq "Upload enabled" "$(drv enabled "$TITLE" $IDC_UPLOAD)" 1

  # A second run from the same window; cancelling its Save As keeps the file
  # and the remembered name.
  drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload a second time"
  drv msgbox "$CAPTION" 30 >/dev/null || fail "no baud-rate box on the second run"
  drv wait-window "Save As" 60 || fail "no Save As dialog after the second transfer"
  # The path just saved is proposed; the dialog opens its folder and shows
  # the file part in the field.
  expect_eq "second Save As proposes" "$(drv text "Save As" 0x47C)" "saved.qmf"
  drv close "Save As" || fail "could not cancel the Save As dialog"
  drv wait-text "$TITLE" $IDC_STATUS "Completed OK" 20 || fail "cancelled Save As: no \"Completed OK\""
  cmp "$work/served.bin" "$out" || fail "the saved file changed after a cancelled Save As"

  # A third run that fails: the port typed does not open.
  drv type "$TITLE" $IDC_PORT "com99" || fail "could not type into the port field"
  drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload a third time"
  drv msgbox "$CAPTION" 30 >/dev/null || fail "no box for the port that cannot open"
  drv wait-text "$TITLE" $IDC_STATUS "Failed" 10 || fail "the third run never read \"Failed\""
  close_app
  check_profile -1 "$win_out"
  check_run_log "$out"
}

# The window's three runs in the user's run log, in order: saved (with the
# saved file's SHA-256), fetched but not saved, failed.
check_run_log() {  # saved file
  local log
  log="$(find "$WINEPREFIX/drive_c/users" -path '*/TandrelConfigurationController/runs.jsonl' 2>/dev/null | head -n 1)"
  [ -n "$log" ] || fail "no TandrelConfigurationController\\runs.jsonl under the user's folders"
  note "run log ${log#"$WINEPREFIX/"}"
  case "$log" in */AppData/Local/*) ;; *) fail "the run log is not in the local app-data folder: $log" ;; esac
  python3 - "$log" "$(sha256sum <"$1" | cut -c1-64)" <<'PY' || fail "the run log is not what the three runs left"
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")]
got = [(l["front_end"], l["result"], l["error"], l["port"]) for l in lines]
want = [("window", "saved", None, "COM1"), ("window", "not_saved", None, "COM1"), ("window", "failed", "port_not_found", "COM99")]
assert got == want, got
assert lines[0]["sha256"] == sys.argv[2] and lines[0]["output"].endswith("saved.qmf"), lines[0]
assert lines[1]["output"] is None and lines[1]["sha256"] == sys.argv[2], lines[1]
print("-- run log:", *(json.dumps({k: l[k] for k in ("time", "result", "port", "output", "sha256", "error")}) for l in lines), sep="\n   ")
PY
}

case_port_fails() {
  # Wine maps COMn to /dev/ttyS(n-1) unless told otherwise, and opens even a
  # mapping to a missing file; no machine has a hundredth serial device.
  prepare_prefix
  start_app
  # The field forces upper case; the typed name is what Upload uses.
  drv settext "$TITLE" $IDC_PORT "com99" || fail "could not type into the port field"
  expect_eq "port field" "$(drv text "$TITLE" $IDC_PORT)" "COM99"
  drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload"
  # One box, its second line the cause; a second box would hold the status.
  local box
  box="$(drv msgbox "$CAPTION" 30)" || fail "no message box for the port that cannot open"
  expect_eq "message" "$box" "Unable to open serial port.
The port is not there. Check the cable or USB adapter, and the port's number in Device Manager."
  drv wait-text "$TITLE" $IDC_STATUS "Failed" 10 || fail "the status never read \"Failed\" (a second box?)"
  drv wait-gone "$CAPTION" 0 || fail "a second message box is open"
  expect_eq "Upload enabled" "$(drv enabled "$TITLE" $IDC_UPLOAD)" 1
  # Enter now starts the next run, not the Cancel that closes the program.
  drv wait-focus "$TITLE" $IDC_UPLOAD 10 || fail "the focus is not on Upload after the failed run"
  drv key "$TITLE" $IDC_UPLOAD 0x0D || fail "could not press Enter"
  drv msgbox "$CAPTION" 30 >/dev/null || fail "Enter after the failed run started no run"
  drv wait-text "$TITLE" $IDC_STATUS "Failed" 10 || fail "the second run never read \"Failed\""
  drv wait-focus "$TITLE" $IDC_UPLOAD 10 || fail "the focus is not on Upload after the second failed run"
  close_app
}

case_about() {
  prepare_prefix
  start_app
  drv syscommand "$TITLE" $IDM_ABOUTBOX || fail "could not send the About command"
  drv wait-window "$ABOUT" 20 || fail "the About box did not open"
  drv texts "$ABOUT" >"$work/about.txt"
  # The release's version, set once in the top CMakeLists.txt.
  local version
  version="$(sed -n 's/^project([^)]* VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")"
  grep -qF "TandrelConfigurationController Version $version" "$work/about.txt" ||
    fail "the About box lacks its version line for $version: $(cat "$work/about.txt")"
  # Every text shows whole in the dialog font, here and in the upload window.
  drv clipped "$ABOUT" >"$work/about-fit.txt" || fail "About box text cut off: $(cat "$work/about-fit.txt")"
  drv clipped "$TITLE" >"$work/upload-fit.txt" || fail "upload window text cut off: $(cat "$work/upload-fit.txt")"
  sed 's/^/    /' "$work/about-fit.txt" "$work/upload-fit.txt"
  screenshot "$ABOUT" about-box.png
  drv click "$ABOUT" 1 || fail "could not press OK in the About box"
  drv wait-gone "$ABOUT" 10 || fail "the About box did not close"
  expect_eq "status after About" "$(drv text "$TITLE" $IDC_STATUS)" "Idle."
  close_app
}

# Help (the button, or F1 in the upload window) opens the compiled help
# beside the program in Windows' HTML Help viewer. Without its HTML engine
# Wine's viewer shows no page, so the test looks for the viewer's window and
# for the absence of the failure box.
case_help() {  # button|f1
  local chm="${APP_EXE%.exe}.chm" title
  [ -f "$chm" ] || fail "no help file at $chm (target tcc_help)"
  prepare_prefix
  start_app
  if [ "$1" = f1 ]; then
    drv key "$TITLE" $IDC_UPLOAD 0x70 || fail "could not press F1"
  else
    drv click "$TITLE" "$ID_HELP" || fail "could not press Help"
  fi
  title="$(drv wait-class "HH Parent" 30)" || fail "the HTML Help viewer did not open"
  note "help viewer \"$title\""
  if drv msgbox "$CAPTION" 2 >"$work/box.txt" 2>/dev/null; then
    fail "a message box appeared: $(cat "$work/box.txt")"
  fi
  expect_eq "status after Help" "$(drv text "$TITLE" $IDC_STATUS)" "Idle."
  close_app
}

case_close_mid_run() {
  native_tools
  # Paced at 9600 baud, 24 KiB take about half a minute: time to look at it.
  start_sim --size 24576 --seed 5 --baud 9600
  printf 'BAUDRATE=9600\r\n' >"$work/UploadConfig.ini"
  prepare_prefix COM1 "$slave"
  start_app
  drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload"
  drv wait-progress "$TITLE" $IDC_PROGRESS 20 60 || fail "the bar never reached 20%"
  expect_eq "status while running" "$(drv text "$TITLE" $IDC_STATUS)" "Upload in progress."
  expect_eq "Upload enabled while running" "$(drv enabled "$TITLE" $IDC_UPLOAD)" 0
  local pos lo hi
  read -r pos lo hi <<<"$(drv progress "$TITLE" $IDC_PROGRESS)"
  expect_eq "range while running" "$lo $hi" "0 24576"
  [ "$pos" -lt "$hi" ] || fail "the transfer ended before the screenshot ($pos of $hi)"
  screenshot "$TITLE" upload-window.png
  # Closing mid-run abandons the transfer: no Save As, the program ends.
  close_app
  check_profile 0 "default.map"
}

# The baud-rate file the working folder of a case holds, so that a run shows
# no "Using Defaults" box: only a box of the case's own is ever expected.
write_baud_file() { printf 'BAUDRATE=%s\r\n' "$1" >"$work/UploadConfig.ini"; }

# A run on the simulator (its arguments given) with the About box opened
# over the upload window while it goes on.
upload_under_about() {
  native_tools
  start_sim "$@"
  write_baud_file 115200
  prepare_prefix COM1 "$slave"
  start_app
  drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload"
  drv syscommand "$TITLE" $IDM_ABOUTBOX || fail "could not send the About command"
  drv wait-window "$ABOUT" 20 || fail "the About box did not open"
}

# What a person tries first under a modal window: OK in the About box.
# Sets about_closed to 1 when that worked.
try_close_about() {
  about_closed=0
  if drv click "$ABOUT" 1 2>/dev/null; then about_closed=1; drv wait-gone "$ABOUT" 10 || true; fi
}

close_about_if_open() {
  [ "$about_closed" -eq 1 ] && return 0
  drv click "$ABOUT" 1 || fail "the About box cannot be closed once the end of the run is handled"
  drv wait-gone "$ABOUT" 10 || fail "the About box did not close"
}

# A fault Wine reports, or the C++ runtime ending the program (std::terminate,
# abort), which leaves no trace of Wine's own: the first such line.
crash_line() { grep -m1 "Unhandled page fault\|Unhandled exception\|terminate called\|abnormal program termination" "$work/app.log" 2>/dev/null; }
app_crashed() { crash_line >/dev/null; }

# About open while the run ends, About closed, Esc on the upload window, then
# Save: no crash, and the window may not be closed under Save As. The save
# goes into another folder; the next run must still find UploadConfig.ini in
# the folder it started in.
case_about_run_end() {
  # The stall keeps the run going until About is up.
  upload_under_about --size 5000 --seed 3 --unpaced --stall-ms 4000 --save-image "$work/served.bin"
  drv wait-window "Save As" 60 || fail "no Save As dialog after the transfer"
  local closable=0
  try_close_about
  if drv close "$TITLE" 2>/dev/null; then closable=1; fi
  note "under Save As: About closable=$about_closed, upload window closable=$closable"
  sleep 1  # whatever those posts would do has happened by now
  app_crashed && fail "the program crashed: $(crash_line)"
  # Into another folder as a person goes there: its name and Enter open it,
  # then the file name.
  mkdir -p "$work/elsewhere"
  local out="$work/elsewhere/saved.qmf"
  drv settext "Save As" 0x47C "$(winepath -w "$work/elsewhere")" || fail "no name field in Save As"
  drv click "Save As" 1 || fail "could not open the folder in Save As"
  sleep 1
  drv saveas "saved.qmf" 10 || fail "could not save through the Save As dialog"
  drv wait-text "$TITLE" $IDC_STATUS "Completed OK" 20 || fail "the status never read \"Completed OK\""
  app_crashed && fail "the program crashed on Save: $(crash_line)"
  cmp "$work/served.bin" "$out" || fail "the saved file differs from the image served"
  expect_eq "upload window closable under Save As" "$closable" 0
  close_about_if_open
  # A second run from the same window: no baud-rate box, since the working
  # folder is still the one with UploadConfig.ini.
  drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload a second time"
  drv wait-window "Save As" 60 || fail "no Save As after the second run (the working folder moved?)"
  drv close "Save As" || fail "could not cancel the Save As dialog"
  drv wait-text "$TITLE" $IDC_STATUS "Completed OK" 20 || fail "second run: no \"Completed OK\""
  close_app
}

# A failure message holds the upload window until it is dismissed, also when
# it arrives while the About box is up: closing About must not hand the
# window back under the box.
case_failure_box() {
  upload_under_about --size 5000 --unpaced --fault no-answer
  # No answer: the reply timeout gives up after ten seconds.
  drv wait-window "$CAPTION" 30 || fail "no failure message"
  try_close_about
  note "under the failure box: About closable=$about_closed"
  expect_eq "upload window enabled under the box" "$(drv window-enabled "$TITLE")" 0
  drv close "$TITLE" 2>/dev/null && fail "the upload window could be closed under the failure box"
  sleep 1
  # The second line names the cause: here the station that never answered.
  expect_eq "failure text" "$(drv msgbox "$CAPTION" 10)" "Failed to communicate with system
The station did not answer. Check that it is on and connected, and that the baud rate matches."
  drv wait-text "$TITLE" $IDC_STATUS "Failed" 20 || fail "the status never read \"Failed\""
  close_about_if_open
  expect_eq "upload window enabled after the box" "$(drv window-enabled "$TITLE")" 1
  drv wait-focus "$TITLE" $IDC_UPLOAD 10 || fail "the focus is not on Upload after the failure"
  close_app
}

# A station that answers against the protocol (a size above the limit): the
# box's second line names the rule it broke, where a silent station's box
# (failure-box) says it did not answer. One box, then "Failed".
case_bad_answer() {
  native_tools
  start_sim --size 5000 --unpaced --fault oversize
  write_baud_file 115200
  prepare_prefix COM1 "$slave"
  start_app
  drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload"
  expect_eq "failure text" "$(drv msgbox "$CAPTION" 30)" "Failed to communicate with system
The station answered against the protocol: announced 524289 bytes, over the 524288 limit. Note this message and call for service."
  drv wait-text "$TITLE" $IDC_STATUS "Failed" 10 || fail "the status never read \"Failed\" (a second box?)"
  drv wait-gone "$CAPTION" 0 || fail "a second message box is open"
  expect_eq "Upload enabled" "$(drv enabled "$TITLE" $IDC_UPLOAD)" 1
  close_app
}

# A port beyond COM4 that Windows lists (mapped in Wine's registry, it shows
# under SERIALCOMM once the server has restarted) follows COM1 to COM4 in the
# list; picked there as a person does, it is what the next opening shows.
case_port_beyond_four() {
  native_tools
  start_sim --size 3000 --unpaced
  prepare_prefix COM7 "$slave"
  start_app
  drv dropdown "$TITLE" $IDC_PORT || fail "could not drop the port list"
  local items
  items="$(drv items "$TITLE" $IDC_PORT | tr -d '\r')"
  note "port list: $(echo $items)"
  expect_eq "first four entries" "$(echo "$items" | head -n 4 | tr '\n' ' ')" "COM1 COM2 COM3 COM4 "
  echo "$items" | tail -n +5 | grep -qx COM7 || fail "COM7 is not listed after COM4"
  expect_eq "entries after COM4 in numeric order" "$(echo "$items" | tail -n +5 | tr '\n' ' ')" \
    "$(echo "$items" | tail -n +5 | sort -V | tr '\n' ' ')"
  drv pick "$TITLE" $IDC_PORT COM7 || fail "could not pick COM7 from the list"
  expect_eq "port field" "$(drv text "$TITLE" $IDC_PORT)" "COM7"
  close_app
  check_profile -1 "default.map"
  local ini
  ini="$(profile_files | head -n 1)"
  expect_eq "Serial_Config/Port_Name" "$(ini_value "$ini" Serial_Config Port_Name)" "COM7"
  KEEP_PROFILE=1 start_app
  expect_eq "port field on reopening" "$(drv text "$TITLE" $IDC_PORT)" "COM7"
  close_app
}

# The station's end of the line closes mid-run, as a pulled USB adapter does:
# the run ends with the failure box at once, not after the reply timeout.
# The delay from the station's exit to the box is printed as a figure.
case_pulled_cable() {
  native_tools
  start_sim --size 60000 --seed 6 --fault close-mid
  write_baud_file 115200
  prepare_prefix COM1 "$slave"
  start_app
  drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload"
  wait "$station_pid" || true  # closes the line halfway, then exits (the case's time limit bounds it)
  station_pid=""
  local t0 t1 box
  t0=$(date +%s%N)
  box="$(drv msgbox "$CAPTION" 30)" || fail "no failure box after the line went away"
  t1=$(date +%s%N)
  expect_eq "failure text" "$box" "Failed to communicate with system
The line went away during the upload. Check the cable or USB adapter, then try again."
  echo "line closed: failure box found $(( (t1 - t0) / 1000000 )) ms after the station exited (50 ms polls)"
  drv wait-text "$TITLE" $IDC_STATUS "Failed" 10 || fail "the status never read \"Failed\""
  # Closing the box gave the focus to Cancel, the first control enabled then.
  drv wait-focus "$TITLE" $IDC_UPLOAD 10 || fail "the focus is not on Upload after the failure box"
  close_app
}

# Upload pressed for an unpaced run of SIZE bytes, the image served kept in
# served.bin; the baud-rate file keeps the "Using Defaults" box away.
start_quick_run() {  # size, seed
  native_tools
  start_sim --size "$1" --seed "$2" --unpaced --save-image "$work/served.bin"
  write_baud_file 115200
  prepare_prefix COM1 "$slave"
  start_app
  drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload"
}

# A path outside the legacy code page (as a user name can be, and with it the
# settings folder): the ANSI calls must carry it whole, not as '?'.
case_utf8_path() {
  start_quick_run 3000 4
  mkdir -p "$work/Ωmega"
  local out="$work/Ωmega/Σite.qmf"
  drv saveas "$(winepath -w "$out")" 60 || fail "could not save through the Save As dialog"
  drv wait-text "$TITLE" $IDC_STATUS "Completed OK" 20 || fail "the status never read \"Completed OK\""
  [ -f "$out" ] || fail "nothing saved at $out: $(ls "$work"/*/ 2>&1 | head -5)"
  cmp "$work/served.bin" "$out" || fail "the saved file differs from the image served"
  close_app
}

# Closes during paced runs (four; CLOSE_RUNS=N for more figures): for each,
# the time from Cancel until the window is gone (the uploader deleted, its
# threads ended) and until the program has ended. Only a hang fails (a
# generous bound); the figures are for reading, not asserted. The race a
# close can lose is forced by the unit tests' hooks, not hoped for here.
case_close_timing() {
  native_tools
  start_sim --size 24576 --seed 9 --baud 9600
  write_baud_file 9600
  prepare_prefix COM1 "$slave"
  local i t0 t1 gone ended
  : >"$work/times"
  for i in $(seq 1 "${CLOSE_RUNS:-4}"); do
    start_app  # a fresh profile each time: COM1
    drv click "$TITLE" $IDC_UPLOAD || fail "run $i: could not press Upload"
    drv wait-progress "$TITLE" $IDC_PROGRESS 3 60 || fail "run $i: the bar never moved"
    gone="$(drv close-timed "$TITLE" 60)" || fail "run $i: the window was still open 60 s after Cancel"
    t0=$(date +%s%N)
    wait_exit "$app_pid" 60 || fail "run $i: the program did not end within 60 s of Cancel"
    t1=$(date +%s%N)
    app_pid=""
    ended=$(( (t1 - t0) / 1000000 ))
    echo "$gone $ended" >>"$work/times"
    echo "close $i: window gone after $gone ms; program ended at most $ended ms later (driver exit included)"
  done
  sort -n "$work/times" | awk '{g[NR]=$1} END {
    printf "window gone after Cancel over %d runs (ms): min %d, median %d, max %d\n", NR, g[1], g[int((NR+1)/2)], g[NR] }'
  sort -n -k2 "$work/times" | awk '{e[NR]=$2} END {
    printf "then program ended (ms): min %d, median %d, max %d\n", e[1], e[int((NR+1)/2)], e[NR] }'
}

# Two Cancels sent at once from another process during a paced run, ten
# times: one of them arrives while the other waits for the uploader's threads
# (a wait that serves sent messages). The window closes and the program ends
# each time, without a crash.
case_cancel_sent_twice() {
  native_tools
  start_sim --size 24576 --seed 9 --baud 9600
  write_baud_file 9600
  prepare_prefix COM1 "$slave"
  local i
  for i in $(seq 1 "${CANCEL_RUNS:-10}"); do
    start_app
    drv click "$TITLE" $IDC_UPLOAD || fail "run $i: could not press Upload"
    drv wait-progress "$TITLE" $IDC_PROGRESS 3 60 || fail "run $i: the bar never moved"
    drv send-command "$TITLE" 2 2 60 || fail "run $i: could not send the two Cancels"
    wait_exit "$app_pid" 60 || fail "run $i: the program did not end within 60 s of the Cancels"
    local status=0
    wait "$app_pid" || status=$?
    app_pid=""
    app_crashed && fail "run $i: the program crashed: $(crash_line)"
    [ "$status" -eq 0 ] || fail "run $i: the program ended with status $status"
    note "run $i: closed and ended"
  done
}

# A save into a folder the program cannot write (/proc takes no new file, not
# even from root): the error box, then Save As again, and the image is saved
# on the second try.
case_save_unwritable() {
  start_quick_run 3000 6
  local bad='Z:\proc\saved.qmf' out="$work/saved.qmf" win_out
  win_out="$(winepath -w "$out")"
  drv saveas "$bad" 60 || fail "could not answer the first Save As"
  expect_eq "error box" "$(drv msgbox "$CAPTION" 30)" "Can't open file $bad"
  drv saveas "$win_out" 30 || fail "no second Save As after the error box"
  drv wait-text "$TITLE" $IDC_STATUS "Completed OK" 20 || fail "the status never read \"Completed OK\""
  cmp "$work/served.bin" "$out" || fail "the saved file differs from the image served"
  close_app
  check_profile 0 "$win_out"
}

case "$case_name" in
  probe) case_probe ;;
  about-run-end) case_about_run_end ;;
  failure-box) case_failure_box ;;
  bad-answer) case_bad_answer ;;
  port-beyond-four) case_port_beyond_four ;;
  pulled-cable) case_pulled_cable ;;
  close-timing) case_close_timing ;;
  utf8-path) case_utf8_path ;;
  upload) case_upload ;;
  port-fails) case_port_fails ;;
  about) case_about ;;
  help) case_help button ;;
  help-f1) case_help f1 ;;
  close-mid-run) case_close_mid_run ;;
  cancel-sent-twice) case_cancel_sent_twice ;;
  save-unwritable) case_save_unwritable ;;
  *) fail "unknown case" ;;
esac
echo "PASS [$case_name]"
