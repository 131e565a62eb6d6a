// Starting a helper program on POSIX: no shell, quiet, and with a clean signal state.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vxo::platform::posix {

// Starts argv[0] with the arguments argv; a name without '/' is looked up on PATH only when
// `searchPath`. Standard input comes from `input` (/dev/null when -1), output and error go to
// /dev/null, every signal is at its default and none is blocked, whatever the launcher and the
// runtime have set. Returns the child's pid, or -1.
pid_t SpawnQuiet(const std::vector<std::string>& argv, int input, bool searchPath);

}  // namespace vxo::platform::posix
