#!/usr/bin/env bash
# Checks the companion natives from both ends against natives.txt:
#   - java/ compiles (--release 8) to exactly the class files the packer ships;
#   - the native methods those classes declare, by reflection, are the lines of natives.txt;
#   - the C++ tables of both images (natives.cpp and natives_splash.cpp) are the same lines;
#   - the export names the C++ tables carry are the JNI names of the Java declarations;
#   - optionally, built launchers export those names (ELF or PE): launcher-gui all of them,
#     launcher-console all but SplashScreen's.
# usage: check_natives.sh [--gui LAUNCHER_GUI] [--console LAUNCHER_CONSOLE]
# Tools: $JAVA_HOME or javac/java on PATH, $CXX (default g++), nm, and for Windows programs
# $OBJDUMP (default x86_64-w64-mingw32-objdump).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../../.." && pwd)"
windowed_only_class="com/lumenfold/vxo/SplashScreen"

gui="" console=""
while [ $# -gt 0 ]; do
    case "$1" in
        --gui) gui="$2"; shift 2 ;;
        --console) console="$2"; shift 2 ;;
        *) echo "usage: $0 [--gui LAUNCHER_GUI] [--console LAUNCHER_CONSOLE]" >&2; exit 2 ;;
    esac
done

if [ -n "${JAVA_HOME:-}" ]; then
    javac="$JAVA_HOME/bin/javac" java="$JAVA_HOME/bin/java"
else
    javac="$(command -v javac)" java="$(command -v java)"
fi
jdk="$(cd "$(dirname "$(readlink -f "$javac")")/.." && pwd)"
cxx="${CXX:-g++}"

work="$(mktemp -d "${TMPDIR:-/tmp}/vxo-natives.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export LC_ALL=C
failed=0

# Compares two sorted listings; prints the difference under a heading when they differ.
same() {
    local what="$1" expected="$2" actual="$3"
    if ! diff -u --label "$expected" --label "$actual" "$work/$expected" "$work/$actual" >"$work/diff"; then
        echo "FAIL: $what" >&2
        cat "$work/diff" >&2
        failed=1
    else
        echo "ok: $what"
    fi
}

grep -v -e '^#' -e '^[[:space:]]*$' "$here/natives.txt" | tr -d '\r' | sort >"$work/expected.txt"

# The Java side.
mkdir -p "$work/classes" "$work/tool"
mapfile -t sources < <(find "$repo/java" -name '*.java' | sort)
"$javac" --release 8 -nowarn -d "$work/classes" "${sources[@]}"
(cd "$work/classes" && find . -name '*.class' | sed 's#^\./##' | sort) >"$work/classes.txt"
sort >"$work/shipped.txt" <<'EOF'
com/lumenfold/vxo/ClassLoaderObjectInputStream.class
com/lumenfold/vxo/Instances$ReceiverInterface.class
com/lumenfold/vxo/Instances.class
com/lumenfold/vxo/RedirOutputStream.class
com/lumenfold/vxo/SplashCloseOnWindow.class
com/lumenfold/vxo/SplashScreen$1.class
com/lumenfold/vxo/SplashScreen.class
com/lumenfold/vxo/SystemTray.class
com/lumenfold/vxo/SystemTrayCallback.class
com/lumenfold/vxo/SystemTrayMenu.class
EOF
same "class files compiled from java/" shipped.txt classes.txt

"$javac" -nowarn -d "$work/tool" "$here/ListNatives.java"
"$java" -cp "$work/tool" ListNatives "$work/classes" | sort >"$work/java.txt"
"$java" -cp "$work/tool" ListNatives --exports "$work/classes" | sort >"$work/java-exports.txt"
same "natives declared by the Java classes" expected.txt java.txt

