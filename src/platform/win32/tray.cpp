// Windows backend of the notification area: the shell's version, the hidden "VXOMESSAGE" window
// on its own thread, Shell_NotifyIconA, icons and pop-up menus.
#include "platform/platform.h"
#include "platform/win32/win32_api.h"

#include <process.h>
#include <shellapi.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace vxo::platform {

using win32::UniqueHandle;

namespace {

// The launcher keeps records in this layout; the system header must agree with it.
static_assert(sizeof(void*) == 8, "the record layout is the 64-bit one");
static_assert(offsetof(NOTIFYICONDATAA, szTip) == 40 && offsetof(NOTIFYICONDATAA, szInfo) == 176 &&
                  offsetof(NOTIFYICONDATAA, szInfoTitle) == 436 &&
                  offsetof(NOTIFYICONDATAA, dwInfoFlags) == 500 && offsetof(NOTIFYICONDATAA, guidItem) == 504,
              "NOTIFYICONDATAA as the launcher's records lay it out");
static_assert(sizeof(MENUITEMINFOA) == 80, "MENUITEMINFOA of 80 bytes");

constexpr char kTrayClassName[] = "VXOMESSAGE";
constexpr UINT kTrayMessage = WM_USER + 100;
constexpr UINT kPopupMessage = WM_APP + 1;  // lParam: a PopupRequest the window procedure frees
// How long a Popup waits for the tray thread to begin showing its menu: that thread may be busy
// in a callback into Java, perhaps waiting for a lock of the very thread that asks.
constexpr DWORD kPopupStartWaitMs = 10000;
constexpr DWORD kTrayReadyWaitMs = 30000;
constexpr int kMaxMenuItems = 65536;

// DllGetVersion's record (DLLVERSIONINFO): 20 bytes.
struct ShellVersionInfo {
    DWORD cbSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformID;
};
using DllGetVersionProc = HRESULT(CALLBACK*)(ShellVersionInfo*);

std::uint32_t ReadShellMajorVersion() {
    HMODULE shell = ::LoadLibraryA("shell32.dll");
    if (shell == nullptr) return 4;
    std::uint32_t major = 4;
    auto get = reinterpret_cast<DllGetVersionProc>(
        reinterpret_cast<void*>(::GetProcAddress(shell, "DllGetVersion")));
    if (get != nullptr) {
        ShellVersionInfo info{};
        info.cbSize = sizeof info;
        info.dwMajorVersion = 4;
        if (get(&info) >= 0) major = info.dwMajorVersion;
    }
    ::FreeLibrary(shell);
    return major;
}

// Read before the entry function, as static initialisation runs.
const std::uint32_t gShellMajorVersion = ReadShellMajorVersion();

// The window and the two handlers. The handlers are set before the thread starts and never
// change; the window is cleared when it is destroyed, so later readers see none.
struct TrayWindowState {
    std::atomic<HWND> window{nullptr};
    TrayMouseHandler mouse = nullptr;
    TrayCommandHandler command = nullptr;
};
TrayWindowState gTray;

// Shows a menu as the system expects a notification-area menu: on the owner's thread, with the
// owner in the foreground, and a WM_NULL after it so that a click elsewhere closes it next time.
// The chosen item reaches the owner as WM_COMMAND, like any menu's.
void ShowMenu(HWND owner, HMENU menu) {
    POINT cursor{};
    ::GetCursorPos(&cursor);
    if (owner != nullptr) ::SetForegroundWindow(owner);
    ::TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, owner, nullptr);
    if (owner != nullptr) ::PostMessageA(owner, WM_NULL, 0, 0);
}

