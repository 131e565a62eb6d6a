// The fake runtime's scenarios. The tray scenario (VXO_FAKEJVM_TRAY): once main has returned,
// it drives the launcher's exported SystemTray and SystemTrayMenu natives through JNI as an
// application would, reads what they built, provokes the tray window's callbacks and logs it.
#pragma once

#include <jni.h>

#include <functional>
#include <string>

namespace fakejvm {

// Classes the scenario needs besides the launcher's own.
bool IsTrayScenarioClass(const std::string& name);

// Called by the scenario callback's methods, on the tray window's thread.
void NoteTrayCallback();

void RunTrayScenario(JNIEnv* env, const std::function<void(const std::string&)>& log);

// The splash scenario (VXO_FAKEJVM_SPLASH=timers|after-main|keep): watches the native splash
// window from main and, for the last two, from a thread that outlives main as a non-daemon
// thread would; "keep" cancels the launcher's close with autoClose(-1) first.
void RunSplashScenario(JNIEnv* env, const std::string& mode, void (*log)(const std::string&));
// Called by DestroyJavaVM before it takes the runtime's lock.
void JoinScenarioThreads();

}  // namespace fakejvm
