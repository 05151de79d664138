#!/usr/bin/env bash
# Builds a demo X-Plane 12 folder in a temporary place, fills and starts the
# local server for it, and opens the launcher on it. Closing the launcher
# stops the server and the stand-in simulator; the demo folder stays behind
# for you to look at (its path is printed) and holds everything the demo
# wrote, the launcher's configuration folder included.
#
#   taxilume-demo.sh [--build DIR] [--dir DIR] [--no-wait]
#       DIR for --build: the CMake build folder with taxilume-launcher and
#       taxilume-devserver (default: build/ in the project).
#       --dir: where to make the demo folder (must not exist yet or be empty;
#       default: a new taxilume-demo.XXXXXX in $TMPDIR or /tmp).
#       --no-wait: when the stand-in simulator is still up after the launcher
#       closed, close it at once instead of waiting for Enter.
#   taxilume-demo.sh outdate [DIR]
#       Replaces the suppressed apt.dat of one demo pack with a fresh copy,
#       as a scenery update would, so the launcher warns about an outdated
#       copy after its next job. DIR: the demo folder (default: the running
#       demo's).
#
# The launcher runs with HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_DATA_HOME
# and TMPDIR pointing into the demo folder, so your own configuration,
# remembered X-Plane folder and lock file are never touched.
#
# Exit status: the launcher's, or 1 with a line on standard error when the
# demo could not be set up.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PROJECT=$(cd "$HERE/../.." && pwd)
SAMPLE="$PROJECT/tests/data/sample-global-apt.dat"   # 12 real airports, shipped with the project
PLUGIN_VERSION=1.2.0
LAUNCHER_VERSION=1.0.1     # what the launcher calls itself: publishing it means "no update"
PACK_PUBLISHER="Demo Studio"
OTHER_PUBLISHER="Sample Works"
# The packs: folder name and the real airport it carries. The first is named
# after its publisher, so the launcher matches its map by itself; the second
# is offered by two publishers, so the user picks; the third has only the
# base map.
PACKS=("$PACK_PUBLISHER - EDDF Frankfurt:EDDF" "KSEA Seattle-Tacoma:KSEA" "LOWI Innsbruck:LOWI")

