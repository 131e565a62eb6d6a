// Windows backend of the splash: raw-data resources for the runtime's library, and the native
// bitmap window of class "VXOSPLASH" on a thread of its own at the lowest priority.
#include "platform/platform.h"
#include "platform/win32/win32_api.h"

#include <process.h>

#include <memory>
#include <new>

namespace vxo::platform {

using win32::UniqueHandle;

namespace {

constexpr char kSplashClassName[] = "VXOSPLASH";
constexpr UINT_PTR kSplashTimer = 1;
constexpr DWORD kSplashReadyWaitMs = 30000;

// Owned by the splash thread; the ready event is shared with ShowSplashWindow, which may have
// stopped waiting, and closed by whoever is last.
struct SplashRecord {
    std::shared_ptr<UniqueHandle> ready;
    HBITMAP bitmap = nullptr;
    std::string title;
    SplashWindowHandler created = nullptr;
    SplashWindowHandler ended = nullptr;
};

// The record of the splash thread, for its window procedure.
thread_local SplashRecord* tSplash = nullptr;

void Paint(HWND window) {
    PAINTSTRUCT paint;
    HDC target = ::BeginPaint(window, &paint);
    if (target != nullptr && tSplash != nullptr && tSplash->bitmap != nullptr) {
        RECT client{};
        ::GetClientRect(window, &client);
        HDC memory = ::CreateCompatibleDC(target);
        if (memory != nullptr) {
            HGDIOBJ previous = ::SelectObject(memory, tSplash->bitmap);
            ::BitBlt(target, 0, 0, client.right - client.left, client.bottom - client.top, memory, 0, 0, SRCCOPY);
            ::SelectObject(memory, previous);
            ::DeleteDC(memory);
        }
    }
    ::EndPaint(window, &paint);
}

LRESULT CALLBACK SplashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_TIMER:
        case WM_KEYDOWN:
            ::PostMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_NCLBUTTONDOWN:
        case WM_NCRBUTTONDOWN:
        case WM_NCMBUTTONDOWN:
        case WM_SYSKEYDOWN:
            return 0;  // clicks neither move nor close the splash
        case WM_DESTROY:
            // From here on the splash is gone for every other thread.
            if (tSplash != nullptr && tSplash->ended != nullptr) {
                tSplash->ended(reinterpret_cast<std::uintptr_t>(window));
            }
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

HWND CreateSplashWindow(const SplashRecord& record) {
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    if (!::GetClassInfoA(instance, kSplashClassName, &windowClass)) {
        windowClass = WNDCLASSA{};
        windowClass.lpfnWndProc = &SplashWindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
        windowClass.lpszClassName = kSplashClassName;
        if (::RegisterClassA(&windowClass) == 0) return nullptr;
    }
    BITMAP size{};
    if (::GetObjectA(record.bitmap, sizeof size, &size) == 0) return nullptr;
    const int left = (::GetSystemMetrics(SM_CXSCREEN) - size.bmWidth) / 2;
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - size.bmHeight) / 2;
    // A titled splash has a taskbar button; an untitled one is a tool window without one.
    const DWORD exStyle = record.title.empty() ? WS_EX_TOOLWINDOW : 0;
    HWND window = ::CreateWindowExA(exStyle, kSplashClassName, record.title.c_str(), WS_POPUP | WS_VISIBLE, left,
                                    top, size.bmWidth, size.bmHeight, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return nullptr;
    ::ShowWindow(window, SW_SHOW);
    ::UpdateWindow(window);
    return window;
}

unsigned __stdcall SplashThread(void* argument) {
    std::unique_ptr<SplashRecord> record(static_cast<SplashRecord*>(argument));
    tSplash = record.get();
    HWND window = CreateSplashWindow(*record);
    const std::uint64_t handle = reinterpret_cast<std::uintptr_t>(window);
    if (window != nullptr && record->created != nullptr) record->created(handle);
    if (record->ready->valid()) ::SetEvent(record->ready->get());
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    if (window != nullptr) {
        MSG message;
        while (::GetMessageA(&message, nullptr, 0, 0) > 0) {  // 0 on WM_QUIT, -1 on failure
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
    // Withdrawn from the other threads before anything is freed.
    if (record->ended != nullptr) record->ended(handle);
    ::Sleep(0);
    tSplash = nullptr;
    if (window != nullptr && ::IsWindow(window)) ::DestroyWindow(window);
    ::DeleteObject(record->bitmap);
    return 0;
}

}  // namespace

std::string RawDataResource(int id) {
    const HMODULE module = ::GetModuleHandleA(nullptr);
    const HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    if (found == nullptr) return std::string();
    const DWORD size = ::SizeofResource(module, found);
    const HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0) return std::string();
    return std::string(static_cast<const char*>(bytes), size);
}

std::uint64_t LoadSplashBitmap() {
    return reinterpret_cast<std::uintptr_t>(::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(100)));
}

bool ShowSplashWindow(std::uint64_t bitmap, const std::string& title, SplashWindowHandler created,
                      SplashWindowHandler ended) {
    if (bitmap == 0) return false;
    auto* record = new (std::nothrow) SplashRecord;
    if (record == nullptr) {
        ::DeleteObject(reinterpret_cast<HBITMAP>(static_cast<std::uintptr_t>(bitmap)));
        return false;
    }
    record->ready = std::make_shared<UniqueHandle>(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    record->bitmap = reinterpret_cast<HBITMAP>(static_cast<std::uintptr_t>(bitmap));
    record->title = title;
    record->created = created;
    record->ended = ended;
    std::shared_ptr<UniqueHandle> ready = record->ready;
    const std::uintptr_t thread = _beginthreadex(nullptr, 0, &SplashThread, record, 0, nullptr);
    if (thread == 0) {
        ::DeleteObject(record->bitmap);
        delete record;
        return false;
    }
    UniqueHandle threadHandle(win32::ToHandle(static_cast<std::intptr_t>(thread)));
    if (ready->valid()) ::WaitForSingleObject(ready->get(), kSplashReadyWaitMs);
    return true;
}

void SetSplashTimer(std::uint64_t window, int ms) {
    HWND handle = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
    ::KillTimer(handle, kSplashTimer);
    if (ms >= 0) ::SetTimer(handle, kSplashTimer, static_cast<UINT>(ms), nullptr);
}

void PostSplashClose(std::uint64_t window) {
    ::PostMessageA(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)), WM_CLOSE, 0, 0);
}

}  // namespace vxo::platform
