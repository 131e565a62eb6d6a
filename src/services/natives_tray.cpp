// SystemTray and SystemTrayMenu from the JNI side: handle fields, Java strings, global
// references, and the bridges that deliver the tray window's events to the callback.
#include "services/tray_jni.h"

#include <atomic>
#include <optional>
#include <string>

#include "common/text.h"
#include "platform/platform.h"
#include "services/services.h"
#include "services/tray.h"

namespace vxo {

namespace {

std::atomic<JavaVM*> gJavaVm{nullptr};

constexpr char kMouseMethod[] = "OnMouseClick";
constexpr char kMouseSignature[] = "(Lcom/lumenfold/vxo/SystemTray;I)V";
constexpr char kCommandMethod[] = "OnMenuCommand";
constexpr char kCommandSignature[] = "(I)V";

// The object's "h": a long field, else an int one; none when the class has neither.
class HandleField {
public:
    HandleField(JNIEnv* env, jobject self) : env_(env), self_(self) {
        if (self == nullptr) return;
        jclass cls = env->GetObjectClass(self);
        if (cls == nullptr) {
            env->ExceptionClear();
            return;
        }
        id_ = env->GetFieldID(cls, "h", "J");
        if (id_ == nullptr) {
            env->ExceptionClear();
            isLong_ = false;
            id_ = env->GetFieldID(cls, "h", "I");
            if (id_ == nullptr) env->ExceptionClear();
        }
        env->DeleteLocalRef(cls);
    }
    bool exists() const { return id_ != nullptr; }
    std::uint64_t Get() const {
        if (id_ == nullptr) return 0;
        return isLong_ ? static_cast<std::uint64_t>(env_->GetLongField(self_, id_))
                       : static_cast<std::uint32_t>(env_->GetIntField(self_, id_));
    }
    void Set(std::uint64_t value) const {
        if (id_ == nullptr) return;
        if (isLong_) {
            env_->SetLongField(self_, id_, static_cast<jlong>(value));
        } else {
            env_->SetIntField(self_, id_, static_cast<jint>(value));
        }
    }

private:
    JNIEnv* env_;
    jobject self_;
    jfieldID id_ = nullptr;
    bool isLong_ = true;
};

// A Java string's UTF-16 in the ANSI code page; nothing for null.
std::optional<std::string> AnsiText(JNIEnv* env, jstring text) {
    if (text == nullptr) return std::nullopt;
    const jchar* chars = env->GetStringChars(text, nullptr);
    if (chars == nullptr) {
        env->ExceptionClear();
        return std::string();
    }
    std::u16string units(reinterpret_cast<const char16_t*>(chars),
                         static_cast<std::size_t>(env->GetStringLength(text)));
    env->ReleaseStringChars(text, chars);
    return Utf16ToAnsi(units);
}

tray::IconTexts Texts(JNIEnv* env, jstring tip, jstring text, jstring title) {
    tray::IconTexts texts;
    texts.tip = AnsiText(env, tip).value_or(std::string());
    texts.text = AnsiText(env, text);
    texts.title = AnsiText(env, title);
    return texts;
}

void ReleaseGlobal(JNIEnv* env, tray::JavaRef ref) {
    if (ref != nullptr) env->DeleteGlobalRef(static_cast<jobject>(ref));
}

// Attaches the tray window's thread for one event and detaches it afterwards.
class AttachedThread {
public:
    explicit AttachedThread(JavaVM* vm) : vm_(vm) {
        if (vm_->AttachCurrentThread(reinterpret_cast<void**>(&env_), nullptr) != JNI_OK) env_ = nullptr;
    }
    ~AttachedThread() {
        if (env_ != nullptr) vm_->DetachCurrentThread();
    }
    AttachedThread(const AttachedThread&) = delete;
    AttachedThread& operator=(const AttachedThread&) = delete;
    JNIEnv* env() const { return env_; }

private:
    JavaVM* vm_;
    JNIEnv* env_ = nullptr;
};

// Calls the callback's method with references copied under the list's lock, so the natives it
// calls back into can take the lock again; the copies are released afterwards.
void CallBack(JNIEnv* env, jobject callback, const char* name, const char* signature, jobject icon,
              jint value, bool withIcon) {
    jclass cls = env->GetObjectClass(callback);
    jmethodID method = cls != nullptr ? env->GetMethodID(cls, name, signature) : nullptr;
    if (method == nullptr) {
        env->ExceptionClear();  // no such method: the event is dropped
    } else if (withIcon) {
        env->CallVoidMethod(callback, method, icon, value);
    } else {
        env->CallVoidMethod(callback, method, value);
    }
    if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
    }
    if (cls != nullptr) env->DeleteLocalRef(cls);
}

}  // namespace

void StartTrayWindow() { platform::StartTrayWindow(&tray_jni::MouseBridge, &tray_jni::CommandBridge); }

