// Runtime library location under a home and the search by source letters.
#include "runtime/search.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/config_store.h"
#include "launcher/runtime_help.h"
#include "platform/platform.h"
#include "runtime/installed.h"
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

// A runtime home whose release file names `version` (none when empty); returns its library.
std::string RuntimeHome(const std::string& home, const std::string& version) {
    const std::string sub1 = platform::kJvmHomeSubdirs[1];
    std::string library = home + "/" + sub1 + "server/" + kLib;
    std::filesystem::create_directories(std::filesystem::path(library).parent_path());
    test::WriteFile(library, "lib");
    if (!version.empty()) test::WriteFile(home + "/release", "IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"" + version + "\"\n");
    return library;
}

TEST_F(RuntimeFolders, VersionRangeChoosesAmongSources) {
    // The system's own runtimes (letter s) are left out: the machine's are not the test's.
    std::string beside17 = RuntimeHome(dir / "app/jre", "17.0.9");
    std::string unknown = RuntimeHome(dir / "app/plain", "");
    std::string jreHome11 = RuntimeHome(dir / "jre11", "11.0.2");
    std::string javaHome21 = RuntimeHome(dir / "jdk21", "21.0.1");
    platform::PutEnv("JRE_HOME=" + (dir / "jre11"));
    platform::PutEnv("JAVA_HOME=" + (dir / "jdk21"));
    struct Case { std::string config; std::string expected; };
    const Case cases[] = {
        {"jre_order be", beside17},                                  // no range: the first found, as ever
        {"jre_order be\nminjre 21", javaHome21},                    // 17 and 11 passed over
        {"jre_order be\nmaxjre 11.9", jreHome11},
        {"jre_order be\nminjre 17\nmaxjre 17.0.9", beside17},
        {"jre_order eb\nminjre 17", javaHome21},                     // order still decides among fits
        {"jre_order be\nminjre 30", beside17},                      // none fits: the first found
        {"jre_order e\nmaxjre 1.8", jreHome11},
        {"jre_order be\njre plain\nminjre 21", unknown},           // unknown version: taken as found
        {"jre_order cbe\njvmdll jre/lib-missing\nminjre 21", javaHome21},
    };
    for (const Case& c : cases)
        EXPECT_EQ(test::NormalPath(SearchJvmLibrary(Store(c.config))), test::NormalPath(c.expected)) << c.config;
    platform::PutEnv("JAVA_HOME=");
    platform::PutEnv("JRE_HOME=");
}

