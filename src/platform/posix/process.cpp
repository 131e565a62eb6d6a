// POSIX backend: libraries, threads, the single-instance lock, signals, messages, resources.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "messages.h"
#include "platform/platform.h"
#include "platform/posix/names.h"
#include "platform/posix/unique_fd.h"

namespace vxo::platform {

namespace {
thread_local std::string lastLibraryError;
thread_local std::uint32_t lastErrorCode = 0;

void SleepMs(long ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

}  // namespace

LibraryHandle LoadLibrary(const std::string& path) {
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (handle == nullptr) {
        const char* error = dlerror();
        lastLibraryError = error != nullptr ? error : "cannot load " + path;
        lastErrorCode = 126;  // the Windows code for a module that cannot be found
    }
    return handle;
}

void* GetSymbol(LibraryHandle library, const char* name) {
    return library != nullptr ? dlsym(library, name) : nullptr;
}

void FreeLibrary(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}

void SuppressErrorDialogs() {}

std::string LastErrorText() {
    if (!lastLibraryError.empty()) return lastLibraryError;
    return std::strerror(errno);
}

std::uint32_t LastErrorCode() { return lastErrorCode != 0 ? lastErrorCode : static_cast<std::uint32_t>(errno); }

InstanceLock AcquireSingleInstance(const std::string& name, std::uint32_t waitMs,
                                   std::uint32_t& errorCode) {
    int error = 0;
    posix::UniqueFd lock = posix::OpenLockFile(posix::FileComponent(name, NAME_MAX), error);
    if (!lock) {
        errorCode = static_cast<std::uint32_t>(error);
        return InstanceLock::CreateFailed;
    }
    // Like waiting on the mutex: poll the lock until the wait runs out. An acquired descriptor
    // stays open for the life of the process; the kernel drops the lock when the process dies.
    for (std::uint32_t waited = 0;; waited += 10) {
        if (flock(lock.get(), LOCK_EX | LOCK_NB) == 0) {
            lock.release();
            return InstanceLock::Acquired;
        }
        if (errno != EWOULDBLOCK || waited >= waitMs) break;
        SleepMs(10);
    }
    return InstanceLock::HeldElsewhere;
}

namespace {
struct ThreadState {
    pthread_t thread{};
    ThreadProc proc = nullptr;
    void* argument = nullptr;
    unsigned result = 0;
};

void* ThreadMain(void* raw) {
    auto* state = static_cast<ThreadState*>(raw);
    state->result = state->proc(state->argument);
    return nullptr;
}
}  // namespace

bool StartThread(ThreadProc proc, void* argument, std::uint32_t, ThreadHandle& out) {
    auto* state = new ThreadState{{}, proc, argument, 0};
    if (pthread_create(&state->thread, nullptr, ThreadMain, state) != 0) {
        delete state;
        return false;
    }
    out.value = reinterpret_cast<std::intptr_t>(state);
    return true;
}

unsigned JoinThread(ThreadHandle& thread) {
    auto* state = reinterpret_cast<ThreadState*>(thread.value);
    if (state == nullptr) return 0;
    pthread_join(state->thread, nullptr);
    unsigned result = state->result;
    delete state;
    thread.value = 0;
    return result;
}

std::int32_t ElevationState() { return geteuid() == 0 ? 0 : 1; }

namespace {
int signalPipe[2] = {-1, -1};
SignalHandler installedHandler = nullptr;

void OnSignal(int signal) {
    // Only async-signal-safe work here: the handler thread does the rest.
    unsigned char number = static_cast<unsigned char>(signal);
    ssize_t ignored = write(signalPipe[1], &number, 1);
    (void)ignored;
}

void* SignalThread(void*) {
    unsigned char number = 0;
    while (read(signalPipe[0], &number, 1) == 1) {
        if (installedHandler != nullptr) installedHandler(number);
    }
    return nullptr;
}
}  // namespace

void InstallInterruptHandler(SignalHandler handler, SignalHandler previous[2]) {
    previous[0] = previous[1] = nullptr;
    if (signalPipe[0] < 0) {
        if (pipe2(signalPipe, O_CLOEXEC) != 0) return;
        pthread_t thread;
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_create(&thread, &attributes, SignalThread, nullptr);
        pthread_attr_destroy(&attributes);
    }
    installedHandler = handler;
    const int signals[2] = {SIGINT, SIGTERM};
    for (int i = 0; i < 2; ++i) {
        struct sigaction action {}, old {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signals[i], &action, &old);
        // A handler that takes siginfo (the Java runtime's) cannot be called as a plain one.
        bool plain = (old.sa_flags & SA_SIGINFO) == 0;
        if (plain && old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN && old.sa_handler != OnSignal)
            previous[i] = old.sa_handler;
    }
}

std::u16string LoadStringResource(int number) {
    struct Entry {
        int number;
        const char* text;
    };
#define VXO_ENTRY(n, text) {n, text},
    static constexpr Entry kTable[] = {VXO_MESSAGE_TABLE(VXO_ENTRY)};
#undef VXO_ENTRY
    for (const Entry& e : kTable) {
        if (e.number == number) return std::u16string(e.text, e.text + std::strlen(e.text));
    }
    return std::u16string();
}

}  // namespace vxo::platform

namespace vxo::platform {

void InitCommonControls() {}

std::string CommandLine() {
    std::string raw;
    constexpr std::size_t kMaxCommandLine = std::size_t{1} << 30;
    if (!ReadWholeFile("/proc/self/cmdline", kMaxCommandLine, raw)) return std::string();
    std::string line;
    std::size_t start = 0;
    while (start < raw.size()) {
        std::size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        std::string arg = raw.substr(start, end - start);
        start = end + 1;
        if (!line.empty()) line.push_back(' ');
        // The shell has expanded every wildcard the user left unquoted: one that still arrives
        // was quoted on purpose, so it is quoted here too, blanks or not.
        if (!arg.empty() && arg.find_first_of(" \t\"*?") == std::string::npos) {
            line += arg;
            continue;
        }
        // Quote it; backslashes before a quote are doubled, the quote itself escaped.
        line.push_back('"');
        std::size_t slashes = 0;
        for (char c : arg) {
            if (c == '\\') {
                ++slashes;
            } else if (c == '"') {
                line.append(slashes + 1, '\\');
                slashes = 0;
            } else {
                slashes = 0;
            }
            line.push_back(c);
        }
        line.append(slashes, '\\');
        line.push_back('"');
    }
    return line;
}

}  // namespace vxo::platform

namespace vxo::platform {

const bool kCanOpenAddress = false;

bool OfferToOpenAddress(const std::string&, const std::string&, const std::string&, std::uint64_t) {
    return false;  // the text is shown through ShowMessageBox instead
}

}  // namespace vxo::platform
