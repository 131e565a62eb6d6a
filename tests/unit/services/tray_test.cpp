// Tray icon records, the Change rules, identifiers, the command window, handles that outlive
// their records, and pop-up menus on the real backend.
#include "services/tray.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace vxo::tray {
namespace {

// Records what the list asks of the shell; pictures are numbered from 100.
class FakeShell final : public Shell {
public:
    std::uint64_t Window() override { return 0xABC; }
    std::uint64_t LoadPicture(std::int32_t) override { return 100 + ++pictures; }
    void DestroyPicture(std::uint64_t icon) override { destroyed.push_back(icon); }
    void Notify(Action action, const TrayIconRecord& record) override {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back({action, record.uID});
    }
    std::size_t CountOf(Action action) {
        std::lock_guard<std::mutex> guard(lock);
        std::size_t n = 0;
        for (const auto& call : calls) n += call.first == action;
        return n;
    }
    std::atomic<std::uint64_t> pictures{0};
    std::vector<std::uint64_t> destroyed;
    std::mutex lock;
    std::vector<std::pair<Action, std::uint32_t>> calls;
};

std::uintptr_t H(const TrayIconRecord* record) { return reinterpret_cast<std::uintptr_t>(record); }
JavaRef Ref(int n) { return reinterpret_cast<JavaRef>(static_cast<std::uintptr_t>(n)); }

TEST(TrayRecord, SizeFollowsShellVersionAndBalloonStrings) {
    struct Case {
        std::uint32_t shell;
        bool text, title;
        std::uint32_t size;
    } cases[] = {{6, true, true, 504}, {5, true, true, 504}, {4, true, true, 104},
                 {6, true, false, 104}, {6, false, true, 104}, {6, false, false, 104}};
    for (const Case& c : cases) {
        FakeShell shell;
        TrayIcons icons(shell, c.shell);
        IconTexts texts{"tip", std::nullopt, std::nullopt};
        if (c.text) texts.text = "";
        if (c.title) texts.title = "";
        TrayIconRecord* record = icons.Create(7, texts, 2);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->cbSize, c.size) << "shell " << c.shell << " text " << c.text << " title " << c.title;
        EXPECT_EQ(record->hWnd, 0xABCu);
        EXPECT_EQ(record->uFlags, 0x17u);
        EXPECT_EQ(record->uCallbackMessage, 1124u);
        EXPECT_EQ(record->dwInfoFlags, 2u);
        EXPECT_EQ(record->shown, 0u);
        EXPECT_EQ(record->hIcon, 101u);
    }
}

TEST(TrayRecord, TextsAreCutAtTheirLimits) {
    struct Case {
        std::size_t tip, text, title;
    } cases[] = {{63, 255, 63}, {64, 256, 64}, {200, 400, 300}, {0, 0, 0}};
    for (const Case& c : cases) {
        FakeShell shell;
        TrayIcons icons(shell, 6);
        TrayIconRecord* record =
            icons.Create(1, {std::string(c.tip, 't'), std::string(c.text, 'x'), std::string(c.title, 'y')}, 1);
        EXPECT_EQ(std::strlen(record->szTip), std::min<std::size_t>(c.tip, 63));
        EXPECT_EQ(std::strlen(record->szInfo), std::min<std::size_t>(c.text, 255));
        EXPECT_EQ(std::strlen(record->szInfoTitle), std::min<std::size_t>(c.title, 63));
        // Nothing beyond the kept text: the shell reads whole fields.
        EXPECT_EQ(record->szTip[127], '\0');
        EXPECT_EQ(record->reserved2, 0u);
    }
}

TEST(TrayRecord, IdentifiersCountUpAndAreNeverReused) {
    FakeShell shell;
    TrayIcons icons(shell, 6);
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < 3; ++i) {
        TrayIconRecord* record = icons.Create(1, {}, 0);
        ids.push_back(record->uID);
        icons.Finalize(H(record));
    }
    ids.push_back(icons.Create(1, {}, 0)->uID);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 2, 3, 4}));
}

