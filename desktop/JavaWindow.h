// The application's main window as the Java side sees it, down to its X drawable and its scale.
//
// The main window is the active Frame, or else the first showing one, at the moment of the call;
// nothing is kept between calls. Its X drawable comes from the toolkit's native interface (JAWT),
// loaded from the running JVM on first use, so the library also loads in a JVM without a
// graphical toolkit.
//
// Thread safety: any Java thread, under windowLock().
#pragma once

#include <jni.h>

namespace desktop {

struct MainWindow {
    unsigned long drawable = 0;
    // X pixels per Java unit: the scale of the window's graphics configuration (2 on a desktop
    // scaled by 2, or with -Dsun.java2d.uiScale=2). Sizes and positions from Java are in Java's
    // units and are multiplied by it.
    double scale = 1.0;
};

// The main window; drawable 0 when there is none: a headless JVM, no display, no showing frame,
// or a toolkit without the native interface. Leaves no Java exception pending.
MainWindow mainWindow(JNIEnv* env);

}  // namespace desktop
