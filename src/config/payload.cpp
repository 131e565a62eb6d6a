// Payload reader: the archive-length slot, the trailer search and the embedded text.
#include "config/payload.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "config/config_store.h"
#include "platform/platform.h"

// The slot the packer patches: the archive length, then the marker. Volatile, so the compiler
// never folds the pristine zero into the code that reads it.
extern "C" {
__attribute__((used)) volatile const unsigned char vxo_archive_slot[vxo::kSlotSize] = {
    0, 0, 0, 0, 0, 0, 0, 0, 'V', 'E', 'X', 'I', 'L', 'O', '_', 'A', 'R', 'C', 'L', 'E', 'N', 0};
}

namespace vxo {

namespace {

constexpr std::uint8_t kEocdSignature[4] = {0x50, 0x4B, 0x05, 0x06};
constexpr std::size_t kMinimumWindow = 51200;

std::uint64_t ArchiveLengthFromSlot() {
    const auto& slot = ReadSlot();
    std::uint64_t a = 0;
    for (int i = 0; i < 8; ++i) a |= static_cast<std::uint64_t>(slot[i]) << (8 * i);
    return a & 0xFFFFFFFFu;  // the launcher uses the low 32 bits
}

}  // namespace

const std::array<std::uint8_t, kSlotSize>& ReadSlot() {
    static std::array<std::uint8_t, kSlotSize> slot;
    for (std::size_t i = 0; i < kSlotSize; ++i) slot[i] = vxo_archive_slot[i];
    if (platform::GetEnv("_VEXILO_BINARY_DEBUG_")) {
        char line[kSlotSize + 2];
        for (std::size_t i = 0; i < kSlotSize; ++i) line[i] = slot[i] < 0x20 ? '.' : static_cast<char>(slot[i]);
        line[kSlotSize] = '\n';
        line[kSlotSize + 1] = '\0';
        std::fputs(line, stdout);
        std::fflush(stdout);
    }
    return slot;
}

std::size_t TrailerLength(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < kEndOfCentralDirectorySize) return 0;
    std::size_t window = std::max(size / 100, kMinimumWindow) + kEndOfCentralDirectorySize;
    std::size_t first = size > window ? size - window : 0;
    for (std::size_t p = size - kEndOfCentralDirectorySize + 1; p-- > first;) {
        if (std::memcmp(data + p, kEocdSignature, sizeof kEocdSignature) == 0)
            return size - (p + kEndOfCentralDirectorySize);
    }
    return 0;
}

std::int64_t PayloadOffset(std::size_t size, std::uint64_t archiveLength, std::size_t trailerLength) {
    // Offsets are signed 32-bit in the format; larger files are not supported.
    if (size > 0x7FFFFFFF) return -1;
    std::int64_t d = static_cast<std::int64_t>(size) - static_cast<std::int64_t>(trailerLength) -
                     static_cast<std::int64_t>(archiveLength) - static_cast<std::int64_t>(kDigestSize);
    // The length field before the digest area must lie inside the file.
    if (d < 4) return -1;
    return d;
}

std::string EmbeddedText(const std::uint8_t* data, std::size_t size, std::int64_t digestOffset) {
    if (data == nullptr || digestOffset < 4 || static_cast<std::uint64_t>(digestOffset) > size)
        return std::string();
    std::size_t lengthAt = static_cast<std::size_t>(digestOffset) - 4;
    std::int32_t t = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(data[lengthAt]) | static_cast<std::uint32_t>(data[lengthAt + 1]) << 8 |
        static_cast<std::uint32_t>(data[lengthAt + 2]) << 16 |
        static_cast<std::uint32_t>(data[lengthAt + 3]) << 24);
    if (t <= 0 || static_cast<std::size_t>(t) > lengthAt) return std::string();
    const std::uint8_t* begin = data + lengthAt - static_cast<std::size_t>(t);
    const std::uint8_t* end = std::find(begin, begin + t, 0);
    std::string text(static_cast<std::size_t>(t), '\0');
    std::copy(begin, end, text.begin());
    return text;
}

std::string FindArchiveTrailer(const std::string& programPath) {
    platform::MappedFile file = platform::MappedFile::Open(programPath);
    std::size_t c = TrailerLength(file.data(), file.size());
    if (c == 0) return std::string();
    const char* tail = reinterpret_cast<const char*>(file.data()) + file.size() - c;
    return std::string(tail, c);
}

void LocatePayload(ConfigStore& store) {
    std::uint64_t a = ArchiveLengthFromSlot();
    platform::MappedFile file = platform::MappedFile::Open(store.appPath);
    std::size_t c = TrailerLength(file.data(), file.size());
    std::int64_t d = PayloadOffset(file.size(), a, c);
    store.payloadOffset = static_cast<std::int32_t>(d);
}

void ReadEmbeddedText(ConfigStore& store) {
    platform::MappedFile file = platform::MappedFile::Open(store.appPath);
    std::string text = EmbeddedText(file.data(), file.size(), store.payloadOffset);
    if (!text.empty()) store.AppendText(text);
}

}  // namespace vxo
