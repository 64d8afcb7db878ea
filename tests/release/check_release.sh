#!/usr/bin/env bash
# The release path, checked on every test run from the test builds:
#   check_release.sh ARTEFACT_DIR
# ARTEFACT_DIR holds what scripts/package.sh wrote. Checks the version the
# tools report, the packages' contents and man pages, and the installer under
# Wine: a silent install, the installed program's window, a silent uninstall
# that leaves the user's settings and files.
#
# Environment: WINEPREFIX and DISPLAY from scripts/wine-env.sh,
# TCC_BUILD_ROOT (the native and win test builds); TCC_SIGN_CERT, when the
# artefacts were signed, the signer's certificate (PEM): every Windows
# executable and package must then carry an intact signature by it.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dir="$(realpath "${1:?usage: check_release.sh ARTEFACT_DIR}")"
: "${WINEPREFIX:?source scripts/wine-env.sh first}" "${DISPLAY:?no X display}" "${TCC_BUILD_ROOT:?}"
native="$TCC_BUILD_ROOT/native" win="$TCC_BUILD_ROOT/win"

passed=0
fail() { echo "FAIL [release]: $*" >&2; echo "release: $passed passed, 1 failed"; exit 1; }
ok() { echo "ok   $*"; passed=$((passed + 1)); }
expect_eq() {  # what, actual, expected
  [ "$2" = "$3" ] || fail "$1: got \"$2\", expected \"$3\""
}
# The baud-rate file as the installers write it: one line, ended by CR LF.
expect_ini() {  # what, file, rate
  cmp -s "$2" <(printf 'BAUDRATE=%s\r\n' "$3") ||
    fail "$1: UploadConfig.ini holds \"$(cat -v "$2" 2>&1)\", not BAUDRATE=$3 and a line end"
}

version="$(sed -n 's/^project(.* VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
name="TandrelConfigurationController-$version"
arch="$(dpkg --print-architecture)"
deb="$dir/tcc-tools_${version}_$arch.deb"

# ---- one version
for tool in tcc-upload tcc-station-sim; do
  exe="$(find "$native/tools" -type f -name "$tool" | head -n 1)"
  [ -x "$exe" ] || fail "no $tool in $native"
  expect_eq "$tool --version" "$("$exe" --version)" "$tool $version"
done
expect_eq "package version" "$(dpkg-deb -f "$deb" Version)" "$version"
# Each executable's VS_FIXEDFILEINFO: the file version IT reads is the
# release's, with 0 as the fourth field.
file_versions="$(python3 -c '
import struct, sys, zipfile
def version(exe):
    at = exe.find(struct.pack("<I", 0xFEEF04BD))
    ms, ls = struct.unpack_from("<II", exe, at + 8) if at >= 0 else (0, 0)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
zip = zipfile.ZipFile(sys.argv[1])
exes = [zip.read(sys.argv[2] + "/" + n) for n in ("TandrelConfigurationController.exe", "tcc-upload.exe")]
exes.append(open(sys.argv[3], "rb").read())
print(" ".join(version(exe) for exe in exes))' \
  "$dir/$name-win64.zip" "$name" "$dir/$name-setup.exe")"
expect_eq "file versions of the program, tcc-upload.exe and the setup" "$file_versions" \
  "$version.0 $version.0 $version.0"
ok "tools, package and executables report version $version (file versions $file_versions)"

# ---- artefacts and their sums
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the artefacts"
expect_eq "files summed" "$(awk '{ print $2 }' "$dir/SHA256SUMS" | sort | tr '\n' ' ')" \
  "$name-setup.exe $name-win64.zip $name-x64.msi tcc-tools_${version}_$arch.deb tcc-tools_${version}_$arch.tar.gz "
ok "SHA256SUMS covers the five artefacts"

