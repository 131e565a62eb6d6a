// Message texts: the table, configured overrides and their escapes.
#include "launcher/messages.h"

#include <gtest/gtest.h>

#include "config/config_store.h"

namespace vxo {
namespace {

TEST(MessageOverride, ParsesNumberAndUnescapes) {
    struct Case { const char* value; bool ok; int number; const char* text; };
    const Case cases[] = {
        {"13=Schon gestartet.", true, 13, "Schon gestartet."},
        {"7=Class missing:\\tcheck\\nthe installation", true, 7, "Class missing:\tcheck\nthe installation"},
        {"1=a\\\\b\\rc\\qd", true, 1, "a\\b\rcqd"},
        {"2=trailing\\", true, 2, "trailing"},
        {"10 =x", true, 10, "x"},
        {" +5=x", true, 5, "x"},
        {"10=", true, 10, ""},
        {"6=a=b", true, 6, "a=b"},
        {"0=x", false, 0, ""},
        {"-3=x", false, 0, ""},
        {"abc=x", false, 0, ""},
        {"13 no equals", false, 0, ""},
    };
    for (const Case& c : cases) {
        int number = 0;
        std::string text;
        ASSERT_EQ(ParseMessageOverride(c.value, number, text), c.ok) << c.value;
        if (!c.ok) continue;
        EXPECT_EQ(number, c.number) << c.value;
        EXPECT_EQ(text, c.text) << c.value;
    }
}

TEST(MessageOverride, FirstOverrideOfANumberWins) {
    ConfigStore store(false, "/x/tool.exe");
    store.AppendText("message 1=first\r\nmessage 1=second\r\nmessage 13=busy\r\nmessage bad\r\n");
    MessageOverrides overrides;
    overrides.Load(store);
    ASSERT_NE(overrides.Find(1), nullptr);
    EXPECT_EQ(*overrides.Find(1), "first");
    EXPECT_EQ(*overrides.Find(13), "busy");
    EXPECT_EQ(overrides.Find(2), nullptr);
}

TEST(MessageOverride, ExpansionAndEscapesTogether) {
    struct Case { const char* program; const char* line; const char* text; };
    const Case cases[] = {
        // The inserted folder keeps its backslashes; the escapes of the value itself still apply.
        {"C:\\temp\\new\\tool.exe", "message 7=Look in %APPLICATION_HOME%lib\\\\jre\\n\r\n",
         "Look in C:\\temp\\new\\lib\\jre\n"},
        // A braced reference with "\\" in its name (the registry form) and a default path.
        {"/x/tool.exe", "message 7=%{HKCU\\Software\\VxoNone\\Msg|C:\\temp\\jre}%!\r\n", "C:\\temp\\jre!"},
    };
    for (const Case& c : cases) {
        ConfigStore store(false, c.program);
        store.AppendText(c.line);
        MessageOverrides overrides;
        overrides.Load(store);
        ASSERT_NE(overrides.Find(7), nullptr) << c.line;
        EXPECT_EQ(*overrides.Find(7), c.text) << c.line;
    }
}

TEST(MessageTable, ImageCarriesEveryText) {
    // No store is published in the test process: these are the image's own texts.
    EXPECT_EQ(MessageText(1), "Java Runtime Environment not found.");
    EXPECT_EQ(MessageText(10), "Error");
    EXPECT_EQ(MessageText(12),
              "Java virtual machine version %s is too high, version between %s and %s is required.");
    EXPECT_EQ(MessageText(13), "There is already an instance of this program running.");
    EXPECT_EQ(MessageText(9), "");
    EXPECT_EQ(MessageText(31), "");
}

}  // namespace
}  // namespace vxo
