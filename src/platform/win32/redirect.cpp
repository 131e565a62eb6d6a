// Windows backend: output targets (an appended file, a started program's pipe) and the
// standard handles switched with SetStdHandle, the C runtime's streams following.
#include "platform/platform.h"
#include "platform/win32/win32_api.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace vxo::platform {

using win32::FromHandle;
using win32::ToHandle;
using win32::UniqueHandle;

namespace {

DWORD StdHandleId(StandardStream stream) {
    return stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

FILE* CStreamOf(StandardStream stream) { return stream == StandardStream::Output ? stdout : stderr; }

// Points stdout or stderr at a duplicate of target, so the launcher's own prints follow.
void RebindCStream(StandardStream stream, HANDLE target, bool buffered) {
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), target, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return;
    const int flags = _O_WRONLY | _O_TEXT | (buffered ? 0 : _O_APPEND);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy), flags);
    if (fd < 0) {
        ::CloseHandle(copy);
        return;
    }
    FILE* c = CStreamOf(stream);
    std::fflush(c);
    // A windowed program's stream may have no descriptor behind it yet.
    if (_fileno(c) < 0 && std::freopen("NUL", "w", c) == nullptr) {
        _close(fd);
        return;
    }
    _dup2(fd, _fileno(c));
    _close(fd);
    std::setvbuf(c, nullptr, buffered ? _IOFBF : _IONBF, buffered ? BUFSIZ : 0);
}

// Creates the folders above path that are missing, from the first one below the drive or the
// share. Bounded by the path's length; whatever is in the way is left as it is.
void CreateParentFolders(const std::string& path) {
    if (path.size() >= MAX_PATH) return;
    std::size_t from = 0;
    if (path.size() >= 2 && path[1] == ':') {
        from = 3;  // "C:\"
    } else if (path.rfind(R"(\\)", 0) == 0 || path.rfind("//", 0) == 0) {
        // A UNC path: the server's share itself is not ours to make.
        const std::size_t server = path.find_first_of("\\/", 2);
        from = server == std::string::npos ? path.size() : path.find_first_of("\\/", server + 1);
        if (from == std::string::npos) return;
        ++from;
    }
    for (std::size_t at = path.find_first_of("\\/", from); at != std::string::npos;
         at = path.find_first_of("\\/", at + 1)) {
        if (at == 0 || path[at - 1] == '\\' || path[at - 1] == '/') continue;
        ::CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    }
}

// Append access without write access: the system puts every write at the end of the file as
// it is then, so two handles on one file (two programs, or two spellings of one path) never
// write over each other's lines.
HANDLE OpenForAppend(const std::string& path) {
    return ::CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_ARCHIVE, nullptr);
}

}  // namespace

OutputHandle OpenAppendFile(const std::string& path) {
    if (path.empty()) return kNoOutput;
    HANDLE file = OpenForAppend(path);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
        CreateParentFolders(path);
        file = OpenForAppend(path);
    }
    if (file == INVALID_HANDLE_VALUE) return kNoOutput;
    return FromHandle(file);
}

OutputHandle StartOutputCommand(const std::string& commandLine, const std::vector<std::string>&) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readRaw = nullptr, writeRaw = nullptr;
    if (!::CreatePipe(&readRaw, &writeRaw, &inherit, 0)) return kNoOutput;
    UniqueHandle readEnd(readRaw), inheritableWrite(writeRaw);
    HANDLE writeEnd = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), writeRaw, ::GetCurrentProcess(), &writeEnd, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return kNoOutput;
    UniqueHandle ownWrite(writeEnd);
    inheritableWrite.reset();
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd.get();
    PROCESS_INFORMATION process{};
    std::string line = commandLine;  // CreateProcessA may write into its command line
    if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &process))
        return kNoOutput;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    // The read end goes with readEnd: once the program has gone, writes fail instead of filling
    // the pipe and blocking for ever.
    return FromHandle(ownWrite.release());
}

void CloseOutput(OutputHandle handle) {
    if (handle != kNoOutput) ::CloseHandle(ToHandle(handle));
}

bool WriteOutput(OutputHandle handle, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(ToHandle(handle), bytes, chunk, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

bool SwitchStandardStream(StandardStream stream, OutputHandle target, bool buffered, SavedStream& saved) {
    const DWORD id = StdHandleId(stream);
    saved.value = FromHandle(::GetStdHandle(id));
    ::SetStdHandle(id, ToHandle(target));
    const bool follows = ::GetStdHandle(id) == ToHandle(target);
    RebindCStream(stream, ToHandle(target), buffered);
    return follows;
}

void RestoreStandardStream(StandardStream stream, SavedStream& saved) {
    if (saved.value == -1) return;
    std::fflush(CStreamOf(stream));
    ::SetStdHandle(StdHandleId(stream), ToHandle(saved.value));
    saved.value = -1;
}

}  // namespace vxo::platform
