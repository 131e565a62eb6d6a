// POSIX backend: the instance block as a file in the per-user folder, mapped shared; the lock
// and pulsed event of the instance protocol; and process liveness that a reused pid cannot fake.
//
// No C library object lives in the block: the cross-process lock is an flock on the block's
// file, which the kernel drops when its holder dies, so no byte pattern in the block can turn a
// lock into a crash or a stall. The event is a futex on the block's change counter.
//
// Liveness: every process that uses a shared block holds an exclusive flock on its own file
// "live.<pid namespace>.<pid>" in the per-user folder for as long as it lives. A pid counts as a
// live instance only while that lock is held, so a dead instance whose pid was taken by another
// process (of any user) is dead, and a process of another user can never hold a file there.
// The files of instances that died without clean-up are removed by the next start.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/platform.h"
#include "platform/posix/names.h"
#include "platform/posix/unique_fd.h"

namespace vxo::platform {

namespace {

constexpr std::uint32_t kBlockMagic = 0x4F585642;  // "BVXO"
constexpr std::uint32_t kBlockVersion = 2;
constexpr std::uint32_t kOpenLockMs = 2000;

// At kInstanceSyncOffset in the block: what a block must carry to be trusted.
struct BlockHeader {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t size;
    std::uint32_t reserved;
};
static_assert(kInstanceSyncOffset % alignof(BlockHeader) == 0);
static_assert(kInstanceSyncOffset + sizeof(BlockHeader) <= kInstanceBlockSize);

void Pause(std::uint32_t micros) {
    timespec pause{0, static_cast<long>(micros) * 1000L};
    nanosleep(&pause, nullptr);
}

std::uint64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

// An exclusive flock within `timeoutMs`: tried without blocking, with pauses from 20 us growing
// to 2 ms, as holders keep it only for a few stores.
bool LockFile(int fd, std::uint32_t timeoutMs) {
    const std::uint64_t deadline = MonotonicMs() + timeoutMs;
    for (std::uint32_t pause = 20;; pause = pause < 2000 ? pause * 2 : 2000) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (MonotonicMs() >= deadline) return false;
        Pause(pause);
    }
}

// The identity of this process's pid namespace: pids of two namespaces never share a file.
std::string PidNamespace() {
    struct stat st {};
    if (stat("/proc/self/ns/pid", &st) != 0) return "0";
    return std::to_string(static_cast<unsigned long long>(st.st_ino));
}

std::string LiveName(std::uint32_t pid) {
    static const std::string ns = PidNamespace();
    return "live." + ns + "." + std::to_string(pid);
}

// This process's liveness lock, and the per-user folder in which others are looked up. Made
// once, never destroyed (read during exit and by threads that may outlive main).
struct Liveness {
    int folder = -1;  // -1: no per-user folder, so no shared block either
    int own = -1;
    std::string ownName;
};
std::mutex livenessLock;
Liveness* liveness = nullptr;

void RemoveOwnLiveFile() {
    // Removed while still locked, so a new process of this pid never keeps a lock on a file
    // nobody can find (it checks that the name still shows the file it locked).
    if (liveness != nullptr && liveness->own >= 0) unlinkat(liveness->folder, liveness->ownName.c_str(), 0);
}

// True when `fd` is the file that `name` in `folder` names now (not one removed meanwhile).
bool StillNamed(int folder, const std::string& name, int fd) {
    struct stat held {}, named {};
    return fstat(fd, &held) == 0 && fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// This process's liveness lock. A file a dead process of our pid left may be there, briefly
// locked by a prober or a sweeper, who may also remove it between our open and our lock: the
// lock counts only on the file the name still shows, so those cases are tried again.
posix::UniqueFd TakeOwnLiveFile(int folder, const std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        int error = 0;
        posix::UniqueFd fd = posix::OpenPrivateFile(folder, name, error);
        if (!fd) return fd;
        if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && StillNamed(folder, name, fd.get())) return fd;
        Pause(1000);  // others hold such a file for a few system calls
    }
    return posix::UniqueFd();
}