TEST(TrayRecord, ChangeRules) {
    struct Case {
        const char* name;
        bool show;
        std::int32_t icon;
        IconTexts texts;
        std::int32_t type;
        const char *tip, *text, *title;
        std::uint32_t flags;
        bool newPicture;
    } cases[] = {
        {"hidden icon unchanged", false, 5, {"new", "t2", "h2"}, 3, "tip", "text", "title", 1, false},
        {"null text and title kept", true, 0, {"new", std::nullopt, std::nullopt}, -1, "new", "text", "title",
         0xFFFFFFFF, false},
        {"null tip clears", true, 0, {"", "t2", std::nullopt}, 2, "", "t2", "title", 2, false},
        {"icon above 0 reloads", true, 9, {"tip", std::nullopt, "h2"}, 0, "tip", "text", "h2", 0, true},
    };
    for (const Case& c : cases) {
        FakeShell shell;
        TrayIcons icons(shell, 6);
        TrayIconRecord* record = icons.Create(1, {"tip", "text", "title"}, 1);
        if (c.show) icons.Show(H(record), Ref(1));
        const std::uint64_t picture = record->hIcon;
        icons.Change(H(record), c.icon, c.texts, c.type);
        EXPECT_STREQ(record->szTip, c.tip) << c.name;
        EXPECT_STREQ(record->szInfo, c.text) << c.name;
        EXPECT_STREQ(record->szInfoTitle, c.title) << c.name;
        EXPECT_EQ(record->dwInfoFlags, c.flags) << c.name;
        EXPECT_EQ(record->hIcon != picture, c.newPicture) << c.name;
        EXPECT_EQ(record->cbSize, 504u) << c.name;
        EXPECT_EQ(shell.CountOf(Shell::Action::Modify), c.show ? 1u : 0u) << c.name;
        if (c.newPicture) {
            EXPECT_EQ(shell.destroyed, std::vector<std::uint64_t>{picture}) << c.name;
        }
    }
}

TEST(TrayIconList, ShowHideAndReferences) {
    FakeShell shell;
    TrayIcons icons(shell, 6);
    TrayIconRecord* record = icons.Create(1, {}, 0);
    EXPECT_EQ(icons.Hide(H(record)), nullptr);           // hidden: nothing to remove
    EXPECT_TRUE(icons.Show(H(record), Ref(1)));
    EXPECT_FALSE(icons.Show(H(record), Ref(2)));         // shown once; the caller keeps ref 2
    EXPECT_EQ(record->shown, 1u);
    EXPECT_EQ(shell.CountOf(Shell::Action::Add), 1u);
    EXPECT_EQ(icons.Hide(H(record)), Ref(1));
    EXPECT_EQ(record->shown, 0u);
    EXPECT_TRUE(icons.Show(H(record), Ref(3)));
    EXPECT_EQ(icons.Finalize(H(record)), Ref(3));         // a shown icon leaves the area too
    EXPECT_EQ(shell.CountOf(Shell::Action::Delete), 2u);
}

// Handles that outlive their records (a second finalize, calls after clean-up) find nothing.
TEST(TrayIconList, StaleHandlesFindNothing) {
    FakeShell shell;
    TrayIcons icons(shell, 6);
    TrayIconRecord* kept = icons.Create(1, {}, 0);
    TrayIconRecord* freed = icons.Create(1, {}, 0);
    const std::uintptr_t stale = H(freed);
    icons.Finalize(stale);
    EXPECT_EQ(icons.Finalize(stale), nullptr);
    EXPECT_FALSE(icons.Show(stale, Ref(1)));
    icons.Change(stale, 1, {}, 0);
    EXPECT_EQ(icons.Count(), 1u);
    icons.Show(H(kept), Ref(2));
    icons.SetCallback(Ref(9));
    icons.RemoveAll();
    icons.RemoveAll();
    EXPECT_EQ(shell.CountOf(Shell::Action::Delete), 1u);  // once, for the shown icon
    EXPECT_EQ(icons.Count(), 0u);
    EXPECT_FALSE(icons.Show(H(kept), Ref(3)));
    EXPECT_EQ(icons.Hide(H(kept)), nullptr);
    EXPECT_EQ(icons.Create(1, {}, 0), nullptr);            // nothing new after clean-up
    EXPECT_FALSE(icons.WithMouseTarget(2, [](JavaRef, JavaRef) {}));
    EXPECT_FALSE(icons.WithCallback([](JavaRef) {}));     // no events after clean-up
    EXPECT_EQ(shell.CountOf(Shell::Action::Add), 1u);
}

