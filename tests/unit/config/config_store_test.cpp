// ConfigStore: line format, keyword matching, scopes, forms and loading precedence.
#include "config/config_store.h"

#include <gtest/gtest.h>

#include <clocale>

#include "platform/platform.h"
#include "test_support.h"

namespace vxo {
namespace {

using test::Payload;
using test::ScratchDir;
using test::WriteFile;

ConfigStore StoreWithText(const std::string& text) {
    ConfigStore store(false, "/apps/tool.exe");
    store.AppendText(text);
    return store;
}

TEST(LineFormat, KeywordMatchingAndValues) {
    struct Case { std::string text; const char* keyword; const char* value; };
    const Case cases[] = {
        {"splash img.bmp", "splash", "img.bmp"},
        {"splash=img.bmp", "splash", "img.bmp"},
        {"SPLASH = img.bmp", "splash", "img.bmp"},
        {"   splash x", "splash", "x"},
        {"splashtitle Hello", "splash", ""},        // a letter follows: another keyword
        {"splash_x 1", "splash", ""},               // "_" follows
        {"Splash x", "splash", "x"},
        {"option-Dy", "option", "-Dy"},             // "-" ends the keyword
        {"option = -Dx=1", "option", "-Dx=1"},      // only one "=" is removed
        {"option ==x", "option", "=x"},
        {"stdout out.log  ", "stdout", "out.log  "},  // trailing blanks stay
        {"splash\tx", "splash", "\tx"},             // a tab is no blank
        {"\tsplash x", "splash", ""},               // a line starting with a tab has no keyword
        {"# splash x", "splash", ""},
        {"splash", "splash", ""},
        {"a 1\rsplash cr\r\nb 2", "splash", "cr"},
        {"x\n\rsplash lfcr", "splash", "lfcr"},
        {std::string("x\0splash hidden", 15), "splash", ""},         // lookups stop at the first NUL
    };
    for (const Case& c : cases) {
        ConfigStore store = StoreWithText(c.text);
        EXPECT_EQ(store.Get(c.keyword, false, true), c.value) << c.text;
    }
}

TEST(LineFormat, FirstLineWinsAndEmptyValueHides) {
    ConfigStore store = StoreWithText("splash\r\nsplash b.bmp\r\nminjre 1.7\r\nminjre 1.8\r\n");
    EXPECT_EQ(store.Get("splash", false, true), "");
    EXPECT_EQ(store.Get("minjre", false, true), "1.7");
}

TEST(LineFormat, MultiValuedKeepsOrderAndEmptyEntries) {
    ConfigStore store = StoreWithText("option -Xmx1g\r\noption = -Dx=1\r\noption\r\noption-Dy\r\n");
    EXPECT_EQ(store.Values(Keyword::Option).ToVector(),
              (std::vector<std::string>{"-Xmx1g", "-Dx=1", "", "-Dy"}));
    EXPECT_EQ(store.GetMatching("option", "-Dy", false, true), "-Dy");
    EXPECT_EQ(store.GetMatching("option", "-dy", false, true), "");  // filter is case sensitive
}

TEST(Keywords, VmIsExpandedCachedAndDefaultsToDash) {
    EXPECT_EQ(StoreWithText("").Value(Keyword::Vm), "-");
    ConfigStore store = StoreWithText("vm server\r\n");
    EXPECT_EQ(store.Value(Keyword::Vm), "server");
    store.AppendText("\r\n");  // a later change of the text is not seen: the value is cached
    EXPECT_EQ(store.Value(Keyword::Vm), "server");
}

TEST(Encodings, MarksAreRecognised) {
    struct Case { std::string raw; std::string stored; };
    const Case cases[] = {
        {"\xEF\xBB\xBFmainclass a", "mainclass a"},
        {std::string("\xFF\xFEm\0a\0", 6), "ma"},
        {std::string("\xFE\xFF\0m\0a", 6), "ma"},
        {std::string("\xFF\xFE\xE9\0x", 5), "\xC3\xA9"},        // odd last byte dropped
        {std::string("\xFF\xFEz\0\0\0q\0", 8), "z"},            // ends at the first zero unit
        {std::string("\xEF\xBB\xBFok\0rest", 10), "ok"},
    };
    for (const Case& c : cases) EXPECT_EQ(StoreWithText(c.raw).Text(), c.stored);
}

// Runs only where the ANSI code page is 1252 (the Windows test binary under Wine).
TEST(Encodings, CodePage1252) {
    std::setlocale(LC_ALL, "");
    if (Utf16ToAnsi(u"\u00E9") != "\xE9") GTEST_SKIP() << "ANSI code page is not 1252 here";
    std::string utf16le = "\xFF\xFE";
    for (char16_t u : std::u16string(u"splash \u00E9")) utf16le += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    ConfigStore wide = StoreWithText(utf16le);
    EXPECT_EQ(wide.Text(), "splash \xC3\xA9");
    EXPECT_EQ(wide.Get("splash", false, true), "\xE9");
    ConfigStore ansi = StoreWithText("splash \xE9");
    EXPECT_EQ(ansi.Text(), "splash \xC3\xA9");
    EXPECT_EQ(ansi.Get("splash", false, true), "\xE9");
    EXPECT_EQ(ansi.Get("splash", false, false), "\xC3\xA9");
    EXPECT_EQ(StoreWithText("\xEF\xBB\xBFsplash \xE2\x82\xAC").Get("splash", false, true), "\x80");
    EXPECT_EQ(StoreWithText("\xEF\xBB\xBFsplash a\xE4\xB8\xADz").Get("splash", false, true), "a?z");
    std::setlocale(LC_ALL, "C");
}

class LoadTest : public ::testing::Test {
protected:
    std::string Program(const std::string& name, const std::string& config) {
        std::string path = dir / name;
        WriteFile(path, "MZ-image-bytes" + Payload(config));
        return path;
    }
    ScratchDir dir;
};

TEST_F(LoadTest, ExternalFileOverridesExceptPayloadOnlyKeywords) {
    std::string program = Program("tool.exe", "mainclass p.Main\r\nminjre 1.8\r\noption -Dp\r\nsplash b.bmp\r\n");
    WriteFile(dir / "tool.exe.cfg", "mainclass x.Y\nminjre 1.7\noption -De\nsplash a.bmp");
    ConfigStore store(true, program);
    EXPECT_EQ(store.Value(Keyword::MainClass), "p.Main");
    EXPECT_EQ(store.Value(Keyword::MinJre), "1.7");
    EXPECT_EQ(store.Values(Keyword::Option).ToVector(), (std::vector<std::string>{"-De", "-Dp"}));
    EXPECT_EQ(store.Get("splash", false, true), "a.bmp");  // no run-in with the payload's first line
    EXPECT_GT(store.ExternalLength(), 0);
}

TEST_F(LoadTest, DisableExternalIsReadFromThePayloadOnly) {
    struct Case { const char* payload; const char* external; const char* minjre; };
    const Case cases[] = {
        {"minjre 1.8\r\ndisableexternal TRUE\r\n", "minjre 1.7", "1.8"},
        {"minjre 1.8\r\ndisableexternal True\r\n", "minjre 1.7", "1.8"},
        {"minjre 1.8\r\ndisableexternal true \r\n", "minjre 1.7", "1.7"},
        {"minjre 1.8\r\ndisableexternal truex\r\n", "minjre 1.7", "1.7"},
        {"minjre 1.8\r\n", "minjre 1.7\r\ndisableexternal true", "1.7"},
    };
    for (const Case& c : cases) {
        std::string program = Program("tool.exe", c.payload);
        WriteFile(dir / "tool.exe.cfg", c.external);
        ConfigStore store(true, program);
        EXPECT_EQ(store.Value(Keyword::MinJre), c.minjre) << c.payload << " / " << c.external;
    }
}

TEST_F(LoadTest, CandidatesInOrderAndFirstThatOpensWins) {
    std::string program = Program("tool.exe", "minjre 1.0\r\n");
    const char* names[] = {"tool.exe.cfg", "tool.exe.config", "tool.cfg", "tool.config"};
    // With candidates k..3 present, the k-th is the one read.
    for (int k = 3; k >= 0; --k) {
        WriteFile(dir / names[k], std::string("minjre ") + std::to_string(k));
        EXPECT_EQ(ConfigStore(true, program).Value(Keyword::MinJre), std::to_string(k));
    }
    WriteFile(dir / "tool.exe.cfg", "");  // empty but present: nothing external applies
    EXPECT_EQ(ConfigStore(true, program).Value(Keyword::MinJre), "1.0");
    // A folder of a candidate's name does not open: the next candidate is read.
    std::filesystem::remove(dir / "tool.exe.cfg");
    std::filesystem::create_directory(dir / "tool.exe.cfg");
    EXPECT_EQ(ConfigStore(true, program).Value(Keyword::MinJre), "1");
}

TEST(ExternalCandidates, ExtensionOnlyFromTheFileName) {
    EXPECT_EQ(ExternalCandidates("C:\\Apps\\tool.exe"),
              (std::vector<std::string>{"C:\\Apps\\tool.exe.cfg", "C:\\Apps\\tool.exe.config",
                                        "C:\\Apps\\tool.cfg", "C:\\Apps\\tool.config"}));
    EXPECT_EQ(ExternalCandidates("C:\\tools.old\\app"),
              (std::vector<std::string>{"C:\\tools.old\\app.cfg", "C:\\tools.old\\app.config",
                                        "C:\\tools.old\\app.cfg", "C:\\tools.old\\app.config"}));
    // Names that would not fit the system's path buffer are not built; no program path, no names.
    const std::size_t room = platform::kMaxPathLength - 1;
    std::string longPath = "C:\\" + std::string(room - 9, 'a') + ".exe";
    EXPECT_EQ(ExternalCandidates(longPath),
              (std::vector<std::string>{longPath.substr(0, longPath.size() - 4) + ".cfg"}));
    EXPECT_TRUE(ExternalCandidates("").empty());
}

TEST(ResolvePath, ProgramFolderThenWorkingFolder) {
    ScratchDir app, cwd;
    WriteFile(cwd / "only-in-cwd.jar", "x");
    WriteFile(app / "both.jar", "x");
    WriteFile(cwd / "both.jar", "x");
    ConfigStore store(false, app / "tool.exe");
    std::string saved = std::filesystem::current_path().string();
    std::filesystem::current_path(cwd.Path());
    store.RefreshCurrentDir();
    std::filesystem::current_path(saved);
    const std::string appDir = store.AppDir(), cwdDir = store.CurrentDir();
    EXPECT_EQ(store.ResolvePath(""), "");
    EXPECT_EQ(store.ResolvePath("/abs/x"), "/abs/x");
    // A backslash separates folders on every system; POSIX writes it as "/".
    const bool posix = platform::kPathListSeparator == ':';
    EXPECT_EQ(store.ResolvePath("\\abs\\x"), posix ? "/abs/x" : "\\abs\\x");
    EXPECT_EQ(store.ResolveInAppDir("jre\\bin\\"), appDir + (posix ? "jre/bin/" : "jre\\bin\\"));
    EXPECT_EQ(store.ResolvePath("C:x"), "C:x");
    EXPECT_EQ(store.ResolvePath("both.jar"), appDir + "both.jar");
    EXPECT_EQ(store.ResolvePath("only-in-cwd.jar"), cwdDir + "only-in-cwd.jar");
    EXPECT_EQ(store.ResolvePath("nowhere.jar"), appDir + "nowhere.jar");
    // Native code resolves beside the program only, and nowhere without a program folder.
    EXPECT_EQ(store.ResolveInAppDir("only-in-cwd.jar"), appDir + "only-in-cwd.jar");
    EXPECT_EQ(store.ResolveInAppDir("/abs/x"), "/abs/x");
    EXPECT_EQ(ConfigStore(false, "").ResolveInAppDir("jre/"), "");
}

}  // namespace
}  // namespace vxo
