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

// The argument array for main, or null with the runtime's exception pending (out of memory):
// the filling stops at the first element that cannot be made.
jobjectArray NewArgumentArray(JNIEnv* env, const std::vector<std::string>& tokens, int count,
                              char** arguments) {
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) return nullptr;
    const jsize length = static_cast<jsize>(tokens.size()) + count;
    jobjectArray array = env->NewObjectArray(length, stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    for (jsize index = 0; array != nullptr && index < length; ++index) {
        const std::size_t i = static_cast<std::size_t>(index);
        const char* text = i < tokens.size() ? tokens[i].c_str() : arguments[i - tokens.size()];
        jstring element = NewAnsiString(env, text);
        if (element == nullptr) {
            env->DeleteLocalRef(array);
            return nullptr;
        }
        env->SetObjectArrayElement(array, index, element);
        env->DeleteLocalRef(element);
    }
    return array;
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
    // The store holds standard UTF-8; the runtime reads its own modified form.
    jstring jname = env->NewStringUTF(EncodeModifiedUtf8(DecodeUtf8(name)).c_str());
    jstring jvalue = env->NewStringUTF(EncodeModifiedUtf8(DecodeUtf8(value)).c_str());
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
    jobjectArray array = NewArgumentArray(env, tokens, count, arguments);
    if (array == nullptr) {
        DescribeAndClearException(env);
        env->DeleteLocalRef(mainClass);
        return kApplicationFailed;
    }
    env->CallStaticVoidMethod(mainClass, main, array);
    bool threw = DescribeAndClearException(env);
    env->DeleteLocalRef(array);
    env->DeleteLocalRef(mainClass);
    return threw ? kApplicationFailed : kLaunchOk;
}

int ElevationTest() { return platform::ElevationState(); }

}  // namespace vxo
