// The companion classes' natives every image serves, and their tables. Each body is guarded so
// no C++ exception reaches the JVM.
#include "services/natives.h"

#include <cstdio>

#include "services/services.h"
#include "services/tray_jni.h"

namespace {

// What a failed instance native answers.
constexpr jint kNoInstance = -1;

}  // namespace

extern "C" {

// Instances

JNIEXPORT jint JNICALL
Java_com_lumenfold_vxo_Instances_getFirstInstance(JNIEnv* env, jclass) noexcept {
    return vxo::Guarded(env, "Instances.getFirstInstance", kNoInstance, [] { return vxo::FirstInstance(); });
}

JNIEXPORT jint JNICALL
Java_com_lumenfold_vxo_Instances_getCurrentInstance(JNIEnv* env, jclass) noexcept {
    return vxo::Guarded(env, "Instances.getCurrentInstance", kNoInstance, [] { return vxo::CurrentInstance(); });
}

JNIEXPORT jintArray JNICALL
Java_com_lumenfold_vxo_Instances_getInstances(JNIEnv* env, jclass) noexcept {
    return vxo::Guarded(env, "Instances.getInstances", jintArray{nullptr}, [env] { return vxo::ListInstances(env); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_Instances_sendObject(JNIEnv* env, jclass, jint instance, jobject object) noexcept {
    vxo::Guarded(env, "Instances.sendObject", [&] { vxo::SendObject(env, instance, object); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_Instances_flush(JNIEnv* env, jclass) noexcept {
    vxo::Guarded(env, "Instances.flush", [] { vxo::FlushInstances(); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_Instances_setReceiver(JNIEnv* env, jclass, jobject receiver) noexcept {
    vxo::Guarded(env, "Instances.setReceiver", [&] { vxo::SetInstanceReceiver(env, receiver); });
}

JNIEXPORT jboolean JNICALL
Java_com_lumenfold_vxo_Instances_flushWithin(JNIEnv* env, jclass, jlong millis) noexcept {
    return vxo::Guarded(env, "Instances.flushWithin", jboolean{JNI_FALSE},
                        [millis] { return vxo::FlushInstancesWithin(millis) ? JNI_TRUE : JNI_FALSE; });
}

JNIEXPORT jlong JNICALL
Java_com_lumenfold_vxo_Instances_droppedMessages(JNIEnv* env, jclass) noexcept {
    return vxo::Guarded(env, "Instances.droppedMessages", jlong{0}, [] { return vxo::DroppedMessages(); });
}

// RedirOutputStream

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_RedirOutputStream_write(JNIEnv* env, jobject self, jint b) noexcept {
    vxo::Guarded(env, "RedirOutputStream.write", [&] { vxo::WriteRedirectedByte(env, self, b); });
}

// SystemTray

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_Change(JNIEnv* env, jobject self, jint icon, jstring tip, jstring text,
                                         jstring title, jint type) noexcept {
    vxo::Guarded(env, "SystemTray.Change",
                 [&] { vxo::tray_jni::Change(env, self, icon, tip, text, title, type); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_Show(JNIEnv* env, jobject self) noexcept {
    vxo::Guarded(env, "SystemTray.Show", [&] { vxo::tray_jni::Show(env, self); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_Hide(JNIEnv* env, jobject self) noexcept {
    vxo::Guarded(env, "SystemTray.Hide", [&] { vxo::tray_jni::Hide(env, self); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_setSystemTrayCallback(JNIEnv* env, jclass, jobject callback) noexcept {
    vxo::Guarded(env, "SystemTray.setSystemTrayCallback", [&] { vxo::tray_jni::SetCallback(env, callback); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_init(JNIEnv* env, jobject self, jint icon, jstring tip, jstring text,
                                       jstring title, jint type) noexcept {
    vxo::Guarded(env, "SystemTray.init", [&] { vxo::tray_jni::Init(env, self, icon, tip, text, title, type); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTray_finalize(JNIEnv* env, jobject self) noexcept {
    vxo::Guarded(env, "SystemTray.finalize", [&] { vxo::tray_jni::Finalize(env, self); });
}

// SystemTrayMenu

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_Append__Ljava_lang_String_2I(JNIEnv* env, jobject self, jstring text,
                                                                   jint command) noexcept {
    vxo::Guarded(env, "SystemTrayMenu.Append", [&] { vxo::tray_jni::MenuAppend(env, self, text, command); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_Append__Ljava_lang_String_2Lcom_lumenfold_vxo_SystemTrayMenu_2(
    JNIEnv* env, jobject self, jstring text, jobject subMenu) noexcept {
    vxo::Guarded(env, "SystemTrayMenu.Append",
                 [&] { vxo::tray_jni::MenuAppendSubMenu(env, self, text, subMenu); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_AppendSeparator(JNIEnv* env, jobject self) noexcept {
    vxo::Guarded(env, "SystemTrayMenu.AppendSeparator", [&] { vxo::tray_jni::MenuAppendSeparator(env, self); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_Popup(JNIEnv* env, jobject self) noexcept {
    vxo::Guarded(env, "SystemTrayMenu.Popup", [&] { vxo::tray_jni::MenuPopup(env, self); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_init(JNIEnv* env, jobject self) noexcept {
    vxo::Guarded(env, "SystemTrayMenu.init", [&] { vxo::tray_jni::MenuInit(env, self); });
}

JNIEXPORT void JNICALL
Java_com_lumenfold_vxo_SystemTrayMenu_finalize(JNIEnv* env, jobject self) noexcept {
    vxo::Guarded(env, "SystemTrayMenu.finalize", [&] { vxo::tray_jni::MenuFinalize(env, self); });
}

#if !defined(_WIN32)
// The companion classes load the library "vxo" where the program file cannot be loaded as one:
// this entry point tells the runtime that the library is linked into the program, so it binds
// their natives to the exports above by name, in whichever class loader uses them first, and
// only when a class is first used.
JNIEXPORT jint JNICALL JNI_OnLoad_vxo(JavaVM*, void*) { return JNI_VERSION_1_8; }
#endif

}  // extern "C"

namespace vxo {

namespace {

constexpr NativeMethod kInstancesMethods[] = {
    VXO_NATIVE(Instances, getFirstInstance, "()I"),
    VXO_NATIVE(Instances, getCurrentInstance, "()I"),
    VXO_NATIVE(Instances, getInstances, "()[I"),
    VXO_NATIVE(Instances, sendObject, "(ILjava/io/Serializable;)V"),
    VXO_NATIVE(Instances, flush, "()V"),
    VXO_NATIVE(Instances, setReceiver, "(Lcom/lumenfold/vxo/Instances$ReceiverInterface;)V"),
    VXO_NATIVE(Instances, flushWithin, "(J)Z"),
    VXO_NATIVE(Instances, droppedMessages, "()J"),
};

constexpr NativeMethod kRedirOutputStreamMethods[] = {
    VXO_NATIVE(RedirOutputStream, write, "(I)V"),
};

constexpr NativeMethod kSystemTrayMethods[] = {
    VXO_NATIVE(SystemTray, Change, "(ILjava/lang/String;Ljava/lang/String;Ljava/lang/String;I)V"),
    VXO_NATIVE(SystemTray, Show, "()V"),
    VXO_NATIVE(SystemTray, Hide, "()V"),
    VXO_NATIVE(SystemTray, setSystemTrayCallback, "(Lcom/lumenfold/vxo/SystemTrayCallback;)V"),
    VXO_NATIVE(SystemTray, init, "(ILjava/lang/String;Ljava/lang/String;Ljava/lang/String;I)V"),
    VXO_NATIVE(SystemTray, finalize, "()V"),
};

constexpr NativeMethod kSystemTrayMenuMethods[] = {
    VXO_NATIVE_OVERLOAD(SystemTrayMenu, Append, Ljava_lang_String_2I, "(Ljava/lang/String;I)V"),
    VXO_NATIVE_OVERLOAD(SystemTrayMenu, Append, Ljava_lang_String_2Lcom_lumenfold_vxo_SystemTrayMenu_2,
                        "(Ljava/lang/String;Lcom/lumenfold/vxo/SystemTrayMenu;)V"),
    VXO_NATIVE(SystemTrayMenu, AppendSeparator, "()V"),
    VXO_NATIVE(SystemTrayMenu, Popup, "()V"),
    VXO_NATIVE(SystemTrayMenu, init, "()V"),
    VXO_NATIVE(SystemTrayMenu, finalize, "()V"),
};

template <std::size_t N>
constexpr NativeTable Table(const char* className, const NativeMethod (&methods)[N]) {
    return NativeTable{className, methods, N};
}

}  // namespace

constexpr NativeTable kCoreNatives[] = {
    Table("com/lumenfold/vxo/Instances", kInstancesMethods),
    Table("com/lumenfold/vxo/RedirOutputStream", kRedirOutputStreamMethods),
    Table("com/lumenfold/vxo/SystemTray", kSystemTrayMethods),
    Table("com/lumenfold/vxo/SystemTrayMenu", kSystemTrayMenuMethods),
};
constexpr std::size_t kCoreNativeCount = sizeof(kCoreNatives) / sizeof(kCoreNatives[0]);

void RaiseNativeFailure(JNIEnv* env, const char* where) noexcept {
    if (env == nullptr || env->ExceptionCheck()) return;
    jclass error = env->FindClass("java/lang/Error");
    if (error == nullptr) return;  // FindClass left its own exception pending
    char message[200];
    std::snprintf(message, sizeof message, "launcher failure in %s", where);
    env->ThrowNew(error, message);
    env->DeleteLocalRef(error);
}

}  // namespace vxo
