// Windows backend: the raw command line, common controls and the runtime layout constants.
#include "platform/win32/win32_api.h"

#include <commctrl.h>
#include <shellapi.h>

#include "platform/platform.h"

namespace vxo::platform {

const char* const kJvmHomeSubdirs[4] = {"", "bin\\", "jre\\bin\\", "..\\jre\\bin\\"};

// The registry names the system's runtimes on Windows.
std::vector<std::string> SystemRuntimeHomes() { return {}; }
std::vector<std::string> RuntimeCollectionFolders() { return {}; }

std::string LocalSeparators(std::string path) { return path; }

const bool kCanOpenAddress = true;

bool OfferToOpenAddress(const std::string& text, const std::string& caption, const std::string& address,
                        std::uint64_t owner) {
    HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(owner));
    if (::MessageBoxA(window, text.c_str(), caption.c_str(),
                      MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND | MB_TOPMOST) != IDYES)
        return false;
    // ShellExecute returns a value above 32 on success.
    HINSTANCE opened = ::ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<std::intptr_t>(opened) > 32;
}

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
