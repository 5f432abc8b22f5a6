#include "geometry.hpp"

#include <algorithm>

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

}  // namespace desktop
