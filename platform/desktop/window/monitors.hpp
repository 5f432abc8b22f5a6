// The monitors of the X screen, from RandR: the primary first (the screen that counts as the one
// with the menu bar), the rest in the server's order. Without RandR monitors the whole screen is
// the one monitor.
//
// Thread safety: caller holds windowLock().
#pragma once

#include <vector>

#include "geometry.hpp"
#include "x_connection.hpp"

namespace desktop {

std::vector<Rect> listMonitors(const XConnection& x);

}  // namespace desktop
