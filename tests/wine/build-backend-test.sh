#!/usr/bin/env bash
# Builds the Windows backend test on its own, without the CMake Windows build:
#   tests/wine/build-backend-test.sh [OUT_DIR]      (default <repo>/build/win32-backend-test)
# then: tests/wine/run-wine.sh OUT_DIR win32_backend_test.exe
# GoogleTest's objects are kept in OUT_DIR and rebuilt only when missing.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out="${1:-$repo/build/win32-backend-test}"
mkdir -p "$out"

cxx=x86_64-w64-mingw32-g++-posix
windres=x86_64-w64-mingw32-windres
gtest=/usr/src/googletest/googletest
jdk_include=/usr/lib/jvm/java-17-openjdk-amd64/include
defines=(-DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601)
flags=(-std=c++17 -O1 -g -Wall -Wextra "${defines[@]}")
includes=(-I"$repo/src" -I"$repo/resources" -I"$jdk_include" -I"$repo/src/platform/win32/jni"
          -I"$gtest/include" -I"$gtest")

for unit in gtest-all gtest_main; do
    if [ ! -f "$out/$unit.o" ]; then
        "$cxx" -std=c++17 -O1 "${defines[@]}" -I"$gtest/include" -I"$gtest" \
            -c "$gtest/src/$unit.cc" -o "$out/$unit.o"
    fi
done

"$windres" -I"$repo/resources" "$repo/resources/launcher.rc" -O coff -o "$out/resources.o"

objects=("$out/gtest-all.o" "$out/gtest_main.o" "$out/resources.o")
for source in "$repo"/src/platform/win32/*.cpp "$repo/tests/unit/platform/win32_backend_test.cpp"; do
    object="$out/$(basename "$source" .cpp).o"
    "$cxx" "${flags[@]}" "${includes[@]}" -c "$source" -o "$object" &
    objects+=("$object")
done
wait_all() { local status=0; for job in $(jobs -p); do wait "$job" || status=1; done; return $status; }
wait_all

"$cxx" -static -static-libgcc -static-libstdc++ -o "$out/win32_backend_test.exe" "${objects[@]}" \
    -ladvapi32 -luser32 -lgdi32 -lcomctl32 -lshell32
echo "built $out/win32_backend_test.exe"
