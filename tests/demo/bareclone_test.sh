#!/usr/bin/env bash
# A clone of the project in an empty folder, with nothing beside it, as a new
# user has it: the tests that need real airport data and the demo under a
# private X server must work from there.
#
#   bareclone_test.sh BUILD WMCLOSE APP_TESTS UI_TESTS
#
# Compiling the project again in the clone would take most of the test
# budget, so this build's programs and test programs run against the clone:
# the test programs read their data from the clone's tests/data
# (TAXILUME_TEST_DATA), and the demo is the clone's own script, which takes
# the programs from BUILD and everything else from the clone. What is tested
# is what is committed: a file that is only in the working tree is not in a
# clone either.
#
# Exit status 0 pass, 1 fail, 77 skip (not a git checkout, or no git).
set -uo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
WMCLOSE=${2:?close helper}
APP_TESTS=${3:?app_tests}
UI_TESTS=${4:?ui_tests}
PROJECT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

command -v git >/dev/null || { echo "SKIP: git is not installed"; exit 77; }
git -C "$PROJECT" rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
  { echo "SKIP: $PROJECT is not a git checkout"; exit 77; }

T=$(mktemp -d "${TMPDIR:-/tmp}/bare-clone.XXXXXX")
trap 'rm -rf "$T"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The checkout may belong to another user than the one running the tests (CI
# runs as root); that is no reason for git to refuse a local clone.
mkdir "$T/empty"
CLONE="$T/empty/taxilume"
git -c safe.directory='*' clone -q "$PROJECT" "$CLONE" > "$T/clone.log" 2>&1 ||
  { cat "$T/clone.log"; fail "git clone failed"; }
[ "$(ls -A "$T/empty")" = taxilume ] || fail "the clone does not stand alone in its folder"

SAMPLE="$CLONE/tests/data/sample-global-apt.dat"
[ -f "$SAMPLE" ] || fail "the clone has no tests/data/sample-global-apt.dat"
sed -n 2p "$SAMPLE" | grep -q "GNU General Public License" || fail "the sample lost its licence line"
grep -q "GNU General Public License" "$CLONE/tests/data/README.md" || fail "no notice of the data's licence"

# The end-to-end tests of taxilume-cli and a real window over real airports.
cd "$CLONE" || fail "cannot enter the clone"
export TAXILUME_TEST_DATA="$CLONE/tests/data"
"$APP_TESTS" --gtest_filter='Cli*' --gtest_brief=1 > "$T/app.out" 2>&1 ||
  { tail -n 60 "$T/app.out"; fail "the command-line tests fail in the clone"; }
"$UI_TESTS" --gtest_filter='Window.SuppressPickRestoreAndCloseInARealWindow' > "$T/ui.out" 2>&1 ||
  { tail -n 60 "$T/ui.out"; fail "the window test fails in the clone"; }
grep -q '\[  SKIPPED \]' "$T/app.out" "$T/ui.out" && { grep -h SKIPPED "$T/app.out" "$T/ui.out"; fail "a test skipped itself in the clone"; }

# The demo, run by the clone's own scripts.
TAXILUME_DEMO_SHOTS="$T/shots" "$CLONE/tests/demo/demo_test.sh" launch "$BUILD" "$WMCLOSE" > "$T/demo.out" 2>&1
status=$?
[ "$status" = 0 ] || { tail -n 60 "$T/demo.out"; fail "the demo fails in the clone (status $status)"; }
echo "PASS: a bare clone runs the CLI and window tests and the demo"
