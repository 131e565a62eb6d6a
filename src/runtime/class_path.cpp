// Class path: configured entries, archives of library folders and the environment.
#include "runtime/class_path.h"

#include <set>

#include "common/text.h"
#include "config/config_store.h"
#include "config/expand.h"
#include "launcher/command_line.h"
#include "platform/platform.h"

namespace vxo {

namespace {

const char kSeparator = platform::kPathListSeparator;
// Library folders nest at most this deep; a real tree is far shallower.
constexpr int kMaxFolderDepth = 64;

bool IsArchiveName(const std::string& name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot);
    return EqualsIgnoreCase(ext, ".jar") || EqualsIgnoreCase(ext, ".zip");
}

// Values are split where a Windows configuration would split them (";"), and also at the
// platform's own list separator.
bool IsListSeparator(char c) { return c == ';' || c == kSeparator; }

void CollectArchivesBelow(const std::string& folder, int depth, std::set<std::string>& visited,
                          std::string& out) {
    std::string identity = platform::FolderIdentity(folder);
    // A folder whose identity cannot be read is not entered: it could be a loop in disguise.
    if (identity.empty() || !visited.insert(identity).second) return;
    std::string base = folder;
    if (!IsPathSeparator(base.back())) base.push_back('/');
    platform::ListDirectory(base + "*", [&](const platform::DirEntry& entry) {
        if (entry.name == "." || entry.name == "..") return;
        if (entry.isDirectory) {
            if (depth < kMaxFolderDepth) CollectArchivesBelow(base + entry.name, depth + 1, visited, out);
        } else if (IsArchiveName(entry.name)) {
            AppendClassPathEntry(out, base + entry.name);
        }
    });
}

}  // namespace

void AppendClassPathEntry(std::string& path, std::string_view entry) {
    // An empty element would make the runtime search the working folder.
    if (entry.empty()) return;
    if (!path.empty()) path.push_back(kSeparator);
    path.append(entry);
}

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
            AppendClassPathEntry(out, store.ResolvePath(expanded));
            continue;
        }
        StringList matches;
        ExpandWildcards(ConfigStore::LocalPath(expanded), matches);
        for (std::size_t i = 0; i < matches.size(); ++i) AppendClassPathEntry(out, matches[i]);
    }
}

void CollectArchives(const std::string& folder, std::string& out) {
    if (folder.empty()) return;  // an empty value names no folder, least of all "/"
    std::set<std::string> visited;
    CollectArchivesBelow(folder, 0, visited, out);
}

std::string BuildClassPath(const ConfigStore& store, bool applicationHalf) {
    const KeywordInfo& entries = InfoOf(applicationHalf ? Keyword::ClassPath : Keyword::JavaClassPath);
    const Keyword libs = applicationHalf ? Keyword::Libs : Keyword::JavaLibs;

    std::string half;
    if (!applicationHalf) AppendClassPathEntry(half, store.AppPath());
    ConfigStore::Callback collect = [&](const std::string& value) {
        CollectClassPathValue(store, value, half);
    };
    store.Find(entries.name, &collect, false, true);

    StringList folders = store.Values(libs);
    for (std::size_t i = 0; i < folders.size(); ++i) CollectArchives(store.ResolvePath(folders[i]), half);
    if (applicationHalf) {
        for (const char* name : {"CLASSPATH", "CLASS_PATH"}) {
            std::string value = platform::GetEnv(name).value_or("");
            std::size_t start = 0;
            while (start <= value.size()) {
                std::size_t end = value.find(kSeparator, start);
                if (end == std::string::npos) end = value.size();
                AppendClassPathEntry(half, std::string_view(value).substr(start, end - start));
                start = end + 1;
            }
        }
    }
    return half;
}

}  // namespace vxo
