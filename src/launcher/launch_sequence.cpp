// The JVM launch sequence.
#include "launcher/launch.h"

namespace vxo {

std::int32_t RunLaunchSequence(ConfigStore&, JvmHolder&, const LaunchRequest&) { return kLaunchOk; }

}  // namespace vxo
