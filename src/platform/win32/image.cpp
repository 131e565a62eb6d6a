// Windows backend: message box, the shared instance block and the image's string table.
#include "common/text.h"
#include "platform/platform.h"
#include "platform/win32/win32_api.h"

#include <cstdio>
#include <cstring>

namespace vxo::platform {

using win32::UniqueHandle;
using win32::UniqueView;

const char kPathListSeparator = ';';
const char* const kJvmLibraryName = "jvm.dll";
const char* const kSplashLibraryName = "splashscreen.dll";
const bool kEnvironmentNamesIgnoreCase = true;

// ---- Message box -------------------------------------------------------------------------------

void ShowMessageBox(const std::string& text, const std::string& caption, std::uint64_t owner) {
    ::MessageBoxA(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(owner)), text.c_str(), caption.c_str(),
                  MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST);
}

// ---- SharedBlock -------------------------------------------------------------------------------

// Kernel object names are at most MAX_PATH characters with the terminating NUL: a name up to
// that is used as it is; only a longer one keeps its end and gains a hash of the whole (the
// same rule as the POSIX backend's file names).
constexpr std::size_t kObjectNameLimit = MAX_PATH - 1;

SharedBlock SharedBlock::Open(const std::string& mappingName) {
    SharedBlock block;
    if (!mappingName.empty()) {
        // Backed by the paging file, in the session's own namespace: every copy of the
        // application this user runs in this session sees one block, nobody else does.
        UniqueHandle mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  static_cast<DWORD>(kInstanceBlockSize),
                                                  HashedTail(mappingName, kObjectNameLimit).c_str()));
        if (mapping.valid()) {
            UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kInstanceBlockSize));
            if (view.get() != nullptr) {
                block.data_ = static_cast<std::uint8_t*>(view.release());
                block.size_ = kInstanceBlockSize;
                block.handle_ = win32::FromHandle(mapping.release());
                block.kind_ = Kind::Mapped;
                return block;
            }
        }
    }
    // No shared block: this process is its own only instance.
    block.data_ = new std::uint8_t[kInstanceBlockSize]();
    block.size_ = kInstanceBlockSize;
    block.kind_ = Kind::Private;
    return block;
}

void SharedBlock::Reset() {
    if (kind_ == Kind::Mapped) {
        // Declared in this order so the view is unmapped before its mapping handle closes.
        UniqueHandle mapping(win32::ToHandle(handle_));
        UniqueView view(data_);
    } else if (kind_ == Kind::Private) {
        delete[] data_;
    }
    data_ = nullptr;
    size_ = 0;
    handle_ = 0;
    kind_ = Kind::None;
}

// ---- String table ------------------------------------------------------------------------------

std::u16string LoadStringResource(int number) {
    // Strings live in blocks of 16; block n + 1 holds numbers 16n .. 16n + 15.
    if (number < 0 || number / 16 + 1 > 0xFFFF) return {};
    const HMODULE module = ::GetModuleHandleA(nullptr);
    const HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(number / 16 + 1),
                                        MAKEINTRESOURCEA(6) /* RT_STRING */);
    if (found == nullptr) return {};
    const DWORD size = ::SizeofResource(module, found);
    const HGLOBAL loaded = ::LoadResource(module, found);
    if (loaded == nullptr || size == 0) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(::LockResource(loaded));
    if (bytes == nullptr) return {};

    // Each entry: a 16-bit length, then that many UTF-16 units. Check every step against the
    // resource size; a damaged table yields nothing rather than a read past its end.
    std::size_t offset = 0;
    const int wanted = number % 16;
    for (int entry = 0; entry < 16; ++entry) {
        if (size - offset < sizeof(std::uint16_t)) return {};
        std::uint16_t length = 0;
        std::memcpy(&length, bytes + offset, sizeof(length));
        offset += sizeof(length);
        const std::size_t byteLength = std::size_t{length} * sizeof(char16_t);
        if (size - offset < byteLength) return {};
        if (entry == wanted) {
            std::u16string text(length, u'\0');
            if (byteLength != 0) std::memcpy(&text[0], bytes + offset, byteLength);
            return text;
        }
        offset += byteLength;
    }
    return {};
}

}  // namespace vxo::platform
