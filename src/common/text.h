// String helpers, StringList and the text conversions (ANSI code page, UTF-16, UTF-8).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vxo {

// Many strings in one buffer, each followed by a NUL, with their start offsets in order.
class StringList {
public:
    void Add(std::string_view text);
    void Clear();
    std::size_t size() const { return offsets_.size(); }
    bool empty() const { return offsets_.empty(); }
    // The i-th string; valid until the next Add or Clear.
    const char* c_str(std::size_t i) const { return buffer_.data() + offsets_[i]; }
    std::string_view operator[](std::size_t i) const;
    std::vector<std::string> ToVector() const;

private:
    std::string buffer_;
    std::vector<std::int32_t> offsets_;
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWith(std::string_view text, std::string_view prefix);
std::string ToLowerAscii(std::string_view text);
void ReplaceAll(std::string& text, std::string_view from, std::string_view to);
bool IsPathSeparator(char c);
// Everything up to and including the last "/" or "\\"; empty when there is none.
std::string DirectoryPart(std::string_view path);

// Marks a byte that the code page cannot read.
constexpr char16_t kReplacementCharacter = u'\uFFFD';

// UTF-16 units to standard UTF-8: a surrogate pair becomes one 4-byte sequence, a lone
// surrogate its own 3-byte form.
std::string EncodeUtf8(std::u16string_view units);
// UTF-16 units to the Java runtime's modified UTF-8 (what NewStringUTF reads): each unit on its
// own, so a surrogate pair becomes two 3-byte sequences, and NUL becomes C0 80.
std::string EncodeModifiedUtf8(std::u16string_view units);
// UTF-8 bytes to UTF-16 units, 4-byte sequences as surrogate pairs (3-byte surrogates, as the
// Java runtime writes them, pass through): a truncated sequence at the end is dropped; a
// missing continuation, an overlong form, a value past U+10FFFF or a stray byte of 0x80 and
// up becomes "?".
std::u16string DecodeUtf8(std::string_view bytes);

// ANSI code page text (the C runtime's current locale) to UTF-16, up to the first NUL. A byte
// the code page cannot read becomes U+FFFD and the conversion goes on.
std::u16string AnsiToUtf16(std::string_view text);
// UTF-16 to ANSI code page text; a character the code page cannot hold becomes "?".
std::string Utf16ToAnsi(std::u16string_view units);

}  // namespace vxo

namespace vxo {
// "*" (any run) and "?" (any one character), names compared without regard to ASCII case.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// FNV-1a, 64 bits. Written out rather than std::hash so that every launcher build derives the
// same names for its kernel objects, lock files and shared memory.
std::uint64_t Fnv1a64(std::string_view text);

// `name` cut to at most `limit` bytes (limit > 17): a longer name keeps its last bytes, followed
// by '.' and the hash of the whole name in 16 hex digits.
std::string HashedTail(std::string_view name, std::size_t limit);
}  // namespace vxo
