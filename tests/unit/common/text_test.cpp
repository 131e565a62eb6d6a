// String helpers, StringList and conversions.
#include "common/text.h"

#include <gtest/gtest.h>

#include <clocale>

namespace vxo {
namespace {

TEST(StringList, KeepsOrderAndEmptyEntries) {
    StringList list;
    list.Add("one");
    list.Add("");
    list.Add("three");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0], "one");
    EXPECT_EQ(list[1], "");
    EXPECT_EQ(list[2], "three");
    EXPECT_STREQ(list.c_str(2), "three");
    list.Clear();
    EXPECT_TRUE(list.empty());
}

TEST(Utf8, EncodeStandardAndModifiedForms) {
    struct Case { std::u16string in; std::string standard, modified; };
    const Case cases[] = {
        {u"A", "A", "A"},
        {u"\u00E9", "\xC3\xA9", "\xC3\xA9"},
        {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80", "\xDF\xBF\xE0\xA0\x80"},
        // A surrogate pair: one four-byte sequence, or two three-byte ones for the runtime.
        {u"x\U0001F600y", "x\xF0\x9F\x98\x80y", "x\xED\xA0\xBD\xED\xB8\x80y"},
        {std::u16string{0xD83D, u'z'}, "\xED\xA0\xBDz", "\xED\xA0\xBDz"},  // lone surrogate kept
        {std::u16string(u"a\0b", 3), std::string("a\0b", 3), "a\xC0\x80" "b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeUtf8(c.in), c.standard);
        EXPECT_EQ(EncodeModifiedUtf8(c.in), c.modified);
        EXPECT_EQ(DecodeUtf8(c.standard), c.in);  // both directions agree
    }
}

TEST(Utf8, DecodeWithQuestionMarkRules) {
    struct Case { std::string in; std::u16string out; };
    const Case cases[] = {
        {"a\xC3", u"a"},                 // truncated two-byte sequence: dropped
        {"a\xE2\x82", u"a"},             // truncated three-byte sequence: dropped
        {"a\xF0\x9F\x98", u"a"},         // truncated four-byte sequence: dropped
        {"\xC3" "A" "B", u"?AB"},        // missing continuation: resume at the non-continuation
        {"\xE2\x82" "AB", u"?AB"},       // second continuation missing
        {"\xF0\x9F" "AB", u"?AB"},
        {"\x80" "A", u"?A"},             // stray continuation byte
        {"\xF8\x88\x80\x80\x80", u"?????"},  // no five-byte forms
        {"\xC0\x80\xE0\x80\xAF", u"??"},   // overlong forms
        {"\xF4\x90\x80\x80", u"?"},        // past U+10FFFF
        {"\xED\xA0\xBD\xED\xB8\x80", std::u16string{0xD83D, 0xDE00}},  // the runtime's own form
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeUtf8(c.in), c.out) << c.in;
}

TEST(AnsiConversion, RoundTripsInUtf8Locale) {
    const char* saved = std::setlocale(LC_ALL, nullptr);
    std::string restore = saved ? saved : "C";
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
    EXPECT_EQ(AnsiToUtf16("\xC3\xA9x"), u"\u00E9x");
    EXPECT_EQ(Utf16ToAnsi(u"\u00E9x"), "\xC3\xA9x");
    EXPECT_EQ(AnsiToUtf16("x\xF0\x9F\x98\x80y"), u"x\U0001F600y");
    EXPECT_EQ(Utf16ToAnsi(u"x\U0001F600y"), "x\xF0\x9F\x98\x80y");
    EXPECT_EQ(AnsiToUtf16(std::string("ab\0cd", 5)), u"ab");  // stops at the first NUL
    // A byte the encoding cannot read is marked, and the rest of the text stays.
    EXPECT_EQ(AnsiToUtf16("bad\xFFtail"), u"bad\uFFFDtail");
    EXPECT_EQ(AnsiToUtf16("cut\xC3"), u"cut\uFFFD");
    std::setlocale(LC_ALL, restore.c_str());
}

TEST(AnsiConversion, UnrepresentableBecomesQuestionMark) {
    const char* saved = std::setlocale(LC_ALL, nullptr);
    std::string restore = saved ? saved : "C";
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(Utf16ToAnsi(u"a\u4E2Db"), "a?b");
    // glibc's "C" is ASCII only (the Windows runtime's maps every byte): nothing after is lost.
    if (sizeof(wchar_t) == 4) {
        EXPECT_EQ(AnsiToUtf16("caf\xC3\xA9!"), u"caf\uFFFD\uFFFD!");
    }
    std::setlocale(LC_ALL, restore.c_str());
}

TEST(Wildcards, MatchLikeTheSystem) {
    struct Case { const char* pattern; const char* name; bool match; };
    const Case cases[] = {
        {"*", "anything", true},      {"*.txt", "a1.TXT", true},  {"*.txt", "a1.txt.bak", false},
        {"a?.txt", "a1.txt", true},   {"a?.txt", "a.txt", false}, {"*a*b", "xxaYYb", true},
        {"*a*b", "xxaYYbc", false},   {"", "", true},            {"?", "", false},
        {"**x", "x", true},           {"MAIN.C", "main.c", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
}

TEST(PathHelpers, DirectoryPartAndCase) {
    EXPECT_EQ(DirectoryPart("C:\\Apps\\tool.exe"), "C:\\Apps\\");
    EXPECT_EQ(DirectoryPart("/opt/x/app"), "/opt/x/");
    EXPECT_EQ(DirectoryPart("app"), "");
    EXPECT_TRUE(EqualsIgnoreCase("TRUE", "true"));
    EXPECT_FALSE(EqualsIgnoreCase("true ", "true"));
    std::string s = "a:b:c";
    ReplaceAll(s, ":", "..");
    EXPECT_EQ(s, "a..b..c");
}

}  // namespace
}  // namespace vxo
