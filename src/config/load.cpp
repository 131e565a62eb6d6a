// Loading the store: the external configuration file beside the program, then the payload.
#include "common/text.h"
#include "config/config_store.h"
#include "config/payload.h"
#include "platform/platform.h"

namespace vxo {

namespace {
// GetModuleFileNameA is asked for 260 characters; names must fit the same buffer.
constexpr std::size_t kMaxPath = 260;
}  // namespace

std::vector<std::string> ExternalCandidates(const std::string& programPath) {
    std::size_t nameStart = programPath.find_last_of("/\\");
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    std::size_t dot = programPath.rfind('.');
    std::string base = (dot == std::string::npos || dot < nameStart) ? programPath
                                                                     : programPath.substr(0, dot);
    std::vector<std::string> names;
    for (const std::string& stem : {programPath, base}) {
        for (const char* ext : {".cfg", ".config"}) {
            std::string name = stem + ext;
            if (name.size() < kMaxPath) names.push_back(std::move(name));
        }
    }
    return names;
}

void Load(ConfigStore& store) {
    LocatePayload(store);
    store.RefreshCurrentDir();
    store.appDir = DirectoryPart(store.appPath);

    for (const std::string& name : ExternalCandidates(store.appPath)) {
        if (!platform::CanRead(name)) continue;
        std::string bytes;
        if (!platform::ReadWholeFile(name, bytes)) continue;
        store.AppendText(bytes);
        break;  // the first candidate that opens is the only one read
    }
    if (!store.text.empty()) store.text.append("\r\n");
    store.externalLength = static_cast<std::int32_t>(store.text.size());

    ReadEmbeddedText(store);

    if (EqualsIgnoreCase(store.Get("disableexternal", true, true), "true")) {
        store.text.erase(0, static_cast<std::size_t>(store.externalLength));
        store.externalLength = 0;
    }
}

}  // namespace vxo
