// POSIX backend: the instance block as a POSIX shared-memory object.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "platform/platform.h"

namespace vxo::platform {

namespace {
// shm names are one path component of limited length: flatten and, when long, hash.
std::string ShmName(const std::string& base) {
    std::string name = base;
    for (char& c : name) {
        if (c == '/') c = '.';
    }
    if (name.size() > 200) name = name.substr(name.size() - 150) + "." + std::to_string(std::hash<std::string>{}(base));
    return "/" + name;
}
}  // namespace

SharedBlock SharedBlock::Open(const std::string& mappingName) {
    SharedBlock block;
    // Without an appid the block belongs to the program file, as the image's shared section does.
    std::string base = mappingName.empty() ? ModuleFileName() + ".vxo.section" : mappingName;
    int fd = shm_open(ShmName(base).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return block;
    struct stat st {};
    if (fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(kInstanceBlockSize) &&
                                ftruncate(fd, kInstanceBlockSize) != 0)) {
        close(fd);
        return block;
    }
    void* view = mmap(nullptr, kInstanceBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
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
