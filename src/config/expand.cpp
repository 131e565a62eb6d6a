// Value expansion: "%NAME%", "%{NAME}%", "$NAME", "${NAME}", "%%", "$$" and registry references.
#include "config/expand.h"

#include <cstdint>
#include <cstring>

#include "common/text.h"
#include "config/config_store.h"
#include "platform/platform.h"

namespace vxo {

namespace {

constexpr int kMaxRegistryNesting = 8;
// One expansion, nested registry values included, reads at most this many registry values and
// makes at most this much text: references past either limit stay as written. Without them a
// value that refers to itself four times took 65,536 reads.
constexpr int kMaxRegistryReads = 64;
constexpr std::size_t kMaxExpandedLength = std::size_t{1} << 20;

// The expansion in progress on this thread: nesting depth and registry reads so far.
struct ExpansionState {
    int depth = 0;
    int registryReads = 0;
};
thread_local ExpansionState expansion;

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

struct RootPrefix {
    const char* shortName;
    const char* longName;
    platform::RegistryRoot root;
};

constexpr RootPrefix kRoots[] = {
    {"HKCR\\", "HKEY_CLASSES_ROOT\\", platform::RegistryRoot::ClassesRoot},
    {"HKCU\\", "HKEY_CURRENT_USER\\", platform::RegistryRoot::CurrentUser},
    {"HKLM\\", "HKEY_LOCAL_MACHINE\\", platform::RegistryRoot::LocalMachine},
    {"HKU\\", "HKEY_USERS\\", platform::RegistryRoot::Users},
    {"HKCC\\", "HKEY_CURRENT_CONFIG\\", platform::RegistryRoot::CurrentConfig},
};

std::string HomeValue() {
    static std::string home;  // kept once it is known
    if (home.empty()) {
        auto drive = platform::GetEnv("HOMEDRIVE");
        auto path = platform::GetEnv("HOMEPATH");
        if (drive && path) home = *drive + *path;
    }
    return home;
}

std::optional<std::string> LauncherName(const ConfigStore& store, const std::string& name) {
    if (EqualsIgnoreCase(name, "APPLICATION_HOME")) return store.AppDir();
    if (EqualsIgnoreCase(name, "PWD")) {
        std::string dir = store.CurrentDir();  // empty when the working folder cannot be read
        if (!dir.empty() && !IsPathSeparator(dir.back())) dir.push_back('/');
        return dir;
    }
    if (EqualsIgnoreCase(name, "VXO_APP_PATH")) return store.AppPath();
    if (EqualsIgnoreCase(name, "HOME")) return HomeValue();
    return std::nullopt;
}

std::string RegistryText(const ConfigStore& store, const platform::RegistryValue& value) {
    const std::string& d = value.data;
    auto dword = [&d](bool bigEndian) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4 && i < static_cast<int>(d.size()); ++i) {
            auto b = static_cast<std::uint32_t>(static_cast<unsigned char>(d[i]));
            v |= bigEndian ? b << (8 * (3 - i)) : b << (8 * i);
        }
        return std::to_string(static_cast<std::int32_t>(v));
    };
    switch (value.type) {
        case platform::kRegSz:
            return std::string(d.c_str());
        case platform::kRegExpandSz:
            // A value that refers to itself would recurse without end: past a few levels the
            // text is kept as stored.
            if (expansion.depth > kMaxRegistryNesting) return std::string(d.c_str());
            return ExpandValue(store, std::string(d.c_str()), false);
        case platform::kRegDword:
            return dword(false);
        case platform::kRegDwordBigEndian:
            return dword(true);
        default:
            return std::string();
    }
}

std::optional<std::string> RegistryReference(const ConfigStore& store, const std::string& name) {
    std::size_t bar = name.find('|');
    std::optional<std::string> fallback;
    if (bar != std::string::npos) fallback = name.substr(bar + 1);
    std::string path = name.substr(0, bar);
    for (const RootPrefix& r : kRoots) {
        std::string_view prefix;
        if (StartsWith(path, r.shortName)) prefix = r.shortName;
        else if (StartsWith(path, r.longName)) prefix = r.longName;
        else continue;
        std::string rest = path.substr(prefix.size());
        std::size_t slash = rest.rfind('\\');
        std::string key = slash == std::string::npos ? rest : rest.substr(0, slash);
        std::string valueName = slash == std::string::npos ? "" : rest.substr(slash + 1);
        if (expansion.registryReads >= kMaxRegistryReads) return std::nullopt;
        ++expansion.registryReads;
        platform::RegistryValue value;
        if (!platform::ReadRegistryValue(r.root, key, valueName, value)) return fallback;
        return RegistryText(store, value);
    }
    return fallback;
}

