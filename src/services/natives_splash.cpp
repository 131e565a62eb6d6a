// SplashScreen's natives. Only launcher-gui links this file: the console image has no native
// splash window, so these stay unbound there.
#include "services/natives.h"
#include "services/services.h"

extern "C" {

JNIEXPORT jobject JNICALL
Java_com_lumenfold_vxo_SplashScreen_nativeGetSplashScreen(JNIEnv* env, jclass cls) noexcept {
    return vxo::Guarded(env, "SplashScreen.nativeGetSplashScreen", jobject{nullptr},
                        [&]() -> jobject { return vxo::NativeSplashObject(env, cls); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SplashScreen_nativeAutoClose(JNIEnv* env, jobject, jint ms) noexcept {
    vxo::Guarded(env, "SplashScreen.nativeAutoClose", [&] { vxo::CloseSplashAfter(ms); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SplashScreen_nativeClose(JNIEnv* env, jobject) noexcept {
    vxo::Guarded(env, "SplashScreen.nativeClose", [] { vxo::CloseSplashNow(); });
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
