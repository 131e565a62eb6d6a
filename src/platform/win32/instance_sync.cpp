// Windows backend: the mutex, the pulsed event and process liveness of the instance protocol.
// The objects are unnamed; the owner publishes its handle values in the block and the other
// instances duplicate them out of the owner's process.
#include "platform/platform.h"
#include "platform/win32/win32_api.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace vxo::platform {

namespace {

using win32::UniqueHandle;

constexpr std::size_t kRetiredLimit = 64;
constexpr DWORD kOwnerAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_DUP_HANDLE;  // 0x100440

std::uint64_t ValueOf(HANDLE handle) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
}

// Running until its handle is signalled. The exit code cannot tell: a process may end with 259
// (STILL_ACTIVE), and would then count as alive for ever.
bool StillActive(HANDLE process) { return ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

// The messaging thread adopts new objects while Java threads pulse and lock: the handles are
// swapped atomically, and replaced ones stay open until the end, so a thread that read the old
// value never uses a closed (or reused) handle.
class WinInstanceSync final : public InstanceSync {
public:
    explicit WinInstanceSync(std::int32_t* generation)
        : generation_(generation), stop_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~WinInstanceSync() override { CloseObjects(); }

    std::uint32_t CurrentPid() override { return ::GetCurrentProcessId(); }

    bool IsAlive(std::uint32_t pid) override {
        if (pid == 0) return false;
        UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
        return process.valid() && StillActive(process.get());
    }

    void WatchOwner(std::uint32_t pid) override {
        owner_.reset(pid != 0 ? ::OpenProcess(kOwnerAccess, FALSE, pid) : nullptr);
    }

    bool OwnerActive() override { return owner_.valid() && StillActive(owner_.get()); }

    bool CreateObjects() override {
        if (mutex_.load() == nullptr) Replace(mutex_, ::CreateMutexA(nullptr, FALSE, nullptr));
        if (event_.load() == nullptr) Replace(event_, ::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        return HasObjects();
    }

    void ObjectValues(std::uint64_t& mutexValue, std::uint64_t& eventValue) override {
        mutexValue = ValueOf(mutex_.load());
        eventValue = ValueOf(event_.load());
    }

    bool AdoptObjects(std::uint64_t mutexValue, std::uint64_t eventValue) override {
        if (!owner_.valid()) return false;
        bool adopted = true;
        for (auto [value, held] : {std::pair{mutexValue, &mutex_}, std::pair{eventValue, &event_}}) {
            HANDLE copy = nullptr;
            if (value != 0 &&
                ::DuplicateHandle(owner_.get(), reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)),
                                  ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
                Replace(*held, copy);
            } else {
                adopted = false;  // the one held, if any, stays
            }
        }
        return adopted;
    }

    bool HasObjects() override { return mutex_.load() != nullptr && event_.load() != nullptr; }

    void CloseObjects() override {
        std::lock_guard<std::mutex> lock(retiredLock_);
        for (std::atomic<HANDLE>* held : {&mutex_, &event_}) {
            if (HANDLE old = held->exchange(nullptr)) retired_.push_back(old);
        }
        for (HANDLE handle : retired_) ::CloseHandle(handle);
        retired_.clear();
        owner_.reset();
    }

    std::uintptr_t Lock(std::uint32_t timeoutMs) override {
        HANDLE mutex = mutex_.load();
        if (mutex == nullptr) return 0;
        DWORD result = ::WaitForSingleObject(mutex, timeoutMs);
        return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED ? reinterpret_cast<std::uintptr_t>(mutex) : 0;
    }

    void Unlock(std::uintptr_t token) override { ::ReleaseMutex(reinterpret_cast<HANDLE>(token)); }

    void Pulse() override {
        if (HANDLE event = event_.load()) ::PulseEvent(event);
        __atomic_fetch_add(generation_, 1, __ATOMIC_ACQ_REL);
    }

    void Wait(std::int32_t seen, std::uint32_t timeoutMs) override {
        if (__atomic_load_n(generation_, __ATOMIC_ACQUIRE) != seen) return;
        HANDLE handles[3];
        DWORD count = 0;
        if (stop_.valid()) handles[count++] = stop_.get();
        if (HANDLE event = event_.load()) handles[count++] = event;
        if (owner_.valid()) handles[count++] = owner_.get();
        if (count == 0) {
            ::Sleep(timeoutMs);
        } else {
            ::WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
        }
    }

    void Interrupt() override {
        if (stop_.valid()) ::SetEvent(stop_.get());
    }

    std::uint64_t NowMs() override { return ::GetTickCount64(); }

private:
    void Replace(std::atomic<HANDLE>& held, HANDLE handle) {
        if (handle == nullptr) return;
        HANDLE old = held.exchange(handle);
        if (old != nullptr) {
            std::lock_guard<std::mutex> lock(retiredLock_);
            // Owners change rarely; a block rewritten on purpose must not pile up handles.
            if (retired_.size() >= kRetiredLimit) {
                ::CloseHandle(retired_.front());
                retired_.erase(retired_.begin());
            }
            retired_.push_back(old);
        }
    }

    std::int32_t* generation_;
    UniqueHandle stop_;   // this process's own: set when its messaging thread is to end
    UniqueHandle owner_;  // used by the messaging thread only
    std::atomic<HANDLE> mutex_{nullptr};
    std::atomic<HANDLE> event_{nullptr};
    std::mutex retiredLock_;
    std::vector<HANDLE> retired_;
};

}  // namespace

std::unique_ptr<InstanceSync> NewInstanceSync(std::uint8_t*, std::int32_t* generation) {
    return std::make_unique<WinInstanceSync>(generation);
}

}  // namespace vxo::platform
