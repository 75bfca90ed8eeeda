#!/usr/bin/env bash
# Runs the program against the bundled demo: the demo content site and the upload sink on free
# loopback ports, the program pointed at them, both stopped again when the window closes.
#
# With a display the window is yours: press the buttons, close it when done. Without one (or with
# VEXA_DEMO_HEADLESS=1) it runs on a private Xvfb server, the demo movie walks its lesson by itself
# (record, stop, upload, confirmation), a screenshot is saved and the program quits.
#
# Settings (environment):
#   VEXA_BUILD_DIR       build folder with app/vexa and demo-site/ (default build/release)
#   VEXA_DEMO_PROGRAM    the program to run (default <build>/app/vexa), e.g. an installed one
#   VEXA_DEMO_RUN_DIR    where logs, uploads and the screenshot go (default <build>/demo-run)
#   VEXA_DEMO_HEADLESS   1: run under Xvfb even when there is a display
#   VEXA_DEMO_AUTOTEST   1/0: let the movie drive itself (default: 1 headless, 0 with a display)
#   VEXA_DEMO_SCREENSHOT file for the headless screenshot (default <run dir>/demo.png)
#   VEXA_DEMO_TIMEOUT    seconds a headless run may take before it is stopped (default 120)
#   VEXA_DEMO_UPLOAD     uid,tid,type of the movie's test-mode upload (default 1001,42,1)
#   VEXA_DEMO_ALSA_CONFIG an ALSA configuration for the program (headless without a sound card:
#                        the build's paced test device with a spoken sentence, when it is built)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${VEXA_BUILD_DIR:-$top/build/release}" && pwd)
vexa=${VEXA_DEMO_PROGRAM:-$build/app/vexa}
site=$build/demo-site
run_dir=${VEXA_DEMO_RUN_DIR:-$build/demo-run}
# Debian's own interpreter first: a per-user one may not start under the scratch homes of tests.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)

say() { echo "demo: $*"; }

if [ ! -x "$vexa" ]; then
    say "the program is not built yet ($vexa); run tools/setup.sh"
    exit 1
fi
if [ ! -f "$site/vexa.swf" ]; then
    say "the demo content site is not built ($site); run tools/setup.sh"
    exit 1
fi

headless=${VEXA_DEMO_HEADLESS:-0}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    headless=1
fi
autotest=${VEXA_DEMO_AUTOTEST:-$headless}
timeout_s=${VEXA_DEMO_TIMEOUT:-120}
screenshot=${VEXA_DEMO_SCREENSHOT:-$run_dir/demo.png}

