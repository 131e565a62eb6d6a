// What runs once the virtual machine exists: the Java side of the output redirection and the
// interrupt handlers.
#pragma once

namespace vxo {
void VmStartedHook();
void InterruptHandler(int signal);
}  // namespace vxo
