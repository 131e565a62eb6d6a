// The Java side of instance messaging: serialising what the application sends, and the
// process-wide receiver that turns each complete message back into an object on the
// messaging thread.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "launcher/process.h"
#include "services/instances.h"
#include "services/services.h"

namespace vxo {

namespace {

constexpr jint kNoInstance = -1;
constexpr int kFlushRounds = 100;  // 50 ms each
// How long sendObject waits for room in the outgoing queue. Messages to a destination that
// does not take them are dropped within about a second each, so the queue only stays full this
// long when the messaging thread itself cannot go on.
constexpr std::uint32_t kSendWaitMs = 60000;
constexpr std::size_t kTagBytes = 4;

// When a Java step failed: print the exception to the Java error stream and clear it.
bool Failed(JNIEnv* env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionDescribe();
    env->ExceptionClear();
    return true;
}

// Deletes a local reference at the end of a scope.
class LocalRef {
public:
    LocalRef(JNIEnv* env, jobject ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    jobject get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

private:
    JNIEnv* env_;
    jobject ref_;
};

// The receiver the application set, and the gate that keeps deliveries away from a virtual
// machine that is gone. Lives until the process ends (never destroyed: the messaging thread
// may still look at it during exit).
class JavaReceiver {
public:
    static JavaReceiver& Get() {
        static JavaReceiver* receiver = new JavaReceiver();
        return *receiver;
    }

    bool started() const { return started_.load(); }
    void MarkStarted() { started_.store(true); }

    void Set(JNIEnv* env, jobject receiver) {
        std::lock_guard<std::mutex> lock(lock_);
        if (env->GetJavaVM(&vm_) != JNI_OK) vm_ = nullptr;
        Clear(env);
        if (receiver == nullptr) return;  // later messages are dropped, as before any receiver
        LocalRef cls(env, env->GetObjectClass(receiver));
        jmethodID onReceive = env->GetMethodID(static_cast<jclass>(cls.get()), "onReceive",
                                               "(ILjava/io/Serializable;)V");
        if (onReceive == nullptr) return;  // NoSuchMethodError stays pending for the caller
        LocalRef classClass(env, env->GetObjectClass(cls.get()));
        jmethodID getLoader = env->GetMethodID(static_cast<jclass>(classClass.get()), "getClassLoader",
                                               "()Ljava/lang/ClassLoader;");
        if (getLoader == nullptr) return;
        LocalRef loader(env, env->CallObjectMethod(cls.get(), getLoader));
        if (env->ExceptionCheck()) return;
        object_ = env->NewGlobalRef(receiver);
        loader_ = loader ? env->NewGlobalRef(loader.get()) : nullptr;
        onReceive_ = onReceive;
    }

    void Dispatch(const ReceivedMessage& message) {
        const std::vector<std::uint8_t>& bytes = message.bytes;
        if (bytes.size() < kTagBytes || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 0 || bytes[3] != 0) return;
        JavaVM* vm = nullptr;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (!open_ || vm_ == nullptr || object_ == nullptr || onReceive_ == nullptr) return;
            vm = vm_;
            inJava_ = true;
        }
        JNIEnv* env = nullptr;
        if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr) == JNI_OK && env != nullptr) {
            Deliver(env, message.senderPid, bytes);
            vm->DetachCurrentThread();
        }
        std::lock_guard<std::mutex> lock(lock_);
        inJava_ = false;
        idle_.notify_all();
    }

    bool Close(std::uint32_t waitMs) {
        std::unique_lock<std::mutex> lock(lock_);
        open_ = false;
        return idle_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !inJava_; });
    }

