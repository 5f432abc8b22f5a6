#include "geometry.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace desktop {

long long overlapArea(const Rect& a, const Rect& b) {
    const long long left = std::max(a.x, b.x);
    const long long right = std::min<long long>(static_cast<long long>(a.x) + a.width,
                                                static_cast<long long>(b.x) + b.width);
    const long long top = std::max(a.y, b.y);
    const long long bottom = std::min<long long>(static_cast<long long>(a.y) + a.height,
                                                 static_cast<long long>(b.y) + b.height);
    if (right <= left || bottom <= top) return 0;
    return (right - left) * (bottom - top);
}

int monitorIndexFor(const std::vector<Rect>& monitors, const Rect& window) {
    if (monitors.empty()) return -1;
    int best = 0;
    long long bestArea = 0;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const long long area = overlapArea(monitors[i], window);
        // Strictly larger: on a tie the earlier monitor, the primary first, wins.
        if (area > bestArea) {
            bestArea = area;
            best = static_cast<int>(i);
        }
    }
    return best;
}

namespace {

int between(int from, int to, int step, int steps) {
    const long long span = static_cast<long long>(to) - from;
    return static_cast<int>(from + span * step / steps);
}

}  // namespace

std::vector<Rect> resizeSteps(const Rect& from, const Rect& to, int steps) {
    steps = std::max(steps, 1);
    std::vector<Rect> out;
    out.reserve(static_cast<std::size_t>(steps));
    for (int i = 1; i <= steps; ++i) {
        out.push_back({between(from.x, to.x, i, steps), between(from.y, to.y, i, steps),
                       between(from.width, to.width, i, steps),
                       between(from.height, to.height, i, steps)});
    }
    return out;
}

Rect keepTopLeft(const Rect& client, int width, int height) {
    return {client.x, client.y, std::max(width, 1), std::max(height, 1)};
}

Rect frameAtLowerLeft(const Rect& monitor, const Extents& extents, int width, int height) {
    const int clientWidth = std::max(width - extents.left - extents.right, 1);
    const int clientHeight = std::max(height - extents.top - extents.bottom, 1);
    const int bottom = monitor.y + monitor.height;
    return {monitor.x + extents.left, bottom - extents.bottom - clientHeight, clientWidth,
            clientHeight};
}

int toPixels(int units, double scale) {
    const double pixels = std::round(static_cast<double>(units) * scale);
    return static_cast<int>(std::clamp(pixels, static_cast<double>(std::numeric_limits<int>::min()),
                                       static_cast<double>(std::numeric_limits<int>::max())));
}

Rect intersection(const Rect& a, const Rect& b) {
    const long long left = std::max(a.x, b.x);
    const long long top = std::max(a.y, b.y);
    const long long right = std::min<long long>(static_cast<long long>(a.x) + a.width,
                                                static_cast<long long>(b.x) + b.width);
    const long long bottom = std::min<long long>(static_cast<long long>(a.y) + a.height,
                                                 static_cast<long long>(b.y) + b.height);
    if (right <= left || bottom <= top) return {static_cast<int>(left), static_cast<int>(top), 0, 0};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

Rect fitFrameInto(const Rect& client, const Extents& extents, const Rect& area) {
    Rect out = client;
    out.width = std::max(std::min(client.width, area.width - extents.left - extents.right), 1);
    out.height = std::max(std::min(client.height, area.height - extents.top - extents.bottom), 1);
    // Right and bottom edges first, so that a frame too large even at one pixel keeps its
    // top-left corner (and its title bar) inside the area.
    out.x = std::min(out.x, area.x + area.width - extents.right - out.width);
    out.y = std::min(out.y, area.y + area.height - extents.bottom - out.height);
    out.x = std::max(out.x, area.x + extents.left);
    out.y = std::max(out.y, area.y + extents.top);
    return out;
}

}  // namespace desktop
