// POSIX backend: the instance block as a POSIX shared-memory object, and the mutex and pulsed
// event of the instance protocol inside it.
//
// Every process that uses the block holds a shared flock on a lock file named like it; the one
// that leaves last gets the lock exclusively and removes the object's name, so a later start
// begins with a fresh block. An opener takes its shared lock before it opens the object, so it
// either keeps the object alive or finds it gone and makes a new one.
#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/names.h"
#include "platform/posix/unique_fd.h"

namespace vxo::platform {

namespace {

constexpr int kSharedLockTries = 200;  // 10 ms apart: a leaver holds the lock only to unlink

// The shm folder is shared by every user: an object someone else made, or one others may read
// or write, is never used. Grows ours to the block size.
bool PrepareObject(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 077) != 0) {
        return false;
    }
    return st.st_size >= static_cast<off_t>(kInstanceBlockSize) ||
           ftruncate(fd, kInstanceBlockSize) == 0;
}

bool LockShared(int fd) {
    for (int i = 0; i < kSharedLockTries; ++i) {
        if (flock(fd, LOCK_SH | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        timespec pause{0, 10L * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return false;
}

// The blocks this process has open, by the descriptor of their lock file, for the leave at
// exit: the process may end through exit() from a thread of the virtual machine, past every
// destructor.
std::mutex leaveLock;
std::map<int, std::string>* openBlocks = nullptr;  // never destroyed: read during exit

// Removes the block's name when no other process holds its lock, and lets the lock go.
void Leave(int fd) {
    std::lock_guard<std::mutex> lock(leaveLock);
    if (openBlocks == nullptr) return;
    auto found = openBlocks->find(fd);
    if (found == openBlocks->end()) return;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) shm_unlink(found->second.c_str());
    close(fd);
    openBlocks->erase(found);
}

void LeaveAll() {
    std::vector<int> fds;
    {
        std::lock_guard<std::mutex> lock(leaveLock);
        if (openBlocks != nullptr) {
            for (const auto& entry : *openBlocks) fds.push_back(entry.first);
        }
    }
    for (int fd : fds) Leave(fd);
}

void RememberLeave(int fd, const std::string& name) {
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(LeaveAll); });
    std::lock_guard<std::mutex> lock(leaveLock);
    if (openBlocks == nullptr) openBlocks = new std::map<int, std::string>();
    (*openBlocks)[fd] = name;
}

}  // namespace

