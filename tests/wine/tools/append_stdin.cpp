// append_stdin FILE: appends everything read from standard input to FILE (created if missing);
// the receiving end of a "|command" output target.
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::FILE* out = std::fopen(argv[1], "ab");
    if (out == nullptr) return 1;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
        std::fwrite(buffer, 1, n, out);
        std::fflush(out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
