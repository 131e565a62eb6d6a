// The POSIX backend's file names, its per-user folder and the instance block it agrees to use.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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

// A temporary tree in which the test plays the other users (as root) or only itself.
class UserFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vxo-folder-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    // Makes `path` (under the root) as `kind` says: "" nothing, "dir:MODE:UID", "link:TARGET".
    void Make(const std::string& path, const std::string& kind) {
        if (kind.empty()) return;
        const std::string full = root_ + "/" + path;
        if (kind.rfind("link:", 0) == 0) {
            ASSERT_EQ(symlink((root_ + "/" + kind.substr(5)).c_str(), full.c_str()), 0) << path;
            return;
        }
        unsigned mode = 0, uid = 0;
        ASSERT_EQ(std::sscanf(kind.c_str(), "dir:%o:%u", &mode, &uid), 2) << kind;
        ASSERT_EQ(mkdir(full.c_str(), 0700), 0) << path;
        ASSERT_EQ(chmod(full.c_str(), mode), 0);
        ASSERT_EQ(chown(full.c_str(), uid == 1 ? geteuid() : uid, static_cast<gid_t>(-1)), 0);
    }

    std::string root_;
};

TEST_F(UserFolderTest, ChosenFromTheUserAloneAndOnlyWhenPrivate) {
    const unsigned other = 65534;  // "1" below stands for this user
    struct Case {
        const char* what;
        std::string runtime, shared, home;  // how each place is found
        const char* chosen;                 // "runtime", "shared", "home" or "" (none)
        bool needsRoot;
    };
    const std::string mine = "dir:700:1";
    const std::string othersOpen = "dir:777:" + std::to_string(other);
    const Case cases[] = {
        {"the runtime folder is ours", mine, "", mine, "runtime", false},
        {"runtime folder open to the group", "dir:750:1", "", mine, "shared", false},
        {"runtime folder missing: the shared one is made", "", "", mine, "shared", false},
        {"runtime folder of another user", "dir:700:" + std::to_string(other), "", mine, "shared", true},
        {"shared folder taken by another user, mode 0777", "", othersOpen, mine, "home", true},
        {"shared folder ours but open to all", "", "dir:777:1", mine, "home", false},
        {"shared folder a link to ours", "", "link:target", mine, "home", false},
        {"runtime folder a link to ours", "link:target", othersOpen, mine, "home", true},
        {"nothing usable and no home", "", othersOpen, "", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && geteuid() != 0) continue;
        TearDown();
        SetUp();
        Make("target", mine);
        Make("runtime", c.runtime);
        Make("shared", c.shared);
        Make("home", c.home);
        UserFolderPlaces places{root_ + "/runtime", root_ + "/shared", c.home.empty() ? "" : root_ + "/home", ".vx"};
        int error = 0;
        std::string chosen;
        UniqueFd folder = OpenUserFolder(places, error, &chosen);
        const std::string expected = std::string(c.chosen) == "runtime" ? places.runtime
                                     : std::string(c.chosen) == "shared" ? places.shared
                                     : std::string(c.chosen) == "home"   ? places.home + "/.vx"
                                                                         : "";
        EXPECT_EQ(chosen, expected);
        EXPECT_EQ(static_cast<bool>(folder), !expected.empty());
        if (folder) {
            struct stat st {};
            ASSERT_EQ(fstat(folder.get(), &st), 0);
            EXPECT_EQ(st.st_uid, geteuid());
            EXPECT_EQ(st.st_mode & 077, 0u);
        } else {
            EXPECT_NE(error, 0);
        }
    }
}

TEST_F(UserFolderTest, FilesInItArePrivateRegularFilesOfThisUser) {
    Make("f", "dir:700:1");
    UniqueFd folder(open((root_ + "/f").c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_TRUE(folder);
    ASSERT_EQ(symlink("/etc/passwd", (root_ + "/f/link").c_str()), 0);
    ASSERT_EQ(mkdir((root_ + "/f/dir").c_str(), 0700), 0);
    UniqueFd open0(openat(folder.get(), "open", O_CREAT | O_RDWR, 0600));
    ASSERT_EQ(fchmod(open0.get(), 0666), 0);
    UniqueFd linked(openat(folder.get(), "linked", O_CREAT | O_RDWR, 0600));
    ASSERT_EQ(linkat(folder.get(), "linked", folder.get(), "second", 0), 0);
    const struct { const char* name; bool used; } cases[] = {
        {"new", true}, {"link", false}, {"dir", false}, {"open", false}, {"linked", false},
    };
    for (const auto& c : cases) {
        int error = 0;
        UniqueFd file = OpenPrivateFile(folder.get(), c.name, error);
        EXPECT_EQ(static_cast<bool>(file), c.used) << c.name;
        if (!c.used) {
            EXPECT_NE(error, 0) << c.name;
        }
    }
}

// The block: one file for every opener, and a header that does not validate is made anew.
TEST(PosixSharedBlock, OneBlockPerNameAndUntrustedContentIsRemade) {
    const std::string mapping = "vxo-unit-block-" + std::to_string(getpid());
    auto first = std::make_unique<SharedBlock>(SharedBlock::Open(mapping));
    SharedBlock second = SharedBlock::Open(mapping);
    ASSERT_TRUE(first->shared() && second.shared());
    first->data()[100] = 7;
    EXPECT_EQ(second.data()[100], 7);
    // Every byte 0xFF: the next opener does not trust it.
    std::memset(first->data(), 0xFF, kInstanceBlockSize);
    SharedBlock third = SharedBlock::Open(mapping);
    ASSERT_TRUE(third.shared());
    EXPECT_EQ(first->data()[100], 0);
    EXPECT_EQ(first->data()[0], 0);
    // A valid one is kept as it is.
    first->data()[100] = 9;
    SharedBlock fourth = SharedBlock::Open(mapping);
    EXPECT_EQ(fourth.data()[100], 9);
    int error = 0;
    std::string folder;
    ASSERT_TRUE(OpenUserFolder(error, &folder));
    struct stat st {};
    const std::string file = folder + "/" + mapping + ".block";
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, static_cast<off_t>(kInstanceBlockSize));
    unlink(file.c_str());

    // A name someone made a link: a private block, never the link's target.
    const std::string linked = mapping + "-link";
    ASSERT_EQ(symlink("/etc/hostname", (folder + "/" + linked + ".block").c_str()), 0);
    SharedBlock refused = SharedBlock::Open(linked);
    EXPECT_FALSE(refused.shared());
    EXPECT_NE(refused.data(), nullptr);
    unlink((folder + "/" + linked + ".block").c_str());
}

}  // namespace
}  // namespace vxo::platform::posix

#endif
