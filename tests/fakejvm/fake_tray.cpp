// The tray scenario: the launcher's exported natives called from inside its own process, the
// records read back in the shell's own layout, and the tray window's callbacks provoked by
// posting it the messages the shell and a menu would send. Windows only; elsewhere it says so.
#include "fake_tray.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#endif

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace fakejvm {

namespace {

std::mutex gCallbackLock;
std::condition_variable gCallbackSignal;
int gCallbacks = 0;

}  // namespace

bool IsTrayScenarioClass(const std::string& name) {
    return name == "probe/TrayCallback" || name == "java/util/HashSet";
}

void NoteTrayCallback() {
    std::lock_guard<std::mutex> guard(gCallbackLock);
    ++gCallbacks;
    gCallbackSignal.notify_all();
}

#ifndef _WIN32

void RunTrayScenario(JNIEnv*, const std::function<void(const std::string&)>& log) {
    log("tray unsupported");
}

void RunSplashScenario(JNIEnv*, const std::string&, void (*log)(const std::string&)) { log("splash unsupported"); }

void JoinScenarioThreads() {}

#else

namespace {

using ObjectNative = void(JNICALL*)(JNIEnv*, jobject);
using IconNative = void(JNICALL*)(JNIEnv*, jobject, jint, jstring, jstring, jstring, jint);
using CallbackNative = void(JNICALL*)(JNIEnv*, jclass, jobject);
using AppendNative = void(JNICALL*)(JNIEnv*, jobject, jstring, jint);
using AppendMenuNative = void(JNICALL*)(JNIEnv*, jobject, jstring, jobject);

template <typename F>
F Export(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA(nullptr), name)));
}

struct Natives {
    IconNative init = Export<IconNative>("Java_com_lumenfold_vxo_SystemTray_init");
    IconNative change = Export<IconNative>("Java_com_lumenfold_vxo_SystemTray_Change");
    ObjectNative show = Export<ObjectNative>("Java_com_lumenfold_vxo_SystemTray_Show");
    ObjectNative hide = Export<ObjectNative>("Java_com_lumenfold_vxo_SystemTray_Hide");
    ObjectNative finalize = Export<ObjectNative>("Java_com_lumenfold_vxo_SystemTray_finalize");
    CallbackNative callback = Export<CallbackNative>("Java_com_lumenfold_vxo_SystemTray_setSystemTrayCallback");
    ObjectNative menuInit = Export<ObjectNative>("Java_com_lumenfold_vxo_SystemTrayMenu_init");
    AppendNative append = Export<AppendNative>("Java_com_lumenfold_vxo_SystemTrayMenu_Append__Ljava_lang_String_2I");
    AppendMenuNative appendMenu = Export<AppendMenuNative>(
        "Java_com_lumenfold_vxo_SystemTrayMenu_Append__Ljava_lang_String_2Lcom_lumenfold_vxo_SystemTrayMenu_2");
    ObjectNative separator = Export<ObjectNative>("Java_com_lumenfold_vxo_SystemTrayMenu_AppendSeparator");
    ObjectNative menuFinalize = Export<ObjectNative>("Java_com_lumenfold_vxo_SystemTrayMenu_finalize");
    ObjectNative popup = Export<ObjectNative>("Java_com_lumenfold_vxo_SystemTrayMenu_Popup");

    bool complete() const {
        return init && change && show && hide && finalize && callback && menuInit && append && appendMenu &&
               separator && menuFinalize && popup;
    }
};

class Scenario {
public:
    Scenario(JNIEnv* env, const std::function<void(const std::string&)>& log) : env_(env), log_(log) {}

    void Run();

private:
    jobject New(jclass cls) { return env_->AllocObject(cls); }
    jstring Str(const char* text) { return text == nullptr ? nullptr : env_->NewStringUTF(text); }
    std::uintptr_t Handle(jobject obj) {
        jclass cls = env_->GetObjectClass(obj);
        const jlong h = env_->GetLongField(obj, env_->GetFieldID(cls, "h", "J"));
        env_->DeleteLocalRef(cls);
        return static_cast<std::uintptr_t>(h);
    }
    void Icon(jobject obj, IconNative native, jint icon, const char* tip, const char* text, const char* title,
              jint type) {
        native(env_, obj, icon, Str(tip), Str(text), Str(title), type);
    }
    void LogHandle(const char* label, jobject obj) {
        char text[64];
        std::snprintf(text, sizeof text, "handle %s h=%llx", label, static_cast<unsigned long long>(Handle(obj)));
        log_(text);
    }
    void Record(const char* label, jobject obj);
    void Menu(const char* label, jobject obj);
    bool WaitForCallbacks(int count);
    void Popup(jobject menu);

    JNIEnv* env_;
    const std::function<void(const std::string&)>& log_;
    Natives n_;
    HWND window_ = nullptr;
};

