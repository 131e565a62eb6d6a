// String helpers, StringList and the text conversions.
#include "common/text.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cwchar>

namespace vxo {

void StringList::Add(std::string_view text) {
    offsets_.push_back(static_cast<std::int32_t>(buffer_.size()));
    buffer_.append(text);
    buffer_.push_back('\0');
}

void StringList::Clear() {
    buffer_.clear();
    offsets_.clear();
}

std::string_view StringList::operator[](std::size_t i) const {
    std::size_t begin = static_cast<std::size_t>(offsets_[i]);
    std::size_t end = i + 1 < offsets_.size() ? static_cast<std::size_t>(offsets_[i + 1]) - 1
                                              : buffer_.size() - 1;
    return std::string_view(buffer_.data() + begin, end - begin);
}

std::vector<std::string> StringList::ToVector() const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < size(); ++i) out.emplace_back((*this)[i]);
    return out;
}

static char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) return;
    for (std::size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
}

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

std::string DirectoryPart(std::string_view path) {
    std::size_t pos = path.find_last_of("/\\");
    return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos + 1));
}

std::string EncodeUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (char16_t u : units) {
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

std::u16string DecodeUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    auto isCont = [&](std::size_t i) { return (at(i) & 0xC0) == 0x80; };
    std::size_t i = 0;
    while (i < bytes.size()) {
        unsigned char b = at(i);
        std::size_t need = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : 0;
        if (b < 0x80) {
            out.push_back(b);
            ++i;
        } else if (need == 0) {
            out.push_back(u'?');  // stray continuation or a lead byte of 4 and more
            ++i;
        } else if (bytes.size() - i - 1 < need) {
            break;  // not enough bytes left for this sequence
        } else if (!isCont(i + 1) || (need == 2 && !isCont(i + 2))) {
            out.push_back(u'?');
            i += isCont(i + 1) ? 2 : 1;  // resume at the byte that was not a continuation
        } else if (need == 1) {
            out.push_back(static_cast<char16_t>(((b & 0x1F) << 6) | (at(i + 1) & 0x3F)));
            i += 2;
        } else {
            out.push_back(static_cast<char16_t>(((b & 0x0F) << 12) | ((at(i + 1) & 0x3F) << 6) |
                                                (at(i + 2) & 0x3F)));
            i += 3;
        }
    }
    return out;
}

std::u16string AnsiToUtf16(std::string_view text) {
    std::u16string out;
    std::mbstate_t state{};
    std::size_t i = 0;
    while (i < text.size() && text[i] != '\0') {
        wchar_t wc = 0;
        std::size_t n = std::mbrtowc(&wc, text.data() + i, text.size() - i, &state);
        if (n == 0 || n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) break;
        i += n;
        auto cp = static_cast<std::uint32_t>(wc);
        if (cp > 0xFFFF && cp <= 0x10FFFF) {  // only where wchar_t is 32 bits wide
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToAnsi(std::u16string_view units) {
    std::string out;
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t cp = units[i];
        if (sizeof(wchar_t) == 4 && cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() &&
            units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        std::size_t n = std::wcrtomb(buffer, static_cast<wchar_t>(cp), &state);
        if (n == static_cast<std::size_t>(-1)) {
            out.push_back('?');
            state = std::mbstate_t{};
        } else {
            out.append(buffer, n);
        }
    }
    return out;
}

}  // namespace vxo

namespace vxo {

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;  // let the last "*" swallow one more character
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace vxo
