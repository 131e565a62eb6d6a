// Runtime library location under a home and the search by source letters.
#include "runtime/search.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/config_store.h"
#include "platform/platform.h"
#include "runtime/jvm.h"
#include "test_support.h"

namespace vxo {
namespace {

const std::string kLib = platform::kJvmLibraryName;

class RuntimeFolders : public ::testing::Test {
protected:
    // Creates home/sub/lib and returns its path as FindJvmInHome builds it.
    std::string Library(const std::string& relative) {
        std::string path = dir / relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        test::WriteFile(path, "lib");
        return path;
    }
    ConfigStore Store(const std::string& config) {
        ConfigStore store(false, dir / "app/tool.exe");
        store.AppendText(config);
        // The working folder holds a runtime of its own, which no source may pick up.
        std::string saved = std::filesystem::current_path().string();
        std::filesystem::current_path(dir / "cwd");
        store.RefreshCurrentDir();
        std::filesystem::current_path(saved);
        return store;
    }
    void SetUp() override {
        std::filesystem::create_directories(dir / "app");
        for (std::string sub : {"", "server/"}) Library("cwd/jre/" + std::string(platform::kJvmHomeSubdirs[1]) + sub + kLib);
        Library("cwd/other/x/" + kLib);
        platform::PutEnv("JRE_HOME=");
        platform::PutEnv("JAVA_HOME=");
    }
    test::ScratchDir dir;
};

TEST_F(RuntimeFolders, HomeCandidatesInOrder) {
    const std::string sub1 = platform::kJvmHomeSubdirs[1];  // "bin\\" or "lib/"
    Library("home/" + sub1 + "server/" + kLib);
    ConfigStore store = Store("");
    EXPECT_EQ(test::NormalPath(FindJvmInHome(store, dir / "home")),
              test::NormalPath(dir / "home" + "/" + sub1 + "server/" + kLib));
    // A home that ends in a separator gets none added; the library in the home itself wins.
    Library("home/" + kLib);
    EXPECT_EQ(FindJvmInHome(store, dir / "home/"), dir / "home/" + kLib);
    EXPECT_EQ(FindJvmInHome(store, dir / "nothing"), "");
}

TEST_F(RuntimeFolders, VmKindIsTriedBeforeTheListing) {
    const std::string sub1 = platform::kJvmHomeSubdirs[1];
    Library("jdk/" + sub1 + "client/" + kLib);
    Library("jdk/" + sub1 + "server/" + kLib);
    for (const char* kind : {"server", "client"}) {
        EXPECT_EQ(test::NormalPath(FindJvmInHome(Store(std::string("vm ") + kind), dir / "jdk")),
                  test::NormalPath(dir / "jdk" + "/" + sub1 + kind + "/" + kLib));
    }
    // A kind that is not installed falls back to the listing of the same folder.
    std::string any = FindJvmInHome(Store("vm minimal"), dir / "jdk");
    EXPECT_NE(test::NormalPath(any).find(test::NormalPath(dir / "jdk" + "/" + sub1)), std::string::npos);
}

TEST_F(RuntimeFolders, JdkLayoutsThroughLaterSubdirs) {
    const std::string sub2 = platform::kJvmHomeSubdirs[2];  // runtime inside a JDK
    Library("jdk8/" + sub2 + "server/" + kLib);
    ConfigStore store = Store("");
    EXPECT_EQ(test::NormalPath(FindJvmInHome(store, dir / "jdk8")),
              test::NormalPath(dir / "jdk8" + "/" + sub2 + "server/" + kLib));
    // A home naming the JDK's own library folder reaches the runtime through "../jre/...".
    std::filesystem::create_directories(dir / "jdk8/bin");
    EXPECT_NE(FindJvmInHome(store, dir / "jdk8/bin"), "");
}

TEST_F(RuntimeFolders, SourceLettersAndOrder) {
    const std::string sub1 = platform::kJvmHomeSubdirs[1];
    std::string beside = Library("app/jre/" + sub1 + "server/" + kLib);
    std::string configured = Library("app/custom/" + kLib);
    std::string fromEnv = Library("envjdk/" + sub1 + "server/" + kLib);
    platform::PutEnv("JAVA_HOME=" + (dir / "envjdk"));
    platform::PutEnv("JRE_HOME=" + (dir / "empty-home"));
    struct Case { std::string config; std::string expected; };
    const Case cases[] = {
        {"", beside},                                          // default "cbsie", no jvmdll
        {"jvmdll custom/" + kLib, configured},
        {"jvmdll missing/" + kLib, beside},                    // goes on with the next letter
        {"jre_order EB", fromEnv},
        {"jre_order e-b", fromEnv},
        {"jre_order xyz", beside},                             // no source letter: the default
        {"jre_order b\r\njre elsewhere/deeper", ""},
        {"jre_order b\r\njre other/x", ""},                   // never the working folder's runtime
        {"jre_order c\r\njvmdll other/x/" + kLib, ""},
        {"jre_order c\r\njvmdll %APPLICATION_HOME%custom/" + kLib, configured},
    };
    for (const Case& c : cases)
        EXPECT_EQ(test::NormalPath(SearchJvmLibrary(Store(c.config))), test::NormalPath(c.expected)) << c.config;
    platform::PutEnv("JAVA_HOME=");
    platform::PutEnv("JRE_HOME=");
}

TEST(JreOrder, LettersAreLowerCasedOrDefaulted) {
    EXPECT_EQ(EffectiveJreOrder(""), "cbsie");
    EXPECT_EQ(EffectiveJreOrder("xyz"), "cbsie");
    EXPECT_EQ(EffectiveJreOrder("EB"), "eb");
    EXPECT_EQ(EffectiveJreOrder("e-b"), "e-b");
}

TEST_F(RuntimeFolders, FirstSearchIsRemembered) {
    std::string beside = Library("app/jre/" + kLib);
    ConfigStore store = Store("jre_order b");
    std::string first = FindJvmLibrary(store);
    std::filesystem::remove(beside);
    EXPECT_EQ(FindJvmLibrary(Store("jre_order e")), first);
}

TEST(JvmLoading, ReleaseOnEmptyHolderAndBadLibraries) {
    JvmHolder holder;
    ReleaseJvm(holder);
    ReleaseJvm(holder);
    test::ScratchDir dir;
    test::WriteFile(dir / "notalib", "this is text");
    std::string savedPath = platform::GetEnv("PATH").value_or("");
    AddOption(holder, "-Xmx1m");
    testing::internal::CaptureStderr();
    EXPECT_EQ(CreateJvm(holder, dir / "notalib"), kJvmNotValid);
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());  // the system's reason
    // The retry widened PATH with the folder above the library.
    std::string widened = platform::GetEnv("PATH").value_or("");
    EXPECT_EQ(widened, savedPath + platform::kPathListSeparator + DirectoryPart(dir / "notalib") + "..");
    platform::PutEnv("PATH=" + savedPath);
    EXPECT_EQ(holder.library, nullptr);
}

}  // namespace
}  // namespace vxo
