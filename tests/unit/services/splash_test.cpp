// The native splash's close requests: the launcher's timers give way to the application's, and
// nothing reaches a window that is gone.
#include "services/splash.h"

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

}  // namespace
}  // namespace vxo::splash
