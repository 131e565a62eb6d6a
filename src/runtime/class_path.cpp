// Class path: configured entries, archives of library folders and the environment.
#include "runtime/class_path.h"

#include "common/text.h"
#include "config/config_store.h"
#include "config/expand.h"
#include "launcher/command_line.h"
#include "platform/platform.h"

namespace vxo {

namespace {

const char kSeparator = platform::kPathListSeparator;

bool IsArchiveName(const std::string& name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot);
    return EqualsIgnoreCase(ext, ".jar") || EqualsIgnoreCase(ext, ".zip");
}

// Values are split where a Windows configuration would split them (";"), and also at the
// platform's own list separator.
bool IsListSeparator(char c) { return c == ';' || c == kSeparator; }

}  // namespace

void CollectClassPathValue(const ConfigStore& store, const std::string& value, std::string& out) {
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = start;
        while (end < value.size() && !IsListSeparator(value[end])) ++end;
        std::string element = value.substr(start, end - start);
        start = end + 1;
        if (element.empty()) continue;
        std::string expanded = ExpandValue(store, element, false);
        if (expanded.find_first_of("*?") == std::string::npos) {
            out += kSeparator + store.ResolvePath(expanded);
            continue;
        }
        StringList matches;
        ExpandWildcards(expanded, matches);
        for (std::size_t i = 0; i < matches.size(); ++i) (out += kSeparator) += matches[i];
    }
}

void CollectArchives(const std::string& folder, std::string& out) {
    std::string base = folder;
    if (base.empty() || !IsPathSeparator(base.back())) base.push_back('/');
    platform::ListDirectory(base + "*", [&](const platform::DirEntry& entry) {
        if (entry.name == "." || entry.name == "..") return;
        if (entry.isDirectory) {
            CollectArchives(base + entry.name, out);
        } else if (IsArchiveName(entry.name)) {
            out += kSeparator + base + entry.name;
        }
    });
}

std::string BuildClassPath(const ConfigStore& store, bool applicationHalf) {
    const KeywordInfo& entries = InfoOf(applicationHalf ? Keyword::ClassPath : Keyword::JavaClassPath);
    const Keyword libs = applicationHalf ? Keyword::Libs : Keyword::JavaLibs;

    std::string collection;
    ConfigStore::Callback collect = [&](const std::string& value) {
        CollectClassPathValue(store, value, collection);
    };
    store.Find(entries.name, &collect, false, true);
    std::string half = applicationHalf ? collection : store.AppPath() + collection;

    StringList folders = store.Values(libs);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        std::string archives;
        CollectArchives(store.ResolvePath(folders[i]), archives);
        half += archives;
    }
    if (applicationHalf) {
        for (const char* name : {"CLASSPATH", "CLASS_PATH"}) {
            if (auto value = platform::GetEnv(name)) (half += kSeparator) += *value;
        }
    }
    return half;
}

}  // namespace vxo
