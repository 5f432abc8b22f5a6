// Rectangles in X root-window coordinates (origin top left, y grows downwards) and the arithmetic
// of the window services: which monitor a window is on, the steps of an animated resize, and
// where a frame goes. No X calls here, so the rules are tested without a display.
//
// Thread safety: pure functions on values.
#pragma once

#include <vector>

namespace desktop {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect& o) const {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
    bool operator!=(const Rect& o) const { return !(*this == o); }
};

// The window manager's decorations around a client window (_NET_FRAME_EXTENTS), in pixels.
struct Extents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

// Area shared by two rectangles; 0 when they do not meet.
long long overlapArea(const Rect& a, const Rect& b);

// The monitor that holds the largest part of `window`: an index into `monitors`, 0 (the primary)
// when the window meets none of them, -1 when there are no monitors.
int monitorIndexFor(const std::vector<Rect>& monitors, const Rect& window);

// The client rectangles an animated resize passes through from `from` to `to`, `steps` of them
// (at least one), evenly spaced, the last exactly `to`.
std::vector<Rect> resizeSteps(const Rect& from, const Rect& to, int steps);

// The client rectangle of a content size `width` by `height` whose top-left corner stays where
// the client's top-left corner is now.
Rect keepTopLeft(const Rect& client, int width, int height);

// The client rectangle that makes the whole frame (decorations included) `width` by `height` with
// its lower-left corner on the lower-left corner of `monitor`. Sizes never go below one pixel.
Rect frameAtLowerLeft(const Rect& monitor, const Extents& extents, int width, int height);

// Pixels for a length of `units` in Java's units at `scale` pixels per unit, to the nearest pixel.
int toPixels(int units, double scale);

// The part of `a` inside `b`; width and height 0 when they do not meet.
Rect intersection(const Rect& a, const Rect& b);

// The client rectangle nearest to `client` whose whole frame (decorations included) lies inside
// `area`: the size shrunk to what the area holds, then the window moved in from the edges it
// crosses. A client that already fits is returned unchanged.
Rect fitFrameInto(const Rect& client, const Extents& extents, const Rect& area);

}  // namespace desktop
