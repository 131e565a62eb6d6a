// Splash: finding the runtime's splash library. This lookup is the process's first runtime
// search, made before "forcecwd" and the exports can change what the search would see.
#include "common/text.h"
#include "platform/platform.h"
#include "runtime/search.h"
#include "services/services.h"

namespace vxo {

std::string SplashLibraryPath(const ConfigStore& store) {
    std::string runtime = FindJvmLibrary(store);
    if (runtime.empty()) return std::string();
    std::string candidate = DirectoryPart(runtime) + "../" + platform::kSplashLibraryName;
    return platform::CanRead(candidate) ? candidate : std::string();
}

}  // namespace vxo
