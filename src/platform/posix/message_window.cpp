// POSIX backend: the message box's own window, for a display without a dialog program. The X
// library is loaded when it is needed, so the launcher starts where there is none; its header
// gives only the types.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <poll.h>
#include <time.h>

#include <cerrno>

#include <algorithm>
#include <string>
#include <vector>

namespace vxo::platform::posix {

namespace {

constexpr std::size_t kMaxLines = 40;
constexpr std::size_t kMaxColumns = 160;
constexpr int kMargin = 16;
constexpr int kLineHeight = 15;  // the server's default font is 6 x 13
constexpr int kColumnWidth = 6;
constexpr char kCloseHint[] = "(a key or a click closes this window)";

struct XLibrary {
    void* handle = nullptr;
    // Typed after the header's declarations; nothing links against the library itself.
#define VXO_X11_FUNCTIONS(X)                                                                          \
    X(XOpenDisplay) X(XCloseDisplay) X(XCreateSimpleWindow) X(XStoreName) X(XSelectInput) X(XMapRaised) \
    X(XInternAtom) X(XSetWMProtocols) X(XPending) X(XNextEvent) X(XDrawString) X(XCreateGC) X(XFreeGC)   \
    X(XDestroyWindow) X(XFlush) X(XConnectionNumber)
#define VXO_X11_MEMBER(name) decltype(&::name) name = nullptr;
    VXO_X11_FUNCTIONS(VXO_X11_MEMBER)
#undef VXO_X11_MEMBER

    bool Load() {
        handle = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return false;
        bool complete = true;
#define VXO_X11_RESOLVE(name)                                   \
    name = reinterpret_cast<decltype(name)>(dlsym(handle, #name)); \
    complete = complete && name != nullptr;
        VXO_X11_FUNCTIONS(VXO_X11_RESOLVE)
#undef VXO_X11_RESOLVE
        return complete;
    }
    ~XLibrary() {
        if (handle != nullptr) dlclose(handle);
    }
};

// The text as lines the window shows: at most kMaxLines of at most kMaxColumns bytes.
std::vector<std::string> WindowLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size() && lines.size() < kMaxLines) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, std::min(end - start, kMaxColumns));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::replace(line.begin(), line.end(), '\t', ' ');
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

}  // namespace

bool ShowTextWindow(const std::string& text, const std::string& caption, int waitSeconds) {
    XLibrary x;
    if (!x.Load()) return false;
    Display* display = x.XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    const std::vector<std::string> lines = WindowLines(text);
    std::size_t columns = sizeof kCloseHint - 1;
    for (const std::string& line : lines) columns = std::max(columns, line.size());
    const unsigned width = static_cast<unsigned>(columns * kColumnWidth + 2 * kMargin);
    const unsigned height = static_cast<unsigned>((lines.size() + 2) * kLineHeight + 2 * kMargin);
    const int screen = DefaultScreen(display);
    const int left = std::max(0, (DisplayWidth(display, screen) - static_cast<int>(width)) / 2);
    const int top = std::max(0, (DisplayHeight(display, screen) - static_cast<int>(height)) / 2);
    const Window window = x.XCreateSimpleWindow(display, RootWindow(display, screen), left, top, width, height, 1,
                                                BlackPixel(display, screen), WhitePixel(display, screen));
    x.XStoreName(display, window, caption.c_str());
    x.XSelectInput(display, window, ExposureMask | KeyPressMask | ButtonPressMask | StructureNotifyMask);
    Atom closeAtom = x.XInternAtom(display, "WM_DELETE_WINDOW", False);
    x.XSetWMProtocols(display, window, &closeAtom, 1);
    GC gc = x.XCreateGC(display, window, 0, nullptr);
    x.XMapRaised(display, window);
    x.XFlush(display);
    // Until a key, a click or the window manager's close, and never longer than a dialog waits.
    const long deadline = NowMs() + waitSeconds * 1000L;
    bool open = true;
    while (open && NowMs() < deadline) {
        if (x.XPending(display) == 0) {
            pollfd connection{x.XConnectionNumber(display), POLLIN, 0};
            if (poll(&connection, 1, 200) < 0 && errno != EINTR) break;
            if (connection.revents & (POLLHUP | POLLERR)) break;
            if (x.XPending(display) == 0) continue;
        }
        XEvent event;
        x.XNextEvent(display, &event);
        switch (event.type) {
            case Expose:
                if (event.xexpose.count != 0) break;
                for (std::size_t i = 0; i < lines.size(); ++i) {
                    x.XDrawString(display, window, gc, kMargin, kMargin + static_cast<int>(i + 1) * kLineHeight,
                                  lines[i].data(), static_cast<int>(lines[i].size()));
                }
                x.XDrawString(display, window, gc, kMargin, kMargin + static_cast<int>(lines.size() + 2) * kLineHeight,
                              kCloseHint, static_cast<int>(sizeof kCloseHint - 1));
                break;
            case KeyPress:
            case ButtonPress:
            case DestroyNotify:
                open = false;
                break;
            case ClientMessage:
                open = static_cast<Atom>(event.xclient.data.l[0]) != closeAtom;
                break;
            default:
                break;
        }
    }
    x.XFreeGC(display, gc);
    x.XDestroyWindow(display, window);
    x.XCloseDisplay(display);
    return true;
}

}  // namespace vxo::platform::posix
