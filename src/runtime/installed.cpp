// Installed runtimes: release files, vendor registry keys and folders of runtimes.
#include "runtime/installed.h"

#include <algorithm>
#include <set>

#include "common/text.h"
#include "config/config_store.h"
#include "launcher/version.h"
#include "platform/platform.h"
#include "runtime/jvm.h"

namespace vxo {

namespace {

// A release file is a few hundred bytes; anything much larger is not one.
constexpr std::size_t kReleaseFileLimit = 64 * 1024;
// From the library's folder up to a JDK 8 home: server, amd64, lib, jre, home.
constexpr int kReleaseFolderLevels = 5;
// Entries read from one folder of runtimes, and version keys read under one vendor key.
constexpr std::size_t kMaxEntries = 256;
constexpr std::size_t kRegistryBuffer = 260;

// Where each vendor's installer records a runtime: <key>\<version><tail>, value <value> holding
// the runtime home. The sources are listed in docs/configuration.md.
struct VendorLayout {
    const char* key;
    const char* tail;
    const char* value;
};
constexpr VendorLayout kVendorLayouts[] = {
    {"SOFTWARE\\Eclipse Adoptium\\JDK", "\\hotspot\\MSI", "Path"},
    {"SOFTWARE\\Eclipse Adoptium\\JRE", "\\hotspot\\MSI", "Path"},
    {"SOFTWARE\\Microsoft\\JDK", "\\hotspot\\MSI", "Path"},
    {"SOFTWARE\\Azul Systems\\Zulu", "", "InstallationPath"},
    {"SOFTWARE\\AdoptOpenJDK\\JDK", "\\hotspot\\MSI", "Path"},
    {"SOFTWARE\\AdoptOpenJDK\\JRE", "\\hotspot\\MSI", "Path"},
    {"SOFTWARE\\Eclipse Foundation\\JDK", "\\MSI", "Path"},
    // Every version the JavaSoft keys hold, not only their CurrentVersion (installers that write
    // them, Corretto's among them, register each version there).
    {"SOFTWARE\\JavaSoft\\JRE", "", "JavaHome"},
    {"SOFTWARE\\JavaSoft\\JDK", "", "JavaHome"},
    {"SOFTWARE\\JavaSoft\\Java Runtime Environment", "", "JavaHome"},
    {"SOFTWARE\\JavaSoft\\Java Development Kit", "", "JavaHome"},
};

}  // namespace

std::string ParseReleaseVersion(const std::string& text) {
    const std::string key = "JAVA_VERSION=";
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (line.substr(0, key.size()) != key) continue;
        line.remove_prefix(key.size());
        if (line.size() >= 2 && line.front() == '"' && line.back() == '"') line = line.substr(1, line.size() - 2);
        return std::string(line);
    }
    return std::string();
}

std::string ReadReleaseVersion(const std::string& library) {
    std::string folder = DirectoryPart(library);
    for (int level = 0; level < kReleaseFolderLevels && !folder.empty(); ++level) {
        std::string text;
        if (platform::ReadWholeFile(folder + "release", kReleaseFileLimit, text)) {
            std::string version = ParseReleaseVersion(text);
            if (!version.empty()) return version;
        }
        folder.pop_back();  // the separator, then up one folder
        std::string above = DirectoryPart(folder);
        if (above.size() >= folder.size()) break;
        folder = above;
    }
    return std::string();
}

std::string VersionFromKeyName(const std::string& name) {
    std::size_t first = name.find_first_of("0123456789");
    if (first == std::string::npos) return std::string();
    std::string version = name.substr(first);
    std::vector<int> parts = VersionComponents(version);
    if (!parts.empty() && parts[0] >= 2 && parts[0] <= 8) version = "1." + version;
    return version;
}

bool VersionWithin(const std::string& version, const std::string& minJre, const std::string& maxJre) {
    const std::vector<int> v = VersionComponents(version);
    return CompareVersions(v, VersionComponents(minJre)) >= 0 && CompareVersions(v, VersionComponents(maxJre)) <= 0;
}

void SortNewestFirst(std::vector<InstalledRuntime>& runtimes) {
    std::stable_sort(runtimes.begin(), runtimes.end(), [](const InstalledRuntime& a, const InstalledRuntime& b) {
        std::vector<int> va = VersionComponents(a.version), vb = VersionComponents(b.version);
        if (va.empty() || vb.empty()) return !va.empty() && vb.empty();
        // Equal leading parts: the longer text is the more precise, hence later, release.
        int order = CompareVersions(va, vb);
        return order != 0 ? order > 0 : va.size() > vb.size();
    });
}

std::vector<InstalledRuntime> ScanRuntimeFolders(const ConfigStore& store, const std::vector<std::string>& folders) {
    std::vector<InstalledRuntime> found;
    std::set<std::string> seen;  // a link named after another version is that runtime once more
    for (const std::string& root : folders) {
        std::string base = root;
        if (base.empty()) continue;
        if (!IsPathSeparator(base.back())) base.push_back('/');
        std::vector<std::string> names;
        platform::ListDirectory(base + "*", [&](const platform::DirEntry& entry) {
            if (entry.isDirectory && entry.name != "." && entry.name != ".." && names.size() < kMaxEntries)
                names.push_back(entry.name);
        });
        std::sort(names.begin(), names.end());  // the listing's order is no order
        for (const std::string& name : names) {
            std::string identity = platform::FolderIdentity(base + name);
            if (identity.empty() || !seen.insert(identity).second) continue;
            InstalledRuntime runtime;
            runtime.where = base + name;
            runtime.library = FindJvmInHome(store, runtime.where);
            if (!runtime.library.empty()) runtime.version = ReadReleaseVersion(runtime.library);
            found.push_back(std::move(runtime));
        }
    }
    SortNewestFirst(found);
    return found;
}

bool ReadMachineString(const std::string& key, const std::string& name, std::string& out) {
    platform::RegistryValue value;
    if (!platform::ReadRegistryValue(platform::RegistryRoot::LocalMachine, key, name, value) ||
        value.data.size() > kRegistryBuffer)
        return false;
    out = std::string(value.data.c_str());
    return true;
}

std::vector<InstalledRuntime> VendorKeyRuntimes(const ConfigStore& store) {
    std::vector<InstalledRuntime> found;
    for (const VendorLayout& layout : kVendorLayouts) {
        std::vector<std::string> versions;
        if (!platform::ListRegistrySubkeys(platform::RegistryRoot::LocalMachine, layout.key, kMaxEntries, versions))
            continue;
        for (const std::string& name : versions) {
            InstalledRuntime runtime;
            runtime.where = std::string("HKLM\\") + layout.key + "\\" + name + layout.tail;
            const std::string versionKey = std::string(layout.key) + "\\" + name + layout.tail;
            std::string home;
            if (ReadMachineString(versionKey, layout.value, home) && !home.empty())
                runtime.library = FindJvmInHome(store, home);
            if (!runtime.library.empty()) runtime.version = ReadReleaseVersion(runtime.library);
            if (runtime.version.empty()) runtime.version = VersionFromKeyName(name);
            found.push_back(std::move(runtime));
        }
    }
    SortNewestFirst(found);
    return found;
}

}  // namespace vxo
