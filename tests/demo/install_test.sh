#!/usr/bin/env bash
# make install and make uninstall into a staging folder (DESTDIR), for the
# programs of an existing build folder: what a desktop needs must land in the
# freedesktop places, the menu entry must name the installed launcher, and
# uninstall must take away everything install put there. And what make
# install builds: the two programs, configured without the tests, the
# benchmarks and the development tools.
#
#   install_test.sh BUILD
#
# Runs the Makefile's install recipe only (INSTALL_BUILDS empty: the build
# folder is taken as it is, nothing is configured, built or installed from
# apt).
set -uo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
PROJECT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
T=$(mktemp -d "${TMPDIR:-/tmp}/install-test.XXXXXX")
trap 'rm -rf "$T"' EXIT
fail() { echo "FAIL: $*"; find "$T" | sed "s|^$T||"; exit 1; }

PREFIX="/opt/taxilume test"   # a blank in the prefix, as a user's home may have
STAGE="$T/stage"
run_make() { make -s -C "$PROJECT" "$1" INSTALL_BUILDS= BUILD="$BUILD" DESTDIR="$STAGE" PREFIX="$PREFIX" > "$T/$1.out" 2>&1 ||
  { cat "$T/$1.out"; fail "make $1 failed"; }; }

run_make install
ROOT="$STAGE$PREFIX"
for f in bin/taxilume-launcher bin/taxilume-cli; do
  [ -x "$ROOT/$f" ] || fail "$f is not installed as a program"
  cmp -s "$ROOT/$f" "$BUILD/${f#bin/}" || fail "$f is not the built program"
done
ENTRY="$ROOT/share/applications/taxilume-launcher.desktop"
[ -f "$ENTRY" ] || fail "no menu entry"
[ -f "$ROOT/share/icons/hicolor/scalable/apps/taxilume-launcher.svg" ] || fail "no icon in the hicolor theme"
grep -qx 'Icon=taxilume-launcher' "$ENTRY" || fail "the entry does not name the icon by its theme name"
# The entry names the launcher where it will run from (without DESTDIR);
# a blank in the path must be quoted for the desktop to split it right.
grep -qx "Exec=\"$PREFIX/bin/taxilume-launcher\"" "$ENTRY" || { cat "$ENTRY"; fail "Exec does not name the installed launcher"; }
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$ENTRY" || fail "the menu entry does not validate"
fi

run_make uninstall
left=$(find "$STAGE" -type f)
[ -z "$left" ] || fail "uninstall left: $left"

# What a plain make install would build (dry run: nothing runs), and what the
# build it configures holds (configured for real in a scratch folder, not built).
plan=$(env -u SUDO_USER make -n -C "$PROJECT" install BUILD="$T/plain" 2>&1)
grep -q -- "-DTL_TESTS=OFF" <<<"$plan" || { echo "$plan"; fail "make install does not configure without the tests"; }
grep -q -- "--target taxilume-launcher taxilume-cli" <<<"$plan" || { echo "$plan"; fail "make install builds more than the two programs"; }
cmake -S "$PROJECT" -B "$T/plain" -DTL_TESTS=OFF > "$T/configure.out" 2>&1 || { cat "$T/configure.out"; fail "cmake without the tests failed"; }
targets=$(cmake --build "$T/plain" --target help 2>/dev/null)
for want in taxilume-launcher taxilume-cli; do
  grep -q -- "\.\.\. $want\$" <<<"$targets" || { echo "$targets"; fail "no $want target without the tests"; }
done
extra=$(grep -E -- '\.\.\. (.*_tests|bench_.*|taxilume-devserver|tl_testsupport)$' <<<"$targets")
[ -z "$extra" ] || fail "configured without the tests, the build still has: $extra"
echo "PASS: install and uninstall; make install builds the two programs only"
