// The window exports of Sablethorn: full screen and animated resizes of the main window.
//
// Every call does nothing when there is no main window (headless JVM, no display, no showing
// frame). Sizes from Java are in Java's units, turned into pixels with the window's scale; a
// frame larger than the work area of its monitor is fitted to it. Requests wait until the window
// manager has carried them out, so calls made one after another see each other's results.
//
// Thread safety: any Java thread, the event dispatch thread included. Calls serialise on
// windowLock() and block the caller for the animation (about 130 ms) and the window manager's
// answer (bounded, 2 s at most per step).
#include <mutex>

#include "JavaWindow.h"
#include "com_tarvenkolm_sablethorn_Sablethorn.h"
#include "monitors.hpp"
#include "system_ui.hpp"
#include "top_level.hpp"

using namespace desktop;

namespace {

// What ShowFullscreen(true) saved for the ShowFullscreen(false) that follows. Guarded by
// windowLock(). The first switch to full screen saves; a second one keeps that save, so leaving
// full screen returns to the window as it was before the first. Leaving consumes the save, and
// leaving without one does nothing.
struct FullscreenSave {
    bool saved = false;
    Rect frame;                  // client area before full screen
    bool wasFullscreen = false;  // already full screen by other means: leave it so
    UiMode uiMode;
};
FullscreenSave g_fullscreen;

// Runs operation(x, window, scale) on the main window, scale being its pixels per Java unit.
template <class Operation>
void withMainWindow(JNIEnv* env, Operation operation) {
    std::lock_guard<std::mutex> lock(windowLock());
    const MainWindow main = mainWindow(env);
    if (!main.drawable) return;
    XConnection* x = XConnection::instance();
    if (!x) return;
    TopLevel window(*x, main.drawable);
    if (!window.valid()) return;
    operation(*x, window, main.scale);
}

// The client area `client`, moved and shrunk as little as needed for its frame to fit the work
// area of `monitor`: a size saved on a larger screen still gives a window on this one.
Rect fittedToWorkArea(const XConnection& x, const TopLevel& window, const Rect& monitor,
                      const Rect& client) {
    return fitFrameInto(client, window.extents(), workAreaOf(x, monitor));
}

void resizeKeepingTop(JNIEnv* env, jint width, jint height) {
    withMainWindow(env, [&](XConnection& x, TopLevel& window, double scale) {
        window.activate();
        Rect client;
        if (!window.geometry(&client)) return;
        const std::vector<Rect> monitors = listMonitors(x);
        const Rect& monitor = monitors[static_cast<std::size_t>(monitorIndexFor(monitors, client))];
        const Rect wanted = keepTopLeft(client, toPixels(width, scale), toPixels(height, scale));
        window.animateTo(fittedToWorkArea(x, window, monitor, wanted));
    });
}

}  // namespace

JNIEXPORT void JNICALL Java_com_tarvenkolm_sablethorn_Sablethorn_ShowFullscreen(JNIEnv* env, jclass,
                                                                                jboolean on) {
    withMainWindow(env, [&](XConnection& x, TopLevel& window, double) {
        if (!on) {
            if (!g_fullscreen.saved) return;
            if (!g_fullscreen.wasFullscreen) window.setFullscreen(false, Rect{});
            window.animateTo(g_fullscreen.frame);
            setSystemUiMode(g_fullscreen.uiMode);
            g_fullscreen.saved = false;
            return;
        }
        window.activate();
        Rect client;
        if (!window.geometry(&client)) return;
        if (!g_fullscreen.saved) {
            g_fullscreen = {true, client, window.isFullscreen(), systemUiMode()};
        }
        const std::vector<Rect> monitors = listMonitors(x);
        const int monitor = monitorIndexFor(monitors, client);
        // On the primary monitor, the one that would carry the menu bar, everything else hides.
        if (monitor == 0) setSystemUiMode({kUiModeAllSuppressed, 0});
        window.setFullscreen(true, monitors[static_cast<std::size_t>(monitor)]);
    });
}

// x and y are not used: the window keeps its top edge and its left edge.
JNIEXPORT void JNICALL Java_com_tarvenkolm_sablethorn_Sablethorn_SetFrameBoundsAnimated(
    JNIEnv* env, jclass, jint, jint, jint width, jint height) {
    resizeKeepingTop(env, width, height);
}

JNIEXPORT void JNICALL Java_com_tarvenkolm_sablethorn_Sablethorn_SetFrameSizeAnimated(
    JNIEnv* env, jclass, jint width, jint height, jboolean keepTop) {
    if (keepTop) {
        resizeKeepingTop(env, width, height);
        return;
    }
    // The whole frame, decorations included, width by height in the lower-left corner of the
    // primary monitor.
    withMainWindow(env, [&](XConnection& x, TopLevel& window, double scale) {
        window.activate();
        const Rect primary = listMonitors(x).front();
        const Rect wanted = frameAtLowerLeft(primary, window.extents(), toPixels(width, scale),
                                             toPixels(height, scale));
        window.animateTo(fittedToWorkArea(x, window, primary, wanted));
    });
}