// Removes the files of instances that ended without clean-up (killed, crashed), whose lock
// nobody holds any more; a look at a bounded number of entries per start.
void SweepDeadLiveFiles(int folder, const std::string& own) {
    DIR* dir = fdopendir(fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (dir == nullptr) return;
    int looked = 0;
    for (dirent* entry = readdir(dir); entry != nullptr && looked < 4096; entry = readdir(dir), ++looked) {
        const std::string name = entry->d_name;
        if (name.rfind("live.", 0) != 0 || name == own) continue;
        posix::UniqueFd fd(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd && flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && StillNamed(folder, name, fd.get())) {
            unlinkat(folder, name.c_str(), 0);  // still locked by us: nobody can have taken it
        }
    }
    closedir(dir);
}

const Liveness& TheLiveness() {
    std::lock_guard<std::mutex> lock(livenessLock);
    if (liveness != nullptr) return *liveness;
    liveness = new Liveness();
    int error = 0;
    posix::UniqueFd folder = posix::OpenUserFolder(error);
    if (!folder) return *liveness;
    liveness->ownName = LiveName(static_cast<std::uint32_t>(getpid()));
    posix::UniqueFd own = TakeOwnLiveFile(folder.get(), liveness->ownName);
    if (own) {
        liveness->own = own.release();
        std::atexit(RemoveOwnLiveFile);
        SweepDeadLiveFiles(folder.get(), liveness->ownName);
    }
    liveness->folder = folder.release();
    return *liveness;
}

// The descriptors of mapped blocks' files, by the block's address, for their InstanceSync.
std::mutex blocksLock;
std::map<const std::uint8_t*, int>* blockFiles = nullptr;

int BlockFile(const std::uint8_t* block) {
    std::lock_guard<std::mutex> lock(blocksLock);
    if (blockFiles == nullptr) return -1;
    auto found = blockFiles->find(block);
    return found == blockFiles->end() ? -1 : found->second;
}

void Complain(const std::string& name, const char* why, int error) {
    std::fprintf(stderr, "vexilo: running copies of this program cannot meet (%s: %s); this copy runs on its own\n",
                 why, error != 0 ? std::strerror(error) : name.c_str());
}

// A block whose header does not validate is made anew; the caller holds the file's lock.
void ValidateHeader(std::uint8_t* data) {
    auto* header = reinterpret_cast<BlockHeader*>(data + kInstanceSyncOffset);
    if (header->magic == kBlockMagic && header->version == kBlockVersion && header->size == kInstanceBlockSize) return;
    std::memset(data, 0, kInstanceBlockSize);
    header->version = kBlockVersion;
    header->size = static_cast<std::uint32_t>(kInstanceBlockSize);
    __atomic_store_n(&header->magic, kBlockMagic, __ATOMIC_RELEASE);
}

}  // namespace

SharedBlock SharedBlock::Open(const std::string& mappingName) {
    SharedBlock block;
    if (!mappingName.empty()) {
        const Liveness& live = TheLiveness();
        int error = 0;
        const char* why = "no private per-user folder";
        if (live.folder >= 0 && live.own < 0) why = "no liveness lock";
        if (live.folder >= 0 && live.own >= 0) {
            why = "the block's file is not a private file of this user";
            std::string file = posix::FileComponent(mappingName, NAME_MAX - 6) + ".block";
            posix::UniqueFd fd = posix::OpenPrivateFile(live.folder, file, error);
            struct stat st {};
            if (fd && fstat(fd.get(), &st) == 0 && st.st_size < static_cast<off_t>(kInstanceBlockSize) &&
                ftruncate(fd.get(), kInstanceBlockSize) != 0) {
                error = errno;
                fd = posix::UniqueFd();
            }
            void* view = fd ? mmap(nullptr, kInstanceBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0) : MAP_FAILED;
            if (fd && view == MAP_FAILED) {
                why = "the block cannot be mapped";
                error = errno;
            }
            if (view != MAP_FAILED) {
                block.data_ = static_cast<std::uint8_t*>(view);
                if (LockFile(fd.get(), kOpenLockMs)) {
                    ValidateHeader(block.data_);
                    flock(fd.get(), LOCK_UN);
                } else {
                    ValidateHeader(block.data_);  // a holder that keeps it this long is stuck
                }
                block.size_ = kInstanceBlockSize;
                block.kind_ = Kind::Mapped;
                block.handle_ = fd.release();
                std::lock_guard<std::mutex> lock(blocksLock);
                if (blockFiles == nullptr) blockFiles = new std::map<const std::uint8_t*, int>();
                (*blockFiles)[block.data_] = static_cast<int>(block.handle_);
                return block;
            }
        }
        Complain(mappingName, why, error);
    }
    block.data_ = new std::uint8_t[kInstanceBlockSize]();
    block.size_ = kInstanceBlockSize;
    block.kind_ = Kind::Private;
    return block;
}

