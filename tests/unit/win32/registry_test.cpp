// Registry references in values and the registry runtime lookup, against values that
// tests/wine/unit-tests.sh creates with `wine reg add` before the test binary runs.
#include <gtest/gtest.h>

#include <filesystem>

#include "config/config_store.h"
#include "config/expand.h"
#include "platform/platform.h"
#include "runtime/search.h"
#include "test_support.h"

namespace vxo {
namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::RegistryValue marker;
        ASSERT_TRUE(platform::ReadRegistryValue(platform::RegistryRoot::CurrentUser, "Software\\VexiloUnit",
                                                "Sz", marker))
            << "the registry values are made by tests/wine/unit-tests.sh; run the tests through it";
        platform::PutEnv("VXO_UNIT_DIR=C:\\unit");
    }
    std::string Expand(const std::string& text) { return ExpandValue(store, text, false); }
    ConfigStore store{false, "C:\\Apps\\tool.exe"};
};

TEST_F(RegistryTest, ReferenceTypesAndDefaults) {
    struct Case { const char* text; const char* expanded; };
    const Case cases[] = {
        {"%{HKCU\\Software\\VexiloUnit\\Sz}%", "plain text"},
        {"${HKEY_CURRENT_USER\\Software\\VexiloUnit\\Sz}!", "plain text!"},
        // REG_EXPAND_SZ goes through the launcher's own expansion, launcher names included.
        {"%{HKCU\\Software\\VexiloUnit\\Expand}%", "C:\\unit\\sub C:\\Apps\\ %"},
        {"%{HKCU\\Software\\VexiloUnit\\Dword}%", "-1"},
        {"%{HKCU\\Software\\VexiloUnit\\Big}%", "1"},
        {"%{HKCU\\Software\\VexiloUnit\\Binary}%", ""},  // other types: a defined, empty value
        {"%{HKCU\\Software\\VexiloUnit\\Def\\}%", "default value"},  // empty value name: the default
        {"%{HKCU\\VexiloUnitTop}%", "top default"},  // no "\\" after the key: its default value
        {"%{HKCU\\Software\\VexiloUnit\\Missing|fallback}%", "fallback"},
        {"%{HKCU\\Software\\VexiloMissing\\Sz|fb|x}%", "fb|x"},
        {"%{HKCU\\Software\\VexiloUnit\\Sz|unused}%", "plain text"},
        {"%{HKCU\\Software\\VexiloUnit\\Missing}%", "%{HKCU\\Software\\VexiloUnit\\Missing}%"},
        {"%{hkcu\\Software\\VexiloUnit\\Sz}%", "%{hkcu\\Software\\VexiloUnit\\Sz}%"},  // prefix case counts
        // A value that refers to itself stops after a few rounds instead of overflowing the stack.
        {"%{HKCU\\Software\\VexiloUnit\\Self}%", "%{HKCU\\Software\\VexiloUnit\\Self}%"},
    };
    for (const Case& c : cases) EXPECT_EQ(Expand(c.text), c.expanded) << c.text;
}

// Four references to itself would make 4^8 reads and megabytes of text: the work of one
// expansion is bounded, and what is left over stays as written.
TEST_F(RegistryTest, ReferencesThatFanOutAreBounded) {
    const std::string fan = "%{HKCU\\Software\\VexiloUnit\\Fan}%";
    const std::string once = Expand(fan);
    EXPECT_NE(once.find(fan), std::string::npos);
    EXPECT_LT(once.size(), 64u * 4 * fan.size());
    EXPECT_EQ(Expand(fan), once);  // each expansion gets the whole budget again
}

class RegistryRuntimeTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        std::filesystem::remove_all(kRoot);
        for (const char* kind : {"client", "server"}) {
            std::filesystem::create_directories(std::string(kRoot) + "\\bin\\" + kind);
            test::WriteFile(std::string(kRoot) + "\\bin\\" + kind + "\\jvm.dll", "fake");
        }
    }
    void TearDown() override { std::filesystem::remove_all(kRoot); }
    ConfigStore Store(const std::string& config) {
        ConfigStore s(false, "C:\\Apps\\tool.exe");
        s.AppendText(config);
        return s;
    }
    static constexpr const char* kRoot = "C:\\vxo-unit-rt";
};

TEST_F(RegistryRuntimeTest, VendorKeys) {
    const std::string client = std::string(kRoot) + "\\bin\\client\\jvm.dll";
    struct Case { const char* key; const char* config; std::string expected; };
    const Case cases[] = {
        {"SOFTWARE\\VexiloUnit\\JRE", "", client},                        // RuntimeLib exactly
        {"SOFTWARE\\VexiloUnit\\JRE", "vm server", std::string(kRoot) + "\\bin\\server/jvm.dll"},
        {"SOFTWARE\\VexiloUnit\\Moved", "", std::string(kRoot) + "\\bin\\client/jvm.dll"},
        {"SOFTWARE\\VexiloUnit\\HomeOnly", "", std::string(kRoot) + "/bin\\client/jvm.dll"},
        {"SOFTWARE\\VexiloUnit\\NoVersion", "", ""},
        {"SOFTWARE\\VexiloUnit\\Absent", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(test::NormalPath(LookupRegistryRuntime(Store(c.config), c.key)), test::NormalPath(c.expected))
            << c.key << " " << c.config;
    }
}

}  // namespace
}  // namespace vxo
