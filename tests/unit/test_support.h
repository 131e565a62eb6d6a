// Helpers for unit tests: a scratch folder and program files with a payload.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace vxo::test {

// A fresh folder under the system's temporary folder, removed at the end of the test.
class ScratchDir {
public:
    ScratchDir() {
        // Unique across processes too: the plain and the sanitized test runs go side by side.
        static const unsigned run = std::random_device{}();
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("vxo-unit-" + std::to_string(run) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    // Path of name inside the folder, with the system's separator.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// A path in the system's own form, so paths built with mixed separators compare equal.
inline std::string NormalPath(const std::string& path) {
    return path.empty() ? path : std::filesystem::path(path).lexically_normal().string();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

// The payload as the packer writes it: mark, text, NUL, T, digest area, archive.
inline std::string Payload(const std::string& configLines, const std::string& archive = "") {
    std::string text = "\xEF\xBB\xBF" + configLines + std::string(1, '\0');
    return text + Le32(static_cast<std::uint32_t>(text.size())) + std::string(16, 'D') + archive;
}

// A minimal ZIP: one end-of-central-directory record with an optional comment.
inline std::string EmptyZip(const std::string& comment = "") {
    std::string eocd = "PK\x05\x06" + std::string(16, '\0');
    eocd += static_cast<char>(comment.size() & 0xFF);
    eocd += static_cast<char>(comment.size() >> 8);
    return eocd + comment;
}

}  // namespace vxo::test
