// Runtime search: which runtime library to load, by "jre_order", remembered for the process.
#pragma once

#include <string>

namespace vxo {

class ConfigStore;

// The remembered result of the first search: the library path, or empty when none was found.
std::string FindJvmLibrary(const ConfigStore& store);

// One search, without the memo.
std::string SearchJvmLibrary(const ConfigStore& store);

// The runtime library that a vendor key below HKEY_LOCAL_MACHINE names, or empty.
std::string LookupRegistryRuntime(const ConfigStore& store, const std::string& vendorKey);

// The order of sources a "jre_order" value selects ("cbsie" when it names none).
std::string EffectiveJreOrder(const std::string& value);

}  // namespace vxo