private:
    JavaReceiver() = default;

    void Clear(JNIEnv* env) {
        if (object_ != nullptr) env->DeleteGlobalRef(object_);
        if (loader_ != nullptr) env->DeleteGlobalRef(loader_);
        object_ = loader_ = nullptr;
        onReceive_ = nullptr;
    }

    void Deliver(JNIEnv* env, std::uint32_t sender, const std::vector<std::uint8_t>& bytes) {
        if (env->PushLocalFrame(16) != JNI_OK) {
            env->ExceptionClear();
            return;
        }
        jobject receiver;
        jobject loader;
        jmethodID onReceive;
        {
            // Local copies: a setReceiver meanwhile deletes the global ones.
            std::lock_guard<std::mutex> lock(lock_);
            receiver = object_ != nullptr ? env->NewLocalRef(object_) : nullptr;
            loader = loader_ != nullptr ? env->NewLocalRef(loader_) : nullptr;
            onReceive = onReceive_;
        }
        jobject object = receiver != nullptr ? ReadObject(env, loader, bytes) : nullptr;
        if (object != nullptr) {
            env->CallVoidMethod(receiver, onReceive, static_cast<jint>(sender), object);
            env->ExceptionClear();  // the application's own exception, not ours to print
        }
        env->PopLocalFrame(nullptr);
    }

    // The object after the tag, read with the receiver's class loader; null when it cannot be.
    static jobject ReadObject(JNIEnv* env, jobject loader, const std::vector<std::uint8_t>& bytes) {
        jclass threadClass = env->FindClass("java/lang/Thread");
        if (Failed(env)) return nullptr;
        jmethodID current = env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;");
        jmethodID setLoader = env->GetMethodID(threadClass, "setContextClassLoader", "(Ljava/lang/ClassLoader;)V");
        if (!Failed(env)) {
            jobject thread = env->CallStaticObjectMethod(threadClass, current);
            if (!Failed(env)) {
                env->CallVoidMethod(thread, setLoader, loader);
                Failed(env);
            }
        }
        const jsize length = static_cast<jsize>(bytes.size() - kTagBytes);
        jbyteArray array = env->NewByteArray(length);
        if (array == nullptr) {
            env->ExceptionClear();
            return nullptr;
        }
        env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(bytes.data() + kTagBytes));
        jclass inputClass = env->FindClass("java/io/ByteArrayInputStream");
        if (Failed(env)) return nullptr;
        jmethodID inputInit = env->GetMethodID(inputClass, "<init>", "([B)V");
        if (Failed(env)) return nullptr;
        jobject input = env->NewObject(inputClass, inputInit, array);
        if (Failed(env)) return nullptr;
        jclass streamClass = env->FindClass("com/lumenfold/vxo/ClassLoaderObjectInputStream");
        if (Failed(env)) return nullptr;
        jmethodID streamInit = env->GetMethodID(streamClass, "<init>", "(Ljava/io/InputStream;Ljava/lang/ClassLoader;)V");
        jmethodID readObject = streamInit != nullptr ? env->GetMethodID(streamClass, "readObject", "()Ljava/lang/Object;") : nullptr;
        jmethodID close = readObject != nullptr ? env->GetMethodID(streamClass, "close", "()V") : nullptr;
        if (Failed(env)) return nullptr;
        jobject stream = env->NewObject(streamClass, streamInit, input, loader);
        if (Failed(env)) return nullptr;
        jobject object = env->CallObjectMethod(stream, readObject);
        if (Failed(env)) return nullptr;
        env->CallVoidMethod(stream, close);
        if (Failed(env)) return nullptr;
        return object;
    }

    std::atomic<bool> started_{false};
    std::mutex lock_;
    std::condition_variable idle_;
    JavaVM* vm_ = nullptr;
    jobject object_ = nullptr;
    jobject loader_ = nullptr;
    jmethodID onReceive_ = nullptr;
    bool open_ = true;
    bool inJava_ = false;
};

// The payload of an object message: a zero tag and the object's serialised form. False (with
// the exception printed) when the object cannot be serialised.
bool Serialise(JNIEnv* env, jobject object, std::vector<std::uint8_t>& payload) {
    if (env->PushLocalFrame(16) != JNI_OK) {
        env->ExceptionClear();
        return false;
    }
    bool done = false;
    jclass bufferClass = env->FindClass("java/io/ByteArrayOutputStream");
    jclass streamClass = bufferClass != nullptr ? env->FindClass("java/io/ObjectOutputStream") : nullptr;
    jmethodID bufferInit = streamClass != nullptr ? env->GetMethodID(bufferClass, "<init>", "()V") : nullptr;
    jmethodID toByteArray = bufferInit != nullptr ? env->GetMethodID(bufferClass, "toByteArray", "()[B") : nullptr;
    jmethodID streamInit = toByteArray != nullptr ? env->GetMethodID(streamClass, "<init>", "(Ljava/io/OutputStream;)V") : nullptr;
    jmethodID writeObject = streamInit != nullptr ? env->GetMethodID(streamClass, "writeObject", "(Ljava/lang/Object;)V") : nullptr;
    jmethodID close = writeObject != nullptr ? env->GetMethodID(streamClass, "close", "()V") : nullptr;
    if (!Failed(env) && close != nullptr) {
        jobject buffer = env->NewObject(bufferClass, bufferInit);
        jobject stream = !Failed(env) ? env->NewObject(streamClass, streamInit, buffer) : nullptr;
        if (stream != nullptr && !Failed(env)) {
            env->CallVoidMethod(stream, writeObject, object);
            bool written = !Failed(env);
            env->CallVoidMethod(stream, close);
            written = !Failed(env) && written;
            auto array = written ? static_cast<jbyteArray>(env->CallObjectMethod(buffer, toByteArray)) : nullptr;
            if (array != nullptr && !Failed(env)) {
                const jsize length = env->GetArrayLength(array);
                payload.assign(kTagBytes + static_cast<std::size_t>(length), 0);
                env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(payload.data() + kTagBytes));
                done = !Failed(env);
            }
        }
    }
    env->PopLocalFrame(nullptr);
    return done;
}

