// Command line: the tokenizer, the split of the raw command line, wildcard expansion, and the
// argument vector chosen by the "wildcard" mode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/text.h"

namespace vxo {

class ConfigStore;

// Splits text (modified in place, NUL-terminated) into tokens appended to `tokens`; with
// marks, records per token 0 (no wildcard), 1 (unquoted wildcard) or -1 (quoted wildcard).
std::size_t SplitArguments(char* text, std::vector<char*>& tokens, std::vector<std::int32_t>* marks);

// The split of a raw command line with expansion: mode 1 expands tokens marked 1, mode 2
// tokens marked 1 or -1.
StringList SplitCommandLine(const std::string& commandLine, int mode);

// Appends the paths that match pattern, in listing order; nothing when nothing matches.
void ExpandWildcards(const std::string& pattern, StringList& result);

// Expansion mode of a "wildcard" value: 0 none, 1 "true"/"auto", 2 "all".
int WildcardMode(const std::string& value);

// The argument vector the application sees, program name first.
class ArgumentVector {
public:
    void Build(const ConfigStore& store, int argc, char** argv);
    int count() const { return static_cast<int>(pointers_.size()); }
    char** data() { return pointers_.data(); }

private:
    StringList list_;
    std::vector<char*> pointers_;
};

}  // namespace vxo
