// The runtime search's account of itself: on standard error when VEXILO_DEBUG asks for it.
#pragma once

#include <string>

namespace vxo {

// True when the environment variable VEXILO_DEBUG is set to anything but empty or "0"; read
// once per process.
bool SearchTraceOn();

// Writes "vexilo: " and the line to standard error when the trace is on.
void TraceLine(const std::string& line);

}  // namespace vxo
