// Fuzz target: the payload reader on arbitrary program files.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/config_store.h"
#include "config/payload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first four bytes choose the archive length the slot would hold.
    std::uint32_t archive = 0;
    if (size >= 4) std::memcpy(&archive, data, 4);
    std::size_t trailer = vxo::TrailerLength(data, size);
    std::int64_t d = vxo::PayloadOffset(size, archive, trailer);
    std::string text = vxo::EmbeddedText(data, size, d);
    if (d >= 0 && text.size() > static_cast<std::size_t>(d)) __builtin_trap();
    vxo::ConfigStore store(false, "/fuzz/app");
    store.AppendText(text);
    store.Value(vxo::Keyword::MainClass);
    return 0;
}
