// VEXILO_DEBUG: which runtimes were looked at and why each was passed over.
#include "runtime/trace.h"

#include <cstdio>

#include "platform/platform.h"

namespace vxo {

bool SearchTraceOn() {
    static const bool on = [] {
        std::string value = platform::GetEnv("VEXILO_DEBUG").value_or("");
        return !value.empty() && value != "0";
    }();
    return on;
}

void TraceLine(const std::string& line) {
    if (!SearchTraceOn()) return;
    std::fprintf(stderr, "vexilo: %s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace vxo