# ---- Linux package: what dpkg-deb lists, owned by root
listing="$(dpkg-deb -c "$deb")"
for f in ./usr/bin/tcc-upload ./usr/bin/tcc-station-sim \
         ./usr/share/man/man1/tcc-upload.1.gz ./usr/share/man/man1/tcc-station-sim.1.gz \
         ./usr/share/doc/tcc-tools/README.md ./usr/share/doc/tcc-tools/copyright \
         ./usr/share/doc/tcc-tools/changelog.gz; do
  grep -qE " $f\$" <<<"$listing" || fail "the package lacks $f: $listing"
done
if grep -v ' root/root ' <<<"$listing" | grep -q .; then fail "entries not owned by root: $listing"; fi
expect_eq "tarball files" "$(tar -tzf "$dir/tcc-tools_${version}_$arch.tar.gz" | grep -v '/$' | sed 's,^[^/]*/,./usr/,' | sort)" \
  "$(grep -v '/$' <<<"$listing" | awk '{ print $NF }' | sort)"
ok "the .deb and the tarball hold the tools, their man pages, README and copyright"
# Debian's own checker: any error or warning fails the release.
lint="$(lintian --fail-on error,warning "$deb" 2>&1)" || fail "lintian finds fault with the .deb:
$lint"
ok "lintian reports no error and no warning on the .deb"

# ---- man pages: every option that --help names, the exit statuses, an example
for tool in tcc-upload tcc-station-sim; do
  page="$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/share/man/man1/$tool.1.gz" | gzip -dc | sed 's/\\-/-/g')"
  exe="$(find "$native/tools" -type f -name "$tool" | head -n 1)"
  for opt in $("$exe" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$opt" <<<"$page" || fail "the man page of $tool lacks $opt"
  done
  # A section of the page's own, or the one --help gives (said once there).
  grep -qiE '^\.S[HS] "exit status:?"$' <<<"$page" || fail "the man page of $tool has no exit statuses"
  grep -q '/dev/ttyUSB0' <<<"$page" || fail "the man page of $tool has no example with a USB adapter"
  grep -qF "$tool $version" <<<"$page" || fail "the man page of $tool names no version $version"
done
ok "the man pages name every option, the exit statuses and a USB adapter"

# An intact Authenticode signature by TCC_SIGN_CERT. The certificate is a
# throwaway one, so the system's CAs must not vouch for it, while with it as
# the only trusted root the whole signature verifies.
signed=()
expect_signed() {  # file
  [ -n "${TCC_SIGN_CERT:-}" ] || return 0
  local log
  log="$(osslsigncode verify -in "$1" 2>&1)" && fail "$(basename "$1"): the system's CAs trust the test signer"
  grep -q 'self-signed certificate' <<<"$log" || fail "$(basename "$1") is not signed by the test signer: $log"
  if grep -q 'MISMATCH' <<<"$log"; then fail "$(basename "$1"): the signature does not match the file: $log"; fi
  log="$(osslsigncode verify -CAfile "$TCC_SIGN_CERT" -in "$1" 2>&1)" ||
    fail "$(basename "$1"): the signature does not verify: $log"
  signed+=("$(basename "$1")")
}

# ---- Windows zip: the installer's files in one folder
zip_names="$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$dir/$name-win64.zip")"
for f in TandrelConfigurationController.exe tcc-upload.exe README.txt UploadConfig.ini; do
  grep -qxF "$name/$f" <<<"$zip_names" || fail "the zip lacks $name/$f: $zip_names"
done
if [ -f "$win/app/TandrelConfigurationController.chm" ]; then
  grep -qxF "$name/TandrelConfigurationController.chm" <<<"$zip_names" || fail "the build has a help file, the zip not"