TEST(TrayIconList, MouseTargetIsTheIconWithThatIdentifier) {
    FakeShell shell;
    TrayIcons icons(shell, 6);
    TrayIconRecord* first = icons.Create(1, {}, 0);
    TrayIconRecord* second = icons.Create(1, {}, 0);
    icons.Show(H(second), Ref(22));
    JavaRef seenCallback = nullptr, seenIcon = Ref(-1);
    auto use = [&](JavaRef cb, JavaRef icon) { seenCallback = cb, seenIcon = icon; };
    EXPECT_FALSE(icons.WithMouseTarget(second->uID, use));  // no callback yet
    EXPECT_EQ(icons.SetCallback(Ref(9)), nullptr);
    EXPECT_TRUE(icons.WithMouseTarget(second->uID, use));
    EXPECT_EQ(seenCallback, Ref(9));
    EXPECT_EQ(seenIcon, Ref(22));
    EXPECT_TRUE(icons.WithMouseTarget(first->uID, use));
    EXPECT_EQ(seenIcon, nullptr);                          // hidden: no object
    EXPECT_FALSE(icons.WithMouseTarget(77, use));
    EXPECT_EQ(icons.SetCallback(nullptr), Ref(9));
}

TEST(TrayCommands, OnlyTheApplicationWindowArrives) {
    struct Case {
        std::uintptr_t identifier;
        std::optional<std::int32_t> command;
    } cases[] = {{50000, 0}, {51000, 1000}, {50017, 17}, {51001, std::nullopt}, {49999, std::nullopt},
                 {0, std::nullopt}, {MenuItemId(-1), std::nullopt}, {static_cast<std::uintptr_t>(-1), std::nullopt}};
    for (const Case& c : cases) EXPECT_EQ(ApplicationCommand(c.identifier), c.command) << c.identifier;
    EXPECT_EQ(MenuItemId(0), 50000u);
    EXPECT_EQ(MenuItemId(1000), 51000u);
}

// Java threads and the finaliser free records while the window thread looks them up and the
// interrupt handler cleans up; under the sanitizers a use after free fails this test.
TEST(TrayIconList, ConcurrentUseAndCleanUp) {
    FakeShell shell;
    TrayIcons icons(shell, 6);
    icons.SetCallback(Ref(1));
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000 && !stop; ++i) {
                TrayIconRecord* record = icons.Create(1, {"tip", "a", "b"}, 1);
                if (record == nullptr) return;  // cleaned up
                const std::uintptr_t h = H(record);
                icons.Show(h, Ref(2));
                icons.Change(h, 2, {"t", std::nullopt, std::nullopt}, 0);
                icons.Finalize(h);
                icons.Finalize(h);
                icons.Hide(h);
            }
        });
    }
    threads.emplace_back([&] {
        for (std::uint32_t id = 1; id < 8000 && !stop; ++id) icons.WithMouseTarget(id, [](JavaRef, JavaRef) {});
    });
    threads.emplace_back([&] {
        // Clean up in the middle of the traffic, not before it starts.
        for (int i = 0; i < 1000000 && shell.CountOf(Shell::Action::Add) < 200; ++i) std::this_thread::yield();
        icons.RemoveAll();
    });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(icons.Count(), 0u);
    EXPECT_EQ(icons.Create(1, {}, 0), nullptr);
}

// Pop-up menus on the real backend (Windows menus under Wine, the POSIX twin on Linux).
TEST(TrayMenus, ItemsKeepTheirIdentifiersAndKinds) {
    const std::uint64_t menu = platform::CreatePopupMenu();
    const std::uint64_t sub = platform::CreatePopupMenu();
    ASSERT_NE(menu, 0u);
    using Kind = platform::MenuItem::Kind;
    const platform::MenuItem items[] = {{Kind::String, "Open", MenuItemId(0), 0},
                                        {Kind::Separator, "", 0, 0},
                                        {Kind::SubMenu, "More", 0, sub},
                                        {Kind::String, "Quit", MenuItemId(1000), 0}};
    for (const auto& item : items) EXPECT_TRUE(platform::AppendMenuItem(menu, item));
    const std::vector<platform::MenuItem> got = platform::MenuItems(menu);
    ASSERT_EQ(got.size(), 4u);
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].kind, items[i].kind) << i;
        EXPECT_EQ(got[i].text, items[i].text) << i;
        if (items[i].kind == Kind::String) {
            EXPECT_EQ(got[i].id, items[i].id) << i;
        } else if (items[i].kind == Kind::SubMenu) {
            EXPECT_EQ(got[i].subMenu, sub) << i;
        }
    }
    platform::DestroyMenu(menu);  // takes the sub-menu with it on Windows
    EXPECT_FALSE(platform::AppendMenuItem(menu, items[0]));
    EXPECT_TRUE(platform::MenuItems(menu).empty());
    platform::DestroyMenu(sub);
}

}  // namespace
}  // namespace vxo::tray
