// Failure help after a missing or unfit runtime: the version range and the "jreurl" address.
#include "launcher/runtime_help.h"

#include <cstdio>

#include "common/text.h"
#include "config/config_store.h"
#include "launcher/image.h"
#include "launcher/launch.h"
#include "launcher/messages.h"
#include "launcher/version.h"
#include "platform/platform.h"
#include "services/services.h"

namespace vxo {

namespace {

constexpr int kNeedsAtLeast = 20, kNeedsAtMost = 21, kNeedsBetween = 22, kGetJavaAt = 23, kOpenQuestion = 24;

// A configured text for the number, else the built-in one.
std::string HelpText(int number) {
    std::string text = MessageText(number);
    if (!text.empty()) return text;
    switch (number) {
        case kNeedsAtLeast: return "This program needs Java %s or later.";
        case kNeedsAtMost: return "This program needs Java %s or earlier.";
        case kNeedsBetween: return "This program needs Java %s to %s.";
        case kGetJavaAt: return "Get Java at %s";
        case kOpenQuestion: return "Open this address now?";
        default: return std::string();
    }
}

bool IsRuntimeFailure(int result) {
    return result == kNoRuntime || result == kVersionTooLow || result == kVersionTooHigh;
}

}  // namespace

std::string RuntimeHelpText(int result, const std::string& minJre, const std::string& maxJre,
                            const std::string& address) {
    if (!IsRuntimeFailure(result)) return std::string();
    std::string help;
    // Messages 6 and 12 state the range themselves.
    if (result == kNoRuntime && !(minJre.empty() && maxJre.empty())) {
        if (maxJre.empty())
            help = FormatMessage(HelpText(kNeedsAtLeast), {minJre});
        else if (minJre.empty())
            help = FormatMessage(HelpText(kNeedsAtMost), {maxJre});
        else
            help = FormatMessage(HelpText(kNeedsBetween), {minJre, maxJre});
    }
    if (!address.empty()) {
        if (!help.empty()) help.push_back('\n');
        help += FormatMessage(HelpText(kGetJavaAt), {address});
    }
    return help;
}

bool IsWebAddress(const std::string& address) {
    for (char c : address) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == '"') return false;
    }
    auto startsWith = [&](const char* scheme) {
        std::string_view s(scheme);
        return address.size() > s.size() && EqualsIgnoreCase(std::string_view(address).substr(0, s.size()), s);
    };
    return startsWith("https://") || startsWith("http://");
}

void ReportRuntimeFailure(const ConfigStore& store, int result, const std::string& message) {
    const std::string address = store.Value(Keyword::JreUrl);
    const std::string help =
        RuntimeHelpText(result, store.Value(Keyword::MinJre), store.Value(Keyword::MaxJre), address);
    if (help.empty()) {
        ReportText(message);
    } else if (!IsGuiImage()) {
        ReportText(message);
        std::fprintf(stderr, "%s\n", help.c_str());
        std::fflush(stderr);
    } else if (platform::kCanOpenAddress && IsWebAddress(address)) {
        platform::OfferToOpenAddress(message + "\n\n" + help + "\n\n" + HelpText(kOpenQuestion), MessageText(10),
                                     address, SplashWindowHandle());
        CloseSplashAfter(100);
    } else {
        ReportText(message + "\n\n" + help);
    }
}

}  // namespace vxo
