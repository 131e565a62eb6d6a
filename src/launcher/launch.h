// The launch request handed from the entry thread to the launch sequence, and its results.
#pragma once

#include <cstdint>

namespace vxo {

class ConfigStore;
struct JvmHolder;

enum LaunchResult : std::int32_t {
    // main ended with an uncaught exception, or its argument array could not be built: the
    // runtime has described the exception, and the process ends with 1 as the java launcher's
    // does, without a message of its own.
    kApplicationFailed = -1,
    kLaunchOk = 0,
    kNoRuntime = 1,
    kRuntimeNotValid = 2,
    kVmCreateFailed = 4,
    kNoVersion = 5,
    kVersionTooLow = 6,
    kMainClassMissing = 7,
    kMainMethodMissing = 8,
    kAlreadyRunning = 11,
    kVersionTooHigh = 12,
};

constexpr std::int32_t kApplicationFailedExitCode = 1;

struct LaunchRequest {
    std::int32_t argumentCount = 0;
    char** arguments = nullptr;
    void (*onVmStarted)() = nullptr;
    std::int32_t exitCode = 0;
};

// Runs the whole launch on the calling thread and returns its result code.
std::int32_t RunLaunchSequence(ConfigStore& store, JvmHolder& holder, const LaunchRequest& request);

}  // namespace vxo
