// The start-up timeline behind VXO_STARTUP_TRACE.
#include "launcher/startup_trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace vxo {

namespace {
using Clock = std::chrono::steady_clock;
// Written once on the entry thread before the launch thread starts, read-only afterwards.
bool tracing = false;
Clock::time_point origin;
}  // namespace

void StartupTraceBegin() {
    tracing = std::getenv("VXO_STARTUP_TRACE") != nullptr;
    if (tracing) origin = Clock::now();
}

void StartupMark(const char* step) {
    if (!tracing) return;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin).count();
    std::fprintf(stderr, "vxo-trace %lld %s\n", static_cast<long long>(us), step);
}

}  // namespace vxo
