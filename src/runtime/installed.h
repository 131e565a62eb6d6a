// Installed runtimes beyond the first one a source names: their versions, the vendors' registry
// keys and the folders that hold runtimes side by side.
#pragma once

#include <string>
#include <vector>

namespace vxo {

class ConfigStore;

// One installed runtime: where it was found, its library (empty when that place holds none)
// and its version (empty when it does not tell).
struct InstalledRuntime {
    std::string where;
    std::string library;
    std::string version;
};

// The JAVA_VERSION of a runtime's "release" text, without its quotes; empty when it has none.
std::string ParseReleaseVersion(const std::string& text);

// The version the "release" file of the runtime around `library` names: the file is looked for
// in the library's folder and the few folders above it, where runtime homes keep it.
std::string ReadReleaseVersion(const std::string& library);

// A version taken from a registry key's name ("21.0.4.7", "zulu-17"): the text from its first
// digit, with "1." in front of the versions before 9, as those runtimes report themselves.
std::string VersionFromKeyName(const std::string& name);

// Whether `version` lies within the bounds; an empty bound does not limit.
bool VersionWithin(const std::string& version, const std::string& minJre, const std::string& maxJre);

// Newest first; runtimes that do not tell their version keep their order after the others.
void SortNewestFirst(std::vector<InstalledRuntime>& runtimes);

// The runtime homes that are the entries of `folders` (each a folder of runtimes side by side),
// each with its library and version, newest first. Bounded: a folder gives at most a few hundred.
std::vector<InstalledRuntime> ScanRuntimeFolders(const ConfigStore& store, const std::vector<std::string>& folders);

// The runtimes the OpenJDK vendors' installers record under HKEY_LOCAL_MACHINE, newest first.
std::vector<InstalledRuntime> VendorKeyRuntimes(const ConfigStore& store);

// A registry string value below HKEY_LOCAL_MACHINE as the launcher reads one: at most 260 bytes,
// up to its first NUL. False when absent or longer.
bool ReadMachineString(const std::string& key, const std::string& name, std::string& out);

}  // namespace vxo
