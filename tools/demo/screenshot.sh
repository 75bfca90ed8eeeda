#!/usr/bin/env bash
# Remakes docs/demo.png, the README's picture of the demo lesson: a headless demo run in a scratch
# home (the real data folder is not touched), photographed when the upload confirmation shows.
# VEXA_BUILD_DIR picks the build folder (default build/release).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vexa-screenshot.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_DATA_HOME=$scratch/home/.local/share XDG_STATE_HOME=$scratch/home/.local/state
unset APPDATA
mkdir -p "$HOME"
shot=$scratch/demo.png
VEXA_DEMO_HEADLESS=1 VEXA_DEMO_AUTOTEST=1 VEXA_DEMO_RUN_DIR=$scratch/run VEXA_DEMO_SCREENSHOT=$shot \
    "$top/tools/demo/run-demo.sh"
[ -s "$shot" ] || { echo "screenshot: no picture was taken" >&2; exit 1; }
mkdir -p "$top/docs"
# Without time stamps, so an unchanged picture gives an unchanged file.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
"$convert" "$shot" -strip -define png:exclude-chunks=date,time "$top/docs/demo.png"
echo "screenshot: wrote $top/docs/demo.png"
