#include "x_connection.hpp"

#include <X11/Xatom.h>

#include <atomic>

namespace desktop {

namespace {

std::atomic<Display*> g_ownDisplay{nullptr};
std::atomic<bool> g_errorSeen{false};
XErrorHandler g_previousHandler = nullptr;

// Xlib keeps one error handler per process. Errors of our connection are only noted (the default
// handler would end the process); the rest go on to the toolkit's handler.
int onXError(Display* display, XErrorEvent* event) {
    if (display == g_ownDisplay.load(std::memory_order_acquire)) {
        g_errorSeen.store(true, std::memory_order_relaxed);
        return 0;
    }
    return g_previousHandler ? g_previousHandler(display, event) : 0;
}

}  // namespace

std::mutex& windowLock() {
    static std::mutex lock;
    return lock;
}

XConnection::XConnection(Display* display)
    : m_display(display), m_root(DefaultRootWindow(display)) {}

XConnection* XConnection::instance() {
    // Kept open for the life of the process: the library cannot know when the last window call
    // has been made, and one idle connection costs nothing.
    static XConnection* connection = nullptr;
    if (connection) return connection;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    g_ownDisplay.store(display, std::memory_order_release);
    g_previousHandler = XSetErrorHandler(onXError);
    connection = new XConnection(display);
    return connection;
}

Atom XConnection::atom(const char* name) const { return XInternAtom(m_display, name, False); }

std::vector<unsigned long> XConnection::property32(Window window, const char* name, Atom type) const {
    std::vector<unsigned long> values;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    // Xlib hands 32-bit properties over as longs, whatever the size of long.
    if (XGetWindowProperty(m_display, window, atom(name), 0, 4096, False, type, &actualType, &format,
                           &count, &after, &data) == Success &&
        data) {
        if (actualType == type && format == 32) {
            const auto* longs = reinterpret_cast<const unsigned long*>(data);
            values.assign(longs, longs + count);
        }
        XFree(data);
    }
    sync();  // a window gone meanwhile leaves an error that is no one's to report
    return values;
}

bool XConnection::hasProperty(Window window, const char* name) const {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(m_display, window, atom(name), 0, 0, False, AnyPropertyType,
                                          &type, &format, &count, &after, &data);
    if (data) XFree(data);
    return sync() && status == Success && type != None;
}

bool XConnection::wmSupports(const char* name) const {
    const Atom wanted = atom(name);
    for (unsigned long a : property32(m_root, "_NET_SUPPORTED", XA_ATOM)) {
        if (a == wanted) return true;
    }
    return false;
}

bool XConnection::sync() const {
    XSync(m_display, False);
    return !g_errorSeen.exchange(false, std::memory_order_relaxed);
}

}  // namespace desktop
