#include "monitors.hpp"

#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>

namespace desktop {

std::vector<Rect> listMonitors(const XConnection& x) {
    std::vector<Rect> primary;
    std::vector<Rect> others;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    // Monitors came with RandR 1.5.
    if (XRRQueryExtension(x.display(), &eventBase, &errorBase) &&
        XRRQueryVersion(x.display(), &major, &minor) && (major > 1 || (major == 1 && minor >= 5))) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(x.display(), x.root(), True, &count);
        for (int i = 0; i < count; ++i) {
            const Rect r{monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height};
            (monitors[i].primary ? primary : others).push_back(r);
        }
        if (monitors) XRRFreeMonitors(monitors);
    }
    primary.insert(primary.end(), others.begin(), others.end());
    if (primary.empty()) {
        const int screen = DefaultScreen(x.display());
        primary.push_back({0, 0, DisplayWidth(x.display(), screen), DisplayHeight(x.display(), screen)});
    }
    return primary;
}

Rect workAreaOf(const XConnection& x, const Rect& monitor) {
    // Four values (x, y, width, height) per desktop.
    const std::vector<unsigned long> areas = x.property32(x.root(), "_NET_WORKAREA", XA_CARDINAL);
    const std::vector<unsigned long> current = x.property32(x.root(), "_NET_CURRENT_DESKTOP", XA_CARDINAL);
    const std::size_t desktop = current.size() == 1 ? current[0] : 0;
    if (areas.size() < 4 * (desktop + 1)) return monitor;
    const unsigned long* a = &areas[4 * desktop];
    const Rect area = intersection(monitor, {static_cast<int>(a[0]), static_cast<int>(a[1]),
                                             static_cast<int>(a[2]), static_cast<int>(a[3])});
    return area.width > 0 && area.height > 0 ? area : monitor;
}

}  // namespace desktop
