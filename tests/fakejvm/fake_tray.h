// The tray scenario of the fake runtime (VXO_FAKEJVM_TRAY): once main has returned, it drives
// the launcher's exported SystemTray and SystemTrayMenu natives through JNI as an application
// would, reads what they built, provokes the tray window's callbacks and logs it all.
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

}  // namespace fakejvm