mkdir -p "$run_dir"
rm -rf "$run_dir/uploads" "$run_dir"/*.port "$run_dir"/*.log "$run_dir/reports.jsonl" "$run_dir/window.txt"
pids=()
# Stops what this script started, the latest first (the X server last).
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A private X server (what xvfb-run gives) on a display number the server picks itself, so runs
# side by side (tests in parallel) never race for the same display.
if [ "$headless" = 1 ]; then
    if ! command -v Xvfb >/dev/null; then
        say "no display and no Xvfb (Debian package xvfb)"
        exit 1
    fi
    rm -f "$run_dir/xvfb.display"
    # -noreset: the watcher's short X clients must not reset the server while the program connects.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$run_dir/xvfb.display" 2>"$run_dir/xvfb.log" &
    pids+=($!)
    for ((i = 0; i < 100; i++)); do
        [ -s "$run_dir/xvfb.display" ] && break
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$run_dir/xvfb.display" ]; then
        say "the X server did not start:"
        cat "$run_dir/xvfb.log"
        exit 1
    fi
    DISPLAY=":$(tr -d '[:space:]' <"$run_dir/xvfb.display")"
    export DISPLAY
    unset WAYLAND_DISPLAY XAUTHORITY
    export GDK_BACKEND=x11
    say "no display: running on a private X server (Xvfb, display $DISPLAY)"
fi

wait_for_file() {
    local file=$1 pid=$2 i
    for ((i = 0; i < 100; i++)); do
        [ -s "$file" ] && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# The servers stop by themselves after the longest run we allow, should this script be killed.
limit=$((timeout_s + 600))
site_args=(--root "$site" --port-file "$run_dir/site.port" --report "$run_dir/reports.jsonl"
    --access-log "$run_dir/site-access.log" --max-seconds "$limit")
if [ "$autotest" = 1 ]; then
    IFS=, read -r up_uid up_tid up_type <<<"${VEXA_DEMO_UPLOAD:-1001,42,1}"
    quit=0
    [ "$headless" = 1 ] && quit=1
    site_args+=(--autotest "uid=$up_uid,tid=$up_tid,type=$up_type,quit=$quit")
fi
"$python" "$top/tools/demo-site/serve.py" "${site_args[@]}" >"$run_dir/site.log" 2>&1 &
pids+=($!)
wait_for_file "$run_dir/site.port" "${pids[-1]}" || { say "the demo site did not start:"; cat "$run_dir/site.log"; exit 1; }
"$python" "$top/tools/upload-sink/sink.py" --out "$run_dir/uploads" --port-file "$run_dir/sink.port" \
    --max-seconds "$limit" &
pids+=($!)
wait_for_file "$run_dir/sink.port" "${pids[-1]}" || { say "the upload sink did not start"; exit 1; }
site_port=$(cat "$run_dir/site.port")
sink_port=$(cat "$run_dir/sink.port")

export VEXA_CONTENT_SITE="http://127.0.0.1:$site_port/"
export VEXA_UPLOAD_HOST="127.0.0.1:$sink_port"
# Headless without a sound card, the build's paced test capture device stands in for a microphone:
# it "hears" a spoken sentence, so the lesson records and uploads a real MP3.
paced=$build/tools/alsa-paced/libasound_module_pcm_vexapaced.so
if [ "$headless" = 1 ] && [ -z "${VEXA_DEMO_ALSA_CONFIG:-}" ] && [ ! -d /dev/snd ] && [ -f "$paced" ] &&
    command -v espeak-ng >/dev/null && command -v sox >/dev/null; then
    espeak-ng -v en-us -s 130 -w "$run_dir/voice.wav" "Apple. I can say apple!"
    sox "$run_dir/voice.wav" -t raw -e signed-integer -b 16 -c 1 -r 22050 "$run_dir/voice.raw"
    sh "$top/tools/alsa-paced/write-config.sh" "$run_dir/asound.conf" "$paced" "$run_dir/voice.raw" \
        "$run_dir/played.raw"
    VEXA_DEMO_ALSA_CONFIG=$run_dir/asound.conf
    say "no sound card: a test capture device plays $run_dir/voice.wav as the microphone"
fi
if [ -n "${VEXA_DEMO_ALSA_CONFIG:-}" ]; then
    export ALSA_CONFIG_PATH=$VEXA_DEMO_ALSA_CONFIG
fi
say "content site $VEXA_CONTENT_SITE (serving $site)"
say "upload sink  $VEXA_UPLOAD_HOST (uploads land in $run_dir/uploads)"

if [ "$headless" != 1 ]; then
    say "starting $vexa; close its window to end the demo"
    set +e
    "$vexa" "$@"
    rc=$?
    set -e
    say "the program ended with status $rc"
    exit "$rc"
fi

# ---- headless: drive, watch, photograph ---------------------------------------------------------
"$vexa" "$@" >"$run_dir/vexa.log" 2>&1 &
vexa_pid=$!
pids+=("$vexa_pid")

# Sorts the program's mapped top-level windows: "main ID" for the lesson window, "dialog ID" for
# each message box (a window transient for another, or typed as a dialog).
program_windows() {
    local w props
    for w in $(xdotool search --onlyvisible --pid "$vexa_pid" --name '' 2>/dev/null); do
        props=$(xprop -id "$w" WM_CLASS WM_TRANSIENT_FOR _NET_WM_WINDOW_TYPE 2>/dev/null) || continue
        grep -q '^WM_CLASS(STRING) = "vexa"' <<<"$props" || continue
        if grep -q -e '^WM_TRANSIENT_FOR(WINDOW)' -e '_NET_WM_WINDOW_TYPE_DIALOG' <<<"$props"; then
            echo "dialog $w"
        else
            echo "main $w"
        fi
    done
}

main_window() {
    local kind w
    while read -r kind w; do
        [ "$kind" = main ] && { echo "$w"; return 0; }
    done < <(program_windows)
    return 1
}

# Nobody is there to press OK: a message box (no sound card, say) is noted and closed.
dismiss_message_boxes() {
    local kind w name
    while read -r kind w; do
        [ "$kind" = dialog ] || continue
        name=$(xdotool getwindowname "$w" 2>/dev/null || true)
        say "closing a message box: \"$name\""
        echo "message box: $name" >>"$run_dir/message-boxes.log"
        if xdotool windowfocus --sync "$w" 2>/dev/null; then
            xdotool key --clearmodifiers Return 2>/dev/null || true
        fi
    done < <(program_windows)
}

# What the desktop sees of the window: its class (matched against the .desktop file) and icon.
describe_window() {
    local w=$1
    {
        xprop -id "$w" WM_CLASS WM_NAME
        # Only the first bytes: the full icon list is large.
        if [[ "$(xprop -id "$w" -len 16 _NET_WM_ICON 2>/dev/null)" == *'_NET_WM_ICON(CARDINAL) = '* ]]; then
            echo "_NET_WM_ICON: set"
        else
            echo "_NET_WM_ICON: missing"
        fi
        xdotool getwindowgeometry "$w"
    } >"$run_dir/window.txt" 2>&1 || true
}

take_screenshot() {
    local w
    mkdir -p "$(dirname "$screenshot")"
    if w=$(main_window); then
        describe_window "$w"
        import -window "$w" "$screenshot" 2>/dev/null && return 0
    fi
    import -window root "$screenshot"
}

reported() { [ -f "$run_dir/reports.jsonl" ] && grep -q "\"step\": \"$1\"" "$run_dir/reports.jsonl"; }

deadline=$((SECONDS + timeout_s))
shot_taken=0
closed_by_us=0
outcome=""
while kill -0 "$vexa_pid" 2>/dev/null; do
    if [ "$SECONDS" -ge "$deadline" ]; then
        outcome="timed out after ${timeout_s} s"
        break
    fi
    dismiss_message_boxes
    if [ "$shot_taken" = 0 ]; then
        if { [ "$autotest" = 1 ] && reported upok; } ||
            { [ "$autotest" != 1 ] && grep -q 'apple.jpg' "$run_dir/site-access.log" 2>/dev/null && sleep 3; }; then
            sleep 0.3
            take_screenshot && shot_taken=1 && say "screenshot saved: $screenshot"
            if [ "$autotest" != 1 ]; then
                closed_by_us=1
                kill "$vexa_pid" 2>/dev/null || true
            fi
        fi
    fi
    sleep 0.25
done
if [ -n "$outcome" ]; then
    [ "$shot_taken" = 0 ] && take_screenshot && say "screenshot (at the time-out) saved: $screenshot"
    kill "$vexa_pid" 2>/dev/null || true
fi
set +e
wait "$vexa_pid"
rc=$?
set -e
if [ "$closed_by_us" = 1 ]; then
    outcome="was closed after the screenshot"
    rc=0
fi
[ -z "$outcome" ] && outcome="ended with status $rc"
say "the program $outcome; its output is in $run_dir/vexa.log"
if [ -f "$run_dir/reports.jsonl" ]; then
    say "the movie reported: $(sed -n 's/.*"step": "\([a-z]*\)".*/\1/p' "$run_dir/reports.jsonl" | tr '\n' ' ')"
fi
[ "$shot_taken" = 1 ] || [ -f "$screenshot" ] || say "no screenshot was taken"
case $outcome in
timed*) exit 1 ;;
esac
exit "$rc"
