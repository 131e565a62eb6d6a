// Windows backend: environment, registry, libraries and error reporting.
#include "platform/platform.h"
#include "platform/win32/win32_api.h"

#include <cstdlib>
#include <new>

namespace vxo::platform {

using win32::UniqueRegKey;

// ---- Environment -------------------------------------------------------------------------------

std::optional<std::string> GetEnv(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

void PutEnv(const std::string& assignment) {
    // The Microsoft runtime copies the string (unlike POSIX putenv) and mirrors the change
    // into the process environment block, where a runtime loaded later reads it from.
    _putenv(assignment.c_str());
}

// ---- Registry ----------------------------------------------------------------------------------

namespace {

HKEY RootKey(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
        case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
        case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
        case RegistryRoot::Users: return HKEY_USERS;
        case RegistryRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
    }
    return nullptr;
}

// A value can grow between the size query and the read; retry a few times, not forever.
constexpr int kRegistryReadAttempts = 4;

}  // namespace

bool ReadRegistryValue(RegistryRoot root, const std::string& key, const std::string& valueName,
                       RegistryValue& out) {
    out = RegistryValue{};
    const HKEY rootKey = RootKey(root);
    if (rootKey == nullptr) return false;
    UniqueRegKey opened;
    if (::RegOpenKeyExA(rootKey, key.c_str(), 0, KEY_READ, opened.receive()) != ERROR_SUCCESS) {
        return false;
    }
    std::string data;
    for (int attempt = 0; attempt < kRegistryReadAttempts; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExA(opened.get(), valueName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            return false;
        }
        try {
            data.assign(size, '\0');
        } catch (const std::bad_alloc&) {
            return false;
        }
        // For strings the "A" size query may report the wide size; keep what the read returns.
        DWORD got = size;
        const LONG status = ::RegQueryValueExA(opened.get(), valueName.c_str(), nullptr, &type,
                                               reinterpret_cast<BYTE*>(data.empty() ? nullptr : &data[0]),
                                               &got);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return false;
        if (got < data.size()) data.resize(got);
        out.type = type;
        out.data = std::move(data);
        return true;
    }
    return false;
}

bool ListRegistrySubkeys(RegistryRoot root, const std::string& key, std::size_t limit,
                         std::vector<std::string>& names) {
    names.clear();
    const HKEY rootKey = RootKey(root);
    if (rootKey == nullptr) return false;
    UniqueRegKey opened;
    if (::RegOpenKeyExA(rootKey, key.c_str(), 0, KEY_READ, opened.receive()) != ERROR_SUCCESS) return false;
    for (DWORD index = 0; names.size() < limit; ++index) {
        char name[256];  // a key name has at most 255 characters
        DWORD length = sizeof name;
        const LONG status = ::RegEnumKeyExA(opened.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS, or a key changing under us
        names.emplace_back(name, length);
    }
    return true;
}

// ---- Libraries ---------------------------------------------------------------------------------

LibraryHandle LoadLibrary(const std::string& path) {
    return reinterpret_cast<LibraryHandle>(::LoadLibraryA(path.c_str()));
}

void* GetSymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    const FARPROC symbol = ::GetProcAddress(static_cast<HMODULE>(library), name);
    // Function to object pointer through an integer: the callers cast back to the real type.
    return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(symbol));
}

void FreeLibrary(LibraryHandle library) {
    // Qualified: unqualified, this name resolves to ourselves.
    if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
}

void SuppressErrorDialogs() {
    // SetErrorMode only sets, so read the current mode by setting 0 and put it back with ours.
    const UINT current = ::SetErrorMode(0);
    ::SetErrorMode(current | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::string LastErrorText() {
    const DWORD code = ::GetLastError();
    win32::UniqueLocal buffer;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(buffer.receive()), 0, nullptr);
    if (length == 0 || buffer.get() == nullptr) return {};
    std::string text(buffer.get(), length);
    // System texts end in "\r\n"; dlerror's do not, and callers append their own punctuation.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::uint32_t LastErrorCode() { return ::GetLastError(); }

}  // namespace vxo::platform
