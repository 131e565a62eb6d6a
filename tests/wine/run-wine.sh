#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix and exits with the program's code.
#   run-wine.sh BUILD_DIR PROGRAM.exe [args...]
# A relative PROGRAM is looked up in BUILD_DIR first. The prefix is $VXO_WINEPREFIX or
# <repo>/build/wineprefix, shared by every build so it is initialised only once.
# $VXO_WINE_TIMEOUT (seconds, default 600) bounds the whole run.
set -uo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD_DIR PROGRAM.exe [args...]" >&2
    exit 2
fi
build_dir="$1"
program="$2"
shift 2

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
# shellcheck source=wine-env.sh
source "$here/wine-env.sh" "${VXO_WINEPREFIX:-$repo/build/wineprefix}" || exit 125

case "$program" in
    /*) ;;
    *) [ -f "$build_dir/$program" ] && program="$build_dir/$program" ;;
esac
if [ ! -f "$program" ]; then
    echo "run-wine: no such program: $program" >&2
    exit 127
fi

# Without a window the program must not reach for one; GUI cases set DISPLAY themselves.
[ -n "${VXO_WINE_KEEP_DISPLAY:-}" ] || unset DISPLAY WAYLAND_DISPLAY

limit="${VXO_WINE_TIMEOUT:-600}"
if [ -n "${VXO_WINE_LOCK_HELD:-}" ]; then
    timeout --kill-after=10 "$limit" "$VXO_WINE" "$program" "$@"
    status=$?
else
    # Shared with other headless runs; waits while a GUI run has the server to itself. -o keeps
    # the lock out of the Wine processes, which may outlive this run.
    flock -o -s -w 900 -E 125 "$VXO_WINE_RUN_LOCK" \
        timeout --kill-after=10 "$limit" "$VXO_WINE" "$program" "$@"
    status=$?
    [ $status -eq 125 ] && echo "run-wine: timed out waiting for a GUI run to finish" >&2
fi
if [ $status -eq 124 ]; then
    echo "run-wine: $program timed out after ${limit}s" >&2
fi
exit $status
