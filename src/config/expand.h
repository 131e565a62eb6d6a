// Expansion of environment variables, launcher names and registry references in values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vxo {

class ConfigStore;

// Replaces every resolvable reference in text; unresolvable ones stay as written. With convert
// set, inserted values holding bytes of 0x80 and up are converted from the ANSI code page to
// UTF-8. Never fails.
std::string ExpandValue(const ConfigStore& store, std::string_view text, bool convert);

// ExpandValue without conversion for a text whose escapes are undone afterwards: every
// backslash of an inserted value is doubled, so the unescaping leaves inserted paths intact.
std::string ExpandValueForEscapes(const ConfigStore& store, std::string_view text);

// One name as a reference names it: environment, launcher names, then registry (or default).
std::optional<std::string> LookupName(const ConfigStore& store, const std::string& name);

}  // namespace vxo
