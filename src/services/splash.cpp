// Splash: the runtime's splash library beside the runtime, found by the process's first runtime
// search, and the hand-over of the native window between its thread and the rest.
#include "services/splash.h"

#include <atomic>
#include <cstdio>

#include "common/text.h"
#include "config/config_store.h"
#include "launcher/process.h"
#include "platform/platform.h"
#include "runtime/jvm.h"
#include "runtime/search.h"
#include "services/services.h"
#include "services/splash_image.h"

namespace vxo {

namespace splash {

namespace {

class SystemWindow final : public Window {
public:
    void SetTimer(std::uint64_t window, int ms) override { platform::SetSplashTimer(window, ms); }
    void PostClose(std::uint64_t window) override { platform::PostSplashClose(window); }
};

void OnCreated(std::uint64_t window) { Current().Created(window); }
void OnEnded(std::uint64_t) { Current().Ended(); }

}  // namespace

void CurrentSplash::Created(std::uint64_t window) {
    std::lock_guard<std::mutex> guard(lock_);
    window_ = window;
}

void CurrentSplash::Ended() {
    std::lock_guard<std::mutex> guard(lock_);
    window_ = 0;
}

std::uint64_t CurrentSplash::Handle() {
    std::lock_guard<std::mutex> guard(lock_);
    return window_;
}

void CurrentSplash::AutoClose(int ms) {
    std::lock_guard<std::mutex> guard(lock_);
    if (window_ == 0) return;
    autoCloseRequested_ = true;
    system_.SetTimer(window_, ms);
}

void CurrentSplash::ScheduleUnlessRequested(int ms, bool rearm) {
    std::lock_guard<std::mutex> guard(lock_);
    if (window_ == 0 || autoCloseRequested_) return;
    system_.SetTimer(window_, ms);
    autoCloseRequested_ = !rearm;
}

void CurrentSplash::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    if (window_ != 0) system_.PostClose(window_);
}

CurrentSplash& Current() {
    // Never destroyed: natives and the splash thread may still run during the exit handlers.
    static SystemWindow* const system = new SystemWindow;
    static CurrentSplash* const current = new CurrentSplash(*system);
    return *current;
}

}  // namespace splash

namespace {

using SplashInitFn = void (*)();
using SplashLoadFileFn = int (*)(const char*);
using SplashLoadMemoryFn = int (*)(void*, int);

}  // namespace

std::string SplashLibraryPath(const ConfigStore& store) {
    std::string runtime = FindJvmLibrary(store);
    if (runtime.empty()) return std::string();
    std::string candidate = DirectoryPart(runtime) + "../" + platform::kSplashLibraryName;
    return platform::CanRead(candidate) ? candidate : std::string();
}

namespace {

// Whether the runtime's splash library took an image: only then can a window's opening close it.
std::atomic<bool> runtimeSplashShown{false};

// False, with one line on standard error, for an image too large to decode in reasonable time
// and memory; the launch goes on without a splash.
bool AcceptSplashImage(const std::uint8_t* data, std::size_t size, const std::string& name) {
    const std::string refusal = splash::SplashRefusal(splash::ReadImageSize(data, size), name);
    if (refusal.empty()) return true;
    std::fprintf(stderr, "%s\n", refusal.c_str());
    std::fflush(stderr);
    return false;
}

}  // namespace

void StartRuntimeSplash(const std::string& libraryPath, const ConfigStore& store) {
    platform::SuppressErrorDialogs();
    // The runtime library first, as the runtime's own launcher has it loaded when it starts
    // its splash; the launch reuses it.
    std::string runtime = FindJvmLibrary(store);
    if (!runtime.empty() && Process::holder != nullptr && Process::holder->library == nullptr)
        LoadJvmLibrary(*Process::holder, runtime);
    // The image comes first: without one the library (and the display libraries it pulls in)
    // stays out of the process. Its header is read before anything is handed over: nothing that
    // could make the start wait (a FIFO: only a regular file is read) or take minutes and
    // gigabytes (a huge picture) reaches the library.
    const std::string image = store.Value(Keyword::Splash);
    const bool fromFile = !image.empty() && platform::CanRead(image);
    // The library takes over the bytes it is given; a copy outlives this function.
    static std::string resource;
    if (fromFile) {
        const platform::MappedFile file = platform::MappedFile::Open(image);
        if (file.data() == nullptr || !AcceptSplashImage(file.data(), file.size(), image)) return;
    } else {
        resource = platform::RawDataResource(100);
        if (resource.empty() || resource.size() > 0x7FFFFFFF) return;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(resource.data());
        if (!AcceptSplashImage(bytes, resource.size(), "resource 100")) return;
    }
    // Loaded for the life of the process: the runtime's splash support keeps using it.
    platform::LibraryHandle library = platform::LoadLibrary(libraryPath);
    if (library == nullptr) {
        std::string searchPath = platform::GetEnv("PATH").value_or("");
        std::string folder = DirectoryPart(libraryPath);
        if (!searchPath.empty() && !folder.empty()) searchPath.push_back(platform::kPathListSeparator);
        platform::PutEnv("PATH=" + searchPath + folder);
        library = platform::LoadLibrary(libraryPath);
        if (library == nullptr) return;
    }
    auto init = reinterpret_cast<SplashInitFn>(platform::GetSymbol(library, "SplashInit"));
    auto loadFile = reinterpret_cast<SplashLoadFileFn>(platform::GetSymbol(library, "SplashLoadFile"));
    auto loadMemory = reinterpret_cast<SplashLoadMemoryFn>(platform::GetSymbol(library, "SplashLoadMemory"));
    if (init == nullptr) return;
    init();
    // Shown when the library took the picture: only then can a window's opening close it.
    if (fromFile) {
        if (loadFile != nullptr && loadFile(image.c_str()) != 0) runtimeSplashShown = true;
    } else if (loadMemory != nullptr && loadMemory(resource.data(), static_cast<int>(resource.size())) != 0) {
        runtimeSplashShown = true;
    }
}

bool SplashShowing() { return runtimeSplashShown.load() || SplashWindowHandle() != 0; }

bool StartNativeSplash(const std::string& title) {
    const std::uint64_t bitmap = platform::LoadSplashBitmap();
    if (bitmap == 0) return false;
    return platform::ShowSplashWindow(bitmap, title, &splash::OnCreated, &splash::OnEnded);
}

void CloseSplashAfter(int milliseconds) { splash::Current().AutoClose(milliseconds); }

void CloseSplashNow() { splash::Current().Close(); }

void ScheduleSplashClose(int milliseconds, bool rearm) {
    splash::Current().ScheduleUnlessRequested(milliseconds, rearm);
}

std::uint64_t SplashWindowHandle() { return splash::Current().Handle(); }

}  // namespace vxo
