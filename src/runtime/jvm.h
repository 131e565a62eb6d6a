// The JVM holder and the steps from a runtime home to a running virtual machine.
#pragma once

#include <jni.h>

#include <string>

#include "common/text.h"
#include "platform/platform.h"

namespace vxo {

class ConfigStore;

// Pending options, the runtime library, the virtual machine and the creating thread's
// environment. One per process, owned by the entry function.
struct JvmHolder {
    StringList pendingOptions;
    platform::LibraryHandle library = nullptr;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;

    JvmHolder() = default;
    JvmHolder(const JvmHolder&) = delete;
    JvmHolder& operator=(const JvmHolder&) = delete;
    ~JvmHolder();
};

// Result codes of loading and creation.
enum JvmResult : int { kJvmOk = 0, kJvmNotValid = 2, kJvmCreateFailed = 4 };

void AddOption(JvmHolder& holder, std::string_view option);

// The first existing runtime library under a runtime home, or empty.
std::string FindJvmInHome(const ConfigStore& store, const std::string& home);

// Loads the library, retrying once with the folder above it added to PATH.
int LoadJvmLibrary(JvmHolder& holder, const std::string& path);

// Loads the library when needed and creates the virtual machine from the pending options,
// which are consumed whatever the outcome.
int CreateJvm(JvmHolder& holder, const std::string& path);

// Detaches the calling thread, destroys the virtual machine and frees the library; harmless
// on an empty holder and when called twice.
void ReleaseJvm(JvmHolder& holder);
// Destroys the virtual machine from the thread that created it, leaving its library loaded:
// a thread of the launcher may still be on its way out of it.
void DestroyJvm(JvmHolder& holder);

}  // namespace vxo
