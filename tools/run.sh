#!/usr/bin/env bash
# Sets up and runs the program.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/tools/setup.sh"
if [ -x tools/demo/run-demo.sh ]; then
    exec tools/demo/run-demo.sh "$@"
fi
if [ -x build/release/app/vexa ]; then
    exec build/release/app/vexa "$@"
fi
echo "run: the desktop program is not built yet; the headless parts are exercised by tools/test.sh"
