// POSIX backend of the notification area: no tray window and nothing shown, but pop-up menus
// kept in memory with their items, so a handle behaves as on Windows (a destroyed one names
// nothing, handles are never reused).
#include "platform/platform.h"

#include <map>
#include <mutex>

namespace vxo::platform {

namespace {

struct Menus {
    std::mutex lock;
    std::map<std::uint64_t, std::vector<MenuItem>> items;
    std::uint64_t next = 1;
};

Menus& TheMenus() {
    static Menus* const menus = new Menus;  // outlives the exit handlers, like system menus
    return *menus;
}

// Items per menu: a runaway application gets no more, as a system menu would refuse them.
constexpr std::size_t kMaxMenuItems = 65536;

}  // namespace

std::uint32_t ShellMajorVersion() { return 6; }

void StartTrayWindow(TrayMouseHandler, TrayCommandHandler) {}

std::uint64_t TrayWindow() { return 0; }

bool NotifyTrayIcon(TrayOperation, const void*, std::size_t) { return true; }

std::uint64_t LoadTrayIcon(std::int32_t) { return 0; }

void DestroyTrayIcon(std::uint64_t) {}

std::uint64_t CreatePopupMenu() {
    Menus& menus = TheMenus();
    std::lock_guard<std::mutex> guard(menus.lock);
    const std::uint64_t handle = menus.next++;
    menus.items[handle];
    return handle;
}

bool AppendMenuItem(std::uint64_t menu, const MenuItem& item) {
    Menus& menus = TheMenus();
    std::lock_guard<std::mutex> guard(menus.lock);
    auto found = menus.items.find(menu);
    if (found == menus.items.end() || found->second.size() >= kMaxMenuItems) return false;
    found->second.push_back(item);
    return true;
}

void DestroyMenu(std::uint64_t menu) {
    Menus& menus = TheMenus();
    std::lock_guard<std::mutex> guard(menus.lock);
    menus.items.erase(menu);
}

std::vector<MenuItem> MenuItems(std::uint64_t menu) {
    Menus& menus = TheMenus();
    std::lock_guard<std::mutex> guard(menus.lock);
    auto found = menus.items.find(menu);
    return found == menus.items.end() ? std::vector<MenuItem>() : found->second;
}

void TrackPopupMenu(std::uint64_t) {}

}  // namespace vxo::platform
