// Text conversions of the fake runtime: Java strings are UTF-16 inside, modified UTF-8 at the
// JNI boundary and standard UTF-8 in the log.
#pragma once

#include <cstddef>
#include <string>

namespace fakejvm {

// Lenient like a real runtime: also takes standard 4-byte sequences; a malformed byte becomes
// U+FFFD so a bad launcher string still shows up in the log instead of stopping the run.
inline std::u16string DecodeModifiedUtf8(const char* text) {
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    auto continuation = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    while (*p != 0) {
        const unsigned char b = *p;
        if (b < 0x80) {
            out.push_back(b);
            p += 1;
        } else if ((b & 0xE0) == 0xC0 && continuation(p[1])) {
            out.push_back(static_cast<char16_t>(((b & 0x1F) << 6) | (p[1] & 0x3F)));
            p += 2;
        } else if ((b & 0xF0) == 0xE0 && continuation(p[1]) && continuation(p[2])) {
            out.push_back(static_cast<char16_t>(((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) |
                                                (p[2] & 0x3F)));
            p += 3;
        } else if ((b & 0xF8) == 0xF0 && continuation(p[1]) && continuation(p[2]) &&
                   continuation(p[3])) {
            const char32_t c = ((b & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) |
                               ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
            if (c >= 0x10000 && c <= 0x10FFFF) {
                out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            } else {
                out.push_back(u'\uFFFD');
            }
            p += 4;
        } else {
            out.push_back(u'\uFFFD');
            p += 1;
        }
    }
    return out;
}

// What GetStringUTFChars hands out: NUL as C0 80, each surrogate on its own in 3 bytes.
inline std::string EncodeModifiedUtf8(const std::u16string& text) {
    std::string out;
    for (const char16_t u : text) {
        if (u != 0 && u < 0x80) {
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

// Standard UTF-8 for the log; a lone surrogate becomes U+FFFD.
inline std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    auto put = [&out](char32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            put(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            put(0xFFFD);
        } else {
            put(u);
        }
    }
    return out;
}

}  // namespace fakejvm
