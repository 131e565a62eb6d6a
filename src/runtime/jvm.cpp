// JVM holder: pending options and the release of the virtual machine and its library.
#include "runtime/jvm.h"

namespace vxo {

JvmHolder::~JvmHolder() { ReleaseJvm(*this); }

void AddOption(JvmHolder& holder, std::string_view option) { holder.pendingOptions.Add(option); }

void ReleaseJvm(JvmHolder& holder) {
    if (holder.vm != nullptr) {
        holder.vm->DetachCurrentThread();
        holder.vm->DestroyJavaVM();
        holder.vm = nullptr;
        holder.env = nullptr;
    }
    if (holder.library != nullptr) {
        platform::FreeLibrary(holder.library);
        holder.library = nullptr;
    }
}

}  // namespace vxo
