// The JVM launch sequence: environment, options, class path, runtime, properties, version
// bounds, hooks and main.
#include <vector>

#include "common/text.h"
#include "config/config_store.h"
#include "launcher/command_line.h"
#include "launcher/image.h"
#include "launcher/java_calls.h"
#include "launcher/launch.h"
#include "launcher/messages.h"
#include "launcher/runtime_help.h"
#include "launcher/startup_trace.h"
#include "launcher/version.h"
#include "platform/platform.h"
#include "runtime/class_path.h"
#include "runtime/jvm.h"
#include "runtime/search.h"
#include "runtime/trace.h"
#include "services/services.h"

namespace vxo {

namespace {

constexpr int kSplashCloseWithListenerMs = 30000;
constexpr int kSplashCloseBeforeMainMs = 1750;
constexpr int kSplashCloseAfterMainMs = 750;

void ExportEnvironment(const ConfigStore& store) {
    bool toolOptionsExported = false;
    StringList exports = store.Values(Keyword::Export);
    for (std::size_t i = 0; i < exports.size(); ++i) {
        std::string assignment(exports[i]);
        std::size_t eq = assignment.find('=');
        if (eq == std::string::npos) continue;
        platform::PutEnv(assignment);
        std::string name = assignment.substr(0, eq);
        // Only a name the system reads as JAVA_TOOL_OPTIONS sets it: POSIX names keep their case.
        if (platform::kEnvironmentNamesIgnoreCase ? EqualsIgnoreCase(name, "JAVA_TOOL_OPTIONS")
                                                  : name == "JAVA_TOOL_OPTIONS")
            toolOptionsExported = true;
    }
    // An inherited JAVA_TOOL_OPTIONS never reaches the virtual machine; only an export sets it.
    if (!toolOptionsExported) platform::PutEnv("JAVA_TOOL_OPTIONS=");
}

void AddOptions(const ConfigStore& store, JvmHolder& holder) {
    StringList options = store.Values(Keyword::Option);
    for (std::size_t i = 0; i < options.size(); ++i) AddOption(holder, options[i]);
    std::string classPath = BuildClassPath(store, false);
    AppendClassPathEntry(classPath, BuildClassPath(store, true));
    AddOption(holder, "-Djava.class.path=" + classPath);
    AddOption(holder, "-Dvxo.class.path=" + classPath);
    AddOption(holder, "-Dvxo.app.path=" + store.AppPath());
    AddOption(holder, "-Dapplication.home=" + store.AppDir());
    if (ElevationTest() == 0) AddOption(holder, "-Dvxo.is.elevated=true");
}

void SetProperties(const ConfigStore& store, JNIEnv* env) {
    StringList properties = store.Values(Keyword::Property);
    for (std::size_t i = 0; i < properties.size(); ++i) SetSystemProperty(env, std::string(properties[i]));
}

// 0 when the runtime's version lies within "minjre" and "maxjre", else 5, 6 or 12.
std::int32_t CheckVersion(const ConfigStore& store, const JvmHolder& holder, std::string& version) {
    const std::string minJre = store.Value(Keyword::MinJre);
    const std::string maxJre = store.Value(Keyword::MaxJre);
    if (minJre.empty() && maxJre.empty()) return kLaunchOk;
    if (!ReadRuntimeVersion(holder, version)) return kNoVersion;
    TraceLine("the runtime reports java.version " + version);
    const std::vector<int> v = VersionComponents(version);
    if (CompareVersions(v, VersionComponents(minJre)) < 0) return kVersionTooLow;
    if (CompareVersions(v, VersionComponents(maxJre)) > 0) return kVersionTooHigh;
    return kLaunchOk;
}

std::vector<std::string> ArgumentTokens(const ConfigStore& store) {
    std::vector<std::string> tokens;
    StringList values = store.Values(Keyword::Argv);
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::string copy(values[i]);
        std::vector<char*> pieces;
        SplitArguments(copy.data(), pieces, nullptr);
        tokens.insert(tokens.end(), pieces.begin(), pieces.end());
    }
    return tokens;
}

void Report(const ConfigStore& store, std::int32_t result, const std::string& version) {
    std::string text = MessageText(result);
    if (result == kVersionTooLow || result == kVersionTooHigh)
        text = FormatMessage(text, {version, store.Value(Keyword::MinJre), store.Value(Keyword::MaxJre)});
    ReportRuntimeFailure(store, result, text);
}

std::int32_t StartAndRun(ConfigStore& store, JvmHolder& holder, const LaunchRequest& request,
                         std::string& version) {
    std::string library = FindJvmLibrary(store);
    if (library.empty()) return kNoRuntime;
    StartupMark("runtime found");
    if (int created = CreateJvm(holder, library); created != kJvmOk) return created;
    StartupMark("virtual machine created");
    SetProperties(store, holder.env);
    if (std::int32_t bounds = CheckVersion(store, holder, version); bounds != kLaunchOk) return bounds;
    if (request.onVmStarted != nullptr) request.onVmStarted();
    // The listener starts the whole toolkit: only worth it while there is a splash to close.
    bool listener = IsGuiImage() && EqualsIgnoreCase(store.Value(Keyword::SplashCloseOnWindow), "true") &&
                    SplashShowing() && InstallSplashCloseOnWindow(holder.env);
    ScheduleSplashClose(listener ? kSplashCloseWithListenerMs : kSplashCloseBeforeMainMs, true);
    StartupMark("main called");
    std::int32_t result = RunMain(holder, store.Value(Keyword::MainClass), ArgumentTokens(store),
                                  request.argumentCount, request.arguments);
    StartupMark("main returned");
    ScheduleSplashClose(listener ? kSplashCloseWithListenerMs : kSplashCloseAfterMainMs, false);
    return result;
}

}  // namespace

std::int32_t RunLaunchSequence(ConfigStore& store, JvmHolder& holder, const LaunchRequest& request) {
    ExportEnvironment(store);
    AddOptions(store, holder);
    std::string version;
    std::int32_t result = StartAndRun(store, holder, request, version);
    if (result == kApplicationFailed) return kApplicationFailedExitCode;
    if (result != kLaunchOk) Report(store, result, version);
    return result;
}

}  // namespace vxo
