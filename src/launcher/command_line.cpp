// Command-line tokenizer, wildcard expansion and the application's argument vector.
#include "launcher/command_line.h"

#include <cstring>

#include "config/config_store.h"
#include "platform/platform.h"

namespace vxo {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::size_t SplitArguments(char* text, std::vector<char*>& tokens, std::vector<std::int32_t>* marks) {
    const std::size_t length = std::strlen(text);
    std::size_t r = 0, w = 0;
    bool quoted = false;
    if (marks != nullptr) marks->resize(tokens.size(), 0);
    while (r < length) {
        while (r < length && IsBlank(text[r])) text[w++] = '\0', ++r;
        if (r >= length) break;
        tokens.push_back(text + w);
        if (marks != nullptr) marks->push_back(0);
        while (r < length) {
            char c = text[r];
            if (!quoted && IsBlank(c)) break;
            if (c == '"') {
                quoted = !quoted;
                ++r;
            } else if (c == '\\') {
                std::size_t n = 0;
                while (r < length && text[r] == '\\') text[w++] = text[r++], ++n;
                if (r < length && text[r] == '"') {
                    w -= (n + 1) / 2;
                    if (n % 2 == 1) text[w++] = '"', ++r;
                }
            } else {
                if (marks != nullptr && (c == '*' || c == '?')) {
                    std::int32_t& mark = marks->back();
                    mark = (mark == -1 || quoted) ? -1 : 1;
                }
                text[w++] = c;
                ++r;
            }
        }
    }
    text[w] = '\0';
    if (marks != nullptr) marks->resize(tokens.size(), 0);
    return tokens.size();
}

StringList SplitCommandLine(const std::string& commandLine, int mode) {
    std::vector<char> copy(commandLine.begin(), commandLine.end());
    copy.push_back('\0');
    std::vector<char*> tokens;
    std::vector<std::int32_t> marks;
    SplitArguments(copy.data(), tokens, &marks);
    StringList list;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (marks[i] == 0 || (mode == 1 && marks[i] != 1)) {
            list.Add(tokens[i]);
            continue;
        }
        StringList matches;
        ExpandWildcards(tokens[i], matches);
        if (matches.empty()) list.Add(tokens[i]);
        for (std::size_t m = 0; m < matches.size(); ++m) list.Add(matches[m]);
    }
    return list;
}

void ExpandWildcards(const std::string& pattern, StringList& result) {
    std::size_t wild = pattern.find_first_of("*?");
    if (wild == std::string::npos) {
        if (platform::Exists(pattern)) result.Add(pattern);
        return;
    }
    std::size_t lastSep = pattern.find_last_of("/\\", wild);
    std::string prefix = lastSep == std::string::npos ? "" : pattern.substr(0, lastSep + 1);
    std::size_t end = pattern.find_first_of("/\\", wild);
    bool lastComponent = end == std::string::npos;
    if (lastComponent) end = pattern.size();
    std::string rest = pattern.substr(end);
    platform::ListDirectory(pattern.substr(0, end), [&](const platform::DirEntry& entry) {
        if (entry.name == "." || entry.name == "..") return;
        if (lastComponent) {
            result.Add(prefix + entry.name);
        } else if (entry.isDirectory) {
            ExpandWildcards(prefix + entry.name + rest, result);
        }
    });
}

int WildcardMode(const std::string& value) {
    if (EqualsIgnoreCase(value, "true") || EqualsIgnoreCase(value, "auto")) return 1;
    if (EqualsIgnoreCase(value, "all")) return 2;
    return 0;
}

void ArgumentVector::Build(const ConfigStore& store, int argc, char** argv) {
    pointers_.clear();
    int mode = WildcardMode(store.Value(Keyword::Wildcard));
    if (mode != 0) list_ = SplitCommandLine(platform::CommandLine(), mode);
    if (mode == 0 || list_.empty()) {
        pointers_.assign(argv, argv + argc);
        return;
    }
    for (std::size_t i = 0; i < list_.size(); ++i) pointers_.push_back(const_cast<char*>(list_.c_str(i)));
}

}  // namespace vxo
