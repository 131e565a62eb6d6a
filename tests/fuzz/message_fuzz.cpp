// Fuzz target: message overrides and the formatting of configured message texts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/messages.h"
#include "launcher/version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string value(reinterpret_cast<const char*>(data), size);
    int number = 0;
    std::string text;
    if (vxo::ParseMessageOverride(value, number, text) && number <= 0) __builtin_trap();
    vxo::FormatMessage(text.empty() ? value : text, {"1.8.0_151", "9", "17"});
    vxo::VersionComponents(value);
    return 0;
}
