// The entry function: start-up in its fixed order, the launch, clean-up and the exit code.
#pragma once

#include <string>

namespace vxo {

int LauncherMain(int argc, char** argv);

// Names of kernel objects built from configuration values.
std::string MappingName(const std::string& appId);
std::string SingleInstanceName(const std::string& appId, const std::string& appPath);
// The instance block's name: the appid's mapping, else one made from the program file's path
// (as the single-instance mutex's); empty without either.
std::string InstanceBlockName(const std::string& appId, const std::string& appPath);

// The "forcecwd" value made absolute against the program's directory (not yet normalised).
std::string ForceCwdTarget(const std::string& appDir, const std::string& value);

}  // namespace vxo
