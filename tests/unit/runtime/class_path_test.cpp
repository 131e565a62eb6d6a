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
              (std::vector<std::string>{"", app + "one.jar", app + "two.jar", app + "missing.jar"}));
    EXPECT_EQ(Entries(BuildClassPath(store, false)), (std::vector<std::string>{store.AppPath(), app + "two.jar"}));
}

TEST_F(ClassPathTest, WildcardEntriesListMatches) {
    ConfigStore store = Store("classpath " + (dir / "app/lib") + "/*.jar\r\nclasspath nomatch/*.jar\r\n");
    auto entries = Entries(BuildClassPath(store, true));
    std::sort(entries.begin() + 1, entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"", dir / "app/lib" + "/a.jar", dir / "app/lib" + "/b.JAR"}));
}

TEST_F(ClassPathTest, LibraryFoldersCollectArchivesRecursively) {
    ConfigStore store = Store("libs lib\r\njava_libs %APPLICATION_HOME%lib\r\n");
    const std::string lib = store.AppDir() + "lib/";
    std::vector<std::string> expected = {lib + "a.jar", lib + "b.JAR", lib + "c.zip", lib + "sub/d.jar"};
    auto app = Entries(BuildClassPath(store, true));
    std::sort(app.begin() + 1, app.end());
    EXPECT_EQ(app, (std::vector<std::string>{"", expected[0], expected[1], expected[2], expected[3]}));
    auto launcher = Entries(BuildClassPath(store, false));
    EXPECT_EQ(launcher.front(), store.AppPath());
    EXPECT_EQ(launcher.size(), 5u);
}

TEST_F(ClassPathTest, EnvironmentOnlyInTheApplicationHalf) {
    platform::PutEnv(std::string("CLASSPATH=x.jar") + sep + "y.jar");
    platform::PutEnv("CLASS_PATH=z.jar");
    ConfigStore store = Store("classpath one.jar\r\n");
    EXPECT_EQ(BuildClassPath(store, true),
              std::string(1, sep) + store.AppDir() + "one.jar" + sep + "x.jar" + sep + "y.jar" + sep + "z.jar");
    EXPECT_EQ(BuildClassPath(store, false), store.AppPath());
    platform::PutEnv("CLASSPATH=");
    platform::PutEnv("CLASS_PATH=");
}

}  // namespace
}  // namespace vxo