fi
unzipped="$TCC_BUILD_ROOT/release-check-zip"
rm -rf "$unzipped"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$dir/$name-win64.zip" "$unzipped"
unzipped="$unzipped/$name"
expect_ini "the zip" "$unzipped/UploadConfig.ini" 115200
# Nothing to install beside the programs: they import only Windows' own DLLs.
all_imports=""
for exe in TandrelConfigurationController.exe tcc-upload.exe; do
  imports="$(x86_64-w64-mingw32-objdump -p "$unzipped/$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | xargs)"
  for dll in $imports; do
    case "$dll" in
      advapi32.dll | comctl32.dll | comdlg32.dll | gdi32.dll | kernel32.dll | msvcrt.dll | shell32.dll | \
      ole32.dll | user32.dll | ws2_32.dll | hhctrl.ocx | setupapi.dll | cfgmgr32.dll) ;;
      *) fail "$exe needs $dll, which Windows does not have (imports: $imports)" ;;
    esac
  done
  all_imports+=" $exe: $imports;"
  expect_signed "$unzipped/$exe"
done
expect_signed "$dir/$name-setup.exe"
ok "the zip holds the program, tcc-upload.exe, the readme and UploadConfig.ini (115200); imports:$all_imports"

# ---- Windows installer under Wine
readonly TITLE="Halvorix Serial Configuration Uploader" CAPTION="TandrelConfigurationController"
readonly IDC_UPLOAD=1000 IDC_PORT=1007 IDC_STATUS=1010
readonly KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TandrelConfigurationController'
readonly WIN_PROGDIR='C:\Program Files\TandrelConfigurationController'
guidriver="$win/tests/wine-gui/guidriver.exe"
[ -f "$guidriver" ] || fail "no guidriver.exe in $win"
sim="$native/tools/station-sim/tcc-station-sim" shim="$native/tests/wine/libtiocmget_shim.so"
[ -x "$sim" ] && [ -f "$shim" ] || fail "no simulator or TIOCMGET shim in $native"
progdir="$WINEPREFIX/drive_c/Program Files/TandrelConfigurationController"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tandrel Configuration Controller.lnk"
documents="$WINEPREFIX/drive_c/users/$(id -un)/Documents"
settings_file() {
  find "$WINEPREFIX/drive_c/users" -maxdepth 6 -ipath '*/TandrelConfigurationController/TandrelConfigurationController.ini' |
    head -n 1
}
work="$TCC_BUILD_ROOT/release-check-work"
rm -rf "$work" "$progdir" "$documents/default.map"
settings="$(settings_file)"
[ -z "$settings" ] || rm -f "$settings"
mkdir -p "$work/elsewhere"

# shellcheck source=../wine/station.sh
. "$root/tests/wine/station.sh"
app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  station_stop
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
reg_value() { wine reg query "${2:-$KEY}" /v "$1" 2>/dev/null | tr -d '\r' | awk -v v="$1" '$1 == v { print $NF }'; }
drv() { wine "$guidriver" "$@"; }

# The setup, the in-place uninstall and msiexec are done when they return:
# nothing to wait for after them.
setup() {  # args...: runs the setup silently; its exit status
  local status=0
  wine "$dir/$name-setup.exe" /S "$@" >"$work/setup.log" 2>&1 || status=$?
  return "$status"
}
# As README says a script uninstalls: in place (_?=, given unquoted and last,
# as cmd passes it), so that the call returns when the uninstall is done and
# with its exit status; the uninstaller cannot delete itself then, so the
# script does. Wine quotes an argument with a blank: the folder goes as two.
uninstall_in_place() {
  wine "$progdir/Uninstall.exe" /S '_?=C:\Program' 'Files\TandrelConfigurationController' >"$work/uninstall.log" 2>&1
}
uninstall() {
  uninstall_in_place || fail "the uninstaller failed (status $?): $(cat "$work/uninstall.log")"
  rm -f "$progdir/Uninstall.exe"
  rmdir "$progdir" 2>/dev/null || true
}
msi="$dir/$name-x64.msi"
msi_table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
msi_prop() { msi_table Property | awk -F'\t' -v p="$1" '$1 == p { print $2 }'; }
msi_key="${KEY%\\*}\\$(msi_prop ProductCode)"
run_msiexec() {  # /i|/x, package, properties...: msiexec's exit status
  local action="$1" package="$2" status=0
  shift 2
  wine msiexec "$action" "Z:${package//\//\\}" /qn "$@" >"$work/msiexec.log" 2>&1 || status=$?
  return "$status"
}
# msiexec's exit code as Unix keeps it: its low eight bits (1603 gives 67).
readonly MSI_INSTALL_FAILURE=$((1603 & 255))

