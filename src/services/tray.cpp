// Tray icons: records, identifiers, text limits and the Change rules, under one lock.
#include "services/tray.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "services/services.h"

namespace vxo::tray {

namespace {

// Copies at most limit bytes and ends the field with a zero; the rest of the field is zeroed.
template <std::size_t N>
void CopyText(char (&field)[N], const std::string& text, std::size_t limit) {
    static_assert(N > 0, "a text field has room for its zero");
    const std::size_t length = std::min({text.size(), limit, N - 1});
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), length);
}

class SystemShell final : public Shell {
public:
    std::uint64_t Window() override { return platform::TrayWindow(); }
    std::uint64_t LoadPicture(std::int32_t resource) override { return platform::LoadTrayIcon(resource); }
    void DestroyPicture(std::uint64_t icon) override { platform::DestroyTrayIcon(icon); }
    void Notify(Action action, const TrayIconRecord& record) override {
        const auto op = action == Action::Add      ? platform::TrayOperation::Add
                        : action == Action::Modify ? platform::TrayOperation::Modify
                                                   : platform::TrayOperation::Delete;
        platform::NotifyTrayIcon(op, &record, sizeof record);
    }
};

}  // namespace

std::optional<std::int32_t> ApplicationCommand(std::uintptr_t identifier) {
    const std::uintptr_t offset = identifier - kMenuIdOffset;  // wraps below 50000
    if (offset > kMenuIdRange) return std::nullopt;
    return static_cast<std::int32_t>(offset);
}

std::uint32_t MenuItemId(std::int32_t command) {
    return static_cast<std::uint32_t>(command) + kMenuIdOffset;
}

TrayIcons::TrayIcons(Shell& shell, std::uint32_t shellMajorVersion)
    : shell_(shell), shellMajorVersion_(shellMajorVersion) {}

TrayIcons::~TrayIcons() { RemoveAll(); }

TrayIcons::Entry* TrayIcons::Find(std::uintptr_t handle) {
    if (handle == 0) return nullptr;
    for (Entry& entry : entries_) {
        if (reinterpret_cast<std::uintptr_t>(entry.record.get()) == handle) return &entry;
    }
    return nullptr;
}

void TrayIcons::Fill(TrayIconRecord& record, std::int32_t icon, const IconTexts& texts, bool creating) {
    if (creating || icon > 0) {
        if (record.hIcon != 0) shell_.DestroyPicture(record.hIcon);
        record.hIcon = shell_.LoadPicture(icon);
    }
    CopyText(record.szTip, texts.tip, kTipLimit);
    if (texts.text) CopyText(record.szInfo, *texts.text, kTextLimit);
    if (texts.title) CopyText(record.szInfoTitle, *texts.title, kTitleLimit);
}

TrayIconRecord* TrayIcons::Create(std::int32_t icon, const IconTexts& texts, std::int32_t type) {
    auto record = std::make_unique<TrayIconRecord>();
    std::memset(record.get(), 0, sizeof(TrayIconRecord));
    const bool balloons = shellMajorVersion_ >= 5 && texts.text && texts.title;
    record->cbSize = balloons ? kRecordSizeV2 : kRecordSizeV1;
    record->uFlags = kRecordFlags;
    record->uCallbackMessage = kTrayMessage;
    record->dwInfoFlags = static_cast<std::uint32_t>(type);
    std::lock_guard<std::mutex> guard(lock_);
    if (cleanedUp_) return nullptr;
    record->hWnd = shell_.Window();
    record->uID = nextIconId_++;
    Fill(*record, icon, texts, true);
    entries_.push_back(Entry{std::move(record), nullptr});
    return entries_.back().record.get();
}

bool TrayIcons::Show(std::uintptr_t handle, JavaRef ref) {
    std::lock_guard<std::mutex> guard(lock_);
    Entry* entry = Find(handle);
    if (entry == nullptr || entry->record->shown != 0) return false;
    shell_.Notify(Shell::Action::Add, *entry->record);
    entry->record->shown = 1;  // whatever the shell answered: Hide removes it again
    entry->javaIcon = ref;
    return true;
}

JavaRef TrayIcons::Hide(std::uintptr_t handle) {
    std::lock_guard<std::mutex> guard(lock_);
    Entry* entry = Find(handle);
    if (entry == nullptr || entry->record->shown == 0) return nullptr;
    shell_.Notify(Shell::Action::Delete, *entry->record);
    entry->record->shown = 0;
    return std::exchange(entry->javaIcon, nullptr);
}

void TrayIcons::Change(std::uintptr_t handle, std::int32_t icon, const IconTexts& texts, std::int32_t type) {
    std::lock_guard<std::mutex> guard(lock_);
    Entry* entry = Find(handle);
    if (entry == nullptr || entry->record->shown == 0) return;
    Fill(*entry->record, icon, texts, false);
    entry->record->dwInfoFlags = static_cast<std::uint32_t>(type);
    shell_.Notify(Shell::Action::Modify, *entry->record);
}

JavaRef TrayIcons::Finalize(std::uintptr_t handle) {
    std::unique_ptr<TrayIconRecord> freed;
    JavaRef ref = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        Entry* entry = Find(handle);
        if (entry == nullptr) return nullptr;
        if (entry->record->shown != 0) shell_.Notify(Shell::Action::Delete, *entry->record);
        if (entry->record->hIcon != 0) shell_.DestroyPicture(entry->record->hIcon);
        ref = entry->javaIcon;
        freed = std::move(entry->record);
        entries_.erase(entries_.begin() + (entry - entries_.data()));
    }
    return ref;
}

JavaRef TrayIcons::SetCallback(JavaRef callback) {
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(callback_, callback);
}

void TrayIcons::RemoveAll() {
    std::lock_guard<std::mutex> guard(lock_);
    if (cleanedUp_) return;
    cleanedUp_ = true;
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->record->shown != 0) shell_.Notify(Shell::Action::Delete, *it->record);
        if (it->record->hIcon != 0) shell_.DestroyPicture(it->record->hIcon);
    }
    entries_.clear();
    entries_.shrink_to_fit();
    // The virtual machine is gone or going: no event is delivered from here on.
    callback_ = nullptr;
}

bool TrayIcons::WithMouseTarget(std::uint32_t iconId, const std::function<void(JavaRef, JavaRef)>& use) {
    std::lock_guard<std::mutex> guard(lock_);
    if (callback_ == nullptr) return false;
    for (const Entry& entry : entries_) {
        if (entry.record->uID != iconId) continue;
        use(callback_, entry.javaIcon);
        return true;
    }
    return false;
}

bool TrayIcons::WithCallback(const std::function<void(JavaRef)>& use) {
    std::lock_guard<std::mutex> guard(lock_);
    if (callback_ == nullptr) return false;
    use(callback_);
    return true;
}

std::size_t TrayIcons::Count() {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

TrayIcons& ProcessIcons() {
    // Never destroyed: the interrupt handler may run while the process's exit handlers do.
    static SystemShell* const shell = new SystemShell;
    static TrayIcons* const icons = new TrayIcons(*shell, platform::ShellMajorVersion());
    return *icons;
}

}  // namespace vxo::tray

namespace vxo {

void RemoveAllTrayIcons() { tray::ProcessIcons().RemoveAll(); }

}  // namespace vxo
