// Prints the texts of a top-level window's child windows, one a line, so a test can read what a
// message box says, then "owner=" and the class of the window that owns it ("none" for none).
// Exit 1 when no visible window has exactly that title.
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
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    EnumChildWindows(box, PrintChild, reinterpret_cast<LPARAM>(out));
    char ownerClass[64] = "none";
    if (HWND owner = GetWindow(box, GW_OWNER)) GetClassNameA(owner, ownerClass, sizeof ownerClass);
    std::string line = std::string("owner=") + ownerClass + "\n";
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return 0;
}
