// String helpers, StringList and the text conversions.
#include "common/text.h"

#include <cctype>
#include <climits>
#include <cstdio>
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

namespace {

bool IsHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u < 0xE000; }
std::uint32_t CodePointOf(std::uint32_t high, std::uint32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, std::uint32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
}

// Length of the UTF-8 sequence a lead byte opens, and the smallest code point it may carry
// (shorter forms of the same value are not accepted).
std::size_t SequenceLength(unsigned char b, std::uint32_t& minimum) {
    struct Form {
        unsigned char mask, lead;
        std::size_t length;
        std::uint32_t minimum;
    };
    static constexpr Form kForms[] = {{0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}};
    for (const Form& form : kForms) {
        if ((b & form.mask) == form.lead) {
            minimum = form.minimum;
            return form.length;
        }
    }
    return 0;
}

}  // namespace

std::string EncodeUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t u = units[i];
        if (IsHighSurrogate(u) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            u = CodePointOf(u, units[++i]);
        }
        AppendUtf8(out, u);  // a lone surrogate keeps its own 3-byte form
    }
    return out;
}

std::string EncodeModifiedUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (char16_t u : units) {
        if (u == 0) {
            out.append("\xC0\x80");
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::u16string DecodeUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::size_t i = 0;
    while (i < bytes.size()) {
        unsigned char b = at(i);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        std::uint32_t minimum = 0;
        std::size_t length = SequenceLength(b, minimum);
        if (length == 0) {
            out.push_back(u'?');  // stray continuation or an invalid lead byte
            ++i;
            continue;
        }
        std::size_t good = 1;
        while (good < length && i + good < bytes.size() && (at(i + good) & 0xC0) == 0x80) ++good;
        if (good < length) {
            if (i + good == bytes.size()) break;  // not enough bytes left for this sequence
            out.push_back(u'?');
            i += good;  // resume at the byte that was not a continuation
            continue;
        }
        std::uint32_t cp = b & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (at(i + k) & 0x3F);
        i += length;
        if (cp < minimum || cp > 0x10FFFF) {
            out.push_back(u'?');
        } else {
            AppendUtf16(out, cp);
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
        if (n == 0) break;
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            // A byte the code page does not know: mark it and go on with the rest.
            out.push_back(kReplacementCharacter);
            state = std::mbstate_t{};
            if (n == static_cast<std::size_t>(-2)) break;  // the text ends inside a character
            ++i;
            continue;
        }
        i += n;
        auto cp = static_cast<std::uint32_t>(wc);
        if (cp > 0xFFFF && cp <= 0x10FFFF) {  // only where wchar_t is 32 bits wide
            AppendUtf16(out, cp);
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
        bool pair = IsHighSurrogate(cp) && i + 1 < units.size() && IsLowSurrogate(units[i + 1]);
        if (pair && sizeof(wchar_t) == 2) {
            // No single-byte code page holds a character outside the basic plane: one "?".
            out.push_back('?');
            ++i;
            continue;
        }
        if (pair) cp = CodePointOf(cp, units[++i]);
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

std::uint64_t Fnv1a64(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string HashedTail(std::string_view name, std::size_t limit) {
    constexpr std::size_t kHashDigits = 16;
    if (name.size() <= limit) return std::string(name);
    const std::size_t keep = limit > kHashDigits + 1 ? limit - kHashDigits - 1 : 0;
    char hex[kHashDigits + 1];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv1a64(name)));
    std::string result(name.substr(name.size() - keep));
    return result.append(1, '.').append(hex, kHashDigits);
}

}  // namespace vxo
