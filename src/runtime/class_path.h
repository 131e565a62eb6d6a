// Class path assembly: the launcher half (program file first) and the application half.
#pragma once

#include <string>
#include <string_view>

namespace vxo {

class ConfigStore;

// The launcher half ("java_classpath", "java_libs") when applicationHalf is false, else the
// application half ("classpath", "libs", then CLASSPATH and CLASS_PATH). Elements are joined
// with the platform's separator; the text never holds an empty element.
std::string BuildClassPath(const ConfigStore& store, bool applicationHalf);

// Appends the path of every ".jar" and ".zip" under folder, sub-folders first where the listing
// meets them. Each folder is entered once, whatever links lead to it again; an empty folder
// name adds nothing.
void CollectArchives(const std::string& folder, std::string& out);

// Appends entry to a class path, with a separator when the path is not empty; an empty entry
// adds nothing.
void AppendClassPathEntry(std::string& path, std::string_view entry);

// Appends the entries of one class path value: split, expanded, wildcards listed, resolved.
void CollectClassPathValue(const ConfigStore& store, const std::string& value, std::string& out);

}  // namespace vxo
