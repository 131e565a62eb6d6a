// Fuzz target: UTF-8 decoding; decoding what was encoded gives the units back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string units = vxo::DecodeUtf8(std::string(reinterpret_cast<const char*>(data), size));
    if (units.size() > size) __builtin_trap();
    if (vxo::DecodeUtf8(vxo::EncodeUtf8(units)) != units) __builtin_trap();
    return 0;
}
