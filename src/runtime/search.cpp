// Runtime search by source letters, and the registry lookup of vendor keys.
#include "runtime/search.h"

#include <optional>

#include "common/text.h"
#include "config/config_store.h"
#include "config/expand.h"
#include "platform/platform.h"
#include "runtime/jvm.h"

namespace vxo {

namespace {

constexpr const char* kDefaultOrder = "cbsie";
constexpr const char* kJavaSoftKeys[] = {
    "SOFTWARE\\JavaSoft\\JRE", "SOFTWARE\\JavaSoft\\JDK",
    "SOFTWARE\\JavaSoft\\Java Runtime Environment", "SOFTWARE\\JavaSoft\\Java Development Kit"};
constexpr const char* kIbmKey = "SOFTWARE\\IBM\\Java2 Runtime Environment";
// Registry strings are read into a buffer of this size.
constexpr std::size_t kRegistryBuffer = 260;

std::optional<std::string> ReadMachineString(const std::string& key, const std::string& name) {
    platform::RegistryValue value;
    if (!platform::ReadRegistryValue(platform::RegistryRoot::LocalMachine, key, name, value) ||
        value.data.size() > kRegistryBuffer)
        return std::nullopt;
    return std::string(value.data.c_str());
}

// Cuts the last path component, unless its separator is the first character or missing.
void CutLastComponent(std::string& path) {
    std::size_t pos = path.find_last_of("/\\");
    if (pos != std::string::npos && pos != 0) path.resize(pos);
}

// Relative "jvmdll" and "jre" values name places beside the program, never in the working
// folder: a runtime planted where the user happens to start the program must not be loaded.
std::string ConfiguredLibrary(const ConfigStore& store) {
    std::string value = ExpandValue(store, store.Value(Keyword::JvmDll), false);
    std::string path = store.ResolveInAppDir(value);
    return !path.empty() && platform::CanRead(path) ? path : std::string();
}

std::string RuntimeBesideProgram(const ConfigStore& store) {
    std::string value = ExpandValue(store, store.Value(Keyword::Jre), false);
    if (value.empty()) value = "./jre/";
    std::string home = store.ResolveInAppDir(value);
    return home.empty() ? std::string() : FindJvmInHome(store, home);
}

// The system's registered runtime: the vendors' registry keys, then whatever the system
// itself points at where there is no registry.
std::string SystemRuntime(const ConfigStore& store) {
    for (const char* key : kJavaSoftKeys) {
        std::string found = LookupRegistryRuntime(store, key);
        if (!found.empty()) return found;
    }
    for (const std::string& home : platform::SystemRuntimeHomes()) {
        std::string found = FindJvmInHome(store, home);
        if (!found.empty()) return found;
    }
    return std::string();
}

std::string EnvironmentRuntime(const ConfigStore& store) {
    for (const char* name : {"JRE_HOME", "JAVA_HOME"}) {
        std::optional<std::string> home = platform::GetEnv(name);
        if (!home || home->empty()) continue;
        std::string found = FindJvmInHome(store, *home);
        if (!found.empty()) return found;
    }
    return std::string();
}

std::string RunSource(const ConfigStore& store, char letter) {
    switch (letter) {
        case 'c': return ConfiguredLibrary(store);
        case 'b': return RuntimeBesideProgram(store);
        case 's': return SystemRuntime(store);
        case 'i': return LookupRegistryRuntime(store, kIbmKey);
        case 'e': return EnvironmentRuntime(store);
        default: return std::string();  // not a source letter: skipped
    }
}

}  // namespace

std::string EffectiveJreOrder(const std::string& value) {
    std::string order = ToLowerAscii(value);
    return order.find_first_of(kDefaultOrder) == std::string::npos ? kDefaultOrder : order;
}

std::string SearchJvmLibrary(const ConfigStore& store) {
    for (char letter : EffectiveJreOrder(store.Value(Keyword::JreOrder))) {
        std::string found = RunSource(store, letter);
        if (!found.empty()) return found;
    }
    return std::string();
}

std::string FindJvmLibrary(const ConfigStore& store) {
    static std::optional<std::string> memo;  // not yet searched until the first call
    if (!memo) memo = SearchJvmLibrary(store);
    return *memo;
}

std::string LookupRegistryRuntime(const ConfigStore& store, const std::string& vendorKey) {
    std::optional<std::string> version = ReadMachineString(vendorKey, "CurrentVersion");
    if (!version) return std::string();
    const std::string versionKey = vendorKey + "\\" + *version;
    std::optional<std::string> library = ReadMachineString(versionKey, "RuntimeLib");
    if (!library) {
        std::optional<std::string> home = ReadMachineString(versionKey, "JavaHome");
        return home ? FindJvmInHome(store, *home) : std::string();
    }
    bool vmWanted = store.Value(Keyword::Vm).size() > 1;
    if (platform::CanRead(*library) && !vmWanted) return *library;
    // Search the runtime's bin folder instead: another kind of virtual machine, or a library
    // that moved.
    std::string bin = *library;
    CutLastComponent(bin);
    CutLastComponent(bin);
    return FindJvmInHome(store, bin);
}

}  // namespace vxo
