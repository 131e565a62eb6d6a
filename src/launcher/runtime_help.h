// What the user learns when no suitable runtime is found: the version range and where to get Java.
#pragma once

#include <string>

namespace vxo {

class ConfigStore;

// The lines shown after the failure message of `result` (1, 6 or 12; none for other results):
// the range the program needs (after message 1, which does not say it) and the "jreurl"
// address. Each text may be replaced by a "message" line: numbers 20 to 24.
std::string RuntimeHelpText(int result, const std::string& minJre, const std::string& maxJre,
                            const std::string& address);

// An address the launcher may hand to the system to open: http or https, nothing that could
// name a program or a file.
bool IsWebAddress(const std::string& address);

// Shows the failure message of `result` the way this image reports failures, with the help
// lines: after it on standard error (console image), in its box (windowed image), where the
// system can open addresses as a question whether to open the "jreurl" address.
void ReportRuntimeFailure(const ConfigStore& store, int result, const std::string& message);

}  // namespace vxo