// The record as the shell reads it: NOTIFYICONDATAA's own offsets, then the launcher's flag.
void Scenario::Record(const char* label, jobject obj) {
    const std::uintptr_t h = Handle(obj);
    if (h == 0) {
        log_(std::string("record ") + label + " none");
        return;
    }
    NOTIFYICONDATAA data;
    std::memcpy(&data, reinterpret_cast<const void*>(h), offsetof(NOTIFYICONDATAA, guidItem));
    std::uint32_t shown = 0;
    std::memcpy(&shown, reinterpret_cast<const char*>(h) + offsetof(NOTIFYICONDATAA, guidItem), sizeof shown);
    char line[1024];
    std::snprintf(line, sizeof line,
                  "record %s size=%lu window=%s id=%u flags=0x%x message=%u icon=%s tip=<%.128s> info=<%.256s> "
                  "title=<%.64s> type=%ld shown=%u",
                  label, static_cast<unsigned long>(data.cbSize),
                  data.hWnd == nullptr ? "none" : data.hWnd == window_ ? "tray" : "other", data.uID, data.uFlags,
                  data.uCallbackMessage, data.hIcon != nullptr ? "yes" : "no", data.szTip, data.szInfo,
                  data.szInfoTitle, static_cast<long>(static_cast<std::int32_t>(data.dwInfoFlags)), shown);
    log_(line);
}

void Scenario::Menu(const char* label, jobject obj) {
    HMENU menu = reinterpret_cast<HMENU>(Handle(obj));
    const int count = ::GetMenuItemCount(menu);
    log_(std::string("menu ") + label + " items=" + std::to_string(count));
    for (int i = 0; i < count && i < 64; ++i) {
        char text[128] = {};
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        if (!::GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) break;
        const char* kind = (info.fType & MFT_SEPARATOR) ? "separator" : info.hSubMenu ? "submenu" : "string";
        log_(std::string("menu ") + label + " " + std::to_string(i) + " " + kind + " id=" +
             std::to_string(info.wID) + " text=<" + text + ">");
    }
}

bool Scenario::WaitForCallbacks(int count) {
    std::unique_lock<std::mutex> guard(gCallbackLock);
    return gCallbackSignal.wait_for(guard, std::chrono::seconds(30), [&] { return gCallbacks >= count; });
}

// VXO_FAKEJVM_TRAY=popup: the menu shown from this (a Java) thread while someone at the screen
// picks an item with the keyboard; the chosen command must reach the callback as a click's does.
void Scenario::Popup(jobject menu) {
    char mode[16] = {};
    ::GetEnvironmentVariableA("VXO_FAKEJVM_TRAY", mode, sizeof mode);
    if (std::strcmp(mode, "popup") != 0) return;
    log_("popup start");
    n_.popup(env_, menu);
    log_("popup returned");
    log_(WaitForCallbacks(6) ? "popup command arrived" : "popup command timed out");
}

void Scenario::Run() {
    if (!n_.complete()) {
        log_("tray natives missing");
        return;
    }
    window_ = ::FindWindowA("VXOMESSAGE", "VXOMESSAGE");
    log_(std::string("tray window ") + (window_ != nullptr ? "found" : "missing"));
    jclass trayClass = env_->FindClass("com/lumenfold/vxo/SystemTray");
    jclass menuClass = env_->FindClass("com/lumenfold/vxo/SystemTrayMenu");
    jclass callbackClass = env_->FindClass("probe/TrayCallback");

    // Records as init builds them: the balloon form, the old form, texts cut, a missing icon.
    jobject a = New(trayClass), b = New(trayClass), c = New(trayClass);
    Icon(a, n_.init, 1, "tip A", "balloon text", "balloon title", 1);
    Icon(b, n_.init, 1, "B", nullptr, nullptr, 0);
    const std::string longTip(70, 't'), longText(300, 'x'), longTitle(70, 'y');
    Icon(c, n_.init, 999, longTip.c_str(), longText.c_str(), longTitle.c_str(), 3);
    LogHandle("A", a);
    Record("A", a), Record("B", b), Record("C", c);

    // Show twice, Change on a hidden icon, the two Change forms.
    n_.show(env_, a), n_.show(env_, a), n_.show(env_, c);
    Icon(b, n_.change, 1, "changed", "text", "title", 2);
    Icon(a, n_.change, 0, nullptr, nullptr, "new title", 2);
    Icon(c, n_.change, 0, "two-argument form", nullptr, nullptr, -1);
    Record("A", a), Record("B", b), Record("C", c);

    // Events as the shell and a menu send them; the last command marks the end of the batch.
    jobject callback = New(callbackClass);
    n_.callback(env_, nullptr, callback);
    const std::uint32_t idA = 1, idB = 2;
    const struct {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } posts[] = {{WM_USER + 100, idA, WM_LBUTTONDOWN}, {WM_USER + 100, idB, WM_MOUSEMOVE},
                 {WM_USER + 100, 77, WM_LBUTTONUP},   {WM_COMMAND, 50000, 0},
                 {WM_COMMAND, 51000, 0},              {WM_COMMAND, 51001, 0},
                 {WM_COMMAND, 49999, 0},              {WM_COMMAND, 50500, 0}};
    for (const auto& post : posts) ::PostMessageA(window_, post.message, post.wParam, post.lParam);
    log_(WaitForCallbacks(5) ? "callbacks arrived" : "callbacks timed out");

    // Menus: items, identifiers, a sub-menu kept by its parent.
    jobject menu = New(menuClass), sub = New(menuClass);
    n_.menuInit(env_, menu), n_.menuInit(env_, sub);
    LogHandle("sub", sub);
    n_.append(env_, sub, Str("Inner"), 7);
    n_.append(env_, menu, Str("Open"), 0);
    n_.separator(env_, menu);
    n_.appendMenu(env_, menu, Str("More"), sub);
    n_.append(env_, menu, Str("Quit"), 1000);
    Menu("main", menu), Menu("sub", sub);
    Popup(menu);
    n_.menuFinalize(env_, menu);
    n_.menuFinalize(env_, menu);
    log_(std::string("menu after finalize ") + (Handle(menu) == 0 ? "cleared" : "kept"));

    // Objects whose records are gone find nothing; C stays shown for the clean-up at exit.
    n_.finalize(env_, b), n_.finalize(env_, b);
    n_.show(env_, b);
    Icon(b, n_.change, 1, "late", nullptr, nullptr, 0);
    n_.hide(env_, a);
    Record("A", a), Record("B", b);
    n_.finalize(env_, a);
    log_("tray done");
}

}  // namespace

