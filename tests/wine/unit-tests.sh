#!/usr/bin/env bash
# Runs the Windows unit tests under Wine with the registry values they read, created with
# `wine reg add` and removed again afterwards.
#   unit-tests.sh BUILD_DIR [gtest args...]
set -uo pipefail
build_dir="$1"
shift
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
# shellcheck source=wine-env.sh
source "$here/wine-env.sh" "${VXO_WINEPREFIX:-$repo/build/wineprefix}" || exit 125

# Headless runs share the Wine session; hold the shared lock for the whole run.
if [ -z "${VXO_WINE_LOCK_HELD:-}" ]; then
    exec flock -o -s -w 900 -E 125 "$VXO_WINE_RUN_LOCK" \
        env VXO_WINE_LOCK_HELD=1 bash "${BASH_SOURCE[0]}" "$build_dir" "$@"
fi

reg() { timeout 120 "$VXO_WINE" reg "$@" >/dev/null || echo "unit-tests: reg $* failed" >&2; }
cleanup() {
    reg delete 'HKCU\Software\VexiloUnit' /f
    reg delete 'HKLM\Software\VexiloUnit' /f
    reg delete 'HKCU\VexiloUnitTop' /f
}
trap cleanup EXIT
cleanup 2>/dev/null

user='HKCU\Software\VexiloUnit'
reg add "$user" /v Sz /t REG_SZ /d 'plain text' /f
reg add "$user" /v Expand /t REG_EXPAND_SZ /d '%VXO_UNIT_DIR%\sub %APPLICATION_HOME% %%' /f
reg add "$user" /v Dword /t REG_DWORD /d 0xffffffff /f
reg add "$user" /v Binary /t REG_BINARY /d 0102 /f
reg add "$user" /v Self /t REG_EXPAND_SZ /d '%{HKCU\Software\VexiloUnit\Self}%' /f
fan='%{HKCU\Software\VexiloUnit\Fan}%'
reg add "$user" /v Fan /t REG_EXPAND_SZ /d "$fan$fan$fan$fan" /f
reg add "$user\Def" /ve /t REG_SZ /d 'default value' /f
reg add 'HKCU\VexiloUnitTop' /ve /t REG_SZ /d 'top default' /f
# Wine's reg stores REG_DWORD_BIG_ENDIAN data little-endian; an import sets the exact bytes.
import="$(mktemp --suffix=.reg)"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\VexiloUnit]\r\n"Big"=hex(5):00,00,00,01\r\n' >"$import"
timeout 120 "$VXO_WINE" regedit /S "$(winepath -w "$import" 2>/dev/null || echo "Z:$import")" >/dev/null 2>&1 \
    || echo "unit-tests: regedit import failed" >&2
rm -f "$import"

machine='HKLM\Software\VexiloUnit'
reg add "$machine\JRE" /v CurrentVersion /d 1.8 /f
reg add "$machine\JRE\1.8" /v RuntimeLib /d 'C:\vxo-unit-rt\bin\client\jvm.dll' /f
reg add "$machine\Moved" /v CurrentVersion /d 1.7 /f
reg add "$machine\Moved\1.7" /v RuntimeLib /d 'C:\vxo-unit-rt\bin\gone\jvm.dll' /f
reg add "$machine\HomeOnly" /v CurrentVersion /d 9 /f
reg add "$machine\HomeOnly\9" /v JavaHome /d 'C:\vxo-unit-rt' /f
reg add "$machine\NoVersion\1.8" /v RuntimeLib /d 'C:\vxo-unit-rt\bin\client\jvm.dll' /f

bash "$here/run-wine.sh" "$build_dir" tests/unit_tests.exe "$@"
