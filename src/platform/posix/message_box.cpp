// POSIX backend: the message box. Standard error always gets the text. A windowed launcher
// started away from a terminal (from a desktop icon, say) has nobody reading its standard
// error, so on a display it also shows the text in a window: a dialog program when one is
// installed (started without a shell), else a small X11 window of its own.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"
#include "platform/posix/message_box.h"
#include "platform/posix/spawn.h"
#include "platform/posix/unique_fd.h"

namespace vxo::platform {

namespace posix {

std::string FindProgramOnPath(const std::string& name, const std::string& pathList) {
    std::size_t start = 0;
    while (start <= pathList.size()) {
        std::size_t end = pathList.find(':', start);
        if (end == std::string::npos) end = pathList.size();
        const std::string folder = pathList.substr(start, end - start);
        start = end + 1;
        if (folder.empty() || folder[0] != '/') continue;
        const std::string candidate = folder + "/" + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

namespace {

std::vector<std::string> ZenityArguments(const std::string& text, const std::string& caption) {
    return {"--warning", "--no-markup", "--title=" + caption, "--text=" + text};
}

std::vector<std::string> KdialogArguments(const std::string& text, const std::string& caption) {
    return {"--title", caption, "--sorry", text};
}

std::vector<std::string> XmessageArguments(const std::string&, const std::string& caption) {
    return {"-center", "-title", caption, "-buttons", "OK:0", "-default", "OK", "-file", "-"};
}

}  // namespace

const DialogProgram kDialogPrograms[3] = {
    {"zenity", &ZenityArguments, false},
    {"kdialog", &KdialogArguments, false},
    {"xmessage", &XmessageArguments, true},
};

// The small window of our own, for a display without any dialog program (message_window.cpp).
bool ShowTextWindow(const std::string& text, const std::string& caption, int waitSeconds);

}  // namespace posix

namespace {

// As long as a dialog waits for its answer; then it is closed, and the launcher goes on ending.
constexpr int kDialogWaitSeconds = 600;
// What a window shows at most; standard error has the whole text.
constexpr std::size_t kMaxWindowText = 32768;

void SleepMs(long ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

// Waits for the dialog until it ends or the time is up, then ends it. Never waits unbounded.
void AwaitDialog(pid_t pid) {
    int status = 0;
    for (long waited = 0; waited < kDialogWaitSeconds * 1000L; waited += 50) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) return;
        SleepMs(50);
    }
    kill(pid, SIGTERM);
    for (int waited = 0; waited < 2000; waited += 50) {
        if (waitpid(pid, &status, WNOHANG) != 0) return;
        SleepMs(50);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

// Starts the dialog program: an argument array, no shell, output discarded, signals at their
// defaults; `input` (when not -1) becomes its standard input.
pid_t StartDialog(const std::string& path, const std::vector<std::string>& arguments, int input) {
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return posix::SpawnQuiet(argv, input, false);
}

bool ShowWithProgram(const posix::DialogProgram& program, const std::string& path, const std::string& text,
                     const std::string& caption) {
    posix::UniqueFd ours, theirs;
    if (program.textOnInput) {
        // A socket rather than a pipe: a dialog that is gone before it reads costs an error, not
        // a SIGPIPE that would end the launcher.
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
        ours = posix::UniqueFd(pair[0]);
        theirs = posix::UniqueFd(pair[1]);
    }
    const pid_t pid = StartDialog(path, program.arguments(text, caption), theirs.get());
    theirs = posix::UniqueFd();
    if (pid < 0) return false;
    if (ours) {
        // The text is far below the socket's buffer, so this never waits on the reader.
        const char* at = text.data();
        std::size_t left = text.size();
        while (left > 0) {
            const ssize_t sent = send(ours.get(), at, left, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) break;
            at += sent;
            left -= static_cast<std::size_t>(sent);
        }
        shutdown(ours.get(), SHUT_WR);
    }
    AwaitDialog(pid);
    return true;
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return true;
    }
    return false;
}

}  // namespace

void ShowMessageBox(const std::string& text, const std::string& caption, std::uint64_t) {
    // Whoever reads a terminal sees the text there; nobody else might read standard error.
    const bool terminal = isatty(2) != 0;
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    if (terminal || !HasDisplay()) return;
    const std::string shown = text.size() > kMaxWindowText ? text.substr(0, kMaxWindowText) : text;
    const char* searchPath = std::getenv("PATH");
    for (const posix::DialogProgram& program : posix::kDialogPrograms) {
        const std::string path = posix::FindProgramOnPath(program.name, searchPath != nullptr ? searchPath : "");
        if (!path.empty() && ShowWithProgram(program, path, shown, caption)) return;
    }
    posix::ShowTextWindow(shown, caption, kDialogWaitSeconds);
}

}  // namespace vxo::platform
