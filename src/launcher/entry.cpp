// The entry function: start-up steps in their fixed order, the launch thread, clean-up.
#include "launcher/entry.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/text.h"
#include "config/config_store.h"
#include "launcher/command_line.h"
#include "launcher/hooks.h"
#include "launcher/image.h"
#include "launcher/launch.h"
#include "launcher/messages.h"
#include "launcher/process.h"
#include "launcher/startup_trace.h"
#include "platform/platform.h"
#include "runtime/jvm.h"
#include "services/instances.h"
#include "services/services.h"

namespace vxo {

ConfigStore* Process::store = nullptr;
JvmHolder* Process::holder = nullptr;
InstanceManager* Process::instances = nullptr;

namespace {

constexpr std::uint32_t kSingleInstanceWaitMs = 100;

// How long clean-up waits for a message delivery that is still inside Java.
constexpr std::uint32_t kDeliveryWaitMs = 2000;

platform::SharedBlock OpenInstanceBlock(const ConfigStore& store) {
    return platform::SharedBlock::Open(InstanceBlockName(store.Value(Keyword::AppId), store.AppPath()));
}

void StartSplash(const ConfigStore& store) {
    std::string library = SplashLibraryPath(store);
    if (!library.empty()) {
        StartRuntimeSplash(library, store);
    } else if (IsGuiImage()) {
        StartNativeSplash(store.Value(Keyword::SplashTitle));
    }
}

void ApplyForceCwd(ConfigStore& store) {
    std::string value = store.Value(Keyword::ForceCwd);
    if (value.empty()) return;
    std::string full = platform::FullPathName(ForceCwdTarget(store.AppDir(), ConfigStore::LocalPath(value)));
    if (!full.empty()) platform::SetCurrentDirectory(full);
    store.RefreshCurrentDir();
}

void RedirectStandardStreams(const ConfigStore& store) {
    std::string err = store.Value(Keyword::Stderr);
    if (!err.empty()) RedirectStandardError(err);
    std::string out = store.Value(Keyword::Stdout);
    if (!out.empty()) RedirectStandardOutput(out);
}

void EnforceSingleInstance(const ConfigStore& store) {
    std::string mode = store.Value(Keyword::SingleInstance);
    if (EqualsIgnoreCase(mode, "custom")) {
        StartMessaging();
        return;
    }
    if (!EqualsIgnoreCase(mode, "true")) return;
    std::uint32_t error = 0;
    std::string name = SingleInstanceName(store.Value(Keyword::AppId), store.AppPath());
    platform::InstanceLock lock = platform::AcquireSingleInstance(name, kSingleInstanceWaitMs, error);
    if (lock == platform::InstanceLock::Acquired) return;
    if (lock == platform::InstanceLock::CreateFailed) {
        std::printf("CreateMutex error: %d\n", static_cast<int>(error));
        std::fflush(stdout);
    }
    ReportMessage(13);
    std::exit(kAlreadyRunning);
}

unsigned LaunchThreadProc(void* argument) {
    auto* request = static_cast<LaunchRequest*>(argument);
    request->exitCode = RunLaunchSequence(*Process::store, *Process::holder, *request);
    DestroyJvm(*Process::holder);
    return static_cast<unsigned>(request->exitCode);
}

std::int32_t RunOnThisThread(LaunchRequest& request) {
    return static_cast<std::int32_t>(LaunchThreadProc(&request));
}

std::int32_t Launch(const ConfigStore& store, LaunchRequest& request) {
    if (!store.GetMatching("option", "-XstartOnFirstThread", false, true).empty())
        return RunOnThisThread(request);
    platform::ThreadHandle thread;
    if (!platform::StartThread(LaunchThreadProc, &request, platform::kStackSizeIsReservation, thread) &&
        !platform::StartThread(LaunchThreadProc, &request, 0, thread)) {
        return RunOnThisThread(request);
    }
    return static_cast<std::int32_t>(platform::JoinThread(thread));
}

}  // namespace

std::string MappingName(const std::string& appId) {
    std::string name = appId;
    ReplaceAll(name, "\\", ".");
    return name + ".vxo.mapping";
}

std::string InstanceBlockName(const std::string& appId, const std::string& appPath) {
    if (!appId.empty()) return MappingName(appId);
    if (appPath.empty()) return std::string();
    std::string name = appPath;
    ReplaceAll(name, ":", ".");
    ReplaceAll(name, "\\", ".");
    return name + ".vxo.block";
}

std::string SingleInstanceName(const std::string& appId, const std::string& appPath) {
    std::string name = appId.empty() ? appPath : appId;
    ReplaceAll(name, ":", ".");
    ReplaceAll(name, "\\", ".");
    return name + ".vxo.mutex";
}

std::string ForceCwdTarget(const std::string& appDir, const std::string& value) {
    if (value[0] == '/' || (value.size() > 1 && value[1] == ':')) return value;
    if (value[0] == '\\') {
        bool hasDrive = appDir.size() > 1 && appDir.find(':') == 1;
        return hasDrive ? appDir.substr(0, 2) + value : value;
    }
    if (!appDir.empty() && IsPathSeparator(appDir.back())) return appDir + value;
    return appDir + "/" + value;
}

int LauncherMain(int argc, char** argv) {
    StartupTraceBegin();
    std::setlocale(LC_ALL, "");                                      // 1
    auto store = std::make_unique<ConfigStore>(true);                // 2
    StartupMark("configuration read");
    auto holder = std::make_unique<JvmHolder>();                     // 3
    platform::SharedBlock block = OpenInstanceBlock(*store);         // 4
    auto instances = std::make_unique<InstanceManager>(block.data(), block.size());  // 5
    Process::store = store.get();                                    // 6
    Process::holder = holder.get();
    Process::instances = instances.get();
    StartupMark("instance block open");
    platform::InitCommonControls();                                  // 7
    StartSplash(*store);                                             // 8
    StartupMark("splash started");
    ApplyForceCwd(*store);                                           // 9
    RedirectStandardStreams(*store);                                 // 10
    EnforceSingleInstance(*store);                                   // 11
    StartTrayWindow();                                               // 12
    static ArgumentVector arguments;                                 // 13
    arguments.Build(*store, argc, argv);
    LaunchRequest request;                                           // 14
    request.argumentCount = arguments.count() > 0 ? arguments.count() - 1 : 0;
    request.arguments = arguments.count() > 0 ? arguments.data() + 1 : arguments.data();
    request.onVmStarted = VmStartedHook;
    StartupMark("launch begins");
    std::int32_t result = Launch(*store, request);                   // 15
    StartupMark("launch ended");

    RemoveAllTrayIcons();
    Process::store = nullptr;
    Process::holder = nullptr;
    if (!CloseJavaReceiver(kDeliveryWaitMs) || !instances->Shutdown()) {
        // A delivery is still inside the virtual machine, which is gone: its thread may come
        // back through the block, the manager and the runtime library, so all three stay.
        instances.release();
        block.Abandon();
        holder.release();
        std::fflush(nullptr);
        return result;
    }
    Process::instances = nullptr;
    instances.reset();
    block = platform::SharedBlock();
    ReleaseJvm(*holder);
    holder.reset();
    store.reset();
    return result;
}

}  // namespace vxo
