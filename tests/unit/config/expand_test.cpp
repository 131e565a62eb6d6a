// Value expansion: reference forms, launcher names, defaults and conversion.
#include "config/expand.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "config/config_store.h"
#include "platform/platform.h"

namespace vxo {
namespace {

class ExpandTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::PutEnv("VXO_T_JAVA=C:\\jdk");
        platform::PutEnv("VXO_T_EMPTY=");
        platform::PutEnv("APPLICATION_HOME=");
        store.RefreshCurrentDir();
    }
    void TearDown() override { platform::PutEnv("VXO_T_JAVA="); }
    std::string Expand(const std::string& text, bool convert = false) {
        return ExpandValue(store, text, convert);
    }
    ConfigStore store{false, "/apps/demo/tool.exe"};
};

TEST_F(ExpandTest, ReferenceForms) {
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"%VXO_T_JAVA%\\bin", "C:\\jdk\\bin"},
        {"$VXO_T_JAVA\\bin", "C:\\jdk\\bin"},
        {"${VXO_T_JAVA}/bin", "C:\\jdk/bin"},
        {"%{VXO_T_JAVA}%/bin", "C:\\jdk/bin"},
        {"%VXO_T_UNSET%\\bin", "%VXO_T_UNSET%\\bin"},
        {"${VXO_T_UNSET}", "${VXO_T_UNSET}"},
        {"100%", "100%"},
        {"a%b", "a%b"},
        {"a%%b", "a%b"},
        {"a$$b", "a$b"},
        {"$", "$"},
        {"$-x", "$-x"},
        {"%VXO_T_JAVA", "%VXO_T_JAVA"},
        {"%{VXO_T_JAVA}x", "%{VXO_T_JAVA}x"},   // braced "%" form needs its closing "%"
        {"${VXO_T_JAVA", "C:\\jdk"},            // "${" runs to the end of the text
        {"%VXO_T_JAVA%%VXO_T_JAVA%", "C:\\jdkC:\\jdk"},
        {"$VXO_T_JAVA.x", "C:\\jdk.x"},
        {"${nokey|fallback}", "fallback"},
        {"%{nokey|}%", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Expand(c.in), c.out) << c.in;
}

TEST_F(ExpandTest, ValuesAreNotExpandedAgain) {
    platform::PutEnv("VXO_T_REF=%VXO_T_JAVA%");
    EXPECT_EQ(Expand("%VXO_T_REF%"), "%VXO_T_JAVA%");
    platform::PutEnv("VXO_T_REF=");
}

TEST_F(ExpandTest, LauncherNamesYieldToTheEnvironment) {
    platform::PutEnv("APPLICATION_HOME=");
    platform::PutEnv("PWD=");  // shells export it; the launcher's own value applies without it
    EXPECT_EQ(Expand("%APPLICATION_HOME%lib"), "/apps/demo/lib");
    EXPECT_EQ(Expand("$application_home"), "/apps/demo/");
    EXPECT_EQ(Expand("%VXO_APP_PATH%"), "/apps/demo/tool.exe");
    EXPECT_EQ(Expand("%PWD%"), store.CurrentDir());
    platform::PutEnv("APPLICATION_HOME=/elsewhere/");
    EXPECT_EQ(Expand("%APPLICATION_HOME%"), "/elsewhere/");
    platform::PutEnv("APPLICATION_HOME=");
}

TEST_F(ExpandTest, DefaultAppliesEvenWhenTheBareNameIsSet) {
    EXPECT_EQ(Expand("${VXO_T_JAVA|other}"), "other");
    // A registry reference whose key is missing takes its default, or stays as written.
    EXPECT_EQ(Expand("%{HKEY_LOCAL_MACHINE\\Software\\VxoMissing\\v|dflt}%"), "dflt");
    EXPECT_EQ(Expand("%{HKLM\\Software\\VxoMissing\\v}%"), "%{HKLM\\Software\\VxoMissing\\v}%");
}

TEST_F(ExpandTest, ConvertTurnsAnsiValuesIntoUtf8) {
    const char* saved = std::setlocale(LC_ALL, nullptr);
    std::string restore = saved ? saved : "C";
    std::setlocale(LC_ALL, "");
    // Whatever the locale's code page, an accented letter must come out as its UTF-8 form.
    std::string accented = Utf16ToAnsi(u"\u00E9");
    if (accented == "?") GTEST_SKIP() << "locale cannot hold an accented letter";
    platform::PutEnv("VXO_T_ACCENT=" + accented);
    EXPECT_EQ(Expand("x%VXO_T_ACCENT%", true), "x\xC3\xA9");
    EXPECT_EQ(Expand("x%VXO_T_ACCENT%", false), "x" + accented);
    platform::PutEnv("VXO_T_ACCENT=");
    std::setlocale(LC_ALL, restore.c_str());
}

}  // namespace
}  // namespace vxo
