// One application window as the window manager sees it: the top-level client window that holds
// the toolkit's drawable, its place on the screen, its decorations, and the requests that move,
// resize, activate it and switch its full-screen state (EWMH where the window manager offers it,
// plain X requests where there is none).
//
// All rectangles are the client area (the window without the manager's decorations) in root
// coordinates. Requests are asynchronous on the server side; the wait helpers below poll until
// the window manager has carried them out, or give up after a bounded time and leave the window
// where the manager put it.
//
// Thread safety: caller holds windowLock() for the life of the object.
#pragma once

#include "geometry.hpp"
#include "x_connection.hpp"

namespace desktop {

class TopLevel {
public:
    // The top-level client window holding `drawable`: the nearest ancestor (or the drawable
    // itself) that the window manager has marked with WM_STATE, or without a window manager the
    // ancestor just below the root.
    TopLevel(XConnection& x, Window drawable);

    bool valid() const { return m_client != None; }
    Window client() const { return m_client; }

    // Where the client area is now; false when the window is gone.
    bool geometry(Rect* out) const;
    // _NET_FRAME_EXTENTS; zeros without a window manager that sets them.
    Extents extents() const;

    // Brings the window back from iconic state, raises it and gives it the focus; returns once
    // the window is mapped again.
    void activate();

    bool isFullscreen() const;
    // Asks for the full-screen state on or off and waits until the window manager has set it and
    // placed the window. Without EWMH full-screen support the window is moved over `monitor`
    // (on) or left for the caller to restore (off).
    void setFullscreen(bool on, const Rect& monitor);

    // Moves and resizes the client area in steps that end exactly on `target`, then waits until
    // the window is there and tells the window's owner where it is (see announcePlace).
    void animateTo(const Rect& target);

private:
    bool viewable() const;
    void sendToRoot(const char* type, long l0, long l1, long l2, long l3, long l4);
    void moveResize(const Rect& r);
    // A synthetic ConfigureNotify with the client's place in root coordinates, what a window
    // manager sends after moving a window. A window manager carrying out a client's move and
    // resize together sends only the real one, whose coordinates are relative to its frame, and
    // toolkits then keep the position they had.
    void announcePlace();
    template <class Done>
    bool waitUntil(Done done) const;

    XConnection& m_x;
    Window m_client = None;
    bool m_managed = false;
};

}  // namespace desktop