say() { printf 'demo: %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

# --- outdate ----------------------------------------------------------------

# The newest demo folder whose demo script is still running.
running_demo() {
  local best="" d pid
  for d in "${TMPDIR:-/tmp}"/taxilume-demo.*; do
    [ -f "$d/run/demo.pid" ] || continue
    pid=$(cat "$d/run/demo.pid" 2>/dev/null || true)
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || continue
    if [ -z "$best" ] || [ "$d" -nt "$best" ]; then best=$d; fi
  done
  printf '%s' "$best"
}

outdate() {
  local demo=${1:-$(running_demo)}
  [ -n "$demo" ] || die "no running demo found - give its folder: $0 outdate DIR"
  [ -d "$demo/X-Plane 12" ] || die "$demo is not a demo folder"
  local pack=${PACKS[0]%%:*}
  local apt="$demo/X-Plane 12/Custom Scenery/$pack/Earth nav data/apt.dat"
  [ -f "$apt.taxilume-orig" ] ||
    die "\"$pack\" is not suppressed yet - press Update & Suppress first"
  # A scenery update delivers the pack's file anew: the original with a
  # small change (a file with the original's very bytes would simply be the
  # original again). Written beside and renamed over, as an installer would.
  { cat "$apt.taxilume-orig"; printf '\n'; } > "$apt.demo-update"
  mv -f "$apt.demo-update" "$apt"
  say "replaced $apt"
  say "press Update & Suppress (or any action): the launcher then warns about the outdated copy"
}

if [ "${1:-}" = outdate ]; then
  shift
  outdate "$@"
  exit 0
fi

# --- options ----------------------------------------------------------------

BUILD="$PROJECT/build"
DEMO=""
WAIT=1
while [ $# -gt 0 ]; do
  case "$1" in
    --build|--dir)
      [ $# -ge 2 ] || die "$1 needs a folder"
      if [ "$1" = --build ]; then BUILD=$2; else DEMO=$2; fi
      shift 2 ;;
    --no-wait) WAIT=0; shift ;;
    -h|--help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown option $1 (see --help)" ;;
  esac
done
BUILD=$(cd "$BUILD" 2>/dev/null && pwd) || die "no build folder $BUILD - run make build first"

find_program() {  # name -> path of the built program, or nothing
  local p
  for p in "$BUILD/$1" "$BUILD/tools/devserver/$1" "$BUILD/tools/$1"; do
    [ -x "$p" ] && { printf '%s' "$p"; return; }
  done
  find "$BUILD" -maxdepth 3 -type f -name "$1" -perm -u+x 2>/dev/null | head -n1
}
LAUNCHER=$(find_program taxilume-launcher)
SERVER=$(find_program taxilume-devserver)
[ -n "$LAUNCHER" ] || die "taxilume-launcher is not built in $BUILD"
[ -n "$SERVER" ] || die "taxilume-devserver is not built in $BUILD"
[ -f "$SAMPLE" ] || die "the sample airports are missing: $SAMPLE (they come with the project: is the clone complete?)"
command -v zip >/dev/null || die "zip is missing (make deps installs it)"
CC=${CC:-cc}
command -v "$CC" >/dev/null || die "no C compiler ($CC) for the stand-in simulator"

if [ -z "$DEMO" ]; then
  DEMO=$(mktemp -d "${TMPDIR:-/tmp}/taxilume-demo.XXXXXX")
else
  mkdir -p "$DEMO"
  [ -z "$(ls -A "$DEMO")" ] || die "$DEMO is not empty"
  DEMO=$(cd "$DEMO" && pwd)
fi
XP="$DEMO/X-Plane 12"
RUN="$DEMO/run"
mkdir -p "$RUN" "$DEMO/home/.config" "$DEMO/home/.cache" "$DEMO/home/.local/share" "$DEMO/tmp"
echo $$ > "$RUN/demo.pid"

SERVER_PID=""
STANDIN_PID=""
LAUNCHER_PID=""
WATCHDOG_PID=""

alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }

stop_pid() {  # pid what: TERM, up to 5 s, then KILL
  local pid=$1 i
  alive "$pid" || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for i in $(seq 50); do alive "$pid" || return 0; sleep 0.1; done
  say "$2 did not stop - killing it"
  kill -KILL "$pid" 2>/dev/null || true
  # Our own children are reaped here; the stand-in is not ours to wait for.
  wait "$pid" 2>/dev/null || true
  for i in $(seq 20); do alive "$pid" || return 0; sleep 0.1; done
}

