// POSIX backend: output targets (an appended file, a started program's pipe) and the standard
// descriptors 1 and 2 switched with dup2.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/spawn.h"

namespace vxo::platform {

namespace {

int DescriptorOf(StandardStream stream) { return stream == StandardStream::Output ? 1 : 2; }
FILE* CStreamOf(StandardStream stream) { return stream == StandardStream::Output ? stdout : stderr; }

// Waits for the program on a thread of its own, so that it leaves no zombie behind whenever it
// ends; the launcher never blocks on it. Only this pid is waited for: the runtime's own
// children stay the runtime's.
void ReapWhenDone(pid_t pid) {
    try {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // No thread: the program stays a zombie until the launcher ends, as before.
    }
}

// The program: standard input from readEnd, output and error to /dev/null, no shell, every
// signal at its default and none blocked, whatever the launcher and the runtime have set.
bool Spawn(const std::vector<std::string>& arguments, int readEnd) {
    const pid_t pid = posix::SpawnQuiet(arguments, readEnd, true);
    if (pid < 0) return false;
    ReapWhenDone(pid);
    return true;
}

// A link that someone else planted in a shared folder: the folder holding it is sticky and
// writable by everyone, and the link belongs neither to us nor to the folder's owner. It is
// not followed, whether or not the kernel's own protection is on.
bool IsPlantedLink(const std::string& path) {
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return false;
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat parent {};
    if (stat(folder.c_str(), &parent) != 0) return true;  // cannot judge it: not followed
    const bool shared = (parent.st_mode & S_ISVTX) != 0 && (parent.st_mode & S_IWOTH) != 0;
    return shared && link.st_uid != geteuid() && link.st_uid != parent.st_uid;
}

// Creates the folders above path that are missing, as the user's own (mode 0700). Bounded by
// the path's length; an existing folder (or anything else in the way) is left as it is.
void CreateParentFolders(const std::string& path) {
    if (path.size() >= PATH_MAX) return;
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (path[slash - 1] == '/') continue;
        mkdir(path.substr(0, slash).c_str(), 0700);
    }
}

// Opening never waits: a FIFO without a reader is a target that cannot be opened (ENXIO).
int OpenForAppend(const std::string& path, bool follow) {
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (follow ? 0 : O_NOFOLLOW);
    int fd = open(path.c_str(), flags, 0666);
    if (fd < 0 && errno == ENOENT) {
        CreateParentFolders(path);
        fd = open(path.c_str(), flags, 0666);
    }
    return fd;
}

}  // namespace

OutputHandle OpenAppendFile(const std::string& path) {
    if (path.empty()) return kNoOutput;
    int fd = OpenForAppend(path, false);
    if (fd < 0 && errno == ELOOP && !IsPlantedLink(path)) fd = OpenForAppend(path, true);
    if (fd < 0) return kNoOutput;
    // Writes then wait for a slow reader as any stream's writes do.
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

OutputHandle StartOutputCommand(const std::string&, const std::vector<std::string>& arguments) {
    if (arguments.empty()) return kNoOutput;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return kNoOutput;
    bool started = Spawn(arguments, ends[0]);
    // The parent keeps no read end: once the program has gone, writes fail instead of filling
    // the pipe and blocking for ever. They fail with EPIPE, not with a signal that ends us; the
    // programs started later get the signal at its default all the same.
    close(ends[0]);
    if (!started) {
        close(ends[1]);
        return kNoOutput;
    }
    signal(SIGPIPE, SIG_IGN);
    return ends[1];
}

void CloseOutput(OutputHandle handle) {
    if (handle != kNoOutput) close(static_cast<int>(handle));
}

bool WriteOutput(OutputHandle handle, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(static_cast<int>(handle), bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SwitchStandardStream(StandardStream stream, OutputHandle target, bool buffered, SavedStream& saved) {
    const int fd = DescriptorOf(stream);
    std::fflush(CStreamOf(stream));
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (dup2(static_cast<int>(target), fd) < 0) {
        if (copy >= 0) close(copy);
        return false;
    }
    saved.value = copy;  // -1 when there was no such descriptor: nothing to give back then
    if (!buffered) std::setvbuf(CStreamOf(stream), nullptr, _IONBF, 0);
    return true;  // descriptors 1 and 2 are what the runtime writes to: it follows
}

void RestoreStandardStream(StandardStream stream, SavedStream& saved) {
    if (saved.value < 0) return;
    std::fflush(CStreamOf(stream));
    dup2(static_cast<int>(saved.value), DescriptorOf(stream));
    close(static_cast<int>(saved.value));
    saved.value = -1;
}

}  // namespace vxo::platform
