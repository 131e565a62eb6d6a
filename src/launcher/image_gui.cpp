// Link-time choice of the windowed image.
#include "launcher/image.h"

#include "services/natives.h"

namespace vxo {

bool IsGuiImage() { return true; }

const NativeTable* ImageNatives(std::size_t& count) {
    count = 1;
    return &kSplashNatives;
}

}  // namespace vxo
