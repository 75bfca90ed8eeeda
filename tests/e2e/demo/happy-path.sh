#!/usr/bin/env bash
# The demo's happy path under Xvfb, in a scratch home so no real data folder is touched.
# Usage: happy-path.sh BUILD_DIR SOURCE_DIR [PROGRAM]
set -euo pipefail
build=$1
src=$2
program=${3:-$build/app/vexa}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vexa-e2e-demo.XXXXXX")
keep=${VEXA_E2E_KEEP:-0}
trap '[ "$keep" = 1 ] || rm -rf "$scratch"' EXIT

export HOME=$scratch/home
export XDG_DATA_HOME=$HOME/.local/share XDG_STATE_HOME=$HOME/.local/state
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_RUNTIME_DIR=$scratch/runtime
unset APPDATA
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY

run=$scratch/run
set +e
VEXA_BUILD_DIR=$build VEXA_DEMO_PROGRAM=$program VEXA_DEMO_RUN_DIR=$run VEXA_DEMO_HEADLESS=1 \
    VEXA_DEMO_AUTOTEST=1 VEXA_DEMO_TIMEOUT=150 VEXA_DEMO_UPLOAD="e2e-7,e2e-12,3" \
    VEXA_DEMO_SCREENSHOT=$run/screenshot.png "$src/tools/demo/run-demo.sh"
rc=$?
set -e

status=0
if [ "$rc" != 0 ]; then
    echo "FAIL: the demo run ended with status $rc"
    status=1
fi
echo "--- program output (last lines)"
tail -n 30 "$run/vexa.log" 2>/dev/null || true
[ -f "$run/message-boxes.log" ] && { echo "--- message boxes closed during the run"; cat "$run/message-boxes.log"; }

python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" "$src/tests/e2e/demo/check_run.py" --run "$run" --site "$build/demo-site" \
    --data "$XDG_DATA_HOME/quinbery/lm" --state "$XDG_STATE_HOME/quinbery" \
    --uid e2e-7 --tid e2e-12 --path /Upfile_qz.ashx || status=1
if [ "$status" != 0 ]; then
    keep=1
    echo "the run's files are kept in $scratch"
fi
exit "$status"
