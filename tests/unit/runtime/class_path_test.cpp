// Class path halves: program file first, configured entries, library folders, environment.
#include "runtime/class_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "config/config_store.h"
#include "platform/platform.h"
#include "test_support.h"

namespace vxo {
namespace {

class ClassPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* f : {"app/lib/a.jar", "app/lib/b.JAR", "app/lib/c.zip", "app/lib/readme.txt",
                              "app/lib/sub/d.jar", "app/one.jar", "app/two.jar"}) {
            std::filesystem::create_directories(std::filesystem::path(dir / f).parent_path());
            test::WriteFile(dir / f, "x");
        }
        platform::PutEnv("CLASSPATH=");
        platform::PutEnv("CLASS_PATH=");
    }
    ConfigStore Store(const std::string& config) {
        ConfigStore store(false, dir / "app/tool.exe");
        store.AppendText(config);
        store.RefreshCurrentDir();
        return store;
    }
    std::vector<std::string> Entries(const std::string& path) {
        std::vector<std::string> out;
        std::string item;
        for (char c : path) {
            if (c == sep) {
                out.push_back(item);
                item.clear();
            } else {
                item.push_back(c);
            }
        }
        out.push_back(item);
        return out;
    }
    const char sep = platform::kPathListSeparator;
    test::ScratchDir dir;
};

TEST_F(ClassPathTest, NothingConfigured) {
    ConfigStore store = Store("");
    EXPECT_EQ(BuildClassPath(store, false), store.AppPath());
    EXPECT_EQ(BuildClassPath(store, true), "");
}

TEST_F(ClassPathTest, EntriesAreSplitResolvedAndKeptInLineOrder) {
    ConfigStore store = Store("classpath one.jar;;two.jar\r\nclasspath missing.jar\r\njava_classpath two.jar\r\n");
    const std::string app = store.AppDir();
    EXPECT_EQ(Entries(BuildClassPath(store, true)),
              (std::vector<std::string>{app + "one.jar", app + "two.jar", app + "missing.jar"}));
    EXPECT_EQ(Entries(BuildClassPath(store, false)), (std::vector<std::string>{store.AppPath(), app + "two.jar"}));
}

TEST_F(ClassPathTest, WildcardEntriesListMatches) {
    ConfigStore store = Store("classpath " + (dir / "app/lib") + "/*.jar\r\nclasspath nomatch/*.jar\r\n");
    auto entries = Entries(BuildClassPath(store, true));
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{dir / "app/lib" + "/a.jar", dir / "app/lib" + "/b.JAR"}));
}

// One program file serves both systems: paths written for Windows find the same files on POSIX.
TEST_F(ClassPathTest, BackslashesSeparateFolders) {
    if (platform::kPathListSeparator != ':') GTEST_SKIP() << "the system's own separator";
    struct Case { std::string config; std::vector<std::string> entries; };
    const std::string app = dir / "app/";
    const Case cases[] = {
        {"classpath lib\\a.jar", {app + "lib/a.jar"}},
        {"classpath " + app + "lib\\*.jar", {app + "lib/a.jar", app + "lib/b.JAR"}},
        {"libs lib\\sub\\", {app + "lib/sub/d.jar"}},
        {"classpath .\\one.jar;lib\\c.zip", {app + "./one.jar", app + "lib/c.zip"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> entries = Entries(BuildClassPath(Store(c.config), true));
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(entries, c.entries) << c.config;
    }
}

TEST_F(ClassPathTest, LibraryFoldersCollectArchivesRecursively) {
    ConfigStore store = Store("libs lib\r\njava_libs %APPLICATION_HOME%lib\r\n");
    const std::string lib = store.AppDir() + "lib/";
    std::vector<std::string> expected = {lib + "a.jar", lib + "b.JAR", lib + "c.zip", lib + "sub/d.jar"};
    auto app = Entries(BuildClassPath(store, true));
    std::sort(app.begin(), app.end());
    EXPECT_EQ(app, expected);
    auto launcher = Entries(BuildClassPath(store, false));
    EXPECT_EQ(launcher.front(), store.AppPath());
    EXPECT_EQ(launcher.size(), 5u);
}

TEST_F(ClassPathTest, EnvironmentOnlyInTheApplicationHalf) {
    platform::PutEnv(std::string("CLASSPATH=") + sep + "x.jar" + sep + sep + "y.jar" + sep);
    platform::PutEnv("CLASS_PATH=z.jar");
    ConfigStore store = Store("classpath one.jar\r\n");
    EXPECT_EQ(BuildClassPath(store, true),
              store.AppDir() + "one.jar" + sep + "x.jar" + sep + "y.jar" + sep + "z.jar");
    EXPECT_EQ(BuildClassPath(store, false), store.AppPath());
    platform::PutEnv("CLASSPATH=");
    platform::PutEnv("CLASS_PATH=");
}

// An empty element would stand for the working folder: no source may produce one.
TEST_F(ClassPathTest, NoEmptyElementFromAnySource) {
    platform::PutEnv(std::string("CLASSPATH=") + sep);
    const struct {
        std::string config;
        std::size_t entries;
    } cases[] = {
        {"", 0},
        {"classpath ;;\r\nclasspath %NOT_SET_ANYWHERE%\r\n", 1},  // the unexpanded name stays
        {"libs\r\nlibs  \r\njava_libs\r\n", 0},                    // no folder, least of all "/"
        {"classpath " + (dir / "app/lib") + "/*.none\r\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        ConfigStore store = Store(c.config);
        std::string app = BuildClassPath(store, true);
        EXPECT_EQ(app.empty() ? 0u : Entries(app).size(), c.entries);
        for (const std::string& entry : Entries(app)) EXPECT_TRUE(app.empty() || !entry.empty());
        EXPECT_EQ(BuildClassPath(store, false), store.AppPath());
    }
    EXPECT_EQ(BuildClassPath(ConfigStore(false, ""), false), "");
    platform::PutEnv("CLASSPATH=");
}

// Links back into the tree: every folder is entered once and the walk ends.
TEST_F(ClassPathTest, LinkedFoldersAreEnteredOnce) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directory_symlink(".", dir / "app/lib/self", error);
    if (error) GTEST_SKIP() << "no folder links here: " << error.message();
    fs::create_directory_symlink("..", dir / "app/lib/sub/up", error);
    fs::create_directories(dir / "app/loop/a");
    fs::create_directories(dir / "app/loop/b");
    test::WriteFile(dir / "app/loop/a/x.jar", "x");
    fs::create_directory_symlink("../b", dir / "app/loop/a/to-b", error);
    fs::create_directory_symlink("../a", dir / "app/loop/b/to-a", error);
    ConfigStore store = Store("libs lib\r\nlibs loop/a\r\nlibs lib/self\r\n");
    auto entries = Entries(BuildClassPath(store, true));
    std::vector<std::string> names;
    for (const std::string& e : entries) names.push_back(fs::path(e).filename().string());
    std::sort(names.begin(), names.end());
    // Each "libs" line walks on its own: the third names the first folder again.
    EXPECT_EQ(names, (std::vector<std::string>{"a.jar", "a.jar", "b.JAR", "b.JAR", "c.zip", "c.zip",
                                               "d.jar", "d.jar", "x.jar"}));
}

}  // namespace
}  // namespace vxo
