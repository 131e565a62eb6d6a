// The POSIX message box's pieces that tests reach: finding a dialog program and what it is given.
#pragma once

#include <string>
#include <vector>

namespace vxo::platform::posix {

// The first executable regular file `name` in a PATH-style list, or empty. Only absolute
// entries count: an empty or relative entry would mean the working folder.
std::string FindProgramOnPath(const std::string& name, const std::string& pathList);

// A dialog program the message box can use, in order of preference.
struct DialogProgram {
    const char* name;
    // The arguments after the program's name; the text is shown as it is, no markup.
    std::vector<std::string> (*arguments)(const std::string& text, const std::string& caption);
    bool textOnInput;  // the text goes to its standard input rather than into an argument
};
extern const DialogProgram kDialogPrograms[3];

}  // namespace vxo::platform::posix
