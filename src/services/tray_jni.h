// The JNI side of SystemTray and SystemTrayMenu: what the exported natives call, and the
// bridges that carry the tray window's events to the application's callback.
#pragma once

#include <jni.h>

#include <cstdint>

namespace vxo::tray_jni {

void Init(JNIEnv* env, jobject self, jint icon, jstring tip, jstring text, jstring title, jint type);
void Show(JNIEnv* env, jobject self);
void Hide(JNIEnv* env, jobject self);
void Change(JNIEnv* env, jobject self, jint icon, jstring tip, jstring text, jstring title, jint type);
void Finalize(JNIEnv* env, jobject self);
void SetCallback(JNIEnv* env, jobject callback);

void MenuInit(JNIEnv* env, jobject self);
void MenuAppend(JNIEnv* env, jobject self, jstring text, jint command);
void MenuAppendSubMenu(JNIEnv* env, jobject self, jstring text, jobject subMenu);
void MenuAppendSeparator(JNIEnv* env, jobject self);
void MenuPopup(JNIEnv* env, jobject self);
void MenuFinalize(JNIEnv* env, jobject self);

// The tray window's events (its thread; it attaches to the virtual machine for each).
void MouseBridge(std::uint32_t iconId, std::uint32_t message) noexcept;
void CommandBridge(std::uintptr_t identifier) noexcept;

}  // namespace vxo::tray_jni