# The stand-in's process id, only while that process still runs the
# stand-in of this demo (a stale pid file must not make us signal a stranger).
standin_pid() {
  local pid exe
  pid=$(cat "$XP/standin.pid" 2>/dev/null || true)
  [ -n "$pid" ] || return 0
  exe=$(readlink "/proc/$pid/exe" 2>/dev/null || true)
  [ "$exe" = "$XP/X-Plane-x86_64" ] && printf '%s' "$pid"
  return 0
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  stop_pid "$LAUNCHER_PID" "the launcher"
  STANDIN_PID=$(standin_pid)
  if [ -n "$STANDIN_PID" ]; then
    if [ "$WAIT" = 1 ] && [ -t 0 ] && [ "$status" = 0 ]; then
      say "the stand-in X-Plane is running (its log: $XP/Log.txt)"
      read -r -p "demo: press Enter to close it " _ || true
    fi
    say "closing the stand-in X-Plane"
    stop_pid "$STANDIN_PID" "the stand-in X-Plane"
  fi
  stop_pid "$SERVER_PID" "the demo server"
  if alive "$WATCHDOG_PID"; then kill "$WATCHDOG_PID" 2>/dev/null || true; fi
  rm -f "$RUN/demo.pid" "$RUN/server.pid" "$RUN/launcher.pid"
  say "done; the demo folder stays for you to look at: $DEMO"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# --- the X-Plane folder -----------------------------------------------------

say "making the demo X-Plane folder in $XP"
mkdir -p "$XP/Resources/plugins" "$XP/Resources/fonts" \
  "$XP/Global Scenery/Global Airports/Earth nav data" "$XP/Custom Scenery"
"$CC" -std=c11 -O2 -Wall -o "$XP/X-Plane-x86_64" "$HERE/standin_xplane.c" ||
  die "could not compile the stand-in simulator"
cp "$SAMPLE" "$XP/Global Scenery/Global Airports/Earth nav data/apt.dat"

for f in Roboto-Regular.ttf Roboto-Bold.ttf; do
  font=$(find /usr/share/fonts/truetype/roboto -name "$f" 2>/dev/null | head -n1 || true)
  if [ -n "$font" ]; then cp "$font" "$XP/Resources/fonts/$f"; fi
done
[ -f "$XP/Resources/fonts/Roboto-Regular.ttf" ] ||
  say "no Roboto fonts found (fonts-roboto) - the window uses its built-in font"

# Airport blocks of the sample, with the file's header (its licence line
# included) and the closing 99, as an apt.dat of their own. A block runs from
# its header row (1, 16 or 17) to the next one or to 99.
extract_airports() {  # "ICAO ..." out
  awk -v want="$1" '
    BEGIN { n = split(want, w, " "); for (i = 1; i <= n; i++) keep[w[i]] = 1 }
    NR <= 3 { print; next }
    /^(1|16|17)[ \t]/ { split($0, t, /[ \t]+/); sub(/\r$/, "", t[5]); on = (t[5] in keep) }
    /^99\r?$/ { on = 0 }
    on { print }
    END { printf "99\r\n" }' "$SAMPLE" > "$2"
  local code
  for code in $1; do
    grep -a -q -E "^1[ \t]+[0-9]+[ \t]+[01][ \t]+[01][ \t]+$code[ \t\r]" "$2" ||
      die "airport $code is not in $SAMPLE"
  done
}

{
  printf 'I\r\n1000 Version\r\nSCENERY\r\n\r\n'
  for p in "${PACKS[@]}"; do
    name=${p%%:*}; icao=${p##*:}
    mkdir -p "$XP/Custom Scenery/$name/Earth nav data"
    extract_airports "$icao" "$XP/Custom Scenery/$name/Earth nav data/apt.dat"
    printf 'SCENERY_PACK Custom Scenery/%s/\r\n' "$name"
  done
  printf 'SCENERY_PACK *GLOBAL_AIRPORTS*\r\n'
} > "$XP/Custom Scenery/scenery_packs.ini"

# --- the plugin release -----------------------------------------------------

# The package the launcher installs: a Taxilume/ folder with the Linux
# plugin file and its version. The plugin file is a stand-in too (stored,
# not compressed, so the package is well above the launcher's size floor).
mkdir -p "$DEMO/release/Taxilume/lin_x64"
{
  echo "Stand-in plugin file for the Taxilume demo; X-Plane never loads it."
  for _ in $(seq 64); do echo "................................................................"; done
} > "$DEMO/release/Taxilume/lin_x64/Taxilume.xpl"
printf '%s' "$PLUGIN_VERSION" > "$DEMO/release/Taxilume/version.txt"
(cd "$DEMO/release" && zip -q -0 -r "Taxilume-$PLUGIN_VERSION.zip" Taxilume) ||
  die "could not pack the plugin release"

# --- the server -------------------------------------------------------------

say "filling the demo server's folder from the demo scenery"
# Demo Studio publishes maps for its own EDDF and for KSEA; Sample Works for
# KSEA and EDDF too, so KSEA needs a pick while EDDF is matched by name.
extract_airports "EDDF KSEA" "$DEMO/release/demo-studio.apt.dat"
extract_airports "EDDF KSEA" "$DEMO/release/sample-works.apt.dat"
"$SERVER" build --folder "$DEMO/server" \
  --apt-dat "$XP/Global Scenery/Global Airports/Earth nav data/apt.dat" \
  --addon "$PACK_PUBLISHER=$DEMO/release/demo-studio.apt.dat" \
  --addon "$OTHER_PUBLISHER=$DEMO/release/sample-works.apt.dat" \
  --plugin-zip "$DEMO/release/Taxilume-$PLUGIN_VERSION.zip" --plugin-version "$PLUGIN_VERSION" \
  > "$RUN/server-build.log" 2>&1 ||
  { cat "$RUN/server-build.log" >&2; die "could not fill the server folder"; }
# The launcher asks for a newer build of itself; its own version means none.
mkdir -p "$DEMO/server/releases"
printf '{"version":"%s","url":"","notes":"demo: no launcher update"}' "$LAUNCHER_VERSION" \
  > "$DEMO/server/releases/xplane-launcher-lin.json"


# The server prints the port it picked on standard output.
"$SERVER" serve --folder "$DEMO/server" --port 0 > "$RUN/server.port" 2> "$RUN/server.log" &
SERVER_PID=$!
echo "$SERVER_PID" > "$RUN/server.pid"
PORT=""
for _ in $(seq 100); do
  # only a whole line counts: the number may still be on its way
  if [ "$(wc -l < "$RUN/server.port")" -ge 1 ]; then PORT=$(head -n1 "$RUN/server.port"); break; fi
  alive "$SERVER_PID" || { cat "$RUN/server.log" >&2; die "the demo server did not start"; }
  sleep 0.1
done
[ -n "$PORT" ] || die "the demo server did not say its port"
say "demo server on 127.0.0.1:$PORT (log: $RUN/server.log)"


# --- the launcher -----------------------------------------------------------

# A desktop session often finds its X authority through HOME; keep it.
if [ -z "${XAUTHORITY:-}" ] && [ -f "${HOME:-}/.Xauthority" ]; then
  export XAUTHORITY="$HOME/.Xauthority"
fi
export HOME="$DEMO/home"
export XDG_CONFIG_HOME="$DEMO/home/.config"
export XDG_CACHE_HOME="$DEMO/home/.cache"
export XDG_DATA_HOME="$DEMO/home/.local/share"
export TMPDIR="$DEMO/tmp"
export TAXILUME_DEMO_PID=$$

cat <<EOF
demo: opening the launcher on the demo folder. Things to try:
demo:   Install the plugin, pick a map for KSEA, Update & Suppress, Restore originals,
demo:   Launch X-Plane (a stand-in that writes Log.txt and stays up until closed).
demo:   For the outdated-copies warning, after a suppress run in another terminal:
demo:     $0 outdate "$DEMO"
EOF
"$LAUNCHER" --root "$XP" --host "127.0.0.1:$PORT" &
LAUNCHER_PID=$!
echo "$LAUNCHER_PID" > "$RUN/launcher.pid"
# Should this script itself be killed outright, nothing it started may stay:
# the watchdog stops the launcher and the server (which finishes only once
# the launcher's connection is gone), and the stand-in watches
# TAXILUME_DEMO_PID itself.
(
  trap '' INT HUP
  while kill -0 $$ 2>/dev/null; do sleep 1; done
  kill -TERM "$LAUNCHER_PID" "$SERVER_PID" 2>/dev/null || true
) </dev/null >/dev/null 2>&1 &
WATCHDOG_PID=$!
set +e
wait "$LAUNCHER_PID"
status=$?
set -e
LAUNCHER_PID=""
exit "$status"
