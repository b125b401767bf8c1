#!/bin/sh
# run.sh PYTHON LIBRARY ARTIFACTS_DIR
#
# Runs the browser tests of the web wiki (browser.test.mjs) with the
# package from this tree and the given library. Exits 77, a skip, with the
# reason when node, playwright-core or chromium is missing, or when every
# test skipped: such a run proves nothing and must not read as a pass.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../../.." && pwd)
python=$1 library=$2 artifacts=$3
skip() { echo "SKIP: $*"; exit 77; }

command -v node >/dev/null 2>&1 || skip "node is not installed"
[ -d "$here/node_modules/playwright-core" ] ||
  skip "playwright-core is not installed: scripts/install-deps.sh runs npm ci in examples/web/tests"
chromium=${WIKIWEB_CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || skip "$chromium is not installed (Debian package chromium)"

mkdir -p "$artifacts"
export WIKIWEB_PYTHON="$python" WIKIDB_LIBRARY="$library" WIKIWEB_ARTIFACTS="$artifacts"
export PYTHONPATH="$src/bindings/python:$src/examples/web"
export PYTHONDONTWRITEBYTECODE=1
log=$artifacts/browser-tests.tap
cd "$here"
status=0
node --test --test-reporter=tap browser.test.mjs >"$log" 2>&1 || status=$?
cat "$log"
[ "$status" -eq 0 ] || exit "$status"
grep -q '^# pass 0$' "$log" && skip "no browser test ran (see the reasons above)"
exit 0
