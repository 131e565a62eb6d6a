// A start-up timeline for measuring the launcher: with VXO_STARTUP_TRACE set, every step writes
// one line to standard error, "vxo-trace <microseconds since the entry function began> <step>".
// Unset, a mark costs the test of one flag.
#pragma once

namespace vxo {

// Reads the variable; the entry function calls it first, before any other thread exists.
void StartupTraceBegin();
// One line for the step when tracing, from any thread.
void StartupMark(const char* step);

}  // namespace vxo
