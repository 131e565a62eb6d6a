// Names the POSIX backend gives its files, and the per-user folder that holds them.
#include "platform/posix/names.h"

#include "common/text.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace vxo::platform::posix {

namespace {

// Opens `path` when it is a folder only this user can use: a real directory (never a link),
// owned by the effective user, with (mode & mask) == (0700 & mask). Sets `error` otherwise.
UniqueFd OpenPrivateDirectory(int at, const char* path, mode_t mask, int& error) {
    UniqueFd dir(openat(at, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
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

// `path` made 0700 when missing, then opened as above.
UniqueFd MakePrivateDirectory(int at, const char* path, int& error) {
    if (mkdirat(at, path, 0700) != 0 && errno != EEXIST) {
        error = errno;
        return UniqueFd();
    }
    return OpenPrivateDirectory(at, path, 077, error);
}

}  // namespace

std::string FileComponent(std::string_view name, std::size_t limit) {
    std::string component = HashedTail(name, limit);
    for (char& c : component) {
        if (c == '/') c = '.';
    }
    return component;
}

UserFolderPlaces DefaultUserFolderPlaces(uid_t uid) {
    UserFolderPlaces places;
    places.runtime = "/run/user/" + std::to_string(uid);
    places.shared = "/tmp/vexilo-" + std::to_string(uid);
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 && size < (1L << 20) ? static_cast<std::size_t>(size) : 16384);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        places.home = found->pw_dir;
        // A home can be shared between machines; the folder is this machine's.
        char host[HOST_NAME_MAX + 1] = {};
        if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') std::snprintf(host, sizeof host, "localhost");
        places.inHome = FileComponent(std::string(".vexilo-") + host, NAME_MAX);
    }
    return places;
}

UniqueFd OpenUserFolder(const UserFolderPlaces& places, int& error, std::string* chosen) {
    error = ENOENT;
    if (!places.runtime.empty()) {
        UniqueFd dir = OpenPrivateDirectory(AT_FDCWD, places.runtime.c_str(), 0777, error);
        if (dir) {
            if (chosen != nullptr) *chosen = places.runtime;
            return dir;
        }
    }
    if (!places.shared.empty()) {
        UniqueFd dir = MakePrivateDirectory(AT_FDCWD, places.shared.c_str(), error);
        if (dir) {
            if (chosen != nullptr) *chosen = places.shared;
            return dir;
        }
    }
    if (!places.home.empty() && !places.inHome.empty()) {
        // The home itself comes from the password database; only the folder in it is ours to check.
        UniqueFd home(open(places.home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!home) {
            error = errno;
            return UniqueFd();
        }
        UniqueFd dir = MakePrivateDirectory(home.get(), places.inHome.c_str(), error);
        if (dir) {
            if (chosen != nullptr) *chosen = places.home + "/" + places.inHome;
            return dir;
        }
    }
    return UniqueFd();
}

UniqueFd OpenUserFolder(int& error, std::string* chosen) {
    static std::mutex lock;
    static UserFolderPlaces* places = nullptr;  // never destroyed: read during exit
    {
        std::lock_guard<std::mutex> guard(lock);
        if (places == nullptr) places = new UserFolderPlaces(DefaultUserFolderPlaces(geteuid()));
    }
    return OpenUserFolder(*places, error, chosen);
}

UniqueFd OpenPrivateFile(int folder, const std::string& name, int& error) {
    UniqueFd file(openat(folder, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat st {};
    if (!file || fstat(file.get(), &st) != 0) {
        error = errno;
        return UniqueFd();
    }
    if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0 || st.st_nlink != 1) {
        error = EACCES;
        return UniqueFd();
    }
    return file;
}

UniqueFd OpenLockFile(const std::string& name, int& error) {
    UniqueFd dir = OpenUserFolder(error);
    if (!dir) return dir;
    return OpenPrivateFile(dir.get(), name, error);
}

}  // namespace vxo::platform::posix