# The C++ side: both images' tables, printed by a throwaway program.
cat >"$work/print_tables.cpp" <<'EOF'
#include <cstdio>
#include <cstring>
#include "services/natives.h"
#include "services/services.h"
#include "services/tray_jni.h"
// The printer only reads the tables; the services behind the natives' bodies stay out.
void vxo::WriteRedirectedByte(JNIEnv*, jobject, jint) {}
jint vxo::FirstInstance() { return 0; }
jint vxo::CurrentInstance() { return 0; }
jintArray vxo::ListInstances(JNIEnv*) { return nullptr; }
void vxo::SendObject(JNIEnv*, jint, jobject) {}
void vxo::FlushInstances() {}
bool vxo::FlushInstancesWithin(jlong) { return false; }
jlong vxo::DroppedMessages() { return 0; }
void vxo::SetInstanceReceiver(JNIEnv*, jobject) {}
namespace vxo::tray_jni {
void Init(JNIEnv*, jobject, jint, jstring, jstring, jstring, jint) {}
void Show(JNIEnv*, jobject) {}
void Hide(JNIEnv*, jobject) {}
void Change(JNIEnv*, jobject, jint, jstring, jstring, jstring, jint) {}
void Finalize(JNIEnv*, jobject) {}
void SetCallback(JNIEnv*, jobject) {}
void MenuInit(JNIEnv*, jobject) {}
void MenuAppend(JNIEnv*, jobject, jstring, jint) {}
void MenuAppendSubMenu(JNIEnv*, jobject, jstring, jobject) {}
void MenuAppendSeparator(JNIEnv*, jobject) {}
void MenuPopup(JNIEnv*, jobject) {}
void MenuFinalize(JNIEnv*, jobject) {}
}  // namespace vxo::tray_jni
jobject vxo::NativeSplashObject(JNIEnv*, jclass) { return nullptr; }
void vxo::CloseSplashAfter(int) {}
void vxo::CloseSplashNow() {}
static void Print(const vxo::NativeTable& t, bool exports) {
    for (std::size_t i = 0; i < t.count; ++i) {
        const vxo::NativeMethod& m = t.methods[i];
        if (exports) std::printf("%s\n", m.exportName);
        else std::printf("%s %s %s %s\n", t.className, m.name, m.signature, m.isStatic ? "static" : "instance");
    }
}
int main(int argc, char** argv) {
    bool exports = argc > 1 && std::strcmp(argv[1], "--exports") == 0;
    for (std::size_t i = 0; i < vxo::kCoreNativeCount; ++i) Print(vxo::kCoreNatives[i], exports);
    Print(vxo::kSplashNatives, exports);
}
EOF
"$cxx" -std=c++17 -I"$repo/src" -I"$jdk/include" -I"$jdk/include/linux" -o "$work/print_tables" \
    "$work/print_tables.cpp" "$repo/src/services/natives.cpp" "$repo/src/services/natives_splash.cpp"
"$work/print_tables" | sort >"$work/cpp.txt"
"$work/print_tables" --exports | sort >"$work/cpp-exports.txt"
same "C++ tables of both images" expected.txt cpp.txt
same "C++ export names against the Java declarations" java-exports.txt cpp-exports.txt

# Exported symbols of a built program, ELF or PE.
exported() {
    if [ "$(head -c 2 "$1")" = "MZ" ]; then
        "${OBJDUMP:-x86_64-w64-mingw32-objdump}" -p "$1" |
            sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $NF}'
    else
        nm -D --defined-only "$1" | awk '{print $NF}'
    fi | grep '^Java_com_lumenfold_vxo_' | sort -u
}

windowed_prefix="Java_com_lumenfold_vxo_SplashScreen_"
if [ -n "$gui" ]; then
    exported "$gui" >"$work/gui-exports.txt"
    same "exports of $(basename "$gui")" java-exports.txt gui-exports.txt
fi
if [ -n "$console" ]; then
    grep -v "^$windowed_prefix" "$work/java-exports.txt" >"$work/console-expected.txt" || true
    exported "$console" >"$work/console-exports.txt"
    same "exports of $(basename "$console") (no $windowed_only_class)" console-expected.txt console-exports.txt
fi

exit $failed
