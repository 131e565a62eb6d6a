// Windows backend: the raw command line, common controls and the runtime layout constants.
#include "platform/win32/win32_api.h"

#include <commctrl.h>

#include "platform/platform.h"

namespace vxo::platform {

const char* const kJvmHomeSubdirs[4] = {"", "bin\\", "jre\\bin\\", "..\\jre\\bin\\"};

// The registry names the system's runtimes on Windows.
std::vector<std::string> SystemRuntimeHomes() { return {}; }

std::string CommandLine() {
    const char* line = GetCommandLineA();
    return line != nullptr ? std::string(line) : std::string();
}

void InitCommonControls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;  // 8 bytes
    controls.dwICC = 0;
    InitCommonControlsEx(&controls);
}

}  // namespace vxo::platform
