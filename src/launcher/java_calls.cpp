// JNI operations used by the launch sequence and the interrupt handler.
#include "launcher/java_calls.h"

#include "common/text.h"
#include "launcher/launch.h"
#include "platform/platform.h"
#include "runtime/jvm.h"

namespace vxo {

namespace {

jstring NewAnsiString(JNIEnv* env, const char* text) {
    std::u16string units = AnsiToUtf16(text != nullptr ? text : "");
    return env->NewString(reinterpret_cast<const jchar*>(units.data()), static_cast<jsize>(units.size()));
}

}  // namespace

bool DescribeAndClearException(JNIEnv* env) {
    if (env->ExceptionOccurred() == nullptr) return false;
    env->ExceptionDescribe();
    env->ExceptionClear();
    return true;
}

void SetSystemProperty(JNIEnv* env, const std::string& assignment) {
    std::size_t eq = assignment.find('=');
    std::string name = assignment.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : assignment.substr(eq + 1);
    jclass system = env->FindClass("java/lang/System");
    jmethodID set = system != nullptr ? env->GetStaticMethodID(
        system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;") : nullptr;
    if (set == nullptr) {
        env->ExceptionClear();
        if (system != nullptr) env->DeleteLocalRef(system);
        return;
    }
    jstring jname = env->NewStringUTF(name.c_str());
    jstring jvalue = env->NewStringUTF(value.c_str());
    jobject previous = env->CallStaticObjectMethod(system, set, jname, jvalue);
    // An empty name makes setProperty throw: that property is simply not set.
    env->ExceptionClear();
    if (previous != nullptr) env->DeleteLocalRef(previous);
    env->DeleteLocalRef(jvalue);
    env->DeleteLocalRef(jname);
    env->DeleteLocalRef(system);
}

void CallSystemExit(JNIEnv* env, int status) {
    jclass system = env->FindClass("java/lang/System");
    jmethodID exit = system != nullptr ? env->GetStaticMethodID(system, "exit", "(I)V") : nullptr;
    if (exit != nullptr) env->CallStaticVoidMethod(system, exit, static_cast<jint>(status));
    env->ExceptionClear();
    if (system != nullptr) env->DeleteLocalRef(system);
}

void SetContextClassLoader(JNIEnv* env, jobject loader) {
    jclass thread = env->FindClass("java/lang/Thread");
    if (thread == nullptr) {
        env->ExceptionClear();
        return;
    }
    jmethodID current = env->GetStaticMethodID(thread, "currentThread", "()Ljava/lang/Thread;");
    jmethodID set = current != nullptr
        ? env->GetMethodID(thread, "setContextClassLoader", "(Ljava/lang/ClassLoader;)V") : nullptr;
    if (set == nullptr) {
        DescribeAndClearException(env);
        env->DeleteLocalRef(thread);
        return;
    }
    jobject self = env->CallStaticObjectMethod(thread, current);
    if (self != nullptr) {
        env->CallVoidMethod(self, set, loader);
        DescribeAndClearException(env);
        env->DeleteLocalRef(self);
    }
    env->DeleteLocalRef(thread);
}

bool ReadRuntimeVersion(const JvmHolder& holder, std::string& version) {
    version.clear();
    JNIEnv* env = holder.env;
    if (env == nullptr) return false;
    jclass system = env->FindClass("java/lang/System");
    jmethodID get = system != nullptr
        ? env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;") : nullptr;
    if (get == nullptr) {
        env->ExceptionClear();
        if (system != nullptr) env->DeleteLocalRef(system);
        return false;
    }
    jstring key = env->NewStringUTF("java.version");
    auto value = static_cast<jstring>(env->CallStaticObjectMethod(system, get, key));
    if (value != nullptr) {
        const jchar* chars = env->GetStringChars(value, nullptr);
        if (chars != nullptr) {
            std::u16string units(reinterpret_cast<const char16_t*>(chars),
                                 static_cast<std::size_t>(env->GetStringLength(value)));
            version = Utf16ToAnsi(units);
            env->ReleaseStringChars(value, chars);
        }
    }
    env->ExceptionClear();
    if (value != nullptr) env->DeleteLocalRef(value);
    env->DeleteLocalRef(key);
    env->DeleteLocalRef(system);
    return true;
}

int RunMain(const JvmHolder& holder, const std::string& className,
            const std::vector<std::string>& tokens, int count, char** arguments) {
    JNIEnv* env = holder.env;
    std::string internal = className;
    ReplaceAll(internal, ".", "/");
    jclass mainClass = env->FindClass(internal.c_str());
    if (mainClass == nullptr) {
        DescribeAndClearException(env);
        return kMainClassMissing;
    }
    jmethodID main = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
    if (main == nullptr) {
        DescribeAndClearException(env);
        env->DeleteLocalRef(mainClass);
        return kMainMethodMissing;
    }
    jclass stringClass = env->FindClass("java/lang/String");
    const jsize length = static_cast<jsize>(tokens.size()) + count;
    jobjectArray array = env->NewObjectArray(length, stringClass, nullptr);
    if (array == nullptr) {  // out of memory: the runtime has its exception pending
        DescribeAndClearException(env);
        env->DeleteLocalRef(stringClass);
        env->DeleteLocalRef(mainClass);
        return kLaunchOk;
    }
    jsize index = 0;
    auto store = [&](const char* text) {
        jstring element = NewAnsiString(env, text);
        env->SetObjectArrayElement(array, index++, element);
        env->DeleteLocalRef(element);
    };
    for (const std::string& token : tokens) store(token.c_str());
    for (int i = 0; i < count; ++i) store(arguments[i]);
    env->CallStaticVoidMethod(mainClass, main, array);
    DescribeAndClearException(env);  // an exception from main does not fail the launch
    env->DeleteLocalRef(array);
    env->DeleteLocalRef(stringClass);
    env->DeleteLocalRef(mainClass);
    return kLaunchOk;
}

int ElevationTest() { return platform::ElevationState(); }

}  // namespace vxo
