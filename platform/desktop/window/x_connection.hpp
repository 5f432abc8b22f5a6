// The library's own connection to the X server. Every X request of the window services goes
// through it; the Java toolkit's connection is never used, only the window ids it hands out
// (window ids are the server's, so any client may configure them).
//
// Thread safety
// - One caller at a time: hold windowLock() around every use of the connection and of anything
//   read from it. The lock also serialises the window operations themselves, so a full-screen
//   save and a resize never interleave.
// - X errors on this connection (a window that went away between two requests, say) are
//   recorded, never fatal; errors of other connections in the process still reach the handler
//   that was installed before ours.
#pragma once

#include <X11/Xlib.h>

#include <mutex>
#include <vector>

namespace desktop {

std::mutex& windowLock();

class XConnection {
public:
    // The connection, opened from $DISPLAY on first use; null when no display can be opened
    // (later calls try again). Caller holds windowLock().
    static XConnection* instance();

    Display* display() const { return m_display; }
    Window root() const { return m_root; }
    Atom atom(const char* name) const;

    // The values of a 32-bit property of `type` (XA_ATOM, XA_CARDINAL...) on `window`; empty when
    // the window has no such property or is gone.
    std::vector<unsigned long> property32(Window window, const char* name, Atom type) const;
    // True when `window` has the property `name`, of any type.
    bool hasProperty(Window window, const char* name) const;

    // True when the running window manager lists `name` in _NET_SUPPORTED. Read on every call:
    // a window manager may start or stop while the application runs.
    bool wmSupports(const char* name) const;

    // Round trip to the server; true when no X error arrived on this connection since the last
    // sync.
    bool sync() const;

    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

private:
    explicit XConnection(Display* display);
    Display* m_display;
    Window m_root;
};

}  // namespace desktop
