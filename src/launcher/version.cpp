// Version components and bounds, and safe formatting of configurable message texts.
#include "launcher/version.h"

#include <cctype>
#include <climits>
#include <cstdlib>

namespace vxo {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A number as "%d" reads it: leading white space, an optional sign, at least one digit.
bool ReadNumber(const std::string& text, std::size_t& pos, int& value) {
    std::size_t i = pos;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    if (i >= text.size() || !IsDigit(text[i])) return false;
    long long v = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        if (v <= INT_MAX) v = v * 10 + (text[i] - '0');
    }
    if (v > INT_MAX) v = INT_MAX;  // saturate instead of overflowing
    value = static_cast<int>(negative ? -v : v);
    pos = i;
    return true;
}

}  // namespace

std::vector<int> VersionComponents(const std::string& text) {
    std::vector<int> components;
    std::size_t pos = 0;
    for (int n = 0; n < 4; ++n) {
        int value = 0;
        if (!ReadNumber(text, pos, value)) break;
        components.push_back(value);
        std::size_t separator = pos;
        while (pos < text.size() && !IsDigit(text[pos])) ++pos;
        // A number followed by no separator ends the text: a trailing number alone counts.
        if (pos == separator || pos >= text.size()) break;
    }
    return components;
}

int CompareVersions(const std::vector<int>& version, const std::vector<int>& bound) {
    std::size_t k = version.size() < bound.size() ? version.size() : bound.size();
    for (std::size_t i = 0; i < k; ++i) {
        if (version[i] != bound[i]) return version[i] < bound[i] ? -1 : 1;
    }
    return 0;
}

std::string FormatMessage(const std::string& format, const std::vector<std::string>& arguments) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            if (next < arguments.size()) out += arguments[next];
            ++next;
            ++i;
        } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
            out.push_back('%');
            ++i;
        } else {
            out.push_back(format[i]);
        }
    }
    return out;
}

}  // namespace vxo
