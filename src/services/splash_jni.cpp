// The splash's JNI side: the listener that closes it on the first window, and the one
// SplashScreen object the native window is reached through.
#include <mutex>

#include "services/services.h"

namespace vxo {

namespace {

constexpr jlong kWindowEventMask = 64;  // AWTEvent.WINDOW_EVENT_MASK

std::mutex gSplashObjectLock;
jobject gSplashObject = nullptr;  // global reference, kept until the process ends

// Deletes a local reference when it goes out of scope.
struct Local {
    JNIEnv* env;
    jobject ref;
    ~Local() {
        if (ref != nullptr) env->DeleteLocalRef(ref);
    }
};

}  // namespace

bool InstallSplashCloseOnWindow(JNIEnv* env) {
    if (env == nullptr) return false;
    Local toolkitClass{env, env->FindClass("java/awt/Toolkit")};
    jmethodID getDefault = toolkitClass.ref != nullptr
        ? env->GetStaticMethodID(static_cast<jclass>(toolkitClass.ref), "getDefaultToolkit", "()Ljava/awt/Toolkit;")
        : nullptr;
    Local toolkit{env, getDefault != nullptr
                           ? env->CallStaticObjectMethod(static_cast<jclass>(toolkitClass.ref), getDefault)
                           : nullptr};
    if (toolkit.ref == nullptr || env->ExceptionCheck()) {
        env->ExceptionClear();
        return false;
    }
    Local listenerClass{env, env->FindClass("com/lumenfold/vxo/SplashCloseOnWindow")};
    jmethodID add = listenerClass.ref != nullptr
        ? env->GetMethodID(static_cast<jclass>(toolkitClass.ref), "addAWTEventListener",
                           "(Ljava/awt/event/AWTEventListener;J)V")
        : nullptr;
    jmethodID make = add != nullptr ? env->GetMethodID(static_cast<jclass>(listenerClass.ref), "<init>", "()V")
                                    : nullptr;
    Local listener{env, make != nullptr ? env->NewObject(static_cast<jclass>(listenerClass.ref), make) : nullptr};
    if (listener.ref == nullptr || env->ExceptionCheck()) {
        env->ExceptionClear();
        return false;
    }
    env->CallVoidMethod(toolkit.ref, add, listener.ref, kWindowEventMask);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return false;
    }
    return true;
}

jobject NativeSplashObject(JNIEnv* env, jclass cls) {
    if (SplashWindowHandle() == 0) return nullptr;
    std::lock_guard<std::mutex> guard(gSplashObjectLock);
    if (gSplashObject == nullptr) {
        jmethodID make = env->GetMethodID(cls, "<init>", "()V");
        jobject made = make != nullptr ? env->NewObject(cls, make) : nullptr;
        if (made == nullptr) {
            env->ExceptionClear();
            return nullptr;
        }
        gSplashObject = env->NewGlobalRef(made);
        env->DeleteLocalRef(made);
    }
    return gSplashObject;  // a native may return a global reference
}

}  // namespace vxo
