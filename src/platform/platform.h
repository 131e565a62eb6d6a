// The operating-system boundary: everything the portable launcher needs from Windows or POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vxo::platform {

// ---- Files and paths -------------------------------------------------------------------------

// Longest path the launcher handles, terminating NUL included: MAX_PATH on Windows, PATH_MAX
// on POSIX.
extern const std::size_t kMaxPathLength;

// Full path of the running executable (GetModuleFileNameA with 260 characters; /proc/self/exe).
// Empty when the system cannot give it in full: a cut path would name another file.
std::string ModuleFileName();

// Current working directory as the system reports it (no trailing separator added).
std::string CurrentDirectory();

// GetFullPathNameA into 260 bytes: the normalised absolute path, or empty when the result is
// empty or does not fit.
std::string FullPathName(const std::string& path);

bool SetCurrentDirectory(const std::string& path);

// The C runtime's access test: mode 4 (read) and mode 0 (exists). Directories pass both.
bool CanRead(const std::string& path);
bool Exists(const std::string& path);

// Reads a whole regular file of at most `maxSize` bytes (CreateFileA share read+write, one
// ReadFile). Returns false, with `out` empty, when the file cannot be opened, is not a regular
// file (a folder, a FIFO, a device) or is larger than `maxSize`; opening never blocks. Short
// reads keep what was read.
bool ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& out);

// A text naming the folder itself rather than the path that leads to it, so that two paths
// through links or junctions to one folder give the same text (POSIX: device and inode;
// Windows: the final path). Empty when the folder cannot be opened.
std::string FolderIdentity(const std::string& path);

