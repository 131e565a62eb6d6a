// Output redirection: targets shared by value, the standard streams switched and restored, and
// the Java side where the system's handle did not follow.
#include "services/redirect.h"

#include <atomic>

#include "launcher/command_line.h"
#include "services/services.h"

namespace vxo {

namespace {

using platform::StandardStream;

// Constructed before the entry function runs, torn down by the runtime's exit handlers.
OutputRedirector processRedirector;

// Sets System.out or System.err to a PrintStream over a RedirOutputStream writing to handle.
void SetJavaStream(JNIEnv* env, const char* setter, platform::OutputHandle handle) {
    jclass redir = env->FindClass("com/lumenfold/vxo/RedirOutputStream");
    jclass print = redir != nullptr ? env->FindClass("java/io/PrintStream") : nullptr;
    jclass system = print != nullptr ? env->FindClass("java/lang/System") : nullptr;
    jmethodID newRedir = system != nullptr ? env->GetMethodID(redir, "<init>", "()V") : nullptr;
    jfieldID field = newRedir != nullptr ? env->GetFieldID(redir, "h", "J") : nullptr;
    jmethodID newPrint = field != nullptr ? env->GetMethodID(print, "<init>", "(Ljava/io/OutputStream;)V") : nullptr;
    jmethodID set = newPrint != nullptr ? env->GetStaticMethodID(system, setter, "(Ljava/io/PrintStream;)V") : nullptr;
    jobject out = set != nullptr ? env->NewObject(redir, newRedir) : nullptr;
    jobject stream = nullptr;
    if (out != nullptr) {
        env->SetLongField(out, field, static_cast<jlong>(handle));
        stream = env->NewObject(print, newPrint, out);
    }
    if (stream != nullptr) env->CallStaticVoidMethod(system, set, stream);
    env->ExceptionClear();  // the streams then stay as they are
    for (jobject ref : {static_cast<jobject>(stream), out, static_cast<jobject>(system),
                        static_cast<jobject>(print), static_cast<jobject>(redir)}) {
        if (ref != nullptr) env->DeleteLocalRef(ref);
    }
}

}  // namespace

OutputRedirector& ProcessRedirector() { return processRedirector; }

OutputRedirector::~OutputRedirector() {
    for (const auto& target : targets_) platform::CloseOutput(target->handle);
    for (StandardStream s : {StandardStream::Output, StandardStream::Error}) {
        platform::RestoreStandardStream(s, StateOf(s).saved);
    }
}

OutputRedirector::Stream& OutputRedirector::StateOf(StandardStream stream) {
    return stream == StandardStream::Output ? output_ : error_;
}

const OutputRedirector::Stream& OutputRedirector::StateOf(StandardStream stream) const {
    return stream == StandardStream::Output ? output_ : error_;
}

platform::OutputHandle OutputRedirector::HandleOf(StandardStream stream) const {
    return StateOf(stream).handle;
}

bool OutputRedirector::Owns(platform::OutputHandle handle) const {
    if (handle == platform::kNoOutput) return false;
    for (const auto& target : targets_) {
        if (target->handle == handle) return true;
    }
    return false;
}

const OutputRedirector::Target& OutputRedirector::TargetFor(const std::string& value) {
    for (const auto& target : targets_) {
        if (target->name == value) return *target;
    }
    auto target = std::make_unique<Target>();
    target->name = value;
    if (value[0] == '|') {
        // The launcher's own tokenizer splits the command; POSIX starts it without a shell.
        std::string line = value.substr(1);
        std::vector<char*> pieces;
        SplitArguments(line.data(), pieces, nullptr);
        std::vector<std::string> arguments(pieces.begin(), pieces.end());
        target->handle = arguments.empty() ? platform::kNoOutput
                                           : platform::StartOutputCommand(value.substr(1), arguments);
        target->command = true;
    } else {
        target->handle = platform::OpenAppendFile(value);
    }
    targets_.push_back(std::move(target));  // kept even when it failed: the value is not tried again
    return *targets_.back();
}

void OutputRedirector::Redirect(StandardStream stream, const std::string& value) {
    if (value.empty()) return;
    const Target& target = TargetFor(value);
    Stream& state = StateOf(stream);
    state.handle = target.handle;
    if (target.handle == platform::kNoOutput || state.switched) return;
    state.switched = true;
    // A file shows the launcher's own prints at once; a program's pipe is buffered.
    state.javaSide = !platform::SwitchStandardStream(stream, target.handle, target.command, state.saved);
}

void OutputRedirector::SetupJava(JNIEnv* env) const {
    if (env == nullptr) return;
    if (output_.javaSide) SetJavaStream(env, "setOut", output_.handle);
    if (error_.javaSide) SetJavaStream(env, "setErr", error_.handle);
}

void WriteRedirectedByte(JNIEnv* env, jobject self, jint b) {
    // Looked up once; two threads may race to the same answer.
    static std::atomic<jfieldID> field{nullptr};
    if (field.load() == nullptr) {
        jclass cls = env->GetObjectClass(self);
        field.store(env->GetFieldID(cls, "h", "J"));
        env->DeleteLocalRef(cls);
    }
    if (field.load() == nullptr) {
        env->ExceptionClear();
        return;
    }
    const auto handle = static_cast<platform::OutputHandle>(env->GetLongField(self, field.load()));
    if (!processRedirector.Owns(handle)) return;
    const auto byte = static_cast<unsigned char>(b & 0xFF);
    platform::WriteOutput(handle, &byte, 1);  // a failed write loses the byte silently
}

// The start-up and hook entry points.
void RedirectStandardError(const std::string& target) {
    processRedirector.Redirect(StandardStream::Error, target);
}

void RedirectStandardOutput(const std::string& target) {
    processRedirector.Redirect(StandardStream::Output, target);
}

void SetupJavaRedirection(JNIEnv* env) { processRedirector.SetupJava(env); }

}  // namespace vxo
