// The image's own shared data section: where SharedBlock::Open("") points, and what the backend
// tests look up in the image's section table.
#pragma once

#include <cstddef>
#include <cstdint>

// Section names in a PE image are at most 8 bytes.
#define VXO_SHARED_SECTION_NAME ".vxoshr"

namespace vxo::platform::win32 {

constexpr std::size_t kSharedSectionSize = 3072;
extern std::uint8_t gSharedSection[kSharedSectionSize];

}  // namespace vxo::platform::win32
