// Message texts by number: configured overrides first, then the image's message table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vxo {

class ConfigStore;

// One "message" value split into its number and its unescaped text. False when the value has
// no "=" or its number is not positive.
bool ParseMessageOverride(std::string_view value, int& number, std::string& text);

// The overrides of one configuration, in configuration order (the first one of a number wins).
// References are expanded before the escapes are undone; the text they insert stays verbatim.
class MessageOverrides {
public:
    void Load(const ConfigStore& store);
    const std::string* Find(int number) const;

private:
    std::vector<std::pair<int, std::string>> entries_;
};

// The text of message `number` in the ANSI code page; empty when there is none. The overrides
// are read from the process's configuration on the first call.
std::string MessageText(int number);

// Writes the system's text for the last error to standard error, "%1" replaced by insert.
void ReportSystemError(const std::string& insert);

// Shows a text the way this image reports failures: a message box captioned with message 10
// in the windowed image, a line on standard error in the console image.
void ReportText(const std::string& text);
void ReportMessage(int number);

}  // namespace vxo
