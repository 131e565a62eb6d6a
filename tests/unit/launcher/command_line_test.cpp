// Tokenizer, wildcard expansion and the split of the raw command line.
#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "test_support.h"

namespace vxo {
namespace {

std::vector<std::string> Split(const std::string& text, std::vector<std::int32_t>* marks = nullptr) {
    std::string copy = text;
    std::vector<char*> tokens;
    SplitArguments(copy.data(), tokens, marks);
    return std::vector<std::string>(tokens.begin(), tokens.end());
}

TEST(SplitArguments, QuotesAndBackslashes) {
    using V = std::vector<std::string>;
    struct Case { const char* text; V tokens; };
    const Case cases[] = {
        {"app.exe a \"b c\" d\\\"e f\\\\\"g h\"", V{"app.exe", "a", "b c", "d\"e", "f\\g h"}},
        {"x\\\\\\\\y", V{"x\\\\\\\\y"}},              // backslashes not before a quote stay
        {"\"\"", V{""}},
        {"a\"\"b", V{"ab"}},
        {"\"a \"\"b\" c", V{"a b", "c"}},             // two quotes inside quotes: no literal quote
        {"\"never closed  x", V{"never closed  x"}},
        {"  \t lead\t\ttrail  ", V{"lead", "trail"}},
        {"a\\\\\\\"b", V{"a\\\"b"}},                  // three backslashes and a quote
        {"", V{}},
    };
    for (const Case& c : cases) EXPECT_EQ(Split(c.text), c.tokens) << c.text;
}

TEST(SplitArguments, WildcardMarks) {
    std::vector<std::int32_t> marks;
    Split("plain *.txt \"*.txt\" a\"?\"* x", &marks);
    EXPECT_EQ(marks, (std::vector<std::int32_t>{0, 1, -1, -1, 0}));
}

TEST(SplitArguments, AppendsToExistingTokens) {
    std::string a = "one two", b = "\"three four\"";
    std::vector<char*> tokens;
    SplitArguments(a.data(), tokens, nullptr);
    EXPECT_EQ(SplitArguments(b.data(), tokens, nullptr), 3u);
    EXPECT_STREQ(tokens[2], "three four");
}

class WildcardTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* f : {"a1.txt", "a2.TXT", "b.log", "src/x/main.c", "src/y/main.c", "src/z/other.c",
                              "src/file.c"}) {
            std::filesystem::create_directories(std::filesystem::path(dir / f).parent_path());
            test::WriteFile(dir / f, "x");
        }
        saved = std::filesystem::current_path();
        std::filesystem::current_path(dir.Path());
    }
    void TearDown() override { std::filesystem::current_path(saved); }
    static std::vector<std::string> Sorted(const StringList& list) {
        auto v = list.ToVector();
        std::sort(v.begin(), v.end());
        return v;
    }
    test::ScratchDir dir;
    std::filesystem::path saved;
};

TEST_F(WildcardTest, ExpandsComponentsAndKeepsRelativeForm) {
    using V = std::vector<std::string>;
    struct Case { const char* pattern; V matches; };
    const Case cases[] = {
        {"*.txt", V{"a1.txt", "a2.TXT"}},
        {"src/*/main.c", V{"src/x/main.c", "src/y/main.c"}},
        {"src/*", V{"src/file.c", "src/x", "src/y", "src/z"}},
        {"*.none", V{}},
        {"b.log", V{"b.log"}},
        {"missing.log", V{}},
        {"nodir/*", V{}},
    };
    for (const Case& c : cases) {
        StringList out;
        ExpandWildcards(c.pattern, out);
        EXPECT_EQ(Sorted(out), c.matches) << c.pattern;
    }
    StringList absolute;
    ExpandWildcards(dir / "*.log", absolute);
    EXPECT_EQ(absolute.ToVector(), V{dir / "b.log"});
}

TEST_F(WildcardTest, CommandLineModes) {
    using V = std::vector<std::string>;
    auto sorted = [](StringList l, std::size_t from) {
        auto v = l.ToVector();
        std::sort(v.begin() + static_cast<long>(from), v.end());
        return v;
    };
    EXPECT_EQ(sorted(SplitCommandLine("app *.txt", 1), 1), (V{"app", "a1.txt", "a2.TXT"}));
    EXPECT_EQ(SplitCommandLine("app \"*.txt\"", 1).ToVector(), (V{"app", "*.txt"}));
    EXPECT_EQ(sorted(SplitCommandLine("app \"*.txt\"", 2), 1), (V{"app", "a1.txt", "a2.TXT"}));
    EXPECT_EQ(SplitCommandLine("app *.none \"q r\"", 2).ToVector(), (V{"app", "*.none", "q r"}));
}

TEST(WildcardMode, Values) {
    EXPECT_EQ(WildcardMode("TRUE"), 1);
    EXPECT_EQ(WildcardMode("auto"), 1);
    EXPECT_EQ(WildcardMode("All"), 2);
    EXPECT_EQ(WildcardMode(""), 0);
    EXPECT_EQ(WildcardMode("yes"), 0);
}

}  // namespace
}  // namespace vxo
