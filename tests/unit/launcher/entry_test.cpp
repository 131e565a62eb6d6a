// Names of kernel objects and the working-directory rule.
#include "launcher/entry.h"

#include <gtest/gtest.h>

namespace vxo {
namespace {

TEST(KernelObjectNames, MappingAndMutex) {
    EXPECT_EQ(MappingName("Acme\\Report"), "Acme.Report.vxo.mapping");
    EXPECT_EQ(MappingName("A:B"), "A:B.vxo.mapping");  // ":" stays in the mapping name
    EXPECT_EQ(SingleInstanceName("", "C:\\Apps\\report.exe"), "C..Apps.report.exe.vxo.mutex");
    EXPECT_EQ(SingleInstanceName("A:B\\C", "C:\\Apps\\report.exe"), "A.B.C.vxo.mutex");
    // The instance block: the appid's mapping, else the program file's own, else none.
    EXPECT_EQ(InstanceBlockName("Acme\\Report", "C:\\Apps\\report.exe"), "Acme.Report.vxo.mapping");
    EXPECT_EQ(InstanceBlockName("", "C:\\Apps\\report.exe"), "C..Apps.report.exe.vxo.block");
    EXPECT_EQ(InstanceBlockName("", ""), "");
}

TEST(ForceCwd, MadeAbsoluteAgainstTheProgramFolder) {
    struct Case { const char* appDir; const char* value; const char* target; };
    const Case cases[] = {
        {"C:\\Apps\\", "..\\data", "C:\\Apps\\..\\data"},
        {"C:\\Apps\\", "\\data", "C:\\data"},
        {"C:\\Apps\\", "D:\\x", "D:\\x"},
        {"C:\\Apps\\", "/x", "/x"},
        {"\\\\server\\share\\", "\\data", "\\data"},  // no drive to put in front
        {"/opt/app/", "data", "/opt/app/data"},
        {"/opt/app", "data", "/opt/app/data"},
    };
    for (const Case& c : cases) EXPECT_EQ(ForceCwdTarget(c.appDir, c.value), c.target) << c.value;
}

}  // namespace
}  // namespace vxo