void ThrowIllegalArgument(JNIEnv* env, const char* message) {
    jclass cls = env->FindClass("java/lang/IllegalArgumentException");
    if (cls != nullptr) env->ThrowNew(cls, message);
}

void ThrowIllegalState(JNIEnv* env, const char* message) {
    jclass cls = env->FindClass("java/lang/IllegalStateException");
    if (cls != nullptr) env->ThrowNew(cls, message);
}

}  // namespace

void StartMessaging() {
    JavaReceiver& receiver = JavaReceiver::Get();
    if (receiver.started() || Process::instances == nullptr) return;
    Process::instances->StartMessaging([](ReceivedMessage&& message) { JavaReceiver::Get().Dispatch(message); });
    receiver.MarkStarted();
}

bool CloseJavaReceiver(std::uint32_t waitMs) { return JavaReceiver::Get().Close(waitMs); }

jint FirstInstance() {
    if (!JavaReceiver::Get().started() || Process::instances == nullptr) return kNoInstance;
    return static_cast<jint>(Process::instances->OwnerPid());
}

jint CurrentInstance() {
    if (!JavaReceiver::Get().started() || Process::instances == nullptr) return kNoInstance;
    return static_cast<jint>(Process::instances->OwnPid());
}

jintArray ListInstances(JNIEnv* env) {
    std::vector<std::uint32_t> pids;
    if (Process::instances != nullptr) pids = Process::instances->Instances();
    jintArray array = env->NewIntArray(static_cast<jsize>(pids.size()));
    if (array != nullptr && !pids.empty()) {
        env->SetIntArrayRegion(array, 0, static_cast<jsize>(pids.size()), reinterpret_cast<const jint*>(pids.data()));
    }
    return array;
}

void SendObject(JNIEnv* env, jint instance, jobject object) {
    if (!JavaReceiver::Get().started() || Process::instances == nullptr) return;
    std::vector<std::uint8_t> payload;
    if (!Serialise(env, object, payload)) return;
    if (payload.size() > kMaxMessageBytes) {
        ThrowIllegalArgument(env, "object too large to send to another instance (more than 64 MiB serialised)");
        return;
    }
    const std::size_t size = payload.size();
    if (!Process::instances->Enqueue(static_cast<std::uint32_t>(instance), std::move(payload), kSendWaitMs)) {
        std::fprintf(stderr, "vexilo: a message of %zu bytes to instance %d was not sent: the outgoing queue stayed full\n",
                     size, static_cast<int>(instance));
        ThrowIllegalState(env, "the queue of messages to other instances stayed full; nothing was sent");
    }
}

void FlushInstances() {
    if (!JavaReceiver::Get().started() || Process::instances == nullptr) return;
    for (int round = 0; round < kFlushRounds && !Process::instances->QueueEmpty(); ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool FlushInstancesWithin(jlong millis) {
    if (!JavaReceiver::Get().started() || Process::instances == nullptr) return false;
    const jlong bounded = std::clamp<jlong>(millis, 0, 24L * 3600 * 1000);
    return Process::instances->Flush(static_cast<std::uint32_t>(bounded));
}

jlong DroppedMessages() {
    if (Process::instances == nullptr) return 0;
    return static_cast<jlong>(Process::instances->DroppedCount());
}

void SetInstanceReceiver(JNIEnv* env, jobject receiver) { JavaReceiver::Get().Set(env, receiver); }

}  // namespace vxo
