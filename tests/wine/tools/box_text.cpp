// Prints the texts of a top-level window's child windows, one a line, so a test can read what a
// message box says. Exit 1 when no visible window has exactly that title.
//   box_text TITLE
#include <windows.h>

#include <string>

namespace {

BOOL CALLBACK PrintChild(HWND child, LPARAM out) {
    char text[1024];
    int length = GetWindowTextA(child, text, sizeof text);
    std::string line(text, length > 0 ? static_cast<std::size_t>(length) : 0);
    line += "\n";
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(out), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    HWND box = FindWindowA(nullptr, argv[1]);
    if (box == nullptr || !IsWindowVisible(box)) return 1;
    EnumChildWindows(box, PrintChild, reinterpret_cast<LPARAM>(GetStdHandle(STD_OUTPUT_HANDLE)));
    return 0;
}
