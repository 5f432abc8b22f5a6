#include "top_level.hpp"

#include <X11/Xatom.h>

#include <chrono>
#include <vector>
#include <thread>

namespace desktop {

namespace {

// An animation of about 130 ms, close to what desktop users know from window managers.
constexpr int kAnimationSteps = 8;
constexpr auto kStepInterval = std::chrono::milliseconds(16);
// How long the window manager gets to carry out a request before we stop watching.
constexpr auto kSettleTimeout = std::chrono::milliseconds(2000);
constexpr auto kPollInterval = std::chrono::milliseconds(5);
// A window that kept its place this long has come to rest.
constexpr auto kRestInterval = std::chrono::milliseconds(30);

// _NET_MOVERESIZE_WINDOW: gravity in bits 0-7, x/y/width/height present in bits 8-11, source
// indication in bits 12-13 (2: on the user's direct request, which window managers never refuse).
constexpr long kStaticGravity = 10;
constexpr long kAllFields = 0xF << 8;
constexpr long kSourceUser = 2;
constexpr long kMoveResizeFlags = kStaticGravity | kAllFields | (kSourceUser << 12);
// _NET_WM_STATE actions.
constexpr long kStateRemove = 0;
constexpr long kStateAdd = 1;

}  // namespace

TopLevel::TopLevel(XConnection& x, Window drawable) : m_x(x) {
    Window w = drawable;
    for (int depth = 0; w != None && depth < 64; ++depth) {
        if (x.hasProperty(w, "WM_STATE")) {
            m_client = w;
            m_managed = true;
            return;
        }
        Window root = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(x.display(), w, &root, &parent, &children, &count)) break;
        if (children) XFree(children);
        if (parent == root || parent == None) {
            m_client = w;
            return;
        }
        w = parent;
    }
    m_x.sync();  // a vanished drawable leaves an error behind: not ours to report later
}

bool TopLevel::geometry(Rect* out) const {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(m_x.display(), m_client, &attributes)) {
        m_x.sync();
        return false;
    }
    int x = 0;
    int y = 0;
    Window child = None;
    if (!XTranslateCoordinates(m_x.display(), m_client, m_x.root(), 0, 0, &x, &y, &child)) {
        return false;
    }
    *out = {x, y, attributes.width, attributes.height};
    return m_x.sync();
}

Extents TopLevel::extents() const {
    const std::vector<unsigned long> v = m_x.property32(m_client, "_NET_FRAME_EXTENTS", XA_CARDINAL);
    if (v.size() != 4) return Extents{};
    return {static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
            static_cast<int>(v[3])};
}

void TopLevel::sendToRoot(const char* type, long l0, long l1, long l2, long l3, long l4) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = m_client;
    event.xclient.message_type = m_x.atom(type);
    event.xclient.format = 32;
    event.xclient.data.l[0] = l0;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    event.xclient.data.l[4] = l4;
    XSendEvent(m_x.display(), m_x.root(), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
}

bool TopLevel::viewable() const {
    XWindowAttributes attributes;
    const bool known = XGetWindowAttributes(m_x.display(), m_client, &attributes) != 0;
    return m_x.sync() && known && attributes.map_state == IsViewable;
}

void TopLevel::activate() {
    const bool wasViewable = viewable();
    if (m_managed && m_x.wmSupports("_NET_ACTIVE_WINDOW")) {
        // Activation also brings an iconified window back.
        sendToRoot("_NET_ACTIVE_WINDOW", kSourceUser, CurrentTime, None, 0, 0);
    } else {
        XMapRaised(m_x.display(), m_client);
        XSetInputFocus(m_x.display(), m_client, RevertToParent, CurrentTime);
    }
    m_x.sync();
    if (wasViewable) return;
    // An iconified window has no place on the screen to keep: wait until it is back, and until
    // the window manager's de-iconify animation has brought it to rest.
    waitUntil([&] { return viewable(); });
    Rect previous{-1, -1, -1, -1};
    waitUntil([&] {
        Rect now;
        if (!geometry(&now)) return true;
        const bool resting = now == previous;
        previous = now;
        std::this_thread::sleep_for(kRestInterval);
        return resting;
    });
}

bool TopLevel::isFullscreen() const {
    const Atom fullscreen = m_x.atom("_NET_WM_STATE_FULLSCREEN");
    for (unsigned long state : m_x.property32(m_client, "_NET_WM_STATE", XA_ATOM)) {
        if (state == fullscreen) return true;
    }
    return false;
}

void TopLevel::setFullscreen(bool on, const Rect& monitor) {
    if (m_managed && m_x.wmSupports("_NET_WM_STATE_FULLSCREEN")) {
        sendToRoot("_NET_WM_STATE", on ? kStateAdd : kStateRemove,
                   static_cast<long>(m_x.atom("_NET_WM_STATE_FULLSCREEN")), 0, kSourceUser, 0);
        m_x.sync();
        waitUntil([&] {
            Rect now;
            return isFullscreen() == on && geometry(&now) && (!on || now == monitor);
        });
        return;
    }
    if (on) animateTo(monitor);
}

void TopLevel::moveResize(const Rect& r) {
    const unsigned int width = static_cast<unsigned int>(r.width > 0 ? r.width : 1);
    const unsigned int height = static_cast<unsigned int>(r.height > 0 ? r.height : 1);
    if (m_managed && m_x.wmSupports("_NET_MOVERESIZE_WINDOW")) {
        // Static gravity: x and y are where the client area itself goes, whatever the
        // decorations around it.
        sendToRoot("_NET_MOVERESIZE_WINDOW", kMoveResizeFlags, r.x, r.y, static_cast<long>(width),
                   static_cast<long>(height));
    } else {
        // Unmanaged, the client is a child of the root: its position is in root coordinates.
        XMoveResizeWindow(m_x.display(), m_client, r.x, r.y, width, height);
    }
    XFlush(m_x.display());
}

void TopLevel::animateTo(const Rect& target) {
    Rect from;
    if (!geometry(&from)) return;
    for (const Rect& step : resizeSteps(from, target, kAnimationSteps)) {
        moveResize(step);
        std::this_thread::sleep_for(kStepInterval);
    }
    m_x.sync();
    waitUntil([&] {
        Rect now;
        return geometry(&now) && now == target;
    });
    announcePlace();
}

void TopLevel::announcePlace() {
    XWindowAttributes attributes;
    Rect now;
    if (!XGetWindowAttributes(m_x.display(), m_client, &attributes) || !geometry(&now)) {
        m_x.sync();
        return;
    }
    XEvent event{};
    event.xconfigure.type = ConfigureNotify;
    event.xconfigure.event = m_client;
    event.xconfigure.window = m_client;
    // The outer corner, border included, as the ICCCM has window managers report it.
    event.xconfigure.x = now.x - attributes.border_width;
    event.xconfigure.y = now.y - attributes.border_width;
    event.xconfigure.width = now.width;
    event.xconfigure.height = now.height;
    event.xconfigure.border_width = attributes.border_width;
    event.xconfigure.above = None;
    event.xconfigure.override_redirect = attributes.override_redirect;
    XSendEvent(m_x.display(), m_client, False, StructureNotifyMask, &event);
    m_x.sync();
}

template <class Done>
bool TopLevel::waitUntil(Done done) const {
    const auto deadline = std::chrono::steady_clock::now() + kSettleTimeout;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace desktop
