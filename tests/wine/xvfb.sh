# Sourced (bash) helpers for GUI cases under Wine: a private Xvfb, screenshots, and finding and
# answering windows with xdotool. Every wait polls a condition against a deadline.
#   source tests/wine/xvfb.sh
#   vxo_xvfb_start || exit 1; trap vxo_xvfb_stop EXIT
#   id=$(vxo_wait_window '^Error$' 60) && vxo_screenshot shot.png && vxo_answer_window "$id" Return

VXO_XVFB_PID=""

# vxo_poll SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds or SECONDS pass.
vxo_poll() {
    local deadline=$((SECONDS + $1))
    shift
    while :; do
        "$@" && return 0
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.1
    done
}

# Starts Xvfb on the first free display and exports DISPLAY once the server accepts clients.
vxo_xvfb_start() {
    local size="${1:-1024x768x24}"
    local numberFile
    numberFile="$(mktemp)" || return 1
    # -displayfd makes the server choose a free display and report it when it is ready.
    Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
    VXO_XVFB_PID=$!
    if ! vxo_poll 30 grep -q '^[0-9][0-9]*$' "$numberFile"; then
        echo "xvfb: server did not start" >&2
        rm -f "$numberFile"
        vxo_xvfb_stop
        return 1
    fi
    DISPLAY=":$(head -n1 "$numberFile")"
    export DISPLAY
    rm -f "$numberFile"
    vxo_poll 10 xdotool getdisplaygeometry >/dev/null 2>&1
}

vxo_xvfb_stop() {
    [ -n "$VXO_XVFB_PID" ] || return 0
    kill "$VXO_XVFB_PID" 2>/dev/null
    # Bounded: escalate if the server ignores the polite request.
    vxo_poll 5 bash -c "! kill -0 $VXO_XVFB_PID 2>/dev/null" || kill -9 "$VXO_XVFB_PID" 2>/dev/null
    wait "$VXO_XVFB_PID" 2>/dev/null
    VXO_XVFB_PID=""
}

# vxo_screenshot FILE.png: the whole screen of the current display.
vxo_screenshot() {
    xwd -root -silent -display "$DISPLAY" | convert xwd:- "png:$1"
}

# vxo_find_window REGEX: prints the id of the first visible window whose title matches.
vxo_find_window() {
    local ids
    ids="$(xdotool search --onlyvisible --name "$1" 2>/dev/null)" || return 1
    [ -n "$ids" ] || return 1
    printf '%s\n' "$ids" | head -n1
}

# vxo_wait_window REGEX SECONDS: waits for such a window and prints its id.
vxo_wait_window() {
    local deadline=$((SECONDS + $2)) id
    while :; do
        id="$(vxo_find_window "$1")" && { printf '%s\n' "$id"; return 0; }
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.1
    done
}

# vxo_window_gone ID: true once the window no longer exists or is no longer shown.
vxo_window_gone() {
    ! xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$1"
}

# vxo_answer_window ID [KEY] [SECONDS]: focuses the window, presses KEY (default Return) and
# waits for it to close. There is no window manager, so focus is set directly.
vxo_answer_window() {
    local id="$1" key="${2:-Return}" wait="${3:-20}"
    local deadline=$((SECONDS + wait))
    while :; do
        timeout 5 xdotool windowfocus --sync "$id" >/dev/null 2>&1
        timeout 5 xdotool key --clearmodifiers "$key" >/dev/null 2>&1
        # A key pressed before Wine is ready for input is lost: press again until it closes.
        vxo_poll 2 vxo_window_gone "$id" && return 0
        [ "$SECONDS" -ge "$deadline" ] && return 1
    done
}

# vxo_answer_box REGEX [KEY] [SECONDS]: waits for a message box by title and answers it.
vxo_answer_box() {
    local id
    id="$(vxo_wait_window "$1" "${3:-60}")" || return 1
    vxo_answer_window "$id" "${2:-Return}" "${3:-60}"
}
