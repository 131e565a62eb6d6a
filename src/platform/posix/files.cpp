// POSIX backend: paths, files, mappings, directory listings and the environment.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "common/text.h"
#include "platform/platform.h"

namespace vxo::platform {

const std::size_t kMaxPathLength = PATH_MAX;
const char kPathListSeparator = ':';
const char* const kJvmLibraryName = "libjvm.so";
const char* const kSplashLibraryName = "libsplashscreen.so";
const bool kEnvironmentNamesIgnoreCase = false;
const char* const kJvmHomeSubdirs[4] = {"", "lib/", "jre/lib/", "../jre/lib/"};

std::string ModuleFileName() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string CurrentDirectory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

// Lexical normalisation like GetFullPathNameA: no need for the path to exist.
std::string FullPathName(const std::string& path) {
    if (path.empty()) return std::string();
    std::string absolute = path[0] == '/' ? path : CurrentDirectory() + "/" + path;
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= absolute.size()) {
        std::size_t j = absolute.find('/', i);
        if (j == std::string::npos) j = absolute.size();
        std::string part = absolute.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (const std::string& part : parts) out += "/" + part;
    if (out.empty()) out = "/";
    if (!absolute.empty() && absolute.back() == '/' && out != "/") out.push_back('/');
    return out.size() < kMaxPathLength ? out : std::string();
}

bool SetCurrentDirectory(const std::string& path) { return chdir(path.c_str()) == 0; }

bool CanRead(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& out) {
    out.clear();
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Read to the end rather than trusting the size: files under /proc report 0. One byte past
    // the limit tells a file that is too large.
    char buffer[65536];
    while (regular) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (out.size() + static_cast<std::size_t>(n) > maxSize) {
            regular = false;
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    if (!regular) out.clear();
    return regular;
}

std::string FolderIdentity(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::string();
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

MappedFile MappedFile::Open(const std::string& path) {
    MappedFile file;
    // Non-blocking: only regular files are mapped, and a FIFO must not make the open wait.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return file;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        void* view = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (view != MAP_FAILED) {
            file.data_ = static_cast<const std::uint8_t*>(view);
            file.size_ = static_cast<std::size_t>(st.st_size);
        }
    }
    close(fd);
    return file;
}

void MappedFile::Reset() {
    if (data_ != nullptr) munmap(const_cast<std::uint8_t*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
}

bool ListDirectory(const std::string& pattern, const std::function<void(const DirEntry&)>& visit) {
    std::size_t slash = pattern.rfind('/');
    std::string folder = slash == std::string::npos ? "./" : pattern.substr(0, slash + 1);
    std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    std::vector<DirEntry> entries;  // collected first: visit may list other folders
    while (dirent* e = readdir(dir)) {
        if (!WildcardMatch(mask, e->d_name)) continue;
        DirEntry entry;
        entry.name = e->d_name;
        struct stat st {};
        entry.isDirectory = stat((folder + entry.name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    for (const DirEntry& entry : entries) visit(entry);
    return true;
}

std::optional<std::string> GetEnv(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void PutEnv(const std::string& assignment) {
    std::size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) return;
    std::string name = assignment.substr(0, eq);
    std::string value = assignment.substr(eq + 1);
    if (value.empty()) {
        unsetenv(name.c_str());  // "NAME=" removes the variable, as _putenv does
    } else {
        setenv(name.c_str(), value.c_str(), 1);
    }
}

std::vector<std::string> SystemRuntimeHomes() {
    std::vector<std::string> homes;
    // The first `java` on PATH, as a shell would run it; relative entries (the empty one among
    // them) would mean the working folder and are passed over.
    std::string path = GetEnv("PATH").value_or("");
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string candidate = path.substr(start, end - start) + "/java";
        start = end + 1;
        struct stat st {};
        if (candidate[0] != '/' || stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            access(candidate.c_str(), X_OK) != 0)
            continue;
        char real[PATH_MAX];
        if (realpath(candidate.c_str(), real) == nullptr) break;
        std::string home = real;  // <home>/bin/java
        for (int up = 0; up < 2 && home.rfind('/') != std::string::npos; ++up) home.resize(home.rfind('/'));
        if (!home.empty()) homes.push_back(home);
        break;
    }
    homes.emplace_back("/usr/lib/jvm/default-java");
    return homes;
}

bool ReadRegistryValue(RegistryRoot, const std::string&, const std::string&, RegistryValue&) {
    return false;  // no registry: defaults and the next source apply
}

}  // namespace vxo::platform

namespace vxo::platform {

bool ListRegistrySubkeys(RegistryRoot, const std::string&, std::size_t, std::vector<std::string>&) {
    return false;  // no registry
}

std::vector<std::string> RuntimeCollectionFolders() { return {"/usr/lib/jvm", "/usr/java", "/opt/java"}; }

std::string LocalSeparators(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

}  // namespace vxo::platform
