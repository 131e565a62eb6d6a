// Windows backend: single-instance lock, threads, elevation and console interrupts.
#include "platform/platform.h"
#include "platform/win32/win32_api.h"

#include <process.h>

#include <csignal>
#include <mutex>
#include <new>
#include <vector>

namespace vxo::platform {

using win32::UniqueHandle;

// ---- Single instance ---------------------------------------------------------------------------

namespace {

// Handles of acquired instance mutexes. They stay open until the process ends: closing one
// would let a second copy start while this one still runs.
void KeepForProcessLifetime(UniqueHandle handle) {
    static std::mutex guard;
    static std::vector<UniqueHandle> held;
    std::lock_guard<std::mutex> lock(guard);
    try {
        held.push_back(std::move(handle));
    } catch (const std::bad_alloc&) {
        // Out of memory: the lock matters more than tidiness, so let the handle go unowned.
        handle.release();
    }
}

}  // namespace

InstanceLock AcquireSingleInstance(const std::string& name, std::uint32_t waitMs,
                                   std::uint32_t& errorCode) {
    UniqueHandle mutex(::CreateMutexA(nullptr, FALSE, name.c_str()));
    if (!mutex.valid()) {
        errorCode = ::GetLastError();
        return InstanceLock::CreateFailed;
    }
    switch (::WaitForSingleObject(mutex.get(), waitMs)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // the previous owner died; its lock is ours now
            KeepForProcessLifetime(std::move(mutex));
            return InstanceLock::Acquired;
        case WAIT_TIMEOUT:
            return InstanceLock::HeldElsewhere;
        default:
            errorCode = ::GetLastError();
            return InstanceLock::CreateFailed;
    }
}

// ---- Threads -----------------------------------------------------------------------------------

namespace {

struct ThreadStart {
    ThreadProc proc;
    void* argument;
};

// _beginthreadex wants __stdcall (it matters on 32-bit) and must not see a C++ exception.
unsigned __stdcall ThreadTrampoline(void* raw) {
    const ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    try {
        return start.proc(start.argument);
    } catch (...) {
        return 0xE0000001u;  // an escaped exception: a failure code rather than terminate()
    }
}

}  // namespace

bool StartThread(ThreadProc proc, void* argument, std::uint32_t flags, ThreadHandle& out) {
    out.value = 0;
    if (proc == nullptr) return false;
    ThreadStart* start = new (std::nothrow) ThreadStart{proc, argument};
    if (start == nullptr) return false;
    const std::uintptr_t handle = _beginthreadex(nullptr, 0, &ThreadTrampoline, start, flags, nullptr);
    if (handle == 0) {
        delete start;
        return false;
    }
    out.value = static_cast<std::intptr_t>(handle);
    return true;
}

unsigned JoinThread(ThreadHandle& thread) {
    UniqueHandle handle(win32::ToHandle(thread.value));
    thread.value = 0;
    if (!handle.valid()) return 0;
    ::WaitForSingleObject(handle.get(), INFINITE);
    DWORD code = 0;
    if (!::GetExitCodeThread(handle.get(), &code)) code = 0;
    return code;
}

// ---- Elevation ---------------------------------------------------------------------------------

std::int32_t ElevationState() {
    constexpr std::int32_t kFailed = static_cast<std::int32_t>(0x80004005u);  // E_FAIL
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL haveVersion = ::GetVersionExA(&version);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    // Before Vista there is no elevation: everyone counts as elevated.
    if (!haveVersion || version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion < 6) {
        return 0;
    }
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return kFailed;
    UniqueHandle token(rawToken);
    TOKEN_ELEVATION elevation{};
    DWORD returned = 0;
    if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &returned)) {
        return kFailed;
    }
    return elevation.TokenIsElevated != 0 ? 0 : 1;
}

// ---- Interrupts --------------------------------------------------------------------------------

namespace {

// signal() answers with the runtime's pseudo-handlers (SIG_DFL 0, SIG_IGN 1, its internal 2..4)
// or SIG_ERR; none of them may be called as a function.
SignalHandler RealHandlerOrNull(SignalHandler previous) {
    const std::intptr_t value = reinterpret_cast<std::intptr_t>(previous);
    if (previous == SIG_ERR || (value >= 0 && value <= 4)) return nullptr;
    return previous;
}

}  // namespace

void InstallInterruptHandler(SignalHandler handler, SignalHandler previous[2]) {
    // The runtime calls these from its console control thread, not from a signal context.
    const SignalHandler oldInterrupt = std::signal(SIGINT, handler);
    const SignalHandler oldTerminate = std::signal(SIGTERM, handler);
    if (previous != nullptr) {
        previous[0] = RealHandlerOrNull(oldInterrupt);
        previous[1] = RealHandlerOrNull(oldTerminate);
    }
}

}  // namespace vxo::platform
