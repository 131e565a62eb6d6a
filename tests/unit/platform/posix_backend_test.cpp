// The POSIX backend's object names.
#ifndef _WIN32

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/names.h"

namespace vxo::platform::posix {
namespace {

TEST(PosixNames, StableHashAndBoundedComponents) {
    // Published FNV-1a vectors: another hash would split one lock between launcher builds.
    EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(Fnv1a64("foobar"), 0x85944171f73967e8ULL);

    struct Case { std::string name; std::size_t limit; std::string component; };
    const Case cases[] = {
        {"/opt/app.vxo.mutex", NAME_MAX, ".opt.app.vxo.mutex"},
        {std::string(NAME_MAX, 'a'), NAME_MAX, std::string(NAME_MAX, 'a')},
        // One byte over: the tail is flattened, the hash covers the whole name.
        {"/abcdefghijklmnopq/rs", 20, ".rs.6bda1703e06a379d"},
        {"x/abcdefghijklmnopq/rs", 20, ".rs.51b3aa45a17c2c5b"},
    };
    for (const Case& c : cases) EXPECT_EQ(FileComponent(c.name, c.limit), c.component) << c.name;

    EXPECT_EQ(SharedMemoryName("Acme.Report.vxo.mapping", 42), "/vexilo-42-Acme.Report.vxo.mapping");
    std::string longest = SharedMemoryName("/" + std::string(1000, 'p'), 4294967294U);
    EXPECT_EQ(longest.rfind("/vexilo-4294967294-ppp", 0), 0U) << longest;
    EXPECT_EQ(longest.size(), NAME_MAX + 1U);
}

}  // namespace
}  // namespace vxo::platform::posix

#endif
