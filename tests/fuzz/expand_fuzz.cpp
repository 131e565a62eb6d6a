// Fuzz target: value expansion of arbitrary text, with and without conversion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/config_store.h"
#include "config/expand.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool once = [] {
        setenv("VXO_FUZZ_VAR", "v\xE9%x%", 1);
        return true;
    }();
    (void)once;
    static vxo::ConfigStore store(false, "/fuzz/app/tool.exe");
    std::string text(reinterpret_cast<const char*>(data), size);
    vxo::ExpandValue(store, text, false);
    vxo::ExpandValue(store, text, true);
    vxo::ExpandValueForEscapes(store, text);
    return 0;
}
