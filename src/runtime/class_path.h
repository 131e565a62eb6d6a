// Class path assembly: the launcher half (program file first) and the application half.
#pragma once

#include <string>

namespace vxo {

class ConfigStore;

// The launcher half ("java_classpath", "java_libs") when applicationHalf is false, else the
// application half ("classpath", "libs", then CLASSPATH and CLASS_PATH).
std::string BuildClassPath(const ConfigStore& store, bool applicationHalf);

// Appends a separator and the path of every ".jar" and ".zip" under folder, sub-folders first
// where the listing meets them.
void CollectArchives(const std::string& folder, std::string& out);

// Appends the entries of one class path value: split, expanded, wildcards listed, resolved.
void CollectClassPathValue(const ConfigStore& store, const std::string& value, std::string& out);

}  // namespace vxo
