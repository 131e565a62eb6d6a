// The Windows backend against the real system (run under Wine on Linux): files, registry,
// libraries, the instance lock, threads, the shared block and the image's string table.
#ifdef _WIN32

#include "platform/platform.h"
#include "platform/win32/win32_api.h"

#include "messages.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vxo::platform {
namespace {

using win32::UniqueHandle;
using win32::UniqueRegKey;

// ---- helpers ---------------------------------------------------------------------------------

std::string Pid() { return std::to_string(::GetCurrentProcessId()); }

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           _stricmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

std::u16string Widen(const char* ascii) {
    std::u16string out;
    for (; *ascii != '\0'; ++ascii) out.push_back(static_cast<unsigned char>(*ascii));
    return out;
}

bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool IsUnmapped(const void* address) {
    MEMORY_BASIC_INFORMATION info{};
    return ::VirtualQuery(address, &info, sizeof(info)) != 0 && info.State == MEM_FREE;
}

// A private folder under %TEMP%, removed with everything in it afterwards.
class TempDir {
public:
    TempDir() {
        char base[MAX_PATH + 1];
        const DWORD length = ::GetTempPathA(sizeof(base), base);
        path_ = std::string(base, length) + "vxo-w32-" + Pid() + "-" + std::to_string(counter_++);
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
    const std::string& path() const { return path_; }

    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream file(*this / name, std::ios::binary);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(file.good()) << name;
    }
    void MakeDir(const std::string& name) const { std::filesystem::create_directory(*this / name); }

private:
    static inline int counter_ = 0;
    std::string path_;
};

// ---- paths and files -----------------------------------------------------------------------------

TEST(Win32Paths, ModuleFileNameIsThisExistingExe) {
    const std::string self = ModuleFileName();
    EXPECT_TRUE(EndsWithNoCase(self, ".exe")) << self;
    EXPECT_TRUE(Exists(self)) << self;
    EXPECT_TRUE(CanRead(self)) << self;
    // Already absolute and normalised.
    EXPECT_EQ(FullPathName(self), self);
}

TEST(Win32Paths, FullPathNameNormalisesAndRejectsOverlongResults) {
    const std::string longest(256, 'a');  // "C:\" + 256 = 259 characters, the most that fits
    const struct {
        std::string input;
        std::string expected;
    } cases[] = {
        {"C:\\a\\..\\b", "C:\\b"},
        {"C:\\a\\.\\b\\", "C:\\a\\b\\"},
        {"C:/x/y", "C:\\x\\y"},
        {"C:\\x\\\\y", "C:\\x\\y"},
        {"C:\\" + longest, "C:\\" + longest},
        {"C:\\" + longest + "b", ""},
        {"C:\\x\\..\\" + longest + "b", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(FullPathName(c.input), c.expected);
    }
}

TEST(Win32Paths, RelativePathsResolveAgainstTheCurrentDirectory) {
    TempDir dir;
    const std::string before = CurrentDirectory();
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(SetCurrentDirectory(dir.path()));
    EXPECT_EQ(_stricmp(CurrentDirectory().c_str(), dir.path().c_str()), 0) << CurrentDirectory();
    EXPECT_EQ(_stricmp(FullPathName("x\\..\\y.txt").c_str(), (dir / "y.txt").c_str()), 0);
    EXPECT_FALSE(SetCurrentDirectory(dir / "no-such-folder"));
    ASSERT_TRUE(SetCurrentDirectory(before));
    EXPECT_EQ(CurrentDirectory(), before);
}

TEST(Win32Files, AccessTests) {
    TempDir dir;
    dir.Write("file.txt", "x");
    dir.MakeDir("folder");
    const struct {
        std::string path;
        bool exists;
    } cases[] = {
        {dir / "file.txt", true},
        {dir / "FILE.TXT", true},
        {dir / "folder", true},
        {dir / "missing.txt", false},
        {dir / "folder\\missing", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Exists(c.path), c.exists);
        EXPECT_EQ(CanRead(c.path), c.exists);
    }
}

TEST(Win32Files, ReadWholeFile) {
    TempDir dir;
    const std::string binary("line\r\nwith\0nul\xff\x1a tail", 21);
    const std::string large(300000, 'q');
    dir.Write("binary.bin", binary);
    dir.Write("large.bin", large);
    dir.Write("empty.bin", "");
    dir.MakeDir("folder");
    const struct {
        std::string name;
        std::size_t limit;
        bool ok;
        std::string expected;
    } cases[] = {
        {"binary.bin", 100, true, binary},  // no text-mode translation, NUL and ^Z kept
        {"large.bin", large.size(), true, large},
        {"large.bin", large.size() - 1, false, ""},  // one byte too many: not read at all
        {"empty.bin", 0, true, ""},
        {"missing.bin", 100, false, ""},
        {"folder", 100, false, ""},
        {"NUL", 100, false, ""},  // a device is no file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = "left over";
        EXPECT_EQ(ReadWholeFile(c.name == "NUL" ? c.name : dir / c.name, c.limit, out), c.ok);
        EXPECT_EQ(out, c.expected);
    }
}

// Output targets: every handle writes at the file's end as it is then, and the folders of a
// first run are made; what was there before stays.
TEST(Win32Files, AppendTargetsNeverOverwriteAndMakeTheirFolders) {
    TempDir dir;
    dir.Write("log.txt", "old\r\n");
    const struct {
        const char* name;
        std::string first, second;  // two spellings of one file
        std::string file;
        std::string before;
    } cases[] = {
        {"existing file, two spellings", dir / "log.txt", dir.path() + "\\.\\LOG.TXT", dir / "log.txt", "old\r\n"},
        {"missing folders", dir / "a\\b/c\\out.txt", dir / "a\\b\\c\\out.txt", dir / "a\\b\\c\\out.txt", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const OutputHandle one = OpenAppendFile(c.first), two = OpenAppendFile(c.second);
        ASSERT_NE(one, kNoOutput);
        ASSERT_NE(two, kNoOutput);
        std::string expected = c.before;
        for (int i = 0; i < 20; ++i) {
            const std::string line = (i % 2 ? "two " : "one ") + std::to_string(i) + "\r\n";
            EXPECT_TRUE(WriteOutput(i % 2 ? two : one, line.data(), line.size()));
            expected += line;
        }
        CloseOutput(one);
        CloseOutput(two);
        std::string written;
        ASSERT_TRUE(ReadWholeFile(c.file, 4096, written));
        EXPECT_EQ(written, expected);
    }
    EXPECT_EQ(OpenAppendFile(""), kNoOutput);
}

TEST(Win32Files, FolderIdentityNamesTheFolderNotThePath) {
    TempDir dir;
    dir.MakeDir("one");
    dir.MakeDir("two");
    const std::string one = FolderIdentity(dir / "one");
    EXPECT_FALSE(one.empty());
    EXPECT_EQ(FolderIdentity(dir / "ONE"), one);
    EXPECT_EQ(FolderIdentity(dir / "two\\..\\one\\"), one);
    EXPECT_NE(FolderIdentity(dir / "two"), one);
    EXPECT_EQ(FolderIdentity(dir / "missing"), "");
}

TEST(Win32Files, ReadWholeFileWhileAnotherWriterHoldsIt) {
    TempDir dir;
    dir.Write("held.txt", "content");
    UniqueHandle writer(::CreateFileA((dir / "held.txt").c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid());
    std::string out;
    EXPECT_TRUE(ReadWholeFile(dir / "held.txt", 100, out));
    EXPECT_EQ(out, "content");
    const MappedFile mapped = MappedFile::Open(dir / "held.txt");
    EXPECT_EQ(mapped.size(), 7u);
}

TEST(Win32MappedFile, OpensWholeFilesAndNothingElse) {
    TempDir dir;
    std::string content(70000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    dir.Write("data.bin", content);
    dir.Write("empty.bin", "");
    dir.MakeDir("folder");
    const struct {
        std::string name;
        std::string expected;
    } cases[] = {
        {"data.bin", content},
        {"empty.bin", ""},
        {"missing.bin", ""},
        {"folder", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const MappedFile mapped = MappedFile::Open(dir / c.name);
        ASSERT_EQ(mapped.size(), c.expected.size());
        EXPECT_EQ(mapped.data() == nullptr, c.expected.empty());
        if (mapped.data() != nullptr) {
            EXPECT_EQ(std::memcmp(mapped.data(), c.expected.data(), c.expected.size()), 0);
        }
    }
}

TEST(Win32MappedFile, MovesOwnershipAndReleasesTheFile) {
    TempDir dir;
    dir.Write("a.bin", "first");
    dir.Write("b.bin", "second!");
    MappedFile a = MappedFile::Open(dir / "a.bin");
    ASSERT_EQ(a.size(), 5u);
    const std::uint8_t* aData = a.data();

    MappedFile moved(std::move(a));
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(a.size(), 0u);
    EXPECT_EQ(moved.data(), aData);
    EXPECT_EQ(moved.size(), 5u);

    MappedFile b = MappedFile::Open(dir / "b.bin");
    ASSERT_EQ(b.size(), 7u);
    moved = std::move(b);  // releases a.bin's view
    EXPECT_EQ(moved.size(), 7u);
    EXPECT_EQ(std::memcmp(moved.data(), "second!", 7), 0);
    EXPECT_EQ(b.data(), nullptr);

    // The replaced view is unmapped, and so is the last one once its owner is emptied.
    EXPECT_TRUE(IsUnmapped(aData));
    const std::uint8_t* bData = moved.data();
    EXPECT_FALSE(IsUnmapped(bData));
    moved = MappedFile();
    EXPECT_TRUE(IsUnmapped(bData));
    EXPECT_EQ(moved.data(), nullptr);
}

TEST(Win32Directory, ListsMatchesWithoutRegardToCase) {
    TempDir dir;
    dir.Write("Alpha.TXT", "");
    dir.Write("beta.txt", "");
    dir.Write("gamma.dat", "");
    dir.MakeDir("Sub.Txt");
    dir.MakeDir("other");
    using Listing = std::set<std::pair<std::string, bool>>;
    const struct {
        std::string pattern;
        bool ok;
        Listing expected;
    } cases[] = {
        {dir / "*.txt", true, {{"Alpha.TXT", false}, {"beta.txt", false}, {"Sub.Txt", true}}},
        {dir / "ALPHA.*", true, {{"Alpha.TXT", false}}},
        {dir / "?AMMA.DAT", true, {{"gamma.dat", false}}},
        {dir.path() + "/*.dat", true, {{"gamma.dat", false}}},
        {dir / "*",
         true,
         {{".", true}, {"..", true}, {"Alpha.TXT", false}, {"beta.txt", false}, {"gamma.dat", false},
          {"Sub.Txt", true}, {"other", true}}},
        {dir / "*.none", true, {}},  // a folder without matches is listable, just empty
        {dir / "missing\\*", false, {}},
        {dir / "gamma.dat\\*", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        Listing seen;
        std::size_t visits = 0;
        EXPECT_EQ(ListDirectory(c.pattern,
                                [&](const DirEntry& entry) {
                                    ++visits;
                                    seen.insert({entry.name, entry.isDirectory});
                                }),
                  c.ok);
        EXPECT_EQ(seen, c.expected);
        EXPECT_EQ(visits, c.expected.size());  // each entry exactly once
    }
}

// ---- environment ------------------------------------------------------------------------------

TEST(Win32Environment, PutEnvSetsReplacesAndRemoves) {
    const std::string name = "VXO_TEST_ENV_" + Pid();
    ASSERT_FALSE(GetEnv(name).has_value());

    // The runtime must keep its own copy: the caller's string is gone after the call.
    std::string assignment = name + "=first value";
    PutEnv(assignment);
    std::fill(assignment.begin(), assignment.end(), 'X');
    assignment.clear();
    assignment.shrink_to_fit();
    EXPECT_EQ(GetEnv(name), std::optional<std::string>("first value"));

    // Visible through the process environment block too, where a runtime loaded later looks.
    char block[64] = {};
    EXPECT_EQ(::GetEnvironmentVariableA(name.c_str(), block, sizeof(block)), 11u);
    EXPECT_STREQ(block, "first value");

    PutEnv(name + "=second");
    EXPECT_EQ(GetEnv(name), std::optional<std::string>("second"));

    PutEnv(name + "=");
    EXPECT_FALSE(GetEnv(name).has_value());
    EXPECT_EQ(::GetEnvironmentVariableA(name.c_str(), block, sizeof(block)), 0u);
}

// ---- registry -----------------------------------------------------------------------------------

// Creates a scratch key with values of every type the launcher reads, and deletes it after.
class Win32Registry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0,
                                    KEY_WRITE | KEY_READ, nullptr, scratch_.receive(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        scratch_.reset();
        ::RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
    }
    void Set(const char* name, DWORD type, const std::string& bytes) {
        ASSERT_EQ(::RegSetValueExA(scratch_.get(), name, 0, type,
                                   reinterpret_cast<const BYTE*>(bytes.data()),
                                   static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS)
            << name;
    }

    const std::string key_ = "Software\\VexiloTest\\" + Pid();
    UniqueRegKey scratch_;
};

std::string Bytes(const char* text, std::size_t size) { return std::string(text, size); }

TEST_F(Win32Registry, ReadsEveryValueTypeAsStoredBytes) {
    const std::string big(100000, '\x5a');
    const struct {
        const char* name;
        DWORD type;
        std::string stored;
        std::string expected;
    } cases[] = {
        {"", REG_SZ, Bytes("default\0", 8), Bytes("default\0", 8)},
        {"Sz", REG_SZ, Bytes("C:\\Java\\jre\0", 12), Bytes("C:\\Java\\jre\0", 12)},
        {"Western", REG_SZ, Bytes("caf\xe9\0", 5), Bytes("caf\xe9\0", 5)},
        {"Expand", REG_EXPAND_SZ, Bytes("%SystemRoot%\\x\0", 15), Bytes("%SystemRoot%\\x\0", 15)},
        {"Dword", REG_DWORD, Bytes("\x78\x56\x34\x12", 4), Bytes("\x78\x56\x34\x12", 4)},
        {"BigEndian", REG_DWORD_BIG_ENDIAN, Bytes("\x12\x34\x56\x78", 4), Bytes("\x12\x34\x56\x78", 4)},
        {"Binary", REG_BINARY, Bytes("\0\x01\0\xff", 4), Bytes("\0\x01\0\xff", 4)},
        {"Multi", REG_MULTI_SZ, Bytes("a\0bc\0\0", 6), Bytes("a\0bc\0\0", 6)},
        {"Qword", REG_QWORD, Bytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8),
         Bytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
        {"Big", REG_BINARY, big, big},
        {"EmptyBinary", REG_BINARY, "", ""},
    };
    for (const auto& c : cases) Set(c.name, c.type, c.stored);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryValue value;
        ASSERT_TRUE(ReadRegistryValue(RegistryRoot::CurrentUser, key_, c.name, value));
        EXPECT_EQ(value.type, c.type);
        EXPECT_EQ(value.data, c.expected);
    }
    static_assert(kRegSz == REG_SZ && kRegExpandSz == REG_EXPAND_SZ && kRegBinary == REG_BINARY &&
                  kRegDword == REG_DWORD && kRegDwordBigEndian == REG_DWORD_BIG_ENDIAN &&
                  kRegMultiSz == REG_MULTI_SZ && kRegQword == REG_QWORD);
}

TEST_F(Win32Registry, MissingKeysAndValuesLeaveNothing) {
    Set("Present", REG_SZ, Bytes("x\0", 2));
    const struct {
        std::string key;
        const char* value;
    } cases[] = {
        {key_, "Absent"},
        {key_ + "\\NoSuchSubkey", "Present"},
        {"Software\\VexiloTest\\no-such-key-" + Pid(), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + " / " + c.value);
        RegistryValue value;
        value.type = 99;
        value.data = "stale";
        EXPECT_FALSE(ReadRegistryValue(RegistryRoot::CurrentUser, c.key, c.value, value));
        EXPECT_EQ(value.type, 0u);
        EXPECT_EQ(value.data, "");
    }
}

TEST_F(Win32Registry, ListsSubkeysUpToTheLimit) {
    const std::vector<std::string> made = {"17.0.9.9", "21.0.4.7", "zulu-8"};
    for (const std::string& name : made) {
        UniqueRegKey child;
        ASSERT_EQ(::RegCreateKeyExA(scratch_.get(), name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                    child.receive(), nullptr),
                  ERROR_SUCCESS);
    }
    std::vector<std::string> names = {"stale"};
    EXPECT_TRUE(ListRegistrySubkeys(RegistryRoot::CurrentUser, key_, 10, names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, made);
    EXPECT_TRUE(ListRegistrySubkeys(RegistryRoot::CurrentUser, key_, 2, names));
    EXPECT_EQ(names.size(), 2u);
    EXPECT_TRUE(ListRegistrySubkeys(RegistryRoot::CurrentUser, key_ + "\\17.0.9.9", 10, names));
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(ListRegistrySubkeys(RegistryRoot::CurrentUser, key_ + "\\absent", 10, names));
    EXPECT_TRUE(names.empty());
    for (const std::string& name : made) ::RegDeleteKeyA(scratch_.get(), name.c_str());
}

TEST(Win32RegistryRoots, EachRootOpensItsOwnHive) {
    // Each hive gets a value naming it; a root mapped to the wrong hive reads another name.
    const std::string leaf = "VexiloTest\\" + Pid();
    const struct {
        RegistryRoot root;
        HKEY hive;
        std::string key;
        std::string marker;
    } cases[] = {
        {RegistryRoot::ClassesRoot, HKEY_CLASSES_ROOT, "VexiloTest." + Pid(), "classes root"},
        {RegistryRoot::CurrentUser, HKEY_CURRENT_USER, "Software\\" + leaf, "current user"},
        {RegistryRoot::LocalMachine, HKEY_LOCAL_MACHINE, "Software\\" + leaf, "local machine"},
        {RegistryRoot::Users, HKEY_USERS, ".DEFAULT\\Software\\" + leaf, "users"},
        {RegistryRoot::CurrentConfig, HKEY_CURRENT_CONFIG, "Software\\" + leaf, "current config"},
    };
    for (const auto& c : cases) {
        UniqueRegKey key;
        ASSERT_EQ(::RegCreateKeyExA(c.hive, c.key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                    key.receive(), nullptr),
                  ERROR_SUCCESS)
            << c.marker;
        ASSERT_EQ(::RegSetValueExA(key.get(), "Hive", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(c.marker.c_str()),
                                   static_cast<DWORD>(c.marker.size() + 1)),
                  ERROR_SUCCESS);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.marker);
        RegistryValue value;
        EXPECT_TRUE(ReadRegistryValue(c.root, c.key, "Hive", value));
        EXPECT_EQ(value.data, c.marker + '\0');
    }
    for (const auto& c : cases) ::RegDeleteKeyA(c.hive, c.key.c_str());
}

// ---- libraries and errors -------------------------------------------------------------------------

TEST(Win32Libraries, LoadsResolvesAndReportsFailures) {
    const LibraryHandle kernel = LoadLibrary("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(GetSymbol(kernel, "GetProcAddress"),
              reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(&::GetProcAddress)));

    ::SetLastError(0);
    EXPECT_EQ(GetSymbol(kernel, "NoSuchExportVexilo"), nullptr);
    EXPECT_EQ(LastErrorCode(), static_cast<std::uint32_t>(ERROR_PROC_NOT_FOUND));
    FreeLibrary(kernel);

    ::SetLastError(0);
    EXPECT_EQ(LoadLibrary("no-such-library-vexilo.dll"), nullptr);
    EXPECT_EQ(LastErrorCode(), static_cast<std::uint32_t>(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(LastErrorText().empty());

    EXPECT_EQ(GetSymbol(nullptr, "x"), nullptr);
    FreeLibrary(nullptr);  // tolerated
}

TEST(Win32Libraries, FreeLibraryDropsOneReference) {
    // A DLL nothing else here loads (under Wine, user32 keeps version.dll once touched).
    const char* const name = "msimg32.dll";
    ASSERT_EQ(::GetModuleHandleA(name), nullptr);
    const LibraryHandle first = LoadLibrary(name);
    const LibraryHandle second = LoadLibrary(name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(second, first);
    EXPECT_NE(GetSymbol(first, "AlphaBlend"), nullptr);
    FreeLibrary(second);
    EXPECT_NE(::GetModuleHandleA(name), nullptr);
    FreeLibrary(first);
    EXPECT_EQ(::GetModuleHandleA(name), nullptr);
}

TEST(Win32Errors, LastErrorTextIsTheSystemTextWithoutLineEnd) {
    const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_MOD_NOT_FOUND};
    std::set<std::string> texts;
    for (const DWORD code : codes) {
        SCOPED_TRACE(code);
        ::SetLastError(code);
        const std::string text = LastErrorText();
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text.back(), '\n');
        EXPECT_NE(text.back(), '\r');
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
        texts.insert(text);
        ::SetLastError(code);
        EXPECT_EQ(LastErrorCode(), code);
    }
    EXPECT_EQ(texts.size(), std::size(codes));  // the code's own text, not a fixed one
    ::SetLastError(0x2000FFFF);                  // application-defined: the system has no text
    EXPECT_EQ(LastErrorText(), "");
}

TEST(Win32Errors, SuppressErrorDialogsAddsToTheCurrentMode) {
    const UINT original = ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
    SuppressErrorDialogs();
    const UINT now = ::SetErrorMode(original);
    EXPECT_EQ(now, static_cast<UINT>(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS |
                                     SEM_NOOPENFILEERRORBOX));
}

// ---- instance lock ---------------------------------------------------------------------------------

struct LockHolder {
    std::string name;
    UniqueHandle release{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle acquired{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    InstanceLock result = InstanceLock::CreateFailed;
};

unsigned HoldLockUntilReleased(void* raw) {
    auto* holder = static_cast<LockHolder*>(raw);
    std::uint32_t code = 0;
    holder->result = AcquireSingleInstance(holder->name, 5000, code);
    ::SetEvent(holder->acquired.get());
    ::WaitForSingleObject(holder->release.get(), 30000);
    return 0;  // exits still owning the mutex: it becomes abandoned
}

TEST(Win32InstanceLock, AcquiresWaitsAndTakesOverAbandonedLocks) {
    LockHolder holder;
    holder.name = "VexiloTestLock-" + Pid();
    ThreadHandle thread;
    ASSERT_TRUE(StartThread(&HoldLockUntilReleased, &holder, 0, thread));
    ASSERT_EQ(::WaitForSingleObject(holder.acquired.get(), 30000), WAIT_OBJECT_0);
    ASSERT_EQ(holder.result, InstanceLock::Acquired);

    std::uint32_t code = 12345;
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(AcquireSingleInstance(holder.name, 200, code), InstanceLock::HeldElsewhere);
    EXPECT_GE(::GetTickCount() - start, 150u);  // it did wait
    EXPECT_EQ(code, 12345u);                      // untouched unless creation failed

    ::SetEvent(holder.release.get());
    JoinThread(thread);
    EXPECT_EQ(AcquireSingleInstance(holder.name, 5000, code), InstanceLock::Acquired);
    // Held by this thread now, and kept: acquiring again is immediate.
    EXPECT_EQ(AcquireSingleInstance(holder.name, 0, code), InstanceLock::Acquired);
}

TEST(Win32InstanceLock, NameTakenByAnotherObjectTypeFailsWithItsCode) {
    const std::string name = "VexiloTestEvent-" + Pid();
    UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(event.valid());
    std::uint32_t code = 0;
    EXPECT_EQ(AcquireSingleInstance(name, 0, code), InstanceLock::CreateFailed);
    EXPECT_EQ(code, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

// ---- threads ---------------------------------------------------------------------------------------

unsigned AddOne(void* raw) {
    auto* value = static_cast<std::atomic<int>*>(raw);
    return static_cast<unsigned>(++*value) + 1000;
}

unsigned Throws(void*) { throw std::runtime_error("escaped"); }

TEST(Win32Threads, StartAndJoin) {
    const struct {
        ThreadProc proc;
        std::uint32_t flags;
        unsigned exitCode;
    } cases[] = {
        {&AddOne, 0, 1001},
        {&AddOne, kStackSizeIsReservation, 1002},
        {&Throws, 0, 0xE0000001u},  // an exception stops at the thread's edge
    };
    std::atomic<int> counter{0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exitCode);
        ThreadHandle thread;
        ASSERT_TRUE(StartThread(c.proc, &counter, c.flags, thread));
        EXPECT_NE(thread.value, 0);
        EXPECT_EQ(JoinThread(thread), c.exitCode);
        EXPECT_EQ(thread.value, 0);
    }
    ThreadHandle none;
    EXPECT_FALSE(StartThread(nullptr, nullptr, 0, none));
    EXPECT_EQ(none.value, 0);
}

// ---- elevation and interrupts -------------------------------------------------------------------------

TEST(Win32Process, ElevationStateIsAnAnswerNotAFailure) {
    const std::int32_t state = ElevationState();
    EXPECT_TRUE(state == 0 || state == 1) << state;
}

std::atomic<int> gInterrupts{0};
void CountInterrupt(int) { ++gInterrupts; }
void OtherHandler(int) {}

TEST(Win32Process, InterruptHandlerReportsOnlyRealPreviousHandlers) {
    const struct {
        const char* what;
        SignalHandler before;
        SignalHandler expected;
    } cases[] = {
        {"default", SIG_DFL, nullptr},
        {"ignore", SIG_IGN, nullptr},
        {"function", &OtherHandler, &OtherHandler},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::signal(SIGINT, c.before);
        std::signal(SIGTERM, c.before);
        SignalHandler previous[2] = {&CountInterrupt, &CountInterrupt};
        InstallInterruptHandler(&CountInterrupt, previous);
        EXPECT_EQ(previous[0], c.expected);
        EXPECT_EQ(previous[1], c.expected);

        const int before = gInterrupts;
        std::raise(SIGINT);
        std::signal(SIGINT, &CountInterrupt);  // the runtime resets it to default on delivery
        std::raise(SIGTERM);
        EXPECT_EQ(gInterrupts, before + 2);
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

// ---- shared instance block ------------------------------------------------------------------------------

TEST(Win32SharedBlock, NoSectionOfTheImageIsSharedBetweenUsers) {
    // The loader would map a shared section once for every process of the file, whoever runs it.
    const auto* base = reinterpret_cast<const std::uint8_t*>(::GetModuleHandleA(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        EXPECT_EQ(section->Characteristics & IMAGE_SCN_MEM_SHARED, 0u) << section->Name;
    }
}

TEST(Win32SharedBlock, NamedMappingIsOneBlockUntilTheLastCloses) {
    const std::string name = "Local\\VexiloTestBlock-" + Pid();
    {
        SharedBlock first = SharedBlock::Open(name);
        SharedBlock second = SharedBlock::Open(name);
        ASSERT_NE(first.data(), nullptr);
        ASSERT_NE(second.data(), nullptr);
        EXPECT_EQ(first.size(), kInstanceBlockSize);
        EXPECT_NE(first.data(), second.data());  // two views ...
        first.data()[kInstanceBlockSize - 1] = 0x5a;
        EXPECT_EQ(second.data()[kInstanceBlockSize - 1], 0x5a);  // ... of one block

        SharedBlock moved(std::move(first));
        EXPECT_EQ(first.data(), nullptr);
        EXPECT_EQ(first.size(), 0u);
        second = std::move(moved);  // releases second's own view
        EXPECT_EQ(second.data()[kInstanceBlockSize - 1], 0x5a);
    }
    // Every view and handle released: the name now makes a fresh, zeroed block.
    const SharedBlock fresh = SharedBlock::Open(name);
    ASSERT_NE(fresh.data(), nullptr);
    EXPECT_EQ(fresh.data()[kInstanceBlockSize - 1], 0);
}

TEST(Win32SharedBlock, WithoutAUsableNameTheBlockIsPrivate) {
    for (const char* name : {"", "NoSuchNamespace\\block"}) {
        SharedBlock one = SharedBlock::Open(name);
        SharedBlock two = SharedBlock::Open(name);
        ASSERT_NE(one.data(), nullptr);
        EXPECT_EQ(one.size(), kInstanceBlockSize);
        EXPECT_FALSE(one.shared());
        one.data()[0] = 1;
        EXPECT_EQ(two.data()[0], 0) << name;
    }
}

constexpr char kChildBlockVariable[] = "VXO_TEST_CHILD_BLOCK";
constexpr char kChildCommandVariable[] = "VXO_TEST_CHILD_COMMAND";
constexpr std::uint64_t kEchoMask = 0x5a5a5a5a5a5a5a5aull;

// Runs only inside the child that the next test starts: echoes the parent's nonce.
TEST(Win32SharedBlockChild, DISABLED_EchoNonce) {
    const std::optional<std::string> name = GetEnv(kChildBlockVariable);
    ASSERT_TRUE(name.has_value());
    // The raw command line arrives exactly as the parent wrote it, quotes included.
    EXPECT_EQ(GetEnv(kChildCommandVariable), std::optional<std::string>(CommandLine()));
    SharedBlock block = SharedBlock::Open(*name);
    ASSERT_NE(block.data(), nullptr);
    std::uint64_t nonce = 0;
    std::memcpy(&nonce, block.data(), sizeof(nonce));
    ASSERT_NE(nonce, 0u);
    nonce ^= kEchoMask;
    std::memcpy(block.data() + 8, &nonce, sizeof(nonce));
}

TEST(Win32SharedBlock, OtherProcessesOfThisProgramSeeTheSameBlock) {
    const struct {
        const char* what;
        std::string name;
    } cases[] = {
        {"named mapping", "Local\\VexiloTestChildBlock-" + Pid()},
        {"long name", std::string(300, 'n') + Pid()},
    };
    const std::string self = ModuleFileName();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SharedBlock block = SharedBlock::Open(c.name);
        ASSERT_TRUE(block.shared());
        ASSERT_NE(block.data(), nullptr);
        const std::uint64_t nonce = (std::uint64_t{::GetTickCount()} << 32) ^ ::GetCurrentProcessId() ^ 0x1234567;
        std::memcpy(block.data(), &nonce, sizeof(nonce));
        std::memset(block.data() + 8, 0, 8);

        ASSERT_TRUE(::SetEnvironmentVariableA(kChildBlockVariable, c.name.c_str()));
        std::string command = "\"" + self +
                              "\" --gtest_also_run_disabled_tests --gtest_brief=1"
                              " --gtest_filter=Win32SharedBlockChild.DISABLED_EchoNonce"
                              "  \"two  spaces\" x\\\"y";
        ASSERT_TRUE(::SetEnvironmentVariableA(kChildCommandVariable, command.c_str()));
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        const BOOL started = ::CreateProcessA(self.c_str(), &command[0], nullptr, nullptr, FALSE, 0,
                                              nullptr, nullptr, &startup, &info);
        ::SetEnvironmentVariableA(kChildBlockVariable, nullptr);
        ::SetEnvironmentVariableA(kChildCommandVariable, nullptr);
        ASSERT_TRUE(started) << ::GetLastError();
        UniqueHandle process(info.hProcess);
        UniqueHandle thread(info.hThread);
        ASSERT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        ASSERT_TRUE(::GetExitCodeProcess(process.get(), &exitCode));
        EXPECT_EQ(exitCode, 0u);
        std::uint64_t echo = 0;
        std::memcpy(&echo, block.data() + 8, sizeof(echo));
        EXPECT_EQ(echo, nonce ^ kEchoMask);
    }
}

// ---- handle ownership ------------------------------------------------------------------------------------

// Kernel handle values currently open in this process (they are multiples of 4, small in a
// process this size).
std::set<std::uintptr_t> OpenHandles() {
    std::set<std::uintptr_t> open;
    for (std::uintptr_t value = 4; value < 0x2000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) open.insert(value);
    }
    return open;
}

TEST(Win32Handles, EveryOperationReleasesWhatItOpens) {
    TempDir dir;
    dir.Write("file.bin", "payload");
    UniqueRegKey scratch;
    const std::string key = "Software\\VexiloTest\\handles-" + Pid();
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                scratch.receive(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExA(scratch.get(), "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_SUCCESS);
    const std::string eventName = "VexiloTestHandlesEvent-" + Pid();
    UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    ASSERT_TRUE(event.valid());

    const struct {
        const char* what;
        std::function<void()> operation;
        std::size_t kept;  // handles the operation owns on purpose afterwards
    } cases[] = {
        {"control: an event left open", [] { ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }, 1},
        {"instance lock, kept while the process runs",
         [&] {
             std::uint32_t code = 0;
             AcquireSingleInstance("VexiloTestHandlesLock-" + Pid(), 0, code);
         },
         1},
        {"instance lock that cannot be created",
         [&] {
             std::uint32_t code = 0;
             AcquireSingleInstance(eventName, 0, code);
         },
         0},
        {"read a file", [&] { std::string out; ReadWholeFile(dir / "file.bin", 1 << 20, out); }, 0},
        {"read a missing file", [&] { std::string out; ReadWholeFile(dir / "none", 1 << 20, out); }, 0},
        {"name a folder", [&] { FolderIdentity(dir.path()); }, 0},
        {"map and drop a file", [&] { MappedFile::Open(dir / "file.bin"); }, 0},
        {"map, move and drop a file",
         [&] {
             MappedFile a = MappedFile::Open(dir / "file.bin");
             MappedFile b = MappedFile::Open(dir / "file.bin");
             b = std::move(a);
             MappedFile c(std::move(b));
         },
         0},
        {"named shared block",
         [&] {
             SharedBlock a = SharedBlock::Open("Local\\VexiloTestHandles-" + Pid());
             SharedBlock b = SharedBlock::Open("Local\\VexiloTestHandles-" + Pid());
             b = std::move(a);
         },
         0},
        {"list a folder", [&] { ListDirectory(dir / "*", [](const DirEntry&) {}); }, 0},
        {"list a folder whose visitor throws",
         [&] {
             try {
                 ListDirectory(dir / "*", [](const DirEntry&) { throw std::runtime_error("stop"); });
             } catch (const std::runtime_error&) {
             }
         },
         0},
        {"read a registry value",
         [&] {
             RegistryValue value;
             ReadRegistryValue(RegistryRoot::CurrentUser, key, "v", value);
         },
         0},
        {"read a missing registry value",
         [&] {
             RegistryValue value;
             ReadRegistryValue(RegistryRoot::CurrentUser, key, "absent", value);
         },
         0},
        {"start and join a thread",
         [] {
             ThreadHandle thread;
             std::atomic<int> counter{0};
             if (StartThread(&AddOne, &counter, 0, thread)) JoinThread(thread);
         },
         0},
        {"query elevation", [] { ElevationState(); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.operation();  // warm-up: the system may cache handles (registry roots) on first use
        const std::set<std::uintptr_t> before = OpenHandles();
        c.operation();
        const std::set<std::uintptr_t> after = OpenHandles();
        std::vector<std::uintptr_t> added;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                            std::back_inserter(added));
        EXPECT_EQ(added.size(), c.kept);
    }
    scratch.reset();
    ::RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
}

// ---- string table -------------------------------------------------------------------------------------

TEST(Win32Strings, LoadsTheImageStringTable) {
    EXPECT_EQ(LoadStringResource(13), u"There is already an instance of this program running.");

    struct Case {
        int number;
        std::u16string expected;
    };
    std::vector<Case> cases;
#define VXO_EXPECT_MESSAGE(number, text) cases.push_back({number, Widen(text)});
    VXO_MESSAGE_TABLE(VXO_EXPECT_MESSAGE)
#undef VXO_EXPECT_MESSAGE
    ASSERT_EQ(cases.size(), 11u);
    // Gaps inside a block, the block's ends, a block that does not exist, and nonsense.
    for (const int absent : {0, 9, 11, 14, 15, 16, 31, 4095, -1, -16, 0x7fffffff}) {
        cases.push_back({absent, u""});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(LoadStringResource(c.number), c.expected);
    }
}

// ---- JNI machine definitions ------------------------------------------------------------------------------

static_assert(sizeof(jint) == 4 && sizeof(jlong) == 8 && sizeof(jbyte) == 1, "JNI integer widths");
static_assert(static_cast<jbyte>(-1) < 0, "jbyte is signed");

// ---- harness ------------------------------------------------------------------------------------------------

TEST(Win32Harness, WineRunsWithTheWesternAnsiCodePage) {
    if (!UnderWine()) GTEST_SKIP() << "code page set by the Wine harness only";
    EXPECT_EQ(::GetACP(), 1252u);
}

// Run by tests/wine/message-box-test.sh under Xvfb, which answers the box.
TEST(Win32MessageBox, DISABLED_ShowsAndReturnsWhenAnswered) {
    ShowMessageBox(VXO_MSG_13, VXO_MSG_10);
}

}  // namespace
}  // namespace vxo::platform

#endif  // _WIN32
