// Benchmark: loading the configuration of a program file with a 1 MiB and a 500 MiB archive.
// The archive is never read, so the two should take about the same time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/config_store.h"

namespace {

void WriteProgram(const std::string& path, std::size_t archiveBytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string image(200 * 1024, 'I');
    out << image;
    std::string text = "\xEF\xBB\xBFmainclass bench.Main\r\noption -Xmx64m\r\nminjre 1.8\r\nsplash s.bmp\r\n";
    text.push_back('\0');
    std::uint32_t t = static_cast<std::uint32_t>(text.size());
    out << text;
    out.write(reinterpret_cast<const char*>(&t), 4);
    out << std::string(16, 'D');
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
    for (std::size_t written = 0; written < archiveBytes; written += block.size())
        out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), archiveBytes - written)));
    std::string eocd = "PK\x05\x06" + std::string(18, '\0');
    out << eocd;
}

double LoadSeconds(const std::string& program) {
    auto start = std::chrono::steady_clock::now();
    vxo::ConfigStore store(true, program);
    std::size_t sink = store.Value(vxo::Keyword::MainClass).size() + store.Value(vxo::Keyword::MinJre).size() +
                       store.Values(vxo::Keyword::Option).size() + store.Value(vxo::Keyword::Splash).size() +
                       store.Value(vxo::Keyword::Vm).size();
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (sink == 0) std::puts("unexpected: empty configuration");
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    auto dir = std::filesystem::temp_directory_path() / "vxo-bench-config";
    std::filesystem::create_directories(dir);
    const std::string small = (dir / "small.exe").string(), large = (dir / "large.exe").string();
    WriteProgram(small, 1u << 20);
    WriteProgram(large, 500u << 20);
    for (const std::string& p : {small, large}) {
        std::ofstream(p + ".cfg") << "option -Dexternal=1\nsplash ext.bmp\n";
    }
    std::vector<double> a, b;
    for (int i = 0; i < 201; ++i) {  // alternate, and swap who goes first, so neither gains
        if (i % 2 == 0) {
            a.push_back(LoadSeconds(small));
            b.push_back(LoadSeconds(large));
        } else {
            b.push_back(LoadSeconds(large));
            a.push_back(LoadSeconds(small));
        }
    }
    double ms = Median(a) * 1e3, ml = Median(b) * 1e3;
    std::printf("configuration load, median of %zu runs each\n", a.size());
    std::printf("  1 MiB archive:   %.4f ms\n", ms);
    std::printf("  500 MiB archive: %.4f ms\n", ml);
    std::printf("  ratio 500 MiB / 1 MiB: %.3f\n", ml / ms);
    std::filesystem::remove_all(dir);
    return 0;
}
