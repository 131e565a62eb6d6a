// Link-time choice of the console image.
#include "launcher/image.h"

namespace vxo {

bool IsGuiImage() { return false; }

}  // namespace vxo
