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

TEST(Utf8, EncodeUnitByUnit) {
    struct Case { std::u16string in; std::string out; };
    const Case cases[] = {
        {u"A", "A"},
        {u"\u00E9", "\xC3\xA9"},
        {u"\u20AC", "\xE2\x82\xAC"},
        {u"\u07FF", "\xDF\xBF"},
        {u"\u0800", "\xE0\xA0\x80"},
        // A surrogate pair becomes two three-byte sequences.
        {std::u16string{0xD83D, 0xDE00}, "\xED\xA0\xBD\xED\xB8\x80"},
    };
    for (const Case& c : cases) EXPECT_EQ(EncodeUtf8(c.in), c.out);
}

TEST(Utf8, DecodeWithQuestionMarkRules) {
    struct Case { std::string in; std::u16string out; };
    const Case cases[] = {
        {"abc", u"abc"},
        {"\xC3\xA9", u"\u00E9"},
        {"\xE2\x82\xAC", u"\u20AC"},
        {"a\xC3", u"a"},                 // truncated two-byte sequence: dropped
        {"a\xE2\x82", u"a"},             // truncated three-byte sequence: dropped
        {"\xC3" "A" "B", u"?AB"},        // missing continuation: resume at the non-continuation
        {"\xE2\x82" "AB", u"?AB"},       // second continuation missing
        {"\x80" "A", u"?A"},             // stray continuation byte
        {"\xF0\x9F\x98\x80", u"????"},   // four-byte lead and its continuations
        {"\xED\xA0\xBD\xED\xB8\x80", std::u16string{0xD83D, 0xDE00}},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeUtf8(c.in), c.out) << c.in;
}

TEST(AnsiConversion, RoundTripsInUtf8Locale) {
    const char* saved = std::setlocale(LC_ALL, nullptr);
    std::string restore = saved ? saved : "C";
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
    EXPECT_EQ(AnsiToUtf16("\xC3\xA9x"), u"\u00E9x");
    EXPECT_EQ(Utf16ToAnsi(u"\u00E9x"), "\xC3\xA9x");
    EXPECT_EQ(AnsiToUtf16(std::string("ab\0cd", 5)), u"ab");  // stops at the first NUL
    std::setlocale(LC_ALL, restore.c_str());
}

TEST(AnsiConversion, UnrepresentableBecomesQuestionMark) {
    const char* saved = std::setlocale(LC_ALL, nullptr);
    std::string restore = saved ? saved : "C";
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(Utf16ToAnsi(u"a\u4E2Db"), "a?b");
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
