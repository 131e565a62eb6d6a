#!/usr/bin/env bash
# Runs a Windows program that shows a message box, under Wine on a private Xvfb: waits for the
# box by title, saves a screenshot, answers it with Return and checks the program's exit code.
#   message-box-test.sh BUILD_DIR PROGRAM.exe [args...]
# VXO_BOX_TITLE  title to wait for, a regex (default ^Error$)
# VXO_BOX_EXIT   exit code expected once the box is answered (default 0)
# VXO_BOX_SHOT   screenshot file (default BUILD_DIR/<program>-message-box.png)
set -uo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD_DIR PROGRAM.exe [args...]" >&2
    exit 2
fi
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
# shellcheck source=wine-env.sh
source "$here/wine-env.sh" "${VXO_WINEPREFIX:-$repo/build/wineprefix}" || exit 125

# The Wine server session must be ours alone: rerun under the exclusive run lock.
if [ -z "${VXO_WINE_LOCK_HELD:-}" ]; then
    exec flock -o -x -w 900 -E 125 "$VXO_WINE_RUN_LOCK" \
        env VXO_WINE_LOCK_HELD=1 bash "${BASH_SOURCE[0]}" "$@"
fi

build_dir="$1"
program="$2"
title="${VXO_BOX_TITLE:-^Error\$}"
shot="${VXO_BOX_SHOT:-$build_dir/$(basename "$program" .exe)-message-box.png}"

# shellcheck source=xvfb.sh
source "$here/xvfb.sh"
program_pid=""
cleanup() {
    if [ -n "$program_pid" ]; then
        # Nobody else runs in this prefix now, so stopping every Wine process is safe.
        timeout 30 "$VXO_WINESERVER" -k 2>/dev/null
        kill "$program_pid" 2>/dev/null
    fi
    # Let the session end while its display is still there, then drop the display.
    timeout 60 "$VXO_WINESERVER" -w 2>/dev/null
    vxo_xvfb_stop
}
trap cleanup EXIT

# A session left by a headless run would keep its desktop without a display.
timeout 60 "$VXO_WINESERVER" -w 2>/dev/null

vxo_xvfb_start 1024x768x24 || exit 1
VXO_WINE_KEEP_DISPLAY=1 VXO_WINE_TIMEOUT=180 "$here/run-wine.sh" "$@" &
program_pid=$!

if ! id="$(vxo_wait_window "$title" 90)"; then
    echo "message-box-test: no window titled /$title/ appeared" >&2
    vxo_screenshot "$shot" && echo "message-box-test: screen saved in $shot" >&2
    exit 1
fi
echo "message-box-test: window $id: $(xdotool getwindowname "$id")"
vxo_screenshot "$shot" || { echo "message-box-test: screenshot failed" >&2; exit 1; }
echo "message-box-test: screenshot $shot"

if ! vxo_answer_window "$id" Return 30; then
    echo "message-box-test: the box did not close on Return" >&2
    exit 1
fi
if ! vxo_poll 60 bash -c "! kill -0 $program_pid 2>/dev/null"; then
    echo "message-box-test: program still running after the box closed" >&2
    exit 1
fi
wait "$program_pid"
status=$?
program_pid=""
expected="${VXO_BOX_EXIT:-0}"
echo "message-box-test: program exited with $status (expected $expected)"
[ "$status" -eq "$expected" ]
