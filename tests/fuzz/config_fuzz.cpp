// Fuzz target: configuration lookups on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/config_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vxo::ConfigStore store(false, "/fuzz/app.exe");
    store.AppendText(std::string(reinterpret_cast<const char*>(data), size));
    for (const vxo::KeywordInfo& info : vxo::kKeywords) {
        if (info.multiValued) {
            store.Values(info.keyword);
        } else {
            store.Value(info.keyword);
        }
        store.Get(info.name, true, false);
    }
    store.GetMatching("option", "-XstartOnFirstThread", false, true);
    return 0;
}
