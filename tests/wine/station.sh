# shellcheck shell=bash
# Sourced: the station simulator on a pty, and a Wine COM port mapped to it.
#
#   station_start SIM DIR [ARGS...]
#       starts SIM --pty ARGS in the background, its output in DIR/sim.out and
#       DIR/sim.err; once it has printed its pty, and the pty is the
#       controlling terminal of a session of its own, sets station_pty and
#       station_pid and returns 0. Returns 1, with the simulator's messages
#       on standard error, when it exits or prints no pty within 15 s.
#   station_stop
#       ends the simulator station_start started, if it still runs.
#   station_map_com PORT DEVICE
#       maps the Wine port PORT (COM1) of $WINEPREFIX to DEVICE.

station_pid="" station_pty="" station_holder_pid=""

# A session leader that opens a tty without O_NOCTTY takes it as its
# controlling terminal. The wineserver is one, and opens the ports for Wine:
# it would take the pty, get SIGHUP at every hang-up (the far end closing)
# and print its object list, while the tests wait on it. A holder, leader of
# a session of its own, takes the pty first; it ends with that SIGHUP.
station_hold_pty() {  # dir: returns 1 when the pty has no holder within 5 s
  setsid bash -c 'echo $$ >"$1/holder.pid"; exec 3<>"$2"; exec sleep 86400' station-pty-holder \
    "$1" "$station_pty" </dev/null >/dev/null 2>&1 &
  disown  # its end by that SIGHUP is no news for the test's log
  local deadline=$((SECONDS + 5)) tty=""
  until [ -n "$tty" ] && [ "$tty" != "?" ]; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
    station_holder_pid="$(cat "$1/holder.pid" 2>/dev/null || true)"
    [ -z "$station_holder_pid" ] || tty="$(ps -o tty= -p "$station_holder_pid" 2>/dev/null | tr -d ' ')"
  done
}

station_start() {
  local sim="$1" dir="$2"
  shift 2
  "$sim" --pty "$@" >"$dir/sim.out" 2>"$dir/sim.err" &
  station_pid=$!
  local deadline=$((SECONDS + 15))
  until grep -q '^PTY ' "$dir/sim.out" 2>/dev/null; do
    if ! kill -0 "$station_pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
      cat "$dir/sim.err" >&2
      return 1
    fi
    sleep 0.05
  done
  station_pty="$(sed -n 's/^PTY //p' "$dir/sim.out")"
  station_hold_pty "$dir" || { echo "station.sh: no session took $station_pty as its terminal" >&2; return 1; }
}

station_stop() {
  if [ -n "$station_pid" ]; then
    kill "$station_pid" 2>/dev/null || true
    wait "$station_pid" 2>/dev/null || true
  fi
  # Gone with the hang-up, unless the simulator died without closing the pty.
  if [ -n "$station_holder_pid" ]; then kill "$station_holder_pid" 2>/dev/null || true; fi
  station_pid="" station_holder_pid=""
}

# Wine builds dosdevices/comN from this value when its server starts, so the
# running server is stopped on both sides of the change: the next wine
# command starts a fresh one.
station_map_com() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1 || return 1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
