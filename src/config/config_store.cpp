// ConfigStore: line format, keyword matching, lookups and the keyword accessors.
#include "config/config_store.h"

#include "config/expand.h"
#include "platform/platform.h"

namespace vxo {

namespace {

constexpr bool TableInOrder() {
    for (int i = 0; i < static_cast<int>(sizeof(kKeywords) / sizeof(kKeywords[0])); ++i) {
        if (static_cast<int>(kKeywords[i].keyword) != i) return false;
    }
    return true;
}
static_assert(TableInOrder(), "keyword table must follow the Keyword enumeration");

bool IsKeywordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The value of `line` for `keyword`, or false when the line belongs to another keyword.
bool MatchLine(std::string_view line, std::string_view keyword, std::string_view& value) {
    std::size_t i = line.find_first_not_of(' ');
    if (i == std::string_view::npos) i = line.size();
    line.remove_prefix(i);
    if (line.size() < keyword.size() || !EqualsIgnoreCase(line.substr(0, keyword.size()), keyword))
        return false;
    if (line.size() > keyword.size() && IsKeywordChar(line[keyword.size()])) return false;
    line.remove_prefix(keyword.size());
    auto skipSpaces = [&line] {
        std::size_t n = line.find_first_not_of(' ');
        line.remove_prefix(n == std::string_view::npos ? line.size() : n);
    };
    skipSpaces();
    if (!line.empty() && line.front() == '=') {
        line.remove_prefix(1);
        skipSpaces();
    }
    value = line;
    return true;
}

std::string Narrow(std::string_view utf8) {
    for (char c : utf8) {
        if (static_cast<unsigned char>(c) >= 0x80) return Utf16ToAnsi(DecodeUtf8(utf8));
    }
    return std::string(utf8);
}

std::string WithTrailingSeparator(std::string dir) {
    if (dir.empty() || !IsPathSeparator(dir.back())) dir.push_back('/');
    return dir;
}

}  // namespace

ConfigStore::ConfigStore(bool load) : ConfigStore(load, platform::ModuleFileName()) {}

ConfigStore::ConfigStore(bool load, const std::string& programPath) {
    appPath = programPath;
    appDir = DirectoryPart(appPath);
    if (load) Load(*this);
}

void ConfigStore::AppendText(std::string_view raw) {
    auto byte = [&raw](std::size_t i) { return static_cast<unsigned char>(raw[i]); };
    if (raw.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        // Like the other encodings, the text ends at its first NUL: a stray NUL in an external
        // file must not hide the payload's lines behind it.
        std::string_view body = raw.substr(3);
        text.append(body.substr(0, body.find('\0')));
    } else if (raw.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) ||
                                   (byte(0) == 0xFE && byte(1) == 0xFF))) {
        bool little = byte(0) == 0xFF;
        std::u16string units;
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2) {
            char16_t u = little ? static_cast<char16_t>(byte(i) | (byte(i + 1) << 8))
                                : static_cast<char16_t>((byte(i) << 8) | byte(i + 1));
            if (u == 0) break;
            units.push_back(u);
        }
        text.append(EncodeUtf8(units));
    } else {
        text.append(EncodeUtf8(AnsiToUtf16(raw)));
    }
}

std::string ConfigStore::Find(std::string_view keyword, const Callback* callback,
                              bool embeddedOnly, bool narrow, std::string_view filter) const {
    std::string_view all(text.c_str());  // lookups stop at the first NUL
    std::size_t start = embeddedOnly ? static_cast<std::size_t>(externalLength) : 0;
    std::string_view rest = start <= all.size() ? all.substr(start) : std::string_view();
    while (!rest.empty()) {
        std::size_t end = rest.find_first_of("\r\n");
        std::string_view line = rest.substr(0, end);
        if (end == std::string_view::npos) {
            rest = {};
        } else {
            // CR LF and LF CR are one line break each.
            std::size_t skip = 1;
            if (end + 1 < rest.size() && (rest[end + 1] == '\r' || rest[end + 1] == '\n') &&
                rest[end + 1] != rest[end])
                skip = 2;
            rest.remove_prefix(end + skip);
        }
        std::string_view raw;
        if (!MatchLine(line, keyword, raw)) continue;
        std::string value = narrow ? Narrow(raw) : std::string(raw);
        if (!filter.empty() && value != filter) continue;
        if (callback == nullptr) return value;
        (*callback)(value);
    }
    return std::string();
}

std::string ConfigStore::Get(std::string_view keyword, bool embeddedOnly, bool narrow) const {
    return Find(keyword, nullptr, embeddedOnly, narrow);
}

std::string ConfigStore::GetMatching(std::string_view keyword, std::string_view filter,
                                     bool embeddedOnly, bool narrow) const {
    return Find(keyword, nullptr, embeddedOnly, narrow, filter);
}

void ConfigStore::GetAll(std::string_view keyword, StringList& list, bool embeddedOnly,
                         bool narrow) const {
    Callback expand = [&](const std::string& value) {
        list.Add(ExpandValue(*this, value, !narrow));
    };
    Find(keyword, &expand, embeddedOnly, narrow);
}

namespace {
bool IsAbsolute(std::string_view value) {
    return IsPathSeparator(value[0]) || (value.size() > 1 && value[1] == ':');
}
}  // namespace

std::string ConfigStore::LocalPath(std::string_view value) {
    return platform::LocalSeparators(std::string(value));
}

std::string ConfigStore::ResolvePath(std::string_view raw) const {
    if (raw.empty()) return std::string();
    const std::string value = LocalPath(raw);
    if (IsAbsolute(value)) return value;
    std::string fromApp = appDir + value;
    if (platform::CanRead(fromApp)) return fromApp;
    if (!currentDir.empty()) {
        std::string fromCwd = currentDir + value;
        if (platform::CanRead(fromCwd)) return fromCwd;
    }
    return fromApp;
}

std::string ConfigStore::ResolveInAppDir(std::string_view raw) const {
    if (raw.empty()) return std::string();
    const std::string value = LocalPath(raw);
    if (IsAbsolute(value)) return value;
    return appDir.empty() ? std::string() : appDir + value;
}

void ConfigStore::RefreshCurrentDir() {
    std::string dir = platform::CurrentDirectory();
    currentDir = dir.empty() ? dir : WithTrailingSeparator(dir);
}

std::string ConfigStore::Value(Keyword keyword) const {
    const KeywordInfo& info = InfoOf(keyword);
    switch (info.processing) {
        case Processing::Expand:
            return ExpandValue(*this, Get(info.name, info.payloadOnly, info.narrow), !info.narrow);
        case Processing::ExpandThenResolve:
            return ResolvePath(ExpandValue(*this, Get(info.name, info.payloadOnly, true), false));
        case Processing::VmCache:
            if (vmCache.empty()) {
                vmCache = ExpandValue(*this, Get(info.name, false, true), false);
                if (vmCache.empty()) vmCache = "-";
            }
            return vmCache;
        case Processing::None:
        case Processing::ClassPath:
            break;
    }
    return Get(info.name, info.payloadOnly, info.narrow);
}

StringList ConfigStore::Values(Keyword keyword) const {
    const KeywordInfo& info = InfoOf(keyword);
    StringList list;
    if (info.processing == Processing::Expand) {
        GetAll(info.name, list, info.payloadOnly, info.narrow);
    } else {
        // Class path values are split and expanded element by element by their reader.
        Callback collect = [&list](const std::string& value) { list.Add(value); };
        Find(info.name, &collect, info.payloadOnly, info.narrow);
    }
    return list;
}

}  // namespace vxo