status=0
setup /BAUD=4800 || status=$?
expect_eq "exit status of the setup with /BAUD=4800" "$status" 2
[ ! -e "$progdir" ] || fail "the setup with /BAUD=4800 installed: $(ls -A "$progdir")"
# Without /BAUD the rate is 115200, and the file, unchanged, goes with the rest.
setup || fail "the installer failed: $(cat "$work/setup.log")"
expect_ini "setup.exe /S" "$progdir/UploadConfig.ini" 115200
uninstall
[ ! -e "$progdir" ] || fail "the uninstaller left $(ls -A "$progdir") of a fresh install"
ok "setup.exe refuses /BAUD=4800 (exit 2, nothing installed); writes BAUDRATE=115200 without /BAUD, which the uninstaller removes unchanged"

setup /BAUD=9600 || fail "the installer failed: $(cat "$work/setup.log")"
installed=(TandrelConfigurationController.exe tcc-upload.exe README.txt Uninstall.exe)
[ ! -f "$win/app/TandrelConfigurationController.chm" ] || installed+=(TandrelConfigurationController.chm)
for f in "${installed[@]}"; do
  [ -f "$progdir/$f" ] || fail "the installer left no $f in $progdir"
done
for f in TandrelConfigurationController.exe tcc-upload.exe; do
  cmp -s "$progdir/$f" "$unzipped/$f" || fail "the installer and the zip hold different $f"
done
expect_ini "setup.exe /S /BAUD=9600" "$progdir/UploadConfig.ini" 9600
[ -f "$shortcut" ] || fail "no Start-menu shortcut at $shortcut"
expect_eq "Add/Remove Programs DisplayVersion" "$(reg_value DisplayVersion)" "$version"
expect_eq "Add/Remove Programs InstallLocation" "$(wine reg query "$KEY" /v InstallLocation | tr -d '\r' |
  sed -n 's/^ *InstallLocation *REG_SZ *//p')" "$WIN_PROGDIR"
# KiB, as the setup sums the folder it installed.
expect_eq "Add/Remove Programs EstimatedSize" "$(($(reg_value EstimatedSize)))" \
  "$((($(find "$progdir" -type f -printf '%s+') 0) / 1024))"
expect_signed "$progdir/Uninstall.exe"
ok "setup.exe /S /BAUD=9600 installed the program, tcc-upload.exe, UploadConfig.ini at 9600, the shortcut and the Add/Remove Programs entry with InstallLocation and EstimatedSize ($(($(reg_value EstimatedSize))) KiB)"

# The MSI over the setup's installation refuses (a launch condition), before
# anything changes.
status=0
run_msiexec /i "$msi" || status=$?
expect_eq "msiexec /i over the setup's installation (1603)" "$status" "$MSI_INSTALL_FAILURE"
if wine reg query "$msi_key" >/dev/null 2>&1; then fail "the MSI over the setup added its entry $msi_key"; fi
for f in "${installed[@]}"; do
  [ -f "$progdir/$f" ] || fail "the MSI refused over the setup, but $f is gone"
done
ok "msiexec /i refuses while the setup's copy is installed (1603; no second entry, nothing changed)"

# ---- the installed copy started as a terminal, a script or a pinned copy
# starts it: from another folder. Both programs find the rate file beside
# them; the first save of a fresh profile goes to Documents; after a failed
# run the focus is on Upload.
station_start "$sim" "$work" --size 3000 --seed 23 --unpaced --save-image "$work/served.bin" ||
  fail "the simulator did not start"
