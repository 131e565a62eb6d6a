// Windows backend: paths, files, mapped files and directory listings (ANSI calls throughout).
#include "platform/platform.h"
#include "platform/win32/win32_api.h"

#include <io.h>

#include <cerrno>
#include <new>

namespace vxo::platform {

const std::size_t kMaxPathLength = MAX_PATH;

using win32::UniqueHandle;
using win32::UniqueView;

namespace {

// The launcher's path buffers are MAX_PATH long; longer paths are treated as failures.
constexpr DWORD kPathBufferSize = static_cast<DWORD>(kMaxPathLength);

UniqueHandle OpenForReading(const std::string& path) {
    // Share write too: a file the packer or an editor still holds open must stay readable.
    return UniqueHandle(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The folder part of a _findfirst pattern, keeping its trailing separator so "C:\" stays a root.
std::string FolderOfPattern(const std::string& pattern) {
    const std::size_t cut = pattern.find_last_of("\\/:");
    if (cut == std::string::npos) return ".";
    return pattern.substr(0, cut + 1);
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class FindGuard {
public:
    explicit FindGuard(intptr_t handle) : handle_(handle) {}
    FindGuard(const FindGuard&) = delete;
    FindGuard& operator=(const FindGuard&) = delete;
    ~FindGuard() { _findclose(handle_); }

private:
    intptr_t handle_;
};

}  // namespace

std::string ModuleFileName() {
    char buffer[kPathBufferSize];
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, kPathBufferSize);
    // A full buffer means the name was truncated; a cut path is worse than none.
    if (length == 0 || length >= kPathBufferSize) return {};
    return std::string(buffer, length);
}

std::string CurrentDirectory() {
    char buffer[kPathBufferSize];
    const DWORD length = ::GetCurrentDirectoryA(kPathBufferSize, buffer);
    // On overflow the call returns the size it would need, which is >= the buffer size.
    if (length == 0 || length >= kPathBufferSize) return {};
    return std::string(buffer, length);
}

std::string FullPathName(const std::string& path) {
    char buffer[kPathBufferSize];
    const DWORD length = ::GetFullPathNameA(path.c_str(), kPathBufferSize, buffer, nullptr);
    if (length == 0 || length >= kPathBufferSize) return {};
    return std::string(buffer, length);
}

bool SetCurrentDirectory(const std::string& path) {
    return ::SetCurrentDirectoryA(path.c_str()) != FALSE;
}

bool CanRead(const std::string& path) { return _access(path.c_str(), 4) == 0; }

bool Exists(const std::string& path) { return _access(path.c_str(), 0) == 0; }

bool ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& out) {
    out.clear();
    UniqueHandle file = OpenForReading(path);
    if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    const unsigned long long size =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > maxSize || size > MAXDWORD) return false;
    if (size == 0) return true;
    try {
        out.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    DWORD read = 0;
    if (!::ReadFile(file.get(), &out[0], static_cast<DWORD>(size), &read, nullptr)) read = 0;
    out.resize(read);
    return true;
}

std::string FolderIdentity(const std::string& path) {
    // Backup semantics open folders; the final path follows junctions and links to their end.
    UniqueHandle folder(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid()) return {};
    std::string name(kPathBufferSize, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleA(folder.get(), &name[0],
                                                         static_cast<DWORD>(name.size()), 0);
        if (length == 0) return {};
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.assign(length + 1, '\0');  // the call asked for this much, NUL included
    }
    return {};
}

// ---- MappedFile ------------------------------------------------------------------------------

MappedFile MappedFile::Open(const std::string& path) {
    MappedFile result;
    UniqueHandle file = OpenForReading(path);
    if (!file.valid()) return result;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0) return result;
    if (static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) return result;
    // The mapping keeps the file open on its own, so the file handle can go right away.
    UniqueHandle mapping(::CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.valid()) return result;
    UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (view.get() == nullptr) return result;
    result.data_ = static_cast<const std::uint8_t*>(view.release());
    result.size_ = static_cast<std::size_t>(size.QuadPart);
    result.mapping_ = win32::FromHandle(mapping.release());
    return result;
}

void MappedFile::Reset() {
    // Declared in this order so the view is unmapped before its mapping handle closes.
    UniqueHandle mapping(win32::ToHandle(mapping_));
    UniqueView view(const_cast<std::uint8_t*>(data_));
    data_ = nullptr;
    size_ = 0;
    mapping_ = 0;
}

// ---- Directory listing -------------------------------------------------------------------------

bool ListDirectory(const std::string& pattern, const std::function<void(const DirEntry&)>& visit) {
    _finddata_t found{};
    const intptr_t handle = _findfirst(pattern.c_str(), &found);
    if (handle == -1) {
        // The runtime reports "no match" and "no such folder" alike; only the latter fails.
        return errno == ENOENT && IsDirectory(FolderOfPattern(pattern));
    }
    FindGuard guard(handle);
    DirEntry entry;
    do {
        entry.name = found.name;
        entry.isDirectory = (found.attrib & _A_SUBDIR) != 0;
        visit(entry);
    } while (_findnext(handle, &found) == 0);
    return true;
}

}  // namespace vxo::platform
