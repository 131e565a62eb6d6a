// Link-time choice of the windowed image.
#include "launcher/image.h"

namespace vxo {

bool IsGuiImage() { return true; }

}  // namespace vxo
