// The native splash's close requests: the launcher's timers give way to the application's, and
// nothing reaches a window that is gone.
#include "services/splash.h"
#include "services/splash_image.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace vxo::splash {
namespace {

class FakeWindow final : public Window {
public:
    void SetTimer(std::uint64_t window, int ms) override {
        calls.push_back("timer " + std::to_string(window) + " " + std::to_string(ms));
    }
    void PostClose(std::uint64_t window) override { calls.push_back("close " + std::to_string(window)); }
    std::vector<std::string> calls;
};

// The launch's sequence around main: before (rearm), the application's calls, after.
TEST(SplashClose, LauncherTimersGiveWayToTheApplication) {
    struct Case {
        const char* name;
        std::vector<int> applicationAutoClose;  // autoClose calls made from main
        std::vector<std::string> calls;
    } cases[] = {
        {"nothing from main", {}, {"timer 7 1750", "timer 7 750"}},
        {"autoClose(-1) keeps it past main", {-1}, {"timer 7 1750", "timer 7 -1"}},
        {"autoClose(5000)", {5000}, {"timer 7 1750", "timer 7 5000"}},
    };
    for (const Case& c : cases) {
        FakeWindow system;
        CurrentSplash splash(system);
        splash.Created(7);
        splash.ScheduleUnlessRequested(1750, true);
        for (int ms : c.applicationAutoClose) splash.AutoClose(ms);
        splash.ScheduleUnlessRequested(750, false);
        splash.ScheduleUnlessRequested(30000, false);  // requested by now: nothing more
        EXPECT_EQ(system.calls, c.calls) << c.name;
    }
}

TEST(SplashClose, NothingReachesAWindowThatIsGone) {
    FakeWindow system;
    CurrentSplash splash(system);
    splash.AutoClose(100);
    splash.Close();
    EXPECT_EQ(splash.Handle(), 0u);
    splash.Created(9);
    EXPECT_EQ(splash.Handle(), 9u);
    splash.Close();
    splash.Ended();
    splash.Ended();
    splash.AutoClose(100);
    splash.ScheduleUnlessRequested(750, false);
    splash.Close();
    EXPECT_EQ(splash.Handle(), 0u);
    EXPECT_EQ(system.calls, std::vector<std::string>{"close 9"});
}

// Natives and timers race the splash thread's end; every call either acts on the live window
// or finds none (under the sanitizers, and by the calls' record).
TEST(SplashClose, CallsRacingTheEnd) {
    FakeWindow system;
    CurrentSplash splash(system);
    splash.Created(3);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                splash.AutoClose(i);
                splash.Close();
            }
        });
    }
    threads.emplace_back([&] { splash.Ended(); });
    for (std::thread& thread : threads) thread.join();
    const std::size_t before = system.calls.size();
    splash.AutoClose(1);
    splash.Close();
    EXPECT_EQ(system.calls.size(), before);
    for (const std::string& call : system.calls) EXPECT_NE(call.find(" 3"), std::string::npos) << call;
}

// ---- image headers ----------------------------------------------------------------------------

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

std::string Png(std::uint32_t width, std::uint32_t height) {
    auto be32 = [](std::uint32_t v) { return Bytes({int(v >> 24), int((v >> 16) & 255), int((v >> 8) & 255), int(v & 255)}); };
    return std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(width) + be32(height) + Bytes({8, 2, 0, 0, 0});
}

// A GIF with a global colour table of 2 entries and `frames` images of one data sub-block each,
// one of them behind a graphic control extension.
std::string Gif(int width, int height, int frames, bool trailer = true) {
    std::string out = "GIF89a" + Bytes({width & 255, width >> 8, height & 255, height >> 8, 0x80, 0, 0});
    out += Bytes({0, 0, 0, 255, 255, 255});
    for (int i = 0; i < frames; ++i) {
        if (i == 1) out += Bytes({0x21, 0xF9, 4, 0, 10, 0, 0, 0});
        out += Bytes({0x2C, 0, 0, 0, 0, width & 255, width >> 8, height & 255, height >> 8, 0});
        out += Bytes({2, 3, 1, 2, 3, 0});
    }
    if (trailer) out += Bytes({0x3B});
    return out;
}

std::string Jpeg(int width, int height, int frameMarker = 0xC0) {
    std::string out = Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 6, 'J', 'F', 'I', 'F', 0xFF, 0xFF});
    return out + Bytes({0xFF, frameMarker, 0, 11, 8, height >> 8, height & 255, width >> 8, width & 255, 1, 1, 0x11, 0});
}

TEST(SplashImage, SizesFromHeadersAndTheBound) {
    struct Case {
        const char* name;
        std::string data;
        std::uint32_t width, height, frames;
        bool refused;
    } cases[] = {
        {"PNG", Png(200, 120), 200, 120, 1, false},
        {"PNG at the bound", Png(8192, 8192), 8192, 8192, 1, false},
        {"PNG of 20000 x 20000", Png(20000, 20000), 20000, 20000, 1, true},
        {"PNG wider than the bound only", Png(8193, 1), 8193, 1, 1, true},
        {"PNG of 2^32 - 1 square", Png(0xFFFFFFFF, 0xFFFFFFFF), 0xFFFFFFFF, 0xFFFFFFFF, 1, true},
        {"PNG cut in its header", Png(20000, 20000).substr(0, 22), 0, 0, 0, false},
        {"GIF, three frames", Gif(300, 200, 3), 300, 200, 3, false},
        {"GIF frames above the bound together", Gif(8000, 8000, 2), 8000, 8000, 2, true},
        {"GIF without trailer", Gif(10, 10, 2, false), 10, 10, 2, false},
        {"GIF, logical screen only", Gif(65535, 65535, 0), 65535, 65535, 1, true},
        {"GIF cut in an image", Gif(10, 10, 2).substr(0, 30), 10, 10, 1, false},
        {"JPEG", Jpeg(640, 480), 640, 480, 1, false},
        {"JPEG progressive", Jpeg(60000, 100, 0xC2), 60000, 100, 1, true},
        {"JPEG: the scan before any frame header", Jpeg(640, 480, 0xDA), 0, 0, 0, false},
        {"JPEG: a table marker is no frame", Jpeg(640, 480, 0xC4).substr(0, 17), 0, 0, 0, false},
        {"BMP is left to the library", "BM" + std::string(60, '\xff'), 0, 0, 0, false},
        {"empty", "", 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        const ImageSize size = ReadImageSize(reinterpret_cast<const std::uint8_t*>(c.data.data()), c.data.size());
        EXPECT_EQ(size.width, c.width) << c.name;
        EXPECT_EQ(size.height, c.height) << c.name;
        EXPECT_EQ(size.frames, c.frames) << c.name;
        const std::string refusal = SplashRefusal(size, "pic");
        EXPECT_EQ(!refusal.empty(), c.refused) << c.name << ": " << refusal;
        EXPECT_EQ(refusal.find('\n'), std::string::npos) << c.name;
    }
    EXPECT_EQ(SplashRefusal({20000, 20000, 1}, "big.png"),
              "Splash image big.png is 20000 x 20000 pixels, more than 8192 x 8192: it is not shown.");
    EXPECT_EQ(ReadImageSize(nullptr, 10).frames, 0u);
}

}  // namespace
}  // namespace vxo::splash
