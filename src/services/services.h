// The launcher's services for the Java side, as start-up and clean-up drive them: splash
// screen, output redirection, tray window and instance bookkeeping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <jni.h>

namespace vxo {

class ConfigStore;

// Splash: the runtime's splash library beside the runtime, or the native bitmap window.
// The path of the runtime's splash library in the folder above the runtime library, or empty;
// it runs the process's first runtime search, whose result the launch reuses.
std::string SplashLibraryPath(const ConfigStore& store);
// Loads the runtime's splash library and hands it the "splash" image or raw-data resource 100.
void StartRuntimeSplash(const std::string& libraryPath, const ConfigStore& store);
// Shows bitmap resource 100 in the native window (launcher-gui on Windows); false when none.
bool StartNativeSplash(const std::string& title);
// The native window's handle, 0 without one: the owner of the launcher's message boxes.
std::uint64_t SplashWindowHandle();
// Closes the native window after the delay (a negative one cancels a pending close), as the
// application's autoClose does; marks its close as requested.
void CloseSplashAfter(int milliseconds);
// Posts WM_CLOSE to the native window, if there is one.
void CloseSplashNow();
// Whether a splash is up: the runtime's splash library took an image, or the native window
// exists. Only then is a listener for the first window worth starting the toolkit for.
bool SplashShowing();
// Registers the listener that closes the splash when the application's first window opens.
bool InstallSplashCloseOnWindow(JNIEnv* env);
// Asks a native splash window whose close is not requested yet to close after the delay;
// with rearm, its close counts as not requested again afterwards.
void ScheduleSplashClose(int milliseconds, bool rearm);
// SplashScreen.nativeGetSplashScreen: the one SplashScreen object while the native window
// exists (made from cls on first use), else null.
jobject NativeSplashObject(JNIEnv* env, jclass cls);

// The Java side of the output redirection, once the virtual machine exists.
void SetupJavaRedirection(JNIEnv* env);

// The body of RedirOutputStream.write: one byte to the object's target.
void WriteRedirectedByte(JNIEnv* env, jobject self, jint b);

// Output redirection of standard error and standard output to a file or a started program.
void RedirectStandardError(const std::string& target);
void RedirectStandardOutput(const std::string& target);

// The hidden window that owns the notification-area icons.
void StartTrayWindow();
void RemoveAllTrayIcons();

// Instances: the manager is made at start-up over the shared block (services/instances.h);
// these serve the Instances natives through it and the process-wide Java receiver.
// Starts the messaging thread once ("custom" single instance); before that the natives other
// than getInstances and setReceiver do nothing.
void StartMessaging();
// After the virtual machine is gone: no message reaches Java from now on. False while a delivery
// is still inside Java after `waitMs` (the messaging thread cannot be stopped then).
bool CloseJavaReceiver(std::uint32_t waitMs);
jint FirstInstance();
jint CurrentInstance();
jintArray ListInstances(JNIEnv* env);
void SendObject(JNIEnv* env, jint instance, jobject object);
void FlushInstances();
// Waits up to `millis` for every queued message to leave; true when all did and none was
// dropped since the previous call (false when messaging is not started).
bool FlushInstancesWithin(jlong millis);
jlong DroppedMessages();
void SetInstanceReceiver(JNIEnv* env, jobject receiver);

}  // namespace vxo