// A Popup asked of the tray thread by another thread. Whoever moves it out of Pending decides:
// the tray thread by starting the menu, the asking thread by giving up.
struct PopupRequest {
    enum State : LONG { Pending, Started, Abandoned };
    HMENU menu = nullptr;
    std::atomic<LONG> state{Pending};
    UniqueHandle started{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle done{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

void ServePopup(HWND window, std::shared_ptr<PopupRequest>* raw) {
    std::unique_ptr<std::shared_ptr<PopupRequest>> owned(raw);
    PopupRequest& request = **owned;
    LONG pending = PopupRequest::Pending;
    if (!request.state.compare_exchange_strong(pending, PopupRequest::Started)) return;
    ::SetEvent(request.started.get());
    ShowMenu(window, request.menu);
    ::SetEvent(request.done.get());
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kPopupMessage:
            ServePopup(window, reinterpret_cast<std::shared_ptr<PopupRequest>*>(lParam));
            return 0;
        case WM_DESTROY:
            gTray.window.store(nullptr);
            ::PostQuitMessage(0);
            return 0;
        case WM_COMMAND:
            // The command window (50000 to 51000) is the portable side's to judge.
            if (gTray.window.load() != nullptr && gTray.command != nullptr) gTray.command(wParam);
            return 0;
        case kTrayMessage:
            if (gTray.window.load() != nullptr && gTray.mouse != nullptr) {
                gTray.mouse(static_cast<std::uint32_t>(wParam), static_cast<std::uint32_t>(lParam));
            }
            return 0;
        default:
            return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

HWND CreateTrayWindow() {
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = &TrayWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(6));
    windowClass.lpszClassName = kTrayClassName;
    if (::RegisterClassA(&windowClass) == 0) return nullptr;
    HWND window = ::CreateWindowExA(0, kTrayClassName, kTrayClassName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                    0, 100, 0, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return nullptr;
    ::ShowWindow(window, SW_HIDE);
    ::UpdateWindow(window);
    return window;
}

// The ready event is shared with StartTrayWindow, which may have stopped waiting: whoever is
// last closes it.
using ReadyEvent = std::shared_ptr<UniqueHandle>;

unsigned __stdcall TrayThread(void* argument) {
    HWND window = nullptr;
    {
        std::unique_ptr<ReadyEvent> ready(static_cast<ReadyEvent*>(argument));
        window = CreateTrayWindow();
        gTray.window.store(window);
        if ((*ready)->valid()) ::SetEvent((*ready)->get());
    }
    if (window == nullptr) return 0;
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {  // 0 on WM_QUIT, -1 on failure
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return 0;
}

HMENU ToMenu(std::uint64_t menu) { return reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(menu)); }

}  // namespace

std::uint32_t ShellMajorVersion() { return gShellMajorVersion; }

void StartTrayWindow(TrayMouseHandler mouse, TrayCommandHandler command) {
    gTray.mouse = mouse;
    gTray.command = command;
    auto ready = std::make_shared<UniqueHandle>(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    auto* argument = new (std::nothrow) ReadyEvent(ready);
    if (argument == nullptr) return;
    const std::uintptr_t thread = _beginthreadex(nullptr, 0, &TrayThread, argument, 0, nullptr);
    if (thread == 0) {
        delete argument;
        return;
    }
    UniqueHandle threadHandle(win32::ToHandle(static_cast<std::intptr_t>(thread)));
    if (ready->valid()) ::WaitForSingleObject(ready->get(), kTrayReadyWaitMs);
}

std::uint64_t TrayWindow() { return reinterpret_cast<std::uintptr_t>(gTray.window.load()); }

bool NotifyTrayIcon(TrayOperation operation, const void* record, std::size_t size) {
    NOTIFYICONDATAA data{};
    std::memcpy(&data, record, size < sizeof data ? size : sizeof data);
    const DWORD message = operation == TrayOperation::Add      ? NIM_ADD
                          : operation == TrayOperation::Modify ? NIM_MODIFY
                                                               : NIM_DELETE;
    return ::Shell_NotifyIconA(message, &data) != FALSE;
}

std::uint64_t LoadTrayIcon(std::int32_t resource) {
    HANDLE icon = ::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource & 0xFFFF), IMAGE_ICON,
                               16, 16, LR_DEFAULTCOLOR);
    return reinterpret_cast<std::uintptr_t>(icon);
}

void DestroyTrayIcon(std::uint64_t icon) {
    if (icon != 0) ::DestroyIcon(reinterpret_cast<HICON>(static_cast<std::uintptr_t>(icon)));
}

std::uint64_t CreatePopupMenu() { return reinterpret_cast<std::uintptr_t>(::CreatePopupMenu()); }

bool AppendMenuItem(std::uint64_t menu, const MenuItem& item) {
    if (menu == 0 || !::IsMenu(ToMenu(menu))) return false;
    std::string text = item.text;  // the system takes a writable buffer
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    switch (item.kind) {
        case MenuItem::Kind::String:
            info.fMask = MIIM_ID | MIIM_TYPE;
            info.fType = MFT_STRING;
            info.wID = item.id;
            info.dwTypeData = text.data();
            break;
        case MenuItem::Kind::SubMenu:
            info.fMask = MIIM_SUBMENU | MIIM_TYPE;
            info.fType = MFT_STRING;
            info.dwTypeData = text.data();
            info.hSubMenu = ToMenu(item.subMenu);
            break;
        case MenuItem::Kind::Separator:
            info.fMask = MIIM_TYPE;
            info.fType = MFT_SEPARATOR;
            break;
    }
    return ::InsertMenuItemA(ToMenu(menu), static_cast<UINT>(-1), TRUE, &info) != FALSE;
}

void DestroyMenu(std::uint64_t menu) {
    if (menu != 0) ::DestroyMenu(ToMenu(menu));
}

std::vector<MenuItem> MenuItems(std::uint64_t menu) {
    std::vector<MenuItem> items;
    if (menu == 0 || !::IsMenu(ToMenu(menu))) return items;
    const int count = ::GetMenuItemCount(ToMenu(menu));
    for (int i = 0; i < count && i < kMaxMenuItems; ++i) {
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_SUBMENU | MIIM_STRING;
        if (!::GetMenuItemInfoA(ToMenu(menu), static_cast<UINT>(i), TRUE, &info)) break;
        MenuItem item;
        item.id = info.wID;
        item.subMenu = reinterpret_cast<std::uintptr_t>(info.hSubMenu);
        item.kind = (info.fType & MFT_SEPARATOR) != 0 ? MenuItem::Kind::Separator
                    : info.hSubMenu != nullptr         ? MenuItem::Kind::SubMenu
                                                       : MenuItem::Kind::String;
        if (item.kind != MenuItem::Kind::Separator && info.cch > 0) {
            std::string text(info.cch + 1, '\0');
            info.dwTypeData = text.data();
            info.cch = static_cast<UINT>(text.size());
            info.fMask = MIIM_STRING;
            if (::GetMenuItemInfoA(ToMenu(menu), static_cast<UINT>(i), TRUE, &info)) {
                text.resize(info.cch);
                item.text = text;
            }
        }
        items.push_back(item);
    }
    return items;
}

void TrackPopupMenu(std::uint64_t menu) {
    HWND owner = gTray.window.load();
    DWORD ownerThread = owner != nullptr ? ::GetWindowThreadProcessId(owner, nullptr) : 0;
    if (owner == nullptr || ownerThread == 0 || ownerThread == ::GetCurrentThreadId()) {
        ShowMenu(owner, ToMenu(menu));  // no window, or a callback on the tray thread itself
        return;
    }
    auto request = std::make_shared<PopupRequest>();
    request->menu = ToMenu(menu);
    if (!request->started.valid() || !request->done.valid()) return;
    auto* message = new (std::nothrow) std::shared_ptr<PopupRequest>(request);
    if (message == nullptr) return;
    if (!::PostMessageA(owner, kPopupMessage, 0, reinterpret_cast<LPARAM>(message))) {
        delete message;
        return;
    }
    // Returns when the menu has closed; the chosen command follows through the window. A tray
    // thread that does not begin within the wait (or has gone) leaves the menu unshown.
    ::WaitForSingleObject(request->started.get(), kPopupStartWaitMs);
    LONG pending = PopupRequest::Pending;
    if (request->state.compare_exchange_strong(pending, PopupRequest::Abandoned)) return;
    ::WaitForSingleObject(request->done.get(), INFINITE);
}

}  // namespace vxo::platform
