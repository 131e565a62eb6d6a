// Link-time choice of the console image.
#include "launcher/image.h"

namespace vxo {

bool IsGuiImage() { return false; }

const NativeTable* ImageNatives(std::size_t& count) {
    count = 0;
    return nullptr;
}

}  // namespace vxo
