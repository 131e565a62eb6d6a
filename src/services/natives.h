// The native methods of the companion classes in com.lumenfold.vxo and their JNI tables. The
// runtime binds the classes to these exports by name: on Windows through System.load of the
// program file, elsewhere through the library "vxo" linked into the program (JNI_OnLoad_vxo).
// The tables check each row's descriptor against its function at compile time.
#pragma once

#include <jni.h>

#include <cstddef>
#include <type_traits>

// The exports, by the names the JVM looks up when it binds the classes to the program. The
// splash ones exist in launcher-gui only.
extern "C" {
JNIEXPORT jint JNICALL
Java_com_lumenfold_vxo_Instances_getFirstInstance(JNIEnv*, jclass) noexcept;
JNIEXPORT jint JNICALL
Java_com_lumenfold_vxo_Instances_getCurrentInstance(JNIEnv*, jclass) noexcept;
JNIEXPORT jintArray JNICALL
Java_com_lumenfold_vxo_Instances_getInstances(JNIEnv*, jclass) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_Instances_sendObject(JNIEnv*, jclass, jint, jobject) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_Instances_flush(JNIEnv*, jclass) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_Instances_setReceiver(JNIEnv*, jclass, jobject) noexcept;
JNIEXPORT jboolean JNICALL
Java_com_lumenfold_vxo_Instances_flushWithin(JNIEnv*, jclass, jlong) noexcept;
JNIEXPORT jlong JNICALL
Java_com_lumenfold_vxo_Instances_droppedMessages(JNIEnv*, jclass) noexcept;

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_RedirOutputStream_write(JNIEnv*, jobject, jint) noexcept;

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_Change(JNIEnv*, jobject, jint, jstring, jstring, jstring, jint) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_Show(JNIEnv*, jobject) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_Hide(JNIEnv*, jobject) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_setSystemTrayCallback(JNIEnv*, jclass, jobject) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_init(JNIEnv*, jobject, jint, jstring, jstring, jstring, jint) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_finalize(JNIEnv*, jobject) noexcept;

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_Append__Ljava_lang_String_2I(JNIEnv*, jobject, jstring, jint) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_Append__Ljava_lang_String_2Lcom_lumenfold_vxo_SystemTrayMenu_2(
    JNIEnv*, jobject, jstring, jobject) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_AppendSeparator(JNIEnv*, jobject) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_Popup(JNIEnv*, jobject) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_init(JNIEnv*, jobject) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_finalize(JNIEnv*, jobject) noexcept;

JNIEXPORT jobject JNICALL
Java_com_lumenfold_vxo_SplashScreen_nativeGetSplashScreen(JNIEnv*, jclass) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SplashScreen_nativeAutoClose(JNIEnv*, jobject, jint) noexcept;
JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SplashScreen_nativeClose(JNIEnv*, jobject) noexcept;
}  // extern "C"

