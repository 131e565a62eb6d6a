// The native splash window as every thread but its own sees it: its handle, whether a close
// was requested, and the hand-over when the splash thread ends. No JNI here.
#pragma once

#include <cstdint>
#include <mutex>

namespace vxo::splash {

// What the splash needs from the system; the backend, or a fake in the unit tests.
class Window {
public:
    virtual ~Window() = default;
    virtual void SetTimer(std::uint64_t window, int ms) = 0;
    virtual void PostClose(std::uint64_t window) = 0;
};

// The current splash. The splash thread publishes its window once it exists and withdraws it,
// under the lock, before it frees anything; every other thread acts on the window only under
// the same lock, so none acts on a splash that is being freed.
class CurrentSplash {
public:
    explicit CurrentSplash(Window& window) : system_(window) {}

    void Created(std::uint64_t window);
    void Ended();
    // The window's handle, 0 when there is none.
    std::uint64_t Handle();
    // Schedules the close after ms (a negative ms cancels a pending close) and marks the close
    // as requested; nothing without a window.
    void AutoClose(int ms);
    // The launcher's own timers: only when no close was requested (by the application either);
    // with rearm the close counts as not requested again afterwards.
    void ScheduleUnlessRequested(int ms, bool rearm);
    void Close();

private:
    Window& system_;
    std::mutex lock_;
    std::uint64_t window_ = 0;
    bool autoCloseRequested_ = false;
};

CurrentSplash& Current();

}  // namespace vxo::splash