void RunTrayScenario(JNIEnv* env, const std::function<void(const std::string&)>& log) {
    Scenario(env, log).Run();
}

// ---- the splash scenario --------------------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;
using AutoCloseNative = void(JNICALL*)(JNIEnv*, jobject, jint);
using GetSplashNative = jobject(JNICALL*)(JNIEnv*, jclass);

std::thread gScenarioThread;

HWND VisibleSplash() {
    HWND window = ::FindWindowA("VXOSPLASH", nullptr);
    return window != nullptr && ::IsWindowVisible(window) ? window : nullptr;
}

// Milliseconds from since until the splash is hidden (its close has begun), or until its window
// is destroyed as well; -1 when that has not happened within limit.
long WaitUntilGone(Clock::time_point since, std::chrono::milliseconds limit, bool destroyed = false) {
    while (destroyed ? ::FindWindowA("VXOSPLASH", nullptr) != nullptr : VisibleSplash() != nullptr) {
        if (Clock::now() - since > limit) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// A thread that outlives main, attached like a Java thread, watching the splash go.
void WatchAfterMain(JavaVM* vm, bool keep, void (*log)(const std::string&)) {
    const Clock::time_point since = Clock::now();
    JNIEnv* env = nullptr;
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) return;
    const long gone = WaitUntilGone(since, std::chrono::seconds(keep ? 90 : 10));
    log("splash gone after main " + std::to_string(gone));
    if (keep) {
        WaitUntilGone(Clock::now(), std::chrono::seconds(30), true);
        auto get = Export<GetSplashNative>("Java_com_lumenfold_vxo_SplashScreen_nativeGetSplashScreen");
        jclass cls = env->FindClass("com/lumenfold/vxo/SplashScreen");
        log(std::string("splash object after close ") + (get(env, cls) == nullptr ? "null" : "kept"));
        env->DeleteLocalRef(cls);
    }
    vm->DetachCurrentThread();
}

}  // namespace

void RunSplashScenario(JNIEnv* env, const std::string& mode, void (*log)(const std::string&)) {
    const Clock::time_point since = Clock::now();
    const bool shown = VisibleSplash() != nullptr;
    log(std::string("splash shown=") + (shown ? "yes" : "no"));
    if (!shown) return;
    if (mode == "timers") {
        log("splash gone in main after " + std::to_string(WaitUntilGone(since, std::chrono::seconds(10))));
        return;
    }
    const bool keep = mode == "keep";
    if (keep) {
        auto autoClose = Export<AutoCloseNative>("Java_com_lumenfold_vxo_SplashScreen_nativeAutoClose");
        auto get = Export<GetSplashNative>("Java_com_lumenfold_vxo_SplashScreen_nativeGetSplashScreen");
        jclass cls = env->FindClass("com/lumenfold/vxo/SplashScreen");
        jobject first = get(env, cls);
        jobject second = get(env, cls);
        log(std::string("splash object ") + (first == nullptr ? "null" : first == second ? "same" : "different"));
        autoClose(env, first, -1);
        env->DeleteLocalRef(cls);
    }
    JavaVM* vm = nullptr;
    if (env->GetJavaVM(&vm) != JNI_OK) return;
    gScenarioThread = std::thread(&WatchAfterMain, vm, keep, log);
}

void JoinScenarioThreads() {
    if (gScenarioThread.joinable()) gScenarioThread.join();
}

#endif

}  // namespace fakejvm
