#!/usr/bin/env bash
# Runs the demo as a user would, on a private X server, against the programs
# of a build folder, and checks what must hold when it ends: the demo script
# exits 0, the demo server and the stand-in simulator are gone, nothing runs
# from the demo folder, and the user's own launcher configuration is as it
# was.
#
#   demo_test.sh close  BUILD WMCLOSE   Update & Suppress; the demo's outdate
#       step; Update & Suppress again until the outdated-copies warning shows;
#       screenshot; Delete the old copies; Restore originals; close the window
#       with a window manager's close request.
#   demo_test.sh launch BUILD WMCLOSE   Install the plugin; screenshot; Launch
#       X-Plane: the stand-in comes up and the launcher closes by itself.
#
# BUILD: the build folder (programs, and where the screenshot is left:
# BUILD/tests/demo/demo-<way>.png, or in $TAXILUME_DEMO_SHOTS when set). WMCLOSE: the close-request helper.
# Exit status 0 pass, 1 fail, 77 skip (no Xvfb, xdotool or import).
set -uo pipefail

WAY=${1:?close or launch}
BUILD=$(cd "${2:?build folder}" && pwd)
WMCLOSE=${3:?close helper}
PROJECT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
DEMO_SH="$PROJECT/tools/demo/taxilume-demo.sh"

for tool in Xvfb xdotool import identify timeout; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

T=$(mktemp -d "${TMPDIR:-/tmp}/demo-test.XXXXXX")
DEMO="$T/demo"
XP="$DEMO/X-Plane 12"
PACK_APT="$XP/Custom Scenery/Demo Studio - EDDF Frankfurt/Earth nav data/apt.dat"
export TAXILUME_UI_MAP="$T/ui.map"
XVFB_PID=""
RUNNER_PID=""

dump() {
  echo "--- demo output"; tail -n 40 "$T/demo.out" 2>/dev/null
  echo "--- server log"; tail -n 10 "$DEMO/run/server.log" 2>/dev/null
  echo "--- widgets"; cat "$TAXILUME_UI_MAP" 2>/dev/null
}
fail() { echo "FAIL: $*"; dump; exit 1; }
finish() {
  local status=$?
  if [ -n "$RUNNER_PID" ] && kill -0 "$RUNNER_PID" 2>/dev/null; then
    kill -TERM "$RUNNER_PID" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$RUNNER_PID" 2>/dev/null || break; sleep 0.1; done
  fi
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  rm -rf "$T"
  exit "$status"
}
trap finish EXIT

# wait_for SECONDS COMMAND...: true once COMMAND succeeds.
wait_for() {
  local limit=$(( $1 * 5 )) i; shift
  for ((i = 0; i < limit; i++)); do "$@" && return 0; sleep 0.2; done
  return 1
}
alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }
gone() { ! alive "$1"; }

# A private X server; -displayfd has it pick a free display itself, so
# parallel tests never race for a number.
exec 3> "$T/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp > "$T/xvfb.log" 2>&1 &
XVFB_PID=$!
exec 3>&-
wait_for 20 grep -q '[0-9]' "$T/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$T/display")"

# The user's own remembered X-Plane folder must survive the demo untouched.
REAL_CFG="${XDG_CONFIG_HOME:-$HOME/.config}/Taxilume/xproot.txt"
cfg_state() { if [ -e "$REAL_CFG" ]; then stat -c '%s %Y' "$REAL_CFG"; else echo none; fi; }
CFG_BEFORE=$(cfg_state)

timeout -k 10 240 "$DEMO_SH" --build "$BUILD" --dir "$DEMO" --no-wait > "$T/demo.out" 2>&1 < /dev/null &
RUNNER_PID=$!

# While the demo should be up, its early end is a failure at once.
running() { alive "$RUNNER_PID" || fail "the demo ended early"; }
has_window() {
  running
  WIN=$(xdotool search --onlyvisible --name '^Taxilume Launcher$' 2>/dev/null | head -n1)
  [ -n "$WIN" ]
}
wait_for 120 has_window || fail "no window named Taxilume Launcher"
SERVER_PID=$(cat "$DEMO/run/server.pid" 2>/dev/null)
LAUNCHER_PID=$(cat "$DEMO/run/launcher.pid" 2>/dev/null)
alive "$SERVER_PID" || fail "the demo server is not running while the window is up"