namespace tray_jni {

void Init(JNIEnv* env, jobject self, jint icon, jstring tip, jstring text, jstring title, jint type) {
    if (gJavaVm.load() == nullptr) {
        JavaVM* vm = nullptr;
        if (env->GetJavaVM(&vm) == JNI_OK) gJavaVm.store(vm);
    }
    HandleField h(env, self);
    if (!h.exists()) return;
    tray::TrayIconRecord* record = tray::ProcessIcons().Create(icon, Texts(env, tip, text, title), type);
    if (record != nullptr) h.Set(reinterpret_cast<std::uintptr_t>(record));
}

void Show(JNIEnv* env, jobject self) {
    HandleField h(env, self);
    const std::uint64_t handle = h.Get();
    if (handle == 0) return;
    jobject ref = env->NewGlobalRef(self);
    if (!tray::ProcessIcons().Show(handle, ref)) ReleaseGlobal(env, ref);
}

void Hide(JNIEnv* env, jobject self) {
    HandleField h(env, self);
    const std::uint64_t handle = h.Get();
    if (handle != 0) ReleaseGlobal(env, tray::ProcessIcons().Hide(handle));
}

void Change(JNIEnv* env, jobject self, jint icon, jstring tip, jstring text, jstring title, jint type) {
    HandleField h(env, self);
    const std::uint64_t handle = h.Get();
    if (handle != 0) tray::ProcessIcons().Change(handle, icon, Texts(env, tip, text, title), type);
}

void Finalize(JNIEnv* env, jobject self) {
    HandleField h(env, self);
    const std::uint64_t handle = h.Get();
    if (handle == 0) return;
    ReleaseGlobal(env, tray::ProcessIcons().Finalize(handle));
    h.Set(0);  // the record is gone: a second finalize finds nothing
}

void SetCallback(JNIEnv* env, jobject callback) {
    jobject ref = callback != nullptr ? env->NewGlobalRef(callback) : nullptr;
    ReleaseGlobal(env, tray::ProcessIcons().SetCallback(ref));
}

void MenuInit(JNIEnv* env, jobject self) {
    HandleField h(env, self);
    if (h.exists()) h.Set(platform::CreatePopupMenu());
}

void MenuAppend(JNIEnv* env, jobject self, jstring text, jint command) {
    HandleField h(env, self);
    const std::uint64_t menu = h.Get();
    if (menu == 0) return;
    platform::MenuItem item;
    item.text = AnsiText(env, text).value_or(std::string());
    item.id = tray::MenuItemId(command);
    platform::AppendMenuItem(menu, item);
}

void MenuAppendSubMenu(JNIEnv* env, jobject self, jstring text, jobject subMenu) {
    HandleField h(env, self);
    if (!h.exists()) return;
    jclass cls = env->GetObjectClass(self);
    jfieldID popupsField = cls != nullptr ? env->GetFieldID(cls, "popups", "Ljava/util/HashSet;") : nullptr;
    if (cls != nullptr) env->DeleteLocalRef(cls);
    if (popupsField == nullptr) {
        env->ExceptionClear();
        return;
    }
    // Kept in the parent's set, the sub-menu stays reachable (and unfinalised) while it lives.
    jobject popups = env->GetObjectField(self, popupsField);
    if (popups != nullptr) {
        jclass setClass = env->GetObjectClass(popups);
        jmethodID add = setClass != nullptr ? env->GetMethodID(setClass, "add", "(Ljava/lang/Object;)Z") : nullptr;
        if (add != nullptr) env->CallBooleanMethod(popups, add, subMenu);
        env->ExceptionClear();
        if (setClass != nullptr) env->DeleteLocalRef(setClass);
        env->DeleteLocalRef(popups);
    }
    platform::MenuItem item;
    item.kind = platform::MenuItem::Kind::SubMenu;
    item.text = AnsiText(env, text).value_or(std::string());
    item.subMenu = HandleField(env, subMenu).Get();
    platform::AppendMenuItem(h.Get(), item);
}

void MenuAppendSeparator(JNIEnv* env, jobject self) {
    HandleField h(env, self);
    const std::uint64_t menu = h.Get();
    if (menu == 0) return;
    platform::MenuItem item;
    item.kind = platform::MenuItem::Kind::Separator;
    platform::AppendMenuItem(menu, item);
}

void MenuPopup(JNIEnv* env, jobject self) {
    const std::uint64_t menu = HandleField(env, self).Get();
    if (menu != 0) platform::TrackPopupMenu(menu);
}

void MenuFinalize(JNIEnv* env, jobject self) {
    HandleField h(env, self);
    const std::uint64_t menu = h.Get();
    if (menu == 0) return;
    platform::DestroyMenu(menu);
    h.Set(0);
}

void MouseBridge(std::uint32_t iconId, std::uint32_t message) noexcept {
    try {
        JavaVM* vm = gJavaVm.load();
        if (vm == nullptr || !tray::ProcessIcons().WithCallback([](tray::JavaRef) {})) return;
        AttachedThread thread(vm);
        JNIEnv* env = thread.env();
        if (env == nullptr) return;
        jobject callback = nullptr;
        jobject icon = nullptr;
        tray::ProcessIcons().WithMouseTarget(iconId, [&](tray::JavaRef cb, tray::JavaRef javaIcon) {
            callback = env->NewGlobalRef(static_cast<jobject>(cb));
            if (javaIcon != nullptr) icon = env->NewGlobalRef(static_cast<jobject>(javaIcon));
        });
        if (callback != nullptr) CallBack(env, callback, kMouseMethod, kMouseSignature, icon, static_cast<jint>(message), true);
        ReleaseGlobal(env, icon);
        ReleaseGlobal(env, callback);
    } catch (...) {
        // Nothing may unwind into the window procedure.
    }
}

void CommandBridge(std::uintptr_t identifier) noexcept {
    try {
        const std::optional<std::int32_t> command = tray::ApplicationCommand(identifier);
        JavaVM* vm = gJavaVm.load();
        if (!command || vm == nullptr || !tray::ProcessIcons().WithCallback([](tray::JavaRef) {})) return;
        AttachedThread thread(vm);
        JNIEnv* env = thread.env();
        if (env == nullptr) return;
        jobject callback = nullptr;
        tray::ProcessIcons().WithCallback(
            [&](tray::JavaRef cb) { callback = env->NewGlobalRef(static_cast<jobject>(cb)); });
        if (callback != nullptr) CallBack(env, callback, kCommandMethod, kCommandSignature, nullptr, *command, false);
        ReleaseGlobal(env, callback);
    } catch (...) {
    }
}

}  // namespace tray_jni
}  // namespace vxo
