// Small JNI operations of the launch: properties, System.exit, context class loader, the
// runtime version and main.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace vxo {

struct JvmHolder;

// Prints and clears a pending exception; true when there was one.
bool DescribeAndClearException(JNIEnv* env);

// "name=value" (no "=": empty value), both as UTF-8.
void SetSystemProperty(JNIEnv* env, const std::string& assignment);
void CallSystemExit(JNIEnv* env, int status);
void SetContextClassLoader(JNIEnv* env, jobject loader);

// System.getProperty("java.version") as ANSI text; false when System or getProperty is missing.
bool ReadRuntimeVersion(const JvmHolder& holder, std::string& version);

// Finds the main class and calls main with the tokens followed by the arguments: 0, 7 or 8, or
// kApplicationFailed when main threw or the argument array could not be built.
int RunMain(const JvmHolder& holder, const std::string& className,
            const std::vector<std::string>& tokens, int count, char** arguments);

// 0 elevated, 1 not elevated, or a failure code.
int ElevationTest();

}  // namespace vxo