bool HasHighBytes(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    }
    return false;
}

// A parsed reference: [begin, end) in the text and the name it carries.
struct Reference {
    std::size_t end = 0;
    std::string name;
    bool literal = false;  // "%%" or "$$"
    bool complete = false;
};

Reference ParseReference(std::string_view text, std::size_t at) {
    Reference ref;
    char sigil = text[at];
    std::size_t i = at + 1;
    if (i < text.size() && text[i] == sigil) {
        ref.end = i + 1;
        ref.name.assign(1, sigil);
        ref.literal = ref.complete = true;
        return ref;
    }
    if (i < text.size() && text[i] == '{') {
        std::size_t close = text.find('}', i + 1);
        std::size_t nameEnd = close == std::string_view::npos ? text.size() : close;
        ref.name = std::string(text.substr(i + 1, nameEnd - i - 1));
        if (sigil == '$') {
            ref.end = close == std::string_view::npos ? text.size() : close + 1;
            ref.complete = true;
        } else {
            ref.end = close == std::string_view::npos ? text.size() : close + 1;
            ref.complete = close != std::string_view::npos && ref.end < text.size() &&
                           text[ref.end] == '%';
            if (ref.complete) ++ref.end;
        }
        return ref;
    }
    std::size_t j = i;
    while (j < text.size() && IsNameChar(text[j])) ++j;
    ref.name = std::string(text.substr(i, j - i));
    ref.end = j;
    if (ref.name.empty()) {
        ref.end = i;  // a lone sigil: no reference
        return ref;
    }
    if (sigil == '$') {
        ref.complete = true;
    } else if (j < text.size() && text[j] == '%') {
        ref.end = j + 1;
        ref.complete = true;
    }
    return ref;
}

}  // namespace

std::optional<std::string> LookupName(const ConfigStore& store, const std::string& name) {
    if (auto env = platform::GetEnv(name)) return env;
    if (auto own = LauncherName(store, name)) return own;
    return RegistryReference(store, name);
}

namespace {

std::string Expand(const ConfigStore& store, std::string_view text, bool convert, bool escapeInserted) {
    if (expansion.depth == 0) expansion.registryReads = 0;  // a new expansion, a new budget
    ++expansion.depth;
    struct Leave {
        ~Leave() { --expansion.depth; }
    } leave;
    std::string out;
    std::size_t copyFrom = 0;
    std::size_t scan = 0;
    while (true) {
        std::size_t at = text.find_first_of("%$", scan);
        if (at == std::string_view::npos) break;
        Reference ref = ParseReference(text, at);
        if (!ref.complete) {
            scan = ref.end > at ? ref.end : at + 1;
            continue;
        }
        std::optional<std::string> value = ref.literal ? ref.name : LookupName(store, ref.name);
        if (!value) {
            scan = ref.end;
            continue;
        }
        if (convert && HasHighBytes(*value)) *value = EncodeUtf8(AnsiToUtf16(*value));
        if (escapeInserted) ReplaceAll(*value, "\\", "\\\\");
        if (out.size() + (at - copyFrom) + value->size() > kMaxExpandedLength) {
            scan = ref.end;  // too much text: this reference stays as written
            continue;
        }
        out.append(text.substr(copyFrom, at - copyFrom));
        out.append(*value);
        copyFrom = scan = ref.end;
    }
    out.append(text.substr(copyFrom));
    return out;
}

}  // namespace

std::string ExpandValue(const ConfigStore& store, std::string_view text, bool convert) {
    return Expand(store, text, convert, false);
}

std::string ExpandValueForEscapes(const ConfigStore& store, std::string_view text) {
    return Expand(store, text, false, true);
}

}  // namespace vxo
