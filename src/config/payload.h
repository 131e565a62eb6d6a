// The payload appended to a launcher image: locating it and reading its configuration text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vxo {

class ConfigStore;

constexpr std::size_t kSlotSize = 22;
constexpr std::size_t kDigestSize = 16;
constexpr std::size_t kEndOfCentralDirectorySize = 22;
// The 13-character marker after the archive length, by which the packer finds the slot.
inline constexpr char kSlotMarker[] = "VEXILO_ARCLEN";

// The image's 22 slot bytes, copied into a process-wide buffer. With "_VEXILO_BINARY_DEBUG_"
// in the environment they are also printed to standard output.
const std::array<std::uint8_t, kSlotSize>& ReadSlot();

// Length of whatever follows the last end-of-central-directory record in the search window at
// the end of data (0 when there is none).
std::size_t TrailerLength(const std::uint8_t* data, std::size_t size);

// Offset D of the digest area for a file of `size` bytes, or -1 when the fields do not fit.
std::int64_t PayloadOffset(std::size_t size, std::uint64_t archiveLength, std::size_t trailerLength);

// The configuration text that ends 4 bytes before `digestOffset` (T bytes, cut at the first
// NUL and padded with NULs), or empty when T does not fit inside the file.
std::string EmbeddedText(const std::uint8_t* data, std::size_t size, std::int64_t digestOffset);

// The bytes after the program file's end-of-central-directory record.
std::string FindArchiveTrailer(const std::string& programPath);

// Store operations: set payloadOffset, and append the embedded text.
void LocatePayload(ConfigStore& store);
void ReadEmbeddedText(ConfigStore& store);

}  // namespace vxo