# Centre of a widget in window pixels, from the launcher's widget map
# ("name x0 y0 x1 y1"; names may hold blanks, disabled ones end in " [off]").
centre() {
  awk -v want="$1" '{ n = NF; name = $1; for (i = 2; i <= n - 4; i++) name = name " " $i
    if (name == want) { print int(($(n-3) + $(n-1)) / 2), int(($(n-2) + $n) / 2); exit } }' \
    "$TAXILUME_UI_MAP" 2>/dev/null
}
enabled() { [ -n "$(centre "$1")" ]; }
click() {
  local xy; xy=$(centre "$1")
  [ -n "$xy" ] || return 1
  # shellcheck disable=SC2086
  xdotool mousemove --window "$WIN" $xy && sleep 0.3 && xdotool click 1
}
# press LABEL SECONDS CHECK...: clicks the button whenever it is enabled
# (a running job disables it) until CHECK holds.
press() {
  local label=$1 limit=$(( $2 * 2 )) i; shift 2
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    running
    if (( i % 6 == 0 )) && enabled "$label"; then click "$label"; fi
    sleep 0.5
  done
  "$@"
}
shot() {
  local dir=${TAXILUME_DEMO_SHOTS:-$BUILD/tests/demo}
  mkdir -p "$dir"
  local png="$dir/demo-$WAY.png"
  import -window "$WIN" "$png" || fail "import could not take a screenshot"
  # A frame that drew nothing (black, or one colour) has a handful of colours.
  local colours; colours=$(identify -format '%k' "$png")
  [ "${colours:-0}" -gt 20 ] || fail "the screenshot shows no window content ($colours colours)"
  echo "screenshot: $png"
}
final_mark() { [ -f "$PACK_APT.taxilume-orig" ] && grep -q '^[0-9]' "$PACK_APT.taxilume-cut" 2>/dev/null; }
idle() { enabled "Update & Suppress"; }
suppressed_and_idle() { final_mark && idle; }
no_backup() { [ ! -e "$1.taxilume-orig" ] && idle; }
all_original() {
  [ -z "$(find "$XP" -name '*.taxilume-*' -print -quit)" ] && idle &&
    cmp -s "$XP/Global Scenery/Global Airports/Earth nav data/apt.dat" "$PROJECT/tests/data/sample-global-apt.dat"
}
installed() { [ "$(cat "$XP/Resources/plugins/Taxilume/version.txt" 2>/dev/null)" = 1.2.0 ]; }
# The stand-in may come and go within one poll (the launcher closes at once
# when it sees it, and the demo then closes the stand-in); its Log.txt stays.
standin_up() { grep -q '^Stand-in X-Plane 12 .*(pid [0-9]*)$' "$XP/Log.txt" 2>/dev/null; }

case "$WAY" in
  close)
    press "Update & Suppress" 90 suppressed_and_idle || fail "Update & Suppress did not suppress the demo pack"
    "$DEMO_SH" outdate "$DEMO" > "$T/outdate.out" 2>&1 || { cat "$T/outdate.out"; fail "the outdate step failed"; }
    if cmp -s "$PACK_APT" "$PACK_APT.taxilume-orig"; then fail "the outdate step delivered no new bytes"; fi
    press "Update & Suppress" 90 enabled "Delete the old copies" ||
      fail "no outdated-copies warning after the outdate step"
    shot
    # Then back to the original scenery: the old copy goes, Restore originals
    # puts every other file back byte for byte.
    press "Delete the old copies" 60 no_backup "$PACK_APT" || fail "Delete the old copies left the outdated copy"
    press "Restore originals" 90 all_original || fail "Restore originals did not put the original scenery back"
    "$WMCLOSE" "$WIN" || fail "could not ask the window to close"
    ;;
  launch)
    press "Install" 60 installed || fail "Install did not install the demo plugin"
    wait_for 10 enabled "Launch X-Plane" || fail "Launch X-Plane stays disabled after the install"
    shot
    press "Launch X-Plane" 90 standin_up || fail "Launch X-Plane did not start the stand-in"
    STANDIN_PID=$(sed -n '1s/.*(pid \([0-9]*\))$/\1/p' "$XP/Log.txt")
    [ -n "$STANDIN_PID" ] || fail "the stand-in's Log.txt names no process"
    ;;
  *) fail "unknown way $WAY" ;;
esac

# The launcher closes (by the close request, or by itself once the stand-in
# is up); the demo script must then stop everything it started.
wait_for 90 gone "$RUNNER_PID" || fail "the demo did not end after the launcher closed"
wait "$RUNNER_PID"; STATUS=$?
RUNNER_PID=""
[ "$STATUS" = 0 ] || fail "the demo ended with status $STATUS"
gone "$LAUNCHER_PID" || fail "the launcher is still running"
gone "$SERVER_PID" || fail "the demo server is still running"
if [ "$WAY" = launch ]; then
  gone "$STANDIN_PID" || fail "the stand-in simulator is still running"
  grep -q '^Plugin: Taxilume 1.2.0$' "$XP/Log.txt" || fail "the stand-in did not see the installed plugin"
  grep -q '^Scenery: [0-9]* airport(s) with suppressed lights$' "$XP/Log.txt" ||
    fail "the stand-in was launched on unsuppressed scenery"
  grep -q '^Quit.$' "$XP/Log.txt" || fail "the stand-in did not shut down by itself"
fi
# Nothing at all may still run from the demo folder or have it open.
for p in /proc/[0-9]*; do
  for link in exe cwd; do
    case "$(readlink "$p/$link" 2>/dev/null)" in
      "$DEMO"/*|"$DEMO") fail "process ${p#/proc/} still runs in the demo folder ($(tr '\0' ' ' < "$p/cmdline"))" ;;
    esac
  done
done
[ "$(cfg_state)" = "$CFG_BEFORE" ] || fail "the demo changed $REAL_CFG"
echo "PASS: demo $WAY"