TEST(ReleaseFile, VersionTexts) {
    struct Case { std::string text; std::string version; };
    const Case cases[] = {
        {"JAVA_VERSION=\"17.0.9\"\nOS_NAME=\"Linux\"\n", "17.0.9"},
        {"IMPLEMENTOR=\"Eclipse Adoptium\"\r\nJAVA_VERSION=\"1.8.0_392\"\r\n", "1.8.0_392"},
        {"JAVA_VERSION=21", "21"},
        {"JAVA_VERSION_DATE=\"2023-10-17\"\n", ""},
        {"MY_JAVA_VERSION=\"9\"\n", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseReleaseVersion(c.text), c.version) << c.text;
}

TEST(ReleaseFile, FoundAboveTheLibrary) {
    test::ScratchDir dir;
    EXPECT_EQ(ReadReleaseVersion(RuntimeHome(dir / "jdk17", "17.0.2")), "17.0.2");
    // A JDK 8 keeps its release file in the JDK's home, four folders above the library.
    std::string jdk8 = dir / "jdk8/jre/lib/amd64/server/" + kLib;
    std::filesystem::create_directories(std::filesystem::path(jdk8).parent_path());
    test::WriteFile(jdk8, "lib");
    test::WriteFile(dir / "jdk8/release", "JAVA_VERSION=\"1.8.0_392\"\n");
    EXPECT_EQ(ReadReleaseVersion(jdk8), "1.8.0_392");
    EXPECT_EQ(ReadReleaseVersion(RuntimeHome(dir / "bare", "")), "");
    // A folder named "release" is not a release file.
    std::string odd = RuntimeHome(dir / "odd", "");
    std::filesystem::create_directories(dir / "odd/release");
    EXPECT_EQ(ReadReleaseVersion(odd), "");
}

TEST(InstalledRuntimes, VersionsFromKeyNamesAndOrder) {
    struct Case { std::string name; std::string version; };
    const Case cases[] = {
        {"21.0.4.7", "21.0.4.7"}, {"zulu-17", "17"}, {"8.0.392.8", "1.8.0.392.8"},
        {"zulu-8", "1.8"}, {"1.8.0_392", "1.8.0_392"}, {"hotspot", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(VersionFromKeyName(c.name), c.version) << c.name;

    std::vector<InstalledRuntime> runtimes = {
        {"a", "la", ""}, {"b", "lb", "17.0.2"}, {"c", "lc", "21"}, {"d", "ld", "21.0.1"}, {"e", "le", "1.8.0_392"}};
    SortNewestFirst(runtimes);
    std::string order;
    for (const InstalledRuntime& r : runtimes) order += r.where;
    EXPECT_EQ(order, "dcbea");

    EXPECT_TRUE(VersionWithin("21.0.1", "21", ""));
    EXPECT_TRUE(VersionWithin("17.0.9", "", "17"));  // bounds compare the parts they name
    EXPECT_FALSE(VersionWithin("17.0.9", "21", ""));
    EXPECT_FALSE(VersionWithin("25", "17", "21.9"));
}

TEST(InstalledRuntimes, FolderScanNewestFirstLinksOnce) {
    test::ScratchDir dir;
    RuntimeHome(dir / "jvm/jdk-17", "17.0.9");
    RuntimeHome(dir / "jvm/jdk-25", "25.0.1");
    RuntimeHome(dir / "jvm/no-release", "");
    std::filesystem::create_directories(dir / "jvm/docs-only");
    test::WriteFile(dir / "jvm/.jdk-17.jinfo", "x");
    std::error_code noLinks;  // where folders cannot be linked the rest still holds
    std::filesystem::create_directory_symlink(dir / "jvm/jdk-17", dir / "jvm/java-1.17.0", noLinks);
    RuntimeHome(dir / "opt/jdk-21", "21.0.2");
    ConfigStore store(false, dir / "app/tool");
    std::vector<InstalledRuntime> found = ScanRuntimeFolders(store, {dir / "jvm", dir / "missing", dir / "opt"});
    std::vector<std::string> versions, withoutLibrary;
    for (const InstalledRuntime& r : found) {
        versions.push_back(r.version);
        if (r.library.empty()) withoutLibrary.push_back(r.where.substr(r.where.rfind('/') + 1));
    }
    // The link and the folder it names count once; the folder without a runtime has no library.
    EXPECT_EQ(versions, (std::vector<std::string>{"25.0.1", "21.0.2", "17.0.9", "", ""}));
    EXPECT_EQ(withoutLibrary, std::vector<std::string>{"docs-only"});
}

TEST(RuntimeHelp, LinesAfterTheFailure) {
    struct Case { int result; std::string min, max, url, text; };
    const Case cases[] = {
        {1, "21", "", "", "This program needs Java 21 or later."},
        {1, "", "17.9", "", "This program needs Java 17.9 or earlier."},
        {1, "17", "21", "https://example.org/java",
         "This program needs Java 17 to 21.\nGet Java at https://example.org/java"},
        {6, "21", "", "https://example.org/java", "Get Java at https://example.org/java"},  // 6 states the range
        {12, "17", "17.9", "", ""},
        {1, "", "", "", ""},
        {2, "21", "", "https://example.org/java", ""},  // not a missing runtime
        {7, "", "", "https://example.org/java", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RuntimeHelpText(c.result, c.min, c.max, c.url), c.text) << c.result << " " << c.min << " " << c.max;

    struct Address { std::string text; bool web; };
    const Address addresses[] = {
        {"https://adoptium.net/", true}, {"HTTP://example.org", true}, {"https://", false},
        {"file:///etc/passwd", false}, {"C:\\Windows\\notepad.exe", false}, {"calc", false},
        {"https://a.org/ x", false}, {"https://a.org/\"x", false}, {"", false},
    };
    for (const Address& a : addresses) EXPECT_EQ(IsWebAddress(a.text), a.web) << a.text;
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