station_map_com COM1 "$station_pty" || fail "could not map COM1 to $station_pty"
tool() { (cd "$work/elsewhere" && LD_PRELOAD="$shim" wine "$WIN_PROGDIR\\tcc-upload.exe" "$@") | tr -d '\r'; }
json="$(tool --port COM1 --output tool.qmf --json 2>"$work/tool.err")" ||
  fail "tcc-upload.exe from another folder failed: $(cat "$work/tool.err")"
grep -qF '"baud": 9600, "baud_source": "C:\\Program Files\\TandrelConfigurationController\\UploadConfig.ini"' <<<"$json" ||
  fail "tcc-upload.exe from another folder: $json"
cmp -s "$work/served.bin" "$work/elsewhere/tool.qmf" || fail "tcc-upload.exe saved another image"
expect_eq "installed tcc-upload.exe --version" "$(tool --version)" "tcc-upload $version"
help="$(tool --help)"
grep -q 'COM5' <<<"$help" && grep -q 'usb:A50285BI' <<<"$help" || fail "tcc-upload.exe --help has no Windows examples: $help"
if grep -E '/dev/|TCC_UPLOAD_ROOT' <<<"$help"; then fail "tcc-upload.exe --help names what only Linux has"; fi
ports="$(tool --list-ports)"
grep -q '^COM1 ' <<<"$ports" || fail "tcc-upload.exe --list-ports lists no COM1: $ports"
if grep -q 'UART' <<<"$ports"; then fail "--list-ports calls a port Wine maps a UART: $ports"; fi
ok "tcc-upload.exe from another folder runs at 9600, naming the file beside it; --help gives Windows examples only; --list-ports says no more than SetupAPI knows ($(head -n 1 <<<"$ports"))"

(cd "$work/elsewhere" && LD_PRELOAD="$shim" exec wine "$WIN_PROGDIR\\TandrelConfigurationController.exe") \
  >"$work/app.log" 2>&1 &
app_pid=$!
drv wait-window "$TITLE" 60 || fail "the installed program opened no window"
drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload"
# No "Using Defaults" box: the run goes straight to Save As.
drv wait-window "Save As" 60 || fail "no Save As after the run (a box about the rate file?)"
# The port is still open under Save As, at the rate the file beside the program names.
speed="$(python3 -c 'import os, sys, termios
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
print(termios.tcgetattr(fd)[5] == termios.B9600)' "$station_pty")"
expect_eq "the line at 9600 baud under Save As" "$speed" True
expect_eq "Save As proposes" "$(drv text "Save As" 0x47C)" "default.map"
drv saveas "default.map" 10 || fail "could not save through the Save As dialog"
drv wait-text "$TITLE" $IDC_STATUS "Completed OK" 20 || fail "the status never read \"Completed OK\""
cmp -s "$work/served.bin" "$documents/default.map" ||
  fail "the first save is not in Documents: $(ls "$documents" "$work/elsewhere" "$progdir" 2>&1 | xargs)"
drv settext "$TITLE" $IDC_PORT COM99 || fail "could not type into the port field"
drv click "$TITLE" $IDC_UPLOAD || fail "could not press Upload a second time"
drv msgbox "$CAPTION" 30 >/dev/null || fail "no box for a port that does not open"
drv wait-text "$TITLE" $IDC_STATUS "Failed" 20 || fail "the status never read \"Failed\""
drv wait-focus "$TITLE" $IDC_UPLOAD 10 || fail "the focus is not on Upload after the failed run"
ok "the program from another folder runs at 9600 without a box, saves the first file into Documents, and has the focus on Upload after a failed run"

# Uninstall and setup while the program runs: both refuse (exit 4) and
# change nothing.
status=0
uninstall_in_place || status=$?
expect_eq "exit status of Uninstall.exe /S while the program runs" "$status" 4
status=0
setup /BAUD=38400 || status=$?
expect_eq "exit status of setup.exe /S while the program runs" "$status" 4
for f in "${installed[@]}"; do
  [ -f "$progdir/$f" ] || fail "refused while the program ran, but $f is gone"
