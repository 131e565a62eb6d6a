# Sourced (bash): points Wine at the project's private 64-bit prefix and creates it on first use.
#   source tests/wine/wine-env.sh [PREFIX]
# PREFIX defaults to $VXO_WINEPREFIX, then <repo>/build/wineprefix. Pass it explicitly from a
# script: a bare `source` would hand the script's own arguments to this file.
# Afterwards $VXO_WINE runs a program (the 64-bit loader, without the wrapper's wine32 nagging),
# and $VXO_WINE_RUN_LOCK names the lock that keeps GUI runs apart from the others: headless runs
# hold it shared, a GUI run exclusive. Wine's desktop process takes the display of the first
# program of a server session, so a GUI run needs a session of its own.

vxo_wine_env() {
    local repo
    repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)" || return 1
    export WINEPREFIX="${1:-${VXO_WINEPREFIX:-$repo/build/wineprefix}}"
    export WINEARCH=win64
    # Quiet by default; VXO_WINEDEBUG=+seh,+loaddll (say) when a run needs explaining.
    export WINEDEBUG="${VXO_WINEDEBUG:--all}"
    # No Mono or Gecko: their install prompts would block a headless run.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # Wine derives the ANSI code page from the Unix locale; an English UTF-8 locale gives 1252,
    # which the launcher's "A" calls and its tests assume. C.UTF-8 is on every Debian machine.
    export LANG=C.UTF-8
    unset LC_ALL LC_CTYPE LC_MESSAGES LANGUAGE
    if [ -x /usr/lib/wine/wine64 ]; then
        export WINELOADER=/usr/lib/wine/wine64
        VXO_WINE=/usr/lib/wine/wine64
    else
        VXO_WINE=wine
    fi
    export VXO_WINE
    local server
    server="$(dirname "$VXO_WINE")/wineserver"
    [ -x "$server" ] || server=wineserver
    VXO_WINESERVER="$server"
    export VXO_WINESERVER
    VXO_WINE_RUN_LOCK="$WINEPREFIX.run.lock"
    export VXO_WINE_RUN_LOCK

    # Ready marker written only after a complete initialisation, so an interrupted one is redone.
    [ -f "$WINEPREFIX/.vxo-ready" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")" || return 1
    (
        # Two tests starting at once: the second waits here for the first to finish the prefix.
        flock -w 900 9 || { echo "wine-env: timed out waiting for the prefix lock" >&2; exit 1; }
        [ -f "$WINEPREFIX/.vxo-ready" ] && exit 0
        echo "wine-env: creating Wine prefix $WINEPREFIX (first use takes a minute)" >&2
        timeout 600 "$VXO_WINE" wineboot -i >/dev/null 2>&1 || {
            echo "wine-env: wineboot -i failed" >&2
            exit 1
        }
        timeout 300 "$VXO_WINESERVER" -w || {
            echo "wine-env: wineserver did not settle" >&2
            exit 1
        }
        [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-env: prefix incomplete" >&2; exit 1; }
        touch "$WINEPREFIX/.vxo-ready"
    ) 9>"$WINEPREFIX.lock"
}

vxo_wine_env "$@"
