// The POSIX backend's object names and the shared-memory objects it agrees to use.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "common/text.h"
#include "platform/posix/message_box.h"
#include "platform/posix/names.h"
#include "platform/posix/unique_fd.h"

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

// The message box's dialog program: never one from the working folder, only executable files.
TEST(PosixMessageBox, DialogProgramsOnlyFromAbsoluteFolders) {
    char pattern[] = "/tmp/vxo-path-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    auto make = [&](const std::string& rel, mode_t mode, bool folder = false) {
        const std::string path = root + "/" + rel;
        if (folder) {
            mkdir(path.c_str(), mode);
        } else {
            UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT, mode));
            fchmod(fd.get(), mode);
        }
    };
    for (const char* folder : {"rel", "plain", "dir", "good"}) make(folder, 0755, true);
    make("rel/tool", 0755), make("plain/tool", 0644), make("dir/tool", 0755, true), make("good/tool", 0755);
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(root.c_str()), 0);
    struct Case { const char* name; std::string list; std::string found; };
    const Case cases[] = {
        {"relative and empty entries are the working folder", "rel::.:./rel", ""},
        {"not executable, a folder: skipped", root + "/plain:" + root + "/dir:" + root + "/good", root + "/good/tool"},
        {"first match wins", root + "/good:" + root + "/rel", root + "/good/tool"},
        {"nothing", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(FindProgramOnPath("tool", c.list), c.found) << c.name;
    ASSERT_EQ(chdir(previous), 0);
    for (const char* rel : {"rel/tool", "plain/tool", "good/tool"}) unlink((root + "/" + rel).c_str());
    for (const char* rel : {"dir/tool", "rel", "plain", "dir", "good", ""}) rmdir((root + "/" + rel).c_str());

    // Every program shows the text as it is and takes the caption; xmessage reads it from stdin.
    for (const DialogProgram& program : kDialogPrograms) {
        const std::vector<std::string> args = program.arguments("-a <b>\\n</b>", "Caption");
        std::string joined;
        for (const std::string& a : args) joined += a + "\n";
        EXPECT_NE(joined.find("Caption"), std::string::npos) << program.name;
        EXPECT_EQ(joined.find("-a <b>") != std::string::npos, !program.textOnInput) << program.name;
    }
}

// /dev/shm belongs to every user: an object made by someone else, or open to others, must not
// become the block (nor be resized); one that is missing is made private.
TEST(PosixSharedBlock, UsesOnlyPrivateObjectsOfThisUser) {
    const uid_t me = geteuid();
    struct Case { const char* what; uid_t owner; mode_t mode; bool used; };  // mode 0: missing
    const Case cases[] = {
        {"missing", me, 0, true},
        {"ours", me, 0600, true},
        {"open to others", me, 0666, false},
        {"another user's", 65534, 0600, false},
    };
    for (const Case& c : cases) {
        if (c.owner != me && me != 0) continue;  // only root can give an object away
        std::string mapping = "vxo-unit-" + std::to_string(getpid()) + "-" + c.what;
        std::string name = SharedMemoryName(mapping, me);
        if (c.mode != 0) {
            UniqueFd made(shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
            ASSERT_TRUE(made) << c.what;
            ASSERT_EQ(fchmod(made.get(), c.mode), 0);
            ASSERT_EQ(fchown(made.get(), c.owner, static_cast<gid_t>(-1)), 0);
        }
        SharedBlock block = SharedBlock::Open(mapping);
        UniqueFd after(shm_open(name.c_str(), O_RDONLY, 0));
        struct stat st {};
        ASSERT_TRUE(after && fstat(after.get(), &st) == 0) << c.what;
        shm_unlink(name.c_str());
        EXPECT_EQ(block.shared(), c.used) << c.what;
        EXPECT_NE(block.data(), nullptr) << c.what;  // refused: a private block instead
        EXPECT_EQ(st.st_size, c.used ? static_cast<off_t>(kInstanceBlockSize) : 0) << c.what;
        EXPECT_EQ(st.st_mode & 0777, c.mode != 0 ? c.mode : 0600) << c.what;
    }
}

TEST(PosixSharedBlock, TheLastToLeaveRemovesTheName) {
    const std::string mapping = "vxo-unit-leave-" + std::to_string(getpid());
    const std::string name = SharedMemoryName(mapping, geteuid());
    auto exists = [&] { return UniqueFd(shm_open(name.c_str(), O_RDONLY, 0)).get() >= 0; };
    auto first = std::make_unique<SharedBlock>(SharedBlock::Open(mapping));
    SharedBlock second = SharedBlock::Open(mapping);
    ASSERT_TRUE(first->shared() && second.shared());
    first->data()[100] = 7;
    EXPECT_EQ(second.data()[100], 7);
    first.reset();
    EXPECT_TRUE(exists()) << "removed while still in use";
    second = SharedBlock();
    EXPECT_FALSE(exists());
    shm_unlink(name.c_str());
}

}  // namespace
}  // namespace vxo::platform::posix

#endif
