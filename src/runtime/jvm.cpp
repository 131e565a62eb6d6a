// JVM holder, runtime library location, loading with the PATH retry, creation and release.
#include "runtime/jvm.h"

#include <vector>

#include "config/config_store.h"
#include "launcher/messages.h"
#include "runtime/trace.h"

namespace vxo {

namespace {
using CreateJavaVmFn = jint(JNICALL*)(JavaVM**, void**, void*);
constexpr const char* kEntryPoints[] = {"JNI_CreateJavaVM", "JNI_CreateJavaVM_Impl"};
}  // namespace

JvmHolder::~JvmHolder() { ReleaseJvm(*this); }

void AddOption(JvmHolder& holder, std::string_view option) { holder.pendingOptions.Add(option); }

std::string FindJvmInHome(const ConfigStore& store, const std::string& home) {
    std::string base = home;
    if (base.empty() || !IsPathSeparator(base.back())) base.push_back('/');
    const std::string library = platform::kJvmLibraryName;
    const std::string vm = store.Value(Keyword::Vm);
    for (const char* sub : platform::kJvmHomeSubdirs) {
        const std::string dir = base + sub;
        if (platform::CanRead(dir + library)) return dir + library;
        if (vm.size() > 1 && platform::CanRead(dir + vm + "/" + library)) return dir + vm + "/" + library;
        std::string found;
        platform::ListDirectory(dir + "*", [&](const platform::DirEntry& entry) {
            if (!found.empty() || !entry.isDirectory || entry.name == "." || entry.name == "..") return;
            std::string candidate = dir + entry.name + "/" + library;
            if (platform::CanRead(candidate)) found = candidate;
        });
        if (!found.empty()) return found;
    }
    return std::string();
}

int LoadJvmLibrary(JvmHolder& holder, const std::string& path) {
    platform::SuppressErrorDialogs();
    holder.library = platform::LoadLibrary(path);
    if (holder.library != nullptr) return kJvmOk;
    // The runtime's own dependencies may live in the folder above the library.
    std::string above = DirectoryPart(path) + "..";
    std::string searchPath = platform::GetEnv("PATH").value_or("");
    if (!searchPath.empty()) searchPath.push_back(platform::kPathListSeparator);
    platform::PutEnv("PATH=" + searchPath + above);
    holder.library = platform::LoadLibrary(path);
    if (holder.library != nullptr) return kJvmOk;
    ReportSystemError(path);
    TraceLine("could not load " + path);
    return kJvmNotValid;
}

int CreateJvm(JvmHolder& holder, const std::string& path) {
    if (holder.library == nullptr) {
        int loaded = LoadJvmLibrary(holder, path);
        if (holder.library == nullptr) return loaded;
    }
    CreateJavaVmFn create = nullptr;
    for (const char* name : kEntryPoints) {
        if (create == nullptr) create = reinterpret_cast<CreateJavaVmFn>(platform::GetSymbol(holder.library, name));
    }
    if (create == nullptr) {
        TraceLine(path + " exports no JNI_CreateJavaVM");
        return kJvmNotValid;
    }

    std::vector<JavaVMOption> options(holder.pendingOptions.size());
    for (std::size_t i = 0; i < options.size(); ++i) {
        options[i].optionString = const_cast<char*>(holder.pendingOptions.c_str(i));
        options[i].extraInfo = nullptr;
    }
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_2;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    args.ignoreUnrecognized = JNI_TRUE;
    jint result = create(&holder.vm, reinterpret_cast<void**>(&holder.env), &args);
    holder.pendingOptions.Clear();
    if (result == JNI_OK) return kJvmOk;
    holder.vm = nullptr;
    holder.env = nullptr;
    TraceLine(path + " refused to start the virtual machine (" + std::to_string(result) + ")");
    return kJvmCreateFailed;
}

void DestroyJvm(JvmHolder& holder) {
    if (holder.vm != nullptr) {
        holder.vm->DetachCurrentThread();
        holder.vm->DestroyJavaVM();
        holder.vm = nullptr;
        holder.env = nullptr;
    }
}

void ReleaseJvm(JvmHolder& holder) {
    DestroyJvm(holder);
    if (holder.library != nullptr) {
        platform::FreeLibrary(holder.library);
        holder.library = nullptr;
    }
}

}  // namespace vxo