done
expect_ini "refused while the program ran" "$progdir/UploadConfig.ini" 9600
[ -f "$shortcut" ] || fail "refused while the program ran, but the shortcut is gone"
expect_eq "Add/Remove Programs entry kept" "$(reg_value DisplayVersion)" "$version"
drv close "$TITLE" || fail "could not close the installed program"
deadline=$((SECONDS + 30))
while kill -0 "$app_pid" 2>/dev/null; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the installed program did not end within 30 s of Cancel"
  sleep 0.1
done
app_pid=""
station_stop
settings="$(settings_file)"
[ -n "$settings" ] || fail "the program wrote no settings under %APPDATA%"
grep -qF 'Config_File=C:\users\' "$settings" || fail "the settings remember no saved path: $(cat "$settings")"
ok "Uninstall.exe /S and setup.exe /S refuse while the program runs (exit 4), changing nothing"

# The administrator's rate survives an upgrade (also one given /BAUD=) and
# the uninstall; so does a file the user saved into the program's folder.
printf 'BAUDRATE=19200\r\n' >"$progdir/UploadConfig.ini"
setup /BAUD=38400 || fail "the installer failed over an installed copy: $(cat "$work/setup.log")"
expect_ini "setup.exe over an installed copy" "$progdir/UploadConfig.ini" 19200
printf 'user data' >"$progdir/station.qmf"
uninstall
for f in TandrelConfigurationController.exe tcc-upload.exe TandrelConfigurationController.chm README.txt Uninstall.exe; do
  [ ! -e "$progdir/$f" ] || fail "the uninstaller left $f"
done
expect_eq "files left in the program's folder" "$(ls -A "$progdir" | xargs)" "UploadConfig.ini station.qmf"
expect_ini "after the uninstall" "$progdir/UploadConfig.ini" 19200
[ ! -e "$shortcut" ] || fail "the uninstaller left the Start-menu shortcut"
if wine reg query "$KEY" >/dev/null 2>&1; then fail "the uninstaller left the registry key $KEY"; fi
[ -f "$settings" ] || fail "the uninstaller removed the user's settings"
rm -rf "$progdir" "$settings" "$documents/default.map"
ok "an upgrade and Uninstall.exe /S _?= keep a changed UploadConfig.ini; the uninstaller removed its files, shortcut and key, and kept the user's settings and file"

# ---- Windows Installer package: the same files, per machine, the same
# UploadConfig.ini rules, except that the uninstall leaves the file whatever
# it holds.
expect_signed "$msi"
expect_eq "MSI ProductVersion" "$(msi_prop ProductVersion)" "$version"
expect_eq "MSI ALLUSERS (per machine)" "$(msi_prop ALLUSERS)" 1
expect_eq "MSI UpgradeCode" "$(msi_prop UpgradeCode)" \
  "{$(sed -n 's/.*UpgradeCode="\([0-9A-F-]*\)".*/\1/p' "$root/packaging/windows/TandrelConfigurationController.wxs")}"
expect_eq "MSI shortcut folder" "$(msi_table Shortcut | cut -f2)" ProgramMenuFolder
msi_reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v { print $3 }'; }
# Wine puts the shortcut of a per-machine package into the user's Start menu.
msi_shortcut() {
  find "$WINEPREFIX/drive_c/ProgramData" "$WINEPREFIX/drive_c/users" -name 'Tandrel Configuration Controller.lnk' | head -n 1
}

run_msiexec /i "$msi" BAUD=4800 && fail "msiexec took BAUD=4800"
[ ! -e "$progdir" ] || fail "the MSI with BAUD=4800 installed: $(ls -A "$progdir")"
run_msiexec /i "$msi" BAUD=9600 || fail "msiexec /i failed: $(cat "$work/msiexec.log")"
for f in TandrelConfigurationController.exe tcc-upload.exe README.txt TandrelConfigurationController.chm; do
  cmp -s "$progdir/$f" "$unzipped/$f" || fail "the MSI and the zip hold different $f"
