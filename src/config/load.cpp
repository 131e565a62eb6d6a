// Loading the store: the external configuration file beside the program, then the payload.
#include "common/text.h"
#include "config/config_store.h"
#include "config/payload.h"
#include "platform/platform.h"

namespace vxo {

namespace {
// An external file larger than this is no configuration: it is passed over like a missing one.
constexpr std::size_t kMaxExternalFile = std::size_t{16} << 20;
}  // namespace

std::vector<std::string> ExternalCandidates(const std::string& programPath) {
    if (programPath.empty()) return {};  // names relative to the working folder: never
    std::size_t nameStart = programPath.find_last_of("/\\");
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    std::size_t dot = programPath.rfind('.');
    std::string base = (dot == std::string::npos || dot < nameStart) ? programPath
                                                                     : programPath.substr(0, dot);
    std::vector<std::string> names;
    for (const std::string& stem : {programPath, base}) {
        for (const char* ext : {".cfg", ".config"}) {
            std::string name = stem + ext;
            if (name.size() < platform::kMaxPathLength) names.push_back(std::move(name));
        }
    }
    return names;
}

void Load(ConfigStore& store) {
    LocatePayload(store);
    store.RefreshCurrentDir();
    store.appDir = DirectoryPart(store.appPath);
    // Without its own full path the launcher has nothing of its own to read.
    if (store.appPath.empty()) return;

    for (const std::string& name : ExternalCandidates(store.appPath)) {
        if (!platform::CanRead(name)) continue;
        std::string bytes;
        if (!platform::ReadWholeFile(name, kMaxExternalFile, bytes)) continue;
        store.AppendText(bytes);
        break;  // the first regular file of a sane size is the only one read
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
