// Version components, bounds and the formatting of messages 6 and 12.
#include "launcher/version.h"

#include <gtest/gtest.h>

namespace vxo {
namespace {

TEST(Version, Components) {
    struct Case { const char* text; std::vector<int> components; };
    const Case cases[] = {
        {"1.8", {1, 8}},          {"1.8.0_151", {1, 8, 0, 151}}, {"11.0.2", {11, 0, 2}},
        {"17", {17}},             {"9-ea", {9}},                 {"", {}},
        {"latest", {}},           {"1.2.3.4.5", {1, 2, 3, 4}},   {" 21.0.1+12", {21, 0, 1, 12}},
        {"1.a", {1}},             {"99999999999.1", {2147483647, 1}},
    };
    for (const Case& c : cases) EXPECT_EQ(VersionComponents(c.text), c.components) << c.text;
}

TEST(Version, BoundsCompareCommonComponentsOnly) {
    struct Case { const char* version; const char* bound; int sign; };
    const Case cases[] = {
        {"1.8.0_151", "1.8", 0},  {"11.0.2", "1.8", 1}, {"1.8.0_151", "9", -1},
        {"1.8.0_401", "1.8", 0},  {"11.0.2", "1.8", 1}, {"17", "latest", 0},
        {"", "9", 0},             {"17.0.2", "17.0.10", -1},
    };
    for (const Case& c : cases) {
        int result = CompareVersions(VersionComponents(c.version), VersionComponents(c.bound));
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.version << " vs " << c.bound;
    }
}

TEST(MessageFormat, PlaceholdersAreSafe) {
    struct Case { const char* format; const char* out; };
    const Case cases[] = {
        {"Java virtual machine version %s is too low, require %s or higher.",
         "Java virtual machine version 1.8.0_151 is too low, require 9 or higher."},
        {"Java virtual machine version %s is too high, version between %s and %s is required.",
         "Java virtual machine version 1.8.0_151 is too high, version between 9 and 1.7 is required."},
        {"%s %s %s %s %s", "1.8.0_151 9 1.7  "},   // more placeholders than arguments
        {"100%% %d %n %x", "100% %d %n %x"},      // other conversions stay as written
        {"trailing %", "trailing %"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatMessage(c.format, {"1.8.0_151", "9", "1.7"}), c.out);
    EXPECT_EQ(FormatMessage(std::string(5000, 'x') + "%s", {"v"}).size(), 5001u);
}

}  // namespace
}  // namespace vxo
