// The monitors of the X screen, from RandR: the primary first (the screen that counts as the one
// with the menu bar), the rest in the server's order. Without RandR monitors the whole screen is
// the one monitor. Their work areas, from the window manager.
//
// Thread safety: caller holds windowLock().
#pragma once

#include <vector>

#include "geometry.hpp"
#include "x_connection.hpp"

namespace desktop {

std::vector<Rect> listMonitors(const XConnection& x);

// The part of `monitor` that windows may cover: the monitor within the current desktop's
// _NET_WORKAREA (which leaves out panels and docks), or the whole monitor when the window manager
// publishes no work area or one that misses the monitor.
Rect workAreaOf(const XConnection& x, const Rect& monitor);

}  // namespace desktop
