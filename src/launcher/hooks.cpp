// VmStartedHook and InterruptHandler.
#include "launcher/hooks.h"

namespace vxo {

void VmStartedHook() {}
void InterruptHandler(int) {}

}  // namespace vxo