namespace vxo {

// One row of a JNI method table. JNINativeMethod holds a void* and non-const strings, and a
// function pointer cannot become a void* in a constant expression, so the row keeps a function
// that returns the address instead.
struct NativeMethod {
    const char* name;
    const char* signature;   // JNI method descriptor, exactly as the Java declaration compiles
    const char* exportName;  // the exported symbol, which Windows binds by name
    void* (*address)();
    bool isStatic;
};

struct NativeTable {
    const char* className;  // internal form, as FindClass takes it
    const NativeMethod* methods;
    std::size_t count;
};

// Classes every image serves: Instances, RedirOutputStream, SystemTray, SystemTrayMenu.
extern const NativeTable kCoreNatives[];
extern const std::size_t kCoreNativeCount;

// SplashScreen, served by launcher-gui only; defined in natives_splash.cpp, which only that
// image links.
extern const NativeTable kSplashNatives;

namespace natives_detail {

// Reached only when a table row's descriptor disagrees with its function's C++ type. Never
// defined: the rows are built in constant expressions, where calling it stops the build.
void DescriptorDoesNotMatchFunction();

constexpr bool IsPrimitiveCode(char c) {
    return c == 'Z' || c == 'B' || c == 'C' || c == 'S' || c == 'I' || c == 'J' || c == 'F' ||
           c == 'D';
}

// Moves p past one field type of a descriptor; false when it is not one.
constexpr bool SkipFieldType(const char*& p) {
    int dimensions = 0;
    while (*p == '[') {
        ++p;
        if (++dimensions > 255) return false;
    }
    if (IsPrimitiveCode(*p)) {
        ++p;
        return true;
    }
    if (*p != 'L') return false;
    ++p;
    // A binary class name: non-empty parts separated by single slashes.
    bool partEmpty = true;
    for (; *p != ';'; ++p) {
        if (*p == '\0' || *p == '.' || *p == '[') return false;
        if (*p == '/') {
            if (partEmpty) return false;
            partEmpty = true;
        } else {
            partEmpty = false;
        }
    }
    if (partEmpty) return false;
    ++p;
    return true;
}

// True when signature is a well-formed JNI method descriptor.
constexpr bool IsMethodDescriptor(const char* signature) {
    const char* p = signature;
    if (*p++ != '(') return false;
    while (*p != ')') {
        if (!SkipFieldType(p)) return false;
    }
    ++p;
    if (*p == 'V') {
        ++p;
    } else if (!SkipFieldType(p)) {
        return false;
    }
    return *p == '\0';
}

constexpr bool SameText(const char* begin, const char* end, const char* text) {
    for (; begin != end; ++begin, ++text) {
        if (*text == '\0' || *begin != *text) return false;
    }
    return *text == '\0';
}

// Which descriptor field types a JNI C++ type may stand for.
enum class Accepts { kExactly, kAnyReference, kObjectArray };
template <typename T> struct JniType;
#define VXO_JNI_TYPE(type, accepts, text) \
    template <> struct JniType<type> {    \
        static constexpr Accepts kAccepts = Accepts::accepts; \
        static constexpr const char* kText = text;            \
    };
VXO_JNI_TYPE(jboolean, kExactly, "Z")
VXO_JNI_TYPE(jbyte, kExactly, "B")
VXO_JNI_TYPE(jchar, kExactly, "C")
VXO_JNI_TYPE(jshort, kExactly, "S")
VXO_JNI_TYPE(jint, kExactly, "I")
VXO_JNI_TYPE(jlong, kExactly, "J")
VXO_JNI_TYPE(jfloat, kExactly, "F")
VXO_JNI_TYPE(jdouble, kExactly, "D")
VXO_JNI_TYPE(jobject, kAnyReference, "")
VXO_JNI_TYPE(jthrowable, kAnyReference, "")
VXO_JNI_TYPE(jstring, kExactly, "Ljava/lang/String;")
VXO_JNI_TYPE(jclass, kExactly, "Ljava/lang/Class;")
VXO_JNI_TYPE(jobjectArray, kObjectArray, "")
VXO_JNI_TYPE(jbooleanArray, kExactly, "[Z")
VXO_JNI_TYPE(jbyteArray, kExactly, "[B")
VXO_JNI_TYPE(jcharArray, kExactly, "[C")
VXO_JNI_TYPE(jshortArray, kExactly, "[S")
VXO_JNI_TYPE(jintArray, kExactly, "[I")
VXO_JNI_TYPE(jlongArray, kExactly, "[J")
VXO_JNI_TYPE(jfloatArray, kExactly, "[F")
VXO_JNI_TYPE(jdoubleArray, kExactly, "[D")
#undef VXO_JNI_TYPE

// Consumes one field type from p and tells whether a T may carry it.
template <typename T>
constexpr bool MatchField(const char*& p) {
    const char* begin = p;
    if (!SkipFieldType(p)) return false;
    switch (JniType<T>::kAccepts) {
        case Accepts::kExactly: return SameText(begin, p, JniType<T>::kText);
        case Accepts::kAnyReference: return *begin == 'L' || *begin == '[';
        case Accepts::kObjectArray: return begin[0] == '[' && (begin[1] == 'L' || begin[1] == '[');
    }
    return false;
}

template <typename R>
constexpr bool MatchReturn(const char*& p) {
    if constexpr (std::is_void_v<R>) {
        return *p++ == 'V';
    } else {
        return MatchField<R>(p);
    }
}

// The shape of an export: JNIEnv*, then jclass for a static native or jobject for an instance
// one, then the Java parameters. Only noexcept functions match, so no export can unwind into
// the JVM.
template <typename F> struct Export {
    static_assert(sizeof(F) == 0, "an export is noexcept and takes JNIEnv* then jclass or jobject");
};
template <typename R, typename Self, typename... Args>
struct Export<R(JNICALL*)(JNIEnv*, Self, Args...) noexcept> {
    static_assert(std::is_same_v<Self, jclass> || std::is_same_v<Self, jobject>,
                  "the second parameter is jclass (static) or jobject (instance)");
    static constexpr bool kStatic = std::is_same_v<Self, jclass>;

    static constexpr bool Matches(const char* signature) {
        if (!IsMethodDescriptor(signature)) return false;
        const char* p = signature + 1;
        if (!(MatchField<Args>(p) && ...)) return false;
        if (*p++ != ')') return false;
        return MatchReturn<R>(p) && *p == '\0';
    }
};

template <auto F>
void* AddressOf() {
    return reinterpret_cast<void*>(F);
}

template <auto F>
constexpr NativeMethod Bind(const char* name, const char* signature, const char* exportName) {
    if (!Export<decltype(F)>::Matches(signature)) DescriptorDoesNotMatchFunction();
    return NativeMethod{name, signature, exportName, &AddressOf<F>, Export<decltype(F)>::kStatic};
}

}  // namespace natives_detail

// A table row whose method name, export and function come from one token, so they cannot drift
// apart. VXO_NATIVE_OVERLOAD is for a name several natives of the class share: its export
// carries the mangled parameter types.
#define VXO_NATIVE(cls, method, signature)                                        \
    ::vxo::natives_detail::Bind<&Java_com_lumenfold_vxo_##cls##_##method>(        \
        #method, signature, "Java_com_lumenfold_vxo_" #cls "_" #method)
#define VXO_NATIVE_OVERLOAD(cls, method, mangledParameters, signature)                        \
    ::vxo::natives_detail::Bind<&Java_com_lumenfold_vxo_##cls##_##method##__##mangledParameters>( \
        #method, signature, "Java_com_lumenfold_vxo_" #cls "_" #method "__" #mangledParameters)

// Runs a native's body; a C++ exception becomes a java.lang.Error in the caller and the
// fallback value, since unwinding through JVM frames is undefined.
void RaiseNativeFailure(JNIEnv* env, const char* where) noexcept;

template <typename R, typename Body>
R Guarded(JNIEnv* env, const char* where, R fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        RaiseNativeFailure(env, where);
        return fallback;
    }
}

template <typename Body>
void Guarded(JNIEnv* env, const char* where, Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        RaiseNativeFailure(env, where);
    }
}

}  // namespace vxo
