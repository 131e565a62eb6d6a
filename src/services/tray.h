// Tray icons and menus: the records, identifiers and texts the shell sees, the one lock that
// Java threads (the finaliser among them) and the tray window's thread share, and the rules
// that decide which events reach the application. No JNI here: Java references are opaque.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vxo::tray {

// The shell's notification record (NOTIFYICONDATAA, 64-bit layout) up to its 504-byte form,
// then the launcher's own flag. Handles are kept as integers so the layout is the same on
// every backend; the Windows backend checks it against the system header.
struct TrayIconRecord {
    std::uint32_t cbSize;
    std::uint32_t reserved0;
    std::uint64_t hWnd;
    std::uint32_t uID;
    std::uint32_t uFlags;
    std::uint32_t uCallbackMessage;
    std::uint32_t reserved1;
    std::uint64_t hIcon;
    char szTip[128];
    std::uint32_t dwState;
    std::uint32_t dwStateMask;
    char szInfo[256];
    std::uint32_t uTimeout;
    char szInfoTitle[64];
    std::uint32_t dwInfoFlags;
    std::uint32_t shown;  // 1 while the icon is in the notification area
    std::uint32_t reserved2;
};
static_assert(sizeof(TrayIconRecord) == 512, "a record is 512 bytes");
static_assert(offsetof(TrayIconRecord, szTip) == 40, "NOTIFYICONDATAA layout");
static_assert(offsetof(TrayIconRecord, szInfo) == 176, "NOTIFYICONDATAA layout");
static_assert(offsetof(TrayIconRecord, szInfoTitle) == 436, "NOTIFYICONDATAA layout");
static_assert(offsetof(TrayIconRecord, dwInfoFlags) == 500, "NOTIFYICONDATAA layout");
static_assert(offsetof(TrayIconRecord, shown) == 504, "the flag follows the 504-byte form");

constexpr std::uint32_t kRecordSizeV1 = 104;  // without balloon fields
constexpr std::uint32_t kRecordSizeV2 = 504;  // up to dwInfoFlags
constexpr std::uint32_t kRecordFlags = 0x17;  // NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO
constexpr std::uint32_t kTrayMessage = 1124;  // WM_USER + 100
constexpr std::size_t kTipLimit = 63;         // bytes kept before the terminating zero
constexpr std::size_t kTextLimit = 255;
constexpr std::size_t kTitleLimit = 63;
// Menu items carry the application's command plus this; commands 0 to 1000 reach it.
constexpr std::uint32_t kMenuIdOffset = 50000;
constexpr std::uint32_t kMenuIdRange = 1000;

// A JNI global reference, held and handed back but never used here.
using JavaRef = void*;

// The texts of init and Change: the tip is always given (null reads as empty), the balloon
// text and title may be absent.
struct IconTexts {
    std::string tip;
    std::optional<std::string> text;
    std::optional<std::string> title;
};

// The application command of a WM_COMMAND identifier, or nothing when it is outside the
// window 50000 to 51000 (an unsigned comparison, so identifiers below 50000 fail too).
std::optional<std::int32_t> ApplicationCommand(std::uintptr_t identifier);

// The menu item identifier of an application command.
std::uint32_t MenuItemId(std::int32_t command);

// What the icon list needs from the system: the backend, or a fake in the unit tests.
class Shell {
public:
    virtual ~Shell() = default;
    virtual std::uint64_t Window() = 0;
    virtual std::uint64_t LoadPicture(std::int32_t resource) = 0;
    virtual void DestroyPicture(std::uint64_t icon) = 0;
    enum class Action { Add, Modify, Delete };
    virtual void Notify(Action action, const TrayIconRecord& record) = 0;
};

// The process's icons. Every public operation takes the one lock; none of them calls into
// Java, so a callback that calls the natives again cannot deadlock. Objects' handles are
// looked up in the list before use: a handle whose record was freed finds nothing.
class TrayIcons {
public:
    TrayIcons(Shell& shell, std::uint32_t shellMajorVersion);
    ~TrayIcons();
    TrayIcons(const TrayIcons&) = delete;
    TrayIcons& operator=(const TrayIcons&) = delete;

    // A new record, not yet shown; nullptr once RemoveAll has run (the process is ending).
    TrayIconRecord* Create(std::int32_t icon, const IconTexts& texts, std::int32_t type);
    // Adds a hidden icon to the notification area and keeps ref; false (ref not kept) when
    // the handle names no record or the icon is shown already.
    bool Show(std::uintptr_t handle, JavaRef ref);
    // Removes a shown icon; returns the reference the caller must now release, or nullptr.
    JavaRef Hide(std::uintptr_t handle);
    void Change(std::uintptr_t handle, std::int32_t icon, const IconTexts& texts, std::int32_t type);
    // Frees the record; returns the reference the caller must release, or nullptr.
    JavaRef Finalize(std::uintptr_t handle);
    // Replaces the callback; returns the previous one for the caller to release.
    JavaRef SetCallback(JavaRef callback);
    // Removes every icon, last first, frees the records and forgets the callback; runs once.
    // References are not released: the virtual machine is gone or going when this runs.
    void RemoveAll();

    // Runs use(callback, icon reference) under the lock for the first icon with this uID
    // (icon reference null while hidden); false when there is no callback or no such icon.
    // use must only copy the references.
    bool WithMouseTarget(std::uint32_t iconId, const std::function<void(JavaRef, JavaRef)>& use);
    bool WithCallback(const std::function<void(JavaRef)>& use);

    std::size_t Count();

private:
    struct Entry {
        std::unique_ptr<TrayIconRecord> record;
        JavaRef javaIcon = nullptr;
    };
    Entry* Find(std::uintptr_t handle);
    // Loads the picture (at creation, or on Change for an icon above 0) and copies the texts.
    void Fill(TrayIconRecord& record, std::int32_t icon, const IconTexts& texts, bool creating);

    Shell& shell_;
    const std::uint32_t shellMajorVersion_;
    std::mutex lock_;
    std::vector<Entry> entries_;
    JavaRef callback_ = nullptr;
    std::uint32_t nextIconId_ = 1;
    bool cleanedUp_ = false;
};

// The process-wide list over the system's shell.
TrayIcons& ProcessIcons();

}  // namespace vxo::tray
