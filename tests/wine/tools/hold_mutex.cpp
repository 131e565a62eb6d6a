// Holds a named mutex for the single-instance cases of tests/e2e/test_wine_program.py.
//   hold_mutex NAME READYFILE [own|open]
// own (default): creates the mutex owned by this process. open: only keeps a handle, so the
// mutex outlives an owner that dies and is then abandoned rather than gone.
// READYFILE gets "owned" or "opened" once that is done. A stdin line "release" releases the
// mutex and rewrites READYFILE with "released". Ends when stdin closes or after 60 s, without
// releasing: an owned mutex is then abandoned.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

bool WriteReady(const char* path, const char* text) {
    // Written beside and renamed, so a reader never sees a partial word.
    std::string temp = std::string(path) + ".tmp";
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    CloseHandle(file);
    return ok && MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

DWORD WINAPI Watchdog(void*) {
    Sleep(60000);  // a test that forgot us must not leave the mutex held for ever
    ExitProcess(4);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const bool own = argc < 4 || std::strcmp(argv[3], "open") != 0;
    HANDLE mutex = CreateMutexA(nullptr, own ? TRUE : FALSE, argv[1]);
    if (mutex == nullptr) return 3;
    // An existing mutex is not handed over by CreateMutex: take it, or give up at once.
    if (own && GetLastError() == ERROR_ALREADY_EXISTS) {
        DWORD wait = WaitForSingleObject(mutex, 0);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return 5;
    }
    CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    if (!WriteReady(argv[2], own ? "owned" : "opened")) return 6;

    // Ownership belongs to this thread, so commands are read here rather than on the watchdog.
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(in, &c, 1, &got, nullptr) && got == 1) {
        if (c == '\r') continue;
        if (c != '\n') {
            line.push_back(c);
            continue;
        }
        if (line == "release" && ReleaseMutex(mutex)) WriteReady(argv[2], "released");
        line.clear();
    }
    ExitProcess(0);  // the handle is never closed or released on purpose
}
