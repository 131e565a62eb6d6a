// Names the POSIX backend gives its lock files and shared-memory objects.
#include "platform/posix/names.h"

#include "common/text.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace vxo::platform::posix {

namespace {
// Opens `path` when it is a folder only this user can use: a real directory (never a link),
// owned by the effective user, with (mode & mask) == (0700 & mask). Sets `error` otherwise.
UniqueFd OpenPrivateDirectory(const char* path, mode_t mask, int& error) {
    UniqueFd dir(open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!dir || fstat(dir.get(), &st) != 0) {
        error = errno;
        return UniqueFd();
    }
    if (st.st_uid != geteuid() || (st.st_mode & mask) != (0700 & mask)) {
        error = EACCES;
        return UniqueFd();
    }
    return dir;
}

// The folder for lock files: $XDG_RUNTIME_DIR when it is absolute, ours and exactly 0700, else
// /tmp/vexilo-<uid>, which anyone could have made first, so it must be ours with no group or
// other bits. Checked through the open descriptor, so a swap after the check does not matter.
UniqueFd OpenRuntimeDirectory(int& error) {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && xdg[0] == '/') {
        UniqueFd dir = OpenPrivateDirectory(xdg, 0777, error);
        if (dir) return dir;
    }
    std::string fallback = "/tmp/vexilo-" + std::to_string(geteuid());
    if (mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST) {
        error = errno;
        return UniqueFd();
    }
    return OpenPrivateDirectory(fallback.c_str(), 077, error);
}

}  // namespace

std::string FileComponent(std::string_view name, std::size_t limit) {
    std::string component = HashedTail(name, limit);
    for (char& c : component) {
        if (c == '/') c = '.';
    }
    return component;
}

std::string SharedMemoryName(std::string_view base, uid_t uid) {
    std::string name = "/vexilo-" + std::to_string(uid) + "-";
    // The slash does not count: the object is a file of that name in the shm folder.
    return name + FileComponent(base, NAME_MAX - (name.size() - 1));
}

// The lock file `name` in the runtime folder: a regular file of ours, never through a link.
UniqueFd OpenLockFile(const std::string& name, int& error) {
    UniqueFd dir = OpenRuntimeDirectory(error);
    if (!dir) return dir;
    UniqueFd file(
        openat(dir.get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat st {};
    if (!file || fstat(file.get(), &st) != 0) {
        error = errno;
        return UniqueFd();
    }
    if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        error = EACCES;
        return UniqueFd();
    }
    return file;
}

}  // namespace vxo::platform::posix
