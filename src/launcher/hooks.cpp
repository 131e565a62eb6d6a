// VmStartedHook and InterruptHandler: the work done once the virtual machine exists, and on
// an interrupt or termination signal.
#include "launcher/hooks.h"

#include <csignal>

#include "launcher/java_calls.h"
#include "launcher/process.h"
#include "platform/platform.h"
#include "runtime/jvm.h"
#include "services/services.h"

namespace vxo {

namespace {
// The handlers that were installed before ours, for SIGINT and SIGTERM.
platform::SignalHandler previousHandlers[2] = {nullptr, nullptr};
}  // namespace

void VmStartedHook() {
    if (JvmHolder* holder = Process::holder) SetupJavaRedirection(holder->env);
    platform::InstallInterruptHandler(InterruptHandler, previousHandlers);
}

void InterruptHandler(int signal) {
    JvmHolder* holder = Process::holder;
    if (holder != nullptr && holder->vm != nullptr) {
        JNIEnv* env = nullptr;
        if (holder->vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) == JNI_OK) {
            if (env != nullptr) CallSystemExit(env, 0);
            holder->vm->DetachCurrentThread();
        }
    }
    RemoveAllTrayIcons();
    int index = signal == SIGINT ? 0 : signal == SIGTERM ? 1 : -1;
    if (index >= 0 && previousHandlers[index] != nullptr) previousHandlers[index](signal);
}

}  // namespace vxo
