// Runtime version texts: their components, the bounds check, and the texts of messages 6 and 12.
#pragma once

#include <string>
#include <vector>

namespace vxo {

// Up to four numbers separated by runs of non-digits; a text that does not begin with a
// number has none.
std::vector<int> VersionComponents(const std::string& text);

// Compares the components both texts have: negative when version is lower than bound at the
// first that differs, positive when higher, 0 when they agree.
int CompareVersions(const std::vector<int>& version, const std::vector<int>& bound);

// A message text used as a format: each "%s" takes the next argument (none left: empty text),
// "%%" is a percent sign, anything else is copied as it stands.
std::string FormatMessage(const std::string& format, const std::vector<std::string>& arguments);

}  // namespace vxo