SharedBlock SharedBlock::Open(const std::string& mappingName) {
    SharedBlock block;
    if (!mappingName.empty()) {
        std::string name = posix::SharedMemoryName(mappingName, geteuid());
        int error = 0;
        posix::UniqueFd lock = posix::OpenLockFile(posix::FileComponent(mappingName, NAME_MAX - 5) + ".lock", error);
        // Without the lock the block is still shared; only its name outlives this process.
        bool locked = lock && LockShared(lock.get());
        posix::UniqueFd fd(shm_open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd && PrepareObject(fd.get())) {
            void* view = mmap(nullptr, kInstanceBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
            if (view != MAP_FAILED) {
                block.data_ = static_cast<std::uint8_t*>(view);
                block.size_ = kInstanceBlockSize;
                block.kind_ = Kind::Mapped;
                if (locked) {
                    block.handle_ = lock.get();
                    RememberLeave(lock.release(), name);
                }
                return block;
            }
        }
    }
    block.data_ = new std::uint8_t[kInstanceBlockSize]();
    block.size_ = kInstanceBlockSize;
    block.kind_ = Kind::Private;
    return block;
}

void SharedBlock::Reset() {
    if (kind_ == Kind::Mapped) {
        munmap(data_, size_);
        if (handle_ > 0) Leave(static_cast<int>(handle_));
    } else if (kind_ == Kind::Private) {
        delete[] data_;
    }
    data_ = nullptr;
    size_ = 0;
    handle_ = 0;
    kind_ = Kind::None;
}

// ---- Instance sync -----------------------------------------------------------------------------

namespace {

// At kInstanceSyncOffset in the block.
struct SyncArea {
    std::uint32_t state;  // 0 nothing, 1 being set up, 2 ready
    std::uint32_t reserved;
    pthread_mutex_t mutex;
};
static_assert(kInstanceSyncOffset % alignof(SyncArea) == 0);
static_assert(kInstanceSyncOffset + sizeof(SyncArea) <= kInstanceBlockSize);

constexpr std::uint32_t kSyncReady = 2;

long Futex(std::int32_t* word, int op, std::int32_t value, const timespec* timeout) {
    // Not the private variants: the word is shared with other processes.
    return syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

class PosixInstanceSync final : public InstanceSync {
public:
    PosixInstanceSync(std::uint8_t* block, std::int32_t* generation)
        : block_(block), area_(reinterpret_cast<SyncArea*>(block + kInstanceSyncOffset)), generation_(generation) {}
    ~PosixInstanceSync() override { WatchOwner(0); }

    std::uint32_t CurrentPid() override { return static_cast<std::uint32_t>(getpid()); }

    bool IsAlive(std::uint32_t pid) override {
        // 0 and values past INT_MAX would name process groups or every process to kill().
        if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return false;
        if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
        char path[32];
        std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
        posix::UniqueFd stat(open(path, O_RDONLY | O_CLOEXEC));
        if (!stat) return true;  // no /proc: kill() has the last word
        char text[512];
        ssize_t n = read(stat.get(), text, sizeof text - 1);
        if (n <= 0) return false;
        text[n] = '\0';
        // "pid (comm) S ...": the state follows the last parenthesis.
        const char* close = std::strrchr(text, ')');
        if (close == nullptr || close[1] != ' ') return true;
        return close[2] != 'Z' && close[2] != 'X' && close[2] != 'x';
    }

    void WatchOwner(std::uint32_t pid) override {
        if (pidfd_ >= 0) close(pidfd_);
        pidfd_ = -1;
        watched_ = pid;
#ifdef SYS_pidfd_open
        if (pid != 0 && pid <= static_cast<std::uint32_t>(INT_MAX)) {
            pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
        }
#endif
    }

    bool OwnerActive() override {
        if (watched_ == 0) return false;
        if (pidfd_ < 0) return IsAlive(watched_);
        pollfd p{pidfd_, POLLIN, 0};
        return poll(&p, 1, 0) == 0;  // readable once the process has ended
    }

    bool CreateObjects() override {
        std::uint32_t expected = 0;
        if (__atomic_compare_exchange_n(&area_->state, &expected, 1u, false, __ATOMIC_ACQ_REL,
                                        __ATOMIC_ACQUIRE)) {
            pthread_mutexattr_t attributes;
            pthread_mutexattr_init(&attributes);
            pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
            bool made = pthread_mutex_init(&area_->mutex, &attributes) == 0;
            pthread_mutexattr_destroy(&attributes);
            if (made) __atomic_store_n(&area_->state, kSyncReady, __ATOMIC_RELEASE);
        }
        return HasObjects();
    }

    void ObjectValues(std::uint64_t& mutexValue, std::uint64_t& eventValue) override {
        // Nothing to hand over: both live in the block. The values say where.
        mutexValue = kInstanceSyncOffset + offsetof(SyncArea, mutex);
        eventValue = static_cast<std::uint64_t>(reinterpret_cast<std::uint8_t*>(generation_) - block_);
    }

    bool AdoptObjects(std::uint64_t, std::uint64_t) override { return HasObjects(); }

    bool HasObjects() override { return __atomic_load_n(&area_->state, __ATOMIC_ACQUIRE) == kSyncReady; }

    void CloseObjects() override {}

    std::uintptr_t Lock(std::uint32_t timeoutMs) override {
        if (!HasObjects()) return 0;
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += timeoutMs / 1000;
        deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        int result = pthread_mutex_timedlock(&area_->mutex, &deadline);
        if (result == EOWNERDEAD) {  // its holder died: the mutex guards no state of its own
            pthread_mutex_consistent(&area_->mutex);
            result = 0;
        }
        return result == 0 ? reinterpret_cast<std::uintptr_t>(&area_->mutex) : 0;
    }

    void Unlock(std::uintptr_t) override { pthread_mutex_unlock(&area_->mutex); }

    void Pulse() override {
        __atomic_fetch_add(generation_, 1, __ATOMIC_ACQ_REL);
        Futex(generation_, FUTEX_WAKE, INT_MAX, nullptr);
    }

    void Wait(std::int32_t seen, std::uint32_t timeoutMs) override {
        if (interrupted_.load()) return;
        timespec relative{static_cast<time_t>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000000L};
        // Returns at once when the generation is no longer `seen`, so no pulse is missed.
        Futex(generation_, FUTEX_WAIT, seen, &relative);
    }

    void Interrupt() override {
        interrupted_.store(true);
        Pulse();  // the other instances see one more change, which costs them a look
    }

    std::uint64_t NowMs() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
    }

private:
    std::uint8_t* block_;
    SyncArea* area_;
    std::int32_t* generation_;
    std::uint32_t watched_ = 0;
    int pidfd_ = -1;
    std::atomic<bool> interrupted_{false};
};

}  // namespace

std::unique_ptr<InstanceSync> NewInstanceSync(std::uint8_t* block, std::int32_t* generation) {
    return std::make_unique<PosixInstanceSync>(block, generation);
}

}  // namespace vxo::platform
