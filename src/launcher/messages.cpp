// Message texts, their configured overrides and the reporting of failures.
#include "launcher/messages.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/text.h"
#include "config/config_store.h"
#include "config/expand.h"
#include "launcher/image.h"
#include "launcher/process.h"
#include "services/services.h"
#include "platform/platform.h"

namespace vxo {

bool ParseMessageOverride(std::string_view value, int& number, std::string& text) {
    std::size_t eq = value.find('=');
    if (eq == std::string_view::npos) return false;
    number = std::atoi(std::string(value.substr(0, eq)).c_str());
    if (number <= 0) return false;
    text.clear();
    for (std::size_t i = eq + 1; i < value.size(); ++i) {
        char c = value[i];
        if (c != '\\') {
            text.push_back(c);
            continue;
        }
        if (++i >= value.size()) break;  // a backslash at the very end is dropped
        char e = value[i];
        text.push_back(e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e);
    }
    return true;
}

void MessageOverrides::Load(const ConfigStore& store) {
    // Inserted values come through the unescaping unchanged: a folder such as C:\temp keeps
    // its backslashes instead of turning into a tab.
    ConfigStore::Callback add = [&](const std::string& raw) {
        int number = 0;
        std::string text;
        if (ParseMessageOverride(ExpandValueForEscapes(store, raw), number, text))
            entries_.emplace_back(number, std::move(text));
    };
    store.Find("message", &add, false, true);
}

const std::string* MessageOverrides::Find(int number) const {
    for (const auto& entry : entries_) {
        if (entry.first == number) return &entry.second;
    }
    return nullptr;
}

std::string MessageText(int number) {
    static std::unique_ptr<MessageOverrides> overrides;
    if (!overrides) {
        overrides = std::make_unique<MessageOverrides>();
        if (const ConfigStore* store = Process::store) overrides->Load(*store);
    }
    if (const std::string* text = overrides->Find(number)) return *text;
    return Utf16ToAnsi(platform::LoadStringResource(number));
}

void ReportSystemError(const std::string& insert) {
    std::string text = platform::LastErrorText();
    ReplaceAll(text, "%1", insert);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void ReportText(const std::string& text) {
    if (IsGuiImage()) {
        // Owned by the splash, so the box shows above it; the splash closes soon after.
        platform::ShowMessageBox(text, MessageText(10), SplashWindowHandle());
        CloseSplashAfter(100);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
}

void ReportMessage(int number) { ReportText(MessageText(number)); }

}  // namespace vxo
