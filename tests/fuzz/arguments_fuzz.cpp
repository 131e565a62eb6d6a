// Fuzz target: the command-line tokenizer never writes past its text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "launcher/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    std::vector<char*> tokens;
    std::vector<std::int32_t> marks;
    vxo::SplitArguments(text.data(), tokens, &marks);
    if (marks.size() != tokens.size()) __builtin_trap();
    for (char* token : tokens) {
        if (token < text.data() || token + std::strlen(token) >= text.data() + text.size()) __builtin_trap();
    }
    return 0;
}
