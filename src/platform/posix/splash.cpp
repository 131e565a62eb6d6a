// POSIX backend of the splash: no image resources and no native window; the runtime's splash
// library is the only splash here.
#include "platform/platform.h"

namespace vxo::platform {

std::string RawDataResource(int) { return std::string(); }

std::uint64_t LoadSplashBitmap() { return 0; }

bool ShowSplashWindow(std::uint64_t, const std::string&, SplashWindowHandler, SplashWindowHandler) {
    return false;
}

void SetSplashTimer(std::uint64_t, int) {}

void PostSplashClose(std::uint64_t) {}

}  // namespace vxo::platform
