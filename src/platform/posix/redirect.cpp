// POSIX backend: output targets (an appended file, a started program's pipe) and the standard
// descriptors 1 and 2 switched with dup2.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

extern char** environ;

namespace vxo::platform {

namespace {

int DescriptorOf(StandardStream stream) { return stream == StandardStream::Output ? 1 : 2; }
FILE* CStreamOf(StandardStream stream) { return stream == StandardStream::Output ? stdout : stderr; }

// The program: standard input from readEnd, output and error to /dev/null, no shell.
bool Spawn(const std::vector<std::string>& arguments, int readEnd) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    posix_spawn_file_actions_adddup2(&actions, readEnd, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int result = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0;
}

}  // namespace

OutputHandle OpenAppendFile(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0666);
    return fd < 0 ? kNoOutput : fd;
}

OutputHandle StartOutputCommand(const std::string&, const std::vector<std::string>& arguments) {
    if (arguments.empty()) return kNoOutput;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return kNoOutput;
    bool started = Spawn(arguments, ends[0]);
    // The parent keeps no read end: once the program has gone, writes fail instead of filling
    // the pipe and blocking for ever. They fail with EPIPE, not with a signal that ends us.
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