// A read-only view of a whole file. Empty (data() == nullptr, size() == 0) when the file cannot
// be opened or mapped; a zero-length file is empty too.
class MappedFile {
public:
    static MappedFile Open(const std::string& path);
    MappedFile() = default;
    MappedFile(MappedFile&& other) noexcept { *this = std::move(other); }
    MappedFile& operator=(MappedFile&& other) noexcept {
        if (this != &other) {
            Reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            mapping_ = std::exchange(other.mapping_, 0);
        }
        return *this;
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile() { Reset(); }

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    void Reset();
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::intptr_t mapping_ = 0;  // backend's mapping handle, if it needs one
};

// One entry of a directory listing.
struct DirEntry {
    std::string name;
    bool isDirectory = false;
};

// Lists the entries that match `pattern` (a folder path followed by a last component holding
// "*" and "?" wildcards, the _findfirst form), in the listing's own order. Names are matched
// without regard to letter case. Returns false when the folder cannot be listed.
bool ListDirectory(const std::string& pattern, const std::function<void(const DirEntry&)>& visit);

// ---- Environment -----------------------------------------------------------------------------

std::optional<std::string> GetEnv(const std::string& name);
// _putenv semantics: "NAME=value" sets, "NAME=" removes.
void PutEnv(const std::string& assignment);

// ---- Registry (read only; the POSIX backend finds nothing) -----------------------------------

enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

enum RegistryType : std::uint32_t {
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegDwordBigEndian = 5,
    kRegMultiSz = 7,
    kRegQword = 11,
};

struct RegistryValue {
    std::uint32_t type = 0;
    std::string data;  // raw bytes as stored; strings include their NUL when stored with it
};

// Opens `key` below `root` with KEY_READ and reads `valueName` ("" for the default value).
bool ReadRegistryValue(RegistryRoot root, const std::string& key, const std::string& valueName,
                       RegistryValue& out);

// The names of the sub-keys of `key` below `root` (RegEnumKeyExA, KEY_READ, the process's own
// registry view), at most `limit` of them, in the registry's order. False when the key cannot
// be opened (always on POSIX).
bool ListRegistrySubkeys(RegistryRoot root, const std::string& key, std::size_t limit,
                         std::vector<std::string>& names);

// ---- Libraries -------------------------------------------------------------------------------

using LibraryHandle = void*;
LibraryHandle LoadLibrary(const std::string& path);
void* GetSymbol(LibraryHandle library, const char* name);
void FreeLibrary(LibraryHandle library);
// Adds SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX to the error mode (nothing on POSIX).
void SuppressErrorDialogs();
// The system's text for the calling thread's last error (FormatMessageA / dlerror).
std::string LastErrorText();
std::uint32_t LastErrorCode();

// ---- Process ---------------------------------------------------------------------------------

// Outcome of claiming the named single-instance lock.
enum class InstanceLock { Acquired, HeldElsewhere, CreateFailed };
// Creates (not owned) and waits up to `waitMs` for the named mutex (POSIX: flock on a lock file
// in the user's runtime directory). On CreateFailed, `errorCode` gets the system's error code.
// An acquired lock stays held until the process ends.
InstanceLock AcquireSingleInstance(const std::string& name, std::uint32_t waitMs,
                                   std::uint32_t& errorCode);

// A thread started with the runtime's thread creation; Join waits without limit.
struct ThreadHandle {
    std::intptr_t value = 0;
};
using ThreadProc = unsigned (*)(void* argument);
// flags: 0 or kStackSizeIsReservation. Returns false when the thread could not be created.
constexpr std::uint32_t kStackSizeIsReservation = 0x10000;
bool StartThread(ThreadProc proc, void* argument, std::uint32_t flags, ThreadHandle& out);
// Waits for the thread, returns its exit code and releases the handle.
unsigned JoinThread(ThreadHandle& thread);

// 0 elevated, 1 not elevated, or a failure code (E_FAIL).
std::int32_t ElevationState();

// Installs `handler` for SIGINT and SIGTERM. Returns the previous handlers through `previous`
// (nullptr where the previous one was not a real function). On POSIX the handler runs on a
// dedicated thread that waits for the signals, never inside a signal context.
using SignalHandler = void (*)(int);
void InstallInterruptHandler(SignalHandler handler, SignalHandler previous[2]);

// The raw command line (GetCommandLineA; POSIX: the arguments joined with the quoting rules the
// launcher's tokenizer undoes).
std::string CommandLine();

// ---- Output redirection ----------------------------------------------------------------------

enum class StandardStream { Output, Error };
// A handle the launcher writes redirected output to (a file or a pipe); kNoOutput for none.
using OutputHandle = std::intptr_t;
constexpr OutputHandle kNoOutput = -1;

// Opens path for appending: every write lands at the file's end as it is then, also beside
// other writers of the same file. Created when missing, with the folders above it (POSIX: mode
// 0700), never truncated. Opening never waits (a FIFO without a reader cannot be opened), and
// a link that another user planted in a sticky world-writable folder is not followed.
OutputHandle OpenAppendFile(const std::string& path);
// Starts a program with its standard input on a pipe and null standard output and error, and
// returns the pipe's write end (not inherited by later children). Windows starts commandLine
// (CreateProcessA, no window); POSIX starts arguments[0] found on PATH with the arguments,
// without a shell, with every signal at its default and none blocked, and reaps it when it
// ends. The launcher neither waits for the program nor ends it.
OutputHandle StartOutputCommand(const std::string& commandLine, const std::vector<std::string>& arguments);
void CloseOutput(OutputHandle handle);
// Writes all of data; false when the target took less (the rest is lost).
bool WriteOutput(OutputHandle handle, const void* data, std::size_t size);

// The standard stream as it was before SwitchStandardStream, to restore it.
struct SavedStream {
    std::intptr_t value = -1;
};
// Makes target the process's standard output or error, for the system (SetStdHandle; dup2 onto
// 1 or 2) and for the C runtime's stdout or stderr. Returns false when the switch did not take:
// the system's standard handle does not read back as target, and only the Java side can follow.
bool SwitchStandardStream(StandardStream stream, OutputHandle target, bool buffered, SavedStream& saved);
void RestoreStandardStream(StandardStream stream, SavedStream& saved);

// ---- User interface --------------------------------------------------------------------------

// MessageBoxA(owner, text, caption, MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST); owner 0
// for none. The POSIX backend writes the text to standard error.
void ShowMessageBox(const std::string& text, const std::string& caption, std::uint64_t owner = 0);

// A question box (MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND | MB_TOPMOST) and, on "Yes",
// ShellExecuteA "open" of `address`. Only where the system can open an address for the user
// (kCanOpenAddress); elsewhere it does nothing and returns false. True when it was opened.
bool OfferToOpenAddress(const std::string& text, const std::string& caption, const std::string& address,
                        std::uint64_t owner = 0);
extern const bool kCanOpenAddress;

// InitCommonControlsEx with the class set 0 (nothing on POSIX).
void InitCommonControls();

// ---- Notification area and pop-up menus -------------------------------------------------------
// Handles are integers; 0 is none. POSIX shows nothing: it has no tray window, and its menus
// are kept in memory with the same items and identifiers, so the portable logic is the same.

// The shell library's major version, read once before the entry function runs ("DllGetVersion"
// of shell32.dll, 4 when it cannot be read). POSIX: 6, so records take their balloon form.
std::uint32_t ShellMajorVersion();

// Called on the tray window's thread: a mouse message for an icon, a WM_COMMAND identifier.
using TrayMouseHandler = void (*)(std::uint32_t iconId, std::uint32_t message);
using TrayCommandHandler = void (*)(std::uintptr_t identifier);
// Starts the thread of the hidden "VXOMESSAGE" window and waits at most 30 s until the window
// exists or its creation failed. Nothing on POSIX.
void StartTrayWindow(TrayMouseHandler mouse, TrayCommandHandler command);
// The tray window, or 0 when there is none (never made, or destroyed since).
std::uint64_t TrayWindow();

enum class TrayOperation { Add, Modify, Delete };
// Shell_NotifyIconA with a record of `size` bytes in the NOTIFYICONDATAA layout (POSIX: true).
bool NotifyTrayIcon(TrayOperation operation, const void* record, std::size_t size);
// The image's icon resource `resource` (low 16 bits) at 16 x 16 pixels, or 0.
std::uint64_t LoadTrayIcon(std::int32_t resource);
void DestroyTrayIcon(std::uint64_t icon);

// One item as the menu holds it (for tests and the POSIX twin).
struct MenuItem {
    enum class Kind { String, SubMenu, Separator } kind = Kind::String;
    std::string text;
    std::uint32_t id = 0;
    std::uint64_t subMenu = 0;
};
std::uint64_t CreatePopupMenu();
// Appends at the end; false when the menu does not exist.
bool AppendMenuItem(std::uint64_t menu, const MenuItem& item);
void DestroyMenu(std::uint64_t menu);
// The items of a live menu, in order; empty for none.
std::vector<MenuItem> MenuItems(std::uint64_t menu);
// Shows the menu at the cursor, owned by the tray window when there is one; returns when the
// menu closes. Nothing on POSIX.
void TrackPopupMenu(std::uint64_t menu);

// ---- Splash --------------------------------------------------------------------------------
// The image's raw-data resource `id` (RT_RCDATA); empty when absent (always on POSIX).
std::string RawDataResource(int id);

// The native splash window (Windows; POSIX has none): bitmap resource 100 of the image, or 0.
std::uint64_t LoadSplashBitmap();
// Called on the splash thread: once the window exists, and when its message loop has ended,
// before anything of the splash is freed.
using SplashWindowHandler = void (*)(std::uint64_t window);
// Starts the splash thread, which owns the bitmap from then on, and waits at most 30 s for
// its window. POSIX: false, and the bitmap (always 0 there) is left alone.
bool ShowSplashWindow(std::uint64_t bitmap, const std::string& title, SplashWindowHandler created,
                      SplashWindowHandler ended);
// Timer 1 of the window: killed, then set to `ms` unless it is negative.
void SetSplashTimer(std::uint64_t window, int ms);
void PostSplashClose(std::uint64_t window);

// ---- Shared instance block ---------------------------------------------------------------------

constexpr std::size_t kInstanceBlockSize = 4096;

// The block shared by all running copies of one application, always kInstanceBlockSize bytes:
// the named mapping of an appid, or without one a mapping named from the program file's path.
// Either belongs to this user (Windows: the session's namespace; POSIX: a private file of ours in
// the per-user folder, mapped shared, whose header is checked and the block made anew when it
// does not validate). When no shared block can be had the process gets a private one and is its
// own only instance (POSIX says so on standard error).
class SharedBlock {
public:
    // `mappingName` empty selects the block of the program file.
    static SharedBlock Open(const std::string& mappingName);
    SharedBlock() = default;
    SharedBlock(SharedBlock&& other) noexcept { *this = std::move(other); }
    SharedBlock& operator=(SharedBlock&& other) noexcept {
        if (this != &other) {
            Reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            handle_ = std::exchange(other.handle_, 0);
            kind_ = std::exchange(other.kind_, Kind::None);
        }
        return *this;
    }
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;
    ~SharedBlock() { Reset(); }

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool shared() const { return kind_ == Kind::Mapped; }
    // Keeps the block mapped for the rest of the process: for a thread that may still use it.
    void Abandon() { data_ = nullptr, size_ = 0, handle_ = 0, kind_ = Kind::None; }

private:
    enum class Kind { None, Mapped, Private };
    void Reset();
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::intptr_t handle_ = 0;  // Windows: the mapping; POSIX: the descriptor of the block's file
    Kind kind_ = Kind::None;
};

// What the instance protocol needs from the system: process identity and liveness, and the
// cross-process mutex and pulsed event over one block. Windows: unnamed kernel objects whose
// handles travel through the block from the owner's process; POSIX: an flock on the block's file
// and a futex on the block's change counter, with liveness from a lock each instance holds.
class InstanceSync {
public:
    virtual ~InstanceSync() = default;
    virtual std::uint32_t CurrentPid() = 0;
    // Alive: the process is a running instance (Windows: its handle is not signalled; POSIX: it
// holds its liveness lock, which a reused pid or another user's process never does).
    virtual bool IsAlive(std::uint32_t pid) = 0;
    // Keeps a watch on the owner's process (0: none): its end wakes Wait, and OwnerActive polls it.
    virtual void WatchOwner(std::uint32_t pid) = 0;
    virtual bool OwnerActive() = 0;
    // Creates the mutex and event this process holds when it has none.
    virtual bool CreateObjects() = 0;
    // The values the owner publishes in the block for the objects it holds.
    virtual void ObjectValues(std::uint64_t& mutexValue, std::uint64_t& eventValue) = 0;
    // Takes the objects the watched owner published, in place of any held ones.
    virtual bool AdoptObjects(std::uint64_t mutexValue, std::uint64_t eventValue) = 0;
    virtual bool HasObjects() = 0;
    virtual void CloseObjects() = 0;
    // Returns what Unlock takes, 0 when the mutex was not had in time. Another thread may adopt
    // new objects meanwhile; the token names the one that was locked.
    virtual std::uintptr_t Lock(std::uint32_t timeoutMs) = 0;
    virtual void Unlock(std::uintptr_t token) = 0;
    // Wakes the instances that wait now and counts the change in the block's generation.
    virtual void Pulse() = 0;
    // Waits for a pulse, the watched owner's end, Interrupt or the time-out, unless the
    // generation already differs from `seen`.
    virtual void Wait(std::int32_t seen, std::uint32_t timeoutMs) = 0;
    // Makes this process's waits return at once from now on.
    virtual void Interrupt() = 0;
    // A monotonic clock in milliseconds, shared by nothing.
    virtual std::uint64_t NowMs() = 0;
};
// The system's InstanceSync over `block` (kInstanceBlockSize bytes); `generation` points into it.
std::unique_ptr<InstanceSync> NewInstanceSync(std::uint8_t* block, std::int32_t* generation);
// Where in the block the POSIX backend keeps its header; the instance layout stops before it.
constexpr std::size_t kInstanceSyncOffset = 3584;

// ---- Image resources ---------------------------------------------------------------------------

// The RT_STRING entry `number` of the running image, as UTF-16. Empty when absent.
std::u16string LoadStringResource(int number);

// Class path separator: ";" on Windows, ":" on POSIX.
extern const char kPathListSeparator;
// Name of the runtime library: "jvm.dll" or "libjvm.so".
extern const char* const kJvmLibraryName;
// Name of the runtime's splash library, found in the folder above the runtime library's.
extern const char* const kSplashLibraryName;
// True where environment variable names ignore letter case (Windows).
extern const bool kEnvironmentNamesIgnoreCase;
// Runtime homes the system itself points at, in order of preference (POSIX: the home of the
// `java` that PATH finds, through its links, then the distribution's default). Windows finds
// its system runtime in the registry and returns nothing here.
std::vector<std::string> SystemRuntimeHomes();
// Folders that hold installed runtimes side by side, one runtime home per entry (POSIX:
// /usr/lib/jvm, /usr/java, /opt/java). Windows finds its installed runtimes in the registry.
std::vector<std::string> RuntimeCollectionFolders();
// Configured paths use this system's folder separator: on POSIX a backslash in a configured path
// is a folder separator, as a configuration written for Windows means it.
std::string LocalSeparators(std::string path);
// Folders under a runtime home where the library is looked for, in order.
extern const char* const kJvmHomeSubdirs[4];

}  // namespace vxo::platform