done
expect_ini "msiexec /i BAUD=9600" "$progdir/UploadConfig.ini" 9600
[ -n "$(msi_shortcut)" ] || fail "the MSI made no Start-menu shortcut"
expect_eq "MSI Add/Remove Programs DisplayVersion" "$(msi_reg_value "$msi_key" DisplayVersion)" "$version"
expect_eq "MSI Add/Remove Programs InstallLocation" "$(wine reg query "$msi_key" /v InstallLocation | tr -d '\r' |
  sed -n 's/^ *InstallLocation *REG_SZ *//p')" "$WIN_PROGDIR\\"
# Windows Installer computes EstimatedSize itself; Wine's writes 0 (its msi
# has no estimate yet). The value must be there.
wine reg query "$msi_key" /v EstimatedSize | grep -q 'REG_DWORD' || fail "the MSI's entry has no EstimatedSize"
ok "msiexec refuses BAUD=4800; /i BAUD=9600 installs the zip's files, UploadConfig.ini at 9600, the shortcut ($(msi_shortcut | sed "s,^$WINEPREFIX/,,")) and the Add/Remove Programs entry with InstallLocation and EstimatedSize"

# The setup over the MSI's installation refuses (it asks Windows Installer
# for the MSI's UpgradeCode), before anything changes.
status=0
setup || status=$?
expect_eq "exit status of setup.exe /S over the MSI's installation" "$status" 3
if wine reg query "$KEY" >/dev/null 2>&1; then fail "the setup over the MSI added its entry $KEY"; fi
[ ! -e "$progdir/Uninstall.exe" ] || fail "the setup over the MSI installed its uninstaller"
expect_ini "the setup refused over the MSI" "$progdir/UploadConfig.ini" 9600
ok "setup.exe /S refuses while the MSI's copy is installed (exit 3; no second entry, nothing changed)"

# A newer package replaces this one and keeps the administrator's rate.
printf 'BAUDRATE=19200\r\n' >"$progdir/UploadConfig.ini"
next="${version%.*}.$((${version##*.} + 1))"
SOURCE_DATE_EPOCH=0 "$root/scripts/build-msi.sh" "$unzipped" "$next" "$work/upgrade.msi"
run_msiexec /i "$work/upgrade.msi" BAUD=38400 || fail "the upgrade failed: $(cat "$work/msiexec.log")"
if wine reg query "$msi_key" >/dev/null 2>&1; then fail "the upgrade to $next left the entry of $version"; fi
next_key="${KEY%\\*}\\$(msiinfo export "$work/upgrade.msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')"
expect_eq "Add/Remove Programs DisplayVersion after the upgrade" "$(msi_reg_value "$next_key" DisplayVersion)" "$next"
expect_ini "after the upgrade to $next" "$progdir/UploadConfig.ini" 19200
run_msiexec /x "$work/upgrade.msi" || fail "msiexec /x failed: $(cat "$work/msiexec.log")"
expect_eq "files left by msiexec /x" "$(ls -A "$progdir")" UploadConfig.ini
expect_ini "after msiexec /x" "$progdir/UploadConfig.ini" 19200
[ -z "$(msi_shortcut)" ] || fail "msiexec /x left the shortcut $(msi_shortcut)"
if wine reg query "$next_key" >/dev/null 2>&1; then fail "msiexec /x left the entry $next_key"; fi
rm -rf "$progdir"
ok "an MSI of $next replaces $version (MajorUpgrade) keeping the changed UploadConfig.ini; msiexec /x removes the rest and leaves that file"

if [ -n "${TCC_SIGN_CERT:-}" ]; then
  ok "signed by the test signer, each signature intact, the chain trusted by nothing else: ${signed[*]}"
fi
echo "release: $passed passed, 0 failed"
