// POSIX backend: the instance block as a POSIX shared-memory object.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/names.h"
#include "platform/posix/unique_fd.h"

namespace vxo::platform {

namespace {
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
}  // namespace

SharedBlock SharedBlock::Open(const std::string& mappingName) {
    SharedBlock block;
    // Without an appid the block belongs to the program file, as the image's shared section does.
    std::string base = mappingName.empty() ? ModuleFileName() + ".vxo.section" : mappingName;
    std::string name = posix::SharedMemoryName(base, geteuid());
    posix::UniqueFd fd(shm_open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd || !PrepareObject(fd.get())) return block;
    void* view = mmap(nullptr, kInstanceBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (view == MAP_FAILED) return block;
    block.data_ = static_cast<std::uint8_t*>(view);
    block.size_ = kInstanceBlockSize;
    block.owned_ = true;
    return block;
}

void SharedBlock::Reset() {
    if (data_ != nullptr && owned_) munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
    owned_ = false;
}

}  // namespace vxo::platform
