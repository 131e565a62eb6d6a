// SplashScreen's natives. Only launcher-gui links this file: the console image has no native
// splash window, so these stay unbound there. Placeholders until the splash service lands.
#include "services/natives.h"

extern "C" {

JNIEXPORT jobject JNICALL
Java_com_lumenfold_vxo_SplashScreen_nativeGetSplashScreen(JNIEnv* env, jclass) noexcept {
    return vxo::Guarded(env, "SplashScreen.nativeGetSplashScreen", jobject{nullptr},
                        []() -> jobject { return nullptr; });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SplashScreen_nativeAutoClose(JNIEnv* env, jobject, jint) noexcept {
    vxo::Guarded(env, "SplashScreen.nativeAutoClose", [] {});
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SplashScreen_nativeClose(JNIEnv* env, jobject) noexcept {
    vxo::Guarded(env, "SplashScreen.nativeClose", [] {});
}

}  // extern "C"

namespace vxo {

namespace {

constexpr NativeMethod kSplashScreenMethods[] = {
    VXO_NATIVE(SplashScreen, nativeGetSplashScreen, "()Lcom/lumenfold/vxo/SplashScreen;"),
    VXO_NATIVE(SplashScreen, nativeAutoClose, "(I)V"),
    VXO_NATIVE(SplashScreen, nativeClose, "()V"),
};

}  // namespace

constexpr NativeTable kSplashNatives = {"com/lumenfold/vxo/SplashScreen", kSplashScreenMethods,
                                        sizeof(kSplashScreenMethods) / sizeof(kSplashScreenMethods[0])};

}  // namespace vxo
