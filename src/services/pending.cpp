// Services whose native side is not built yet: start-up and clean-up call them in their fixed
// places, and they do nothing.
#include "services/services.h"

namespace vxo {

InstanceManager::InstanceManager(std::uint8_t* block, std::size_t size) : block_(block), size_(size) {}
void InstanceManager::Shutdown() {}
void StartMessaging() {}

}  // namespace vxo