void SharedBlock::Reset() {
    if (kind_ == Kind::Mapped) {
        {
            std::lock_guard<std::mutex> lock(blocksLock);
            if (blockFiles != nullptr) blockFiles->erase(data_);
        }
        munmap(data_, size_);
        close(static_cast<int>(handle_));
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

long Futex(std::int32_t* word, int op, std::int32_t value, const timespec* timeout) {
    // Not the private variants: the word is shared with other processes.
    return syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

class PosixInstanceSync final : public InstanceSync {
public:
    PosixInstanceSync(int blockFile, std::int32_t* generation)
        : generation_(generation), blockFile_(blockFile), live_(blockFile >= 0 ? &TheLiveness() : nullptr) {}

    std::uint32_t CurrentPid() override { return static_cast<std::uint32_t>(getpid()); }

    bool IsAlive(std::uint32_t pid) override {
        if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return false;
        if (pid == CurrentPid()) return true;
        // A private block has no other instance; a shared one knows its instances by their locks.
        if (live_ == nullptr || live_->folder < 0) return false;
        posix::UniqueFd file(openat(live_->folder, LiveName(pid).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!file) return false;
        if (flock(file.get(), LOCK_SH | LOCK_NB) == 0) return false;  // nobody holds it: gone
        return errno == EWOULDBLOCK;
    }

    void WatchOwner(std::uint32_t pid) override { watched_ = pid; }

    bool OwnerActive() override { return watched_ != 0 && IsAlive(watched_); }

    bool CreateObjects() override { return true; }
    void ObjectValues(std::uint64_t& mutexValue, std::uint64_t& eventValue) override {
        // Nothing to hand over: the lock is the block's file, the event its change counter.
        mutexValue = 0;
        eventValue = 0;
    }
    bool AdoptObjects(std::uint64_t, std::uint64_t) override { return true; }
    bool HasObjects() override { return true; }
    void CloseObjects() override {}

    std::uintptr_t Lock(std::uint32_t timeoutMs) override {
        // flock belongs to the open file, which this process's threads share: they queue here.
        if (!threads_.try_lock_for(std::chrono::milliseconds(timeoutMs))) return 0;
        if (blockFile_ >= 0 && !LockFile(blockFile_, timeoutMs)) {
            threads_.unlock();
            return 0;
        }
        return 1;
    }

    void Unlock(std::uintptr_t) override {
        if (blockFile_ >= 0) flock(blockFile_, LOCK_UN);
        threads_.unlock();
    }

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

    std::uint64_t NowMs() override { return MonotonicMs(); }

private:
    std::int32_t* generation_;
    int blockFile_;
    const Liveness* live_;
    std::timed_mutex threads_;
    std::uint32_t watched_ = 0;
    std::atomic<bool> interrupted_{false};
};

}  // namespace

std::unique_ptr<InstanceSync> NewInstanceSync(std::uint8_t* block, std::int32_t* generation) {
    return std::make_unique<PosixInstanceSync>(BlockFile(block), generation);
}

}  // namespace vxo::platform
