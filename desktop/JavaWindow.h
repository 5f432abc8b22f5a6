// The application's main window as the Java side sees it, down to its X drawable.
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

// The drawable of the main window; 0 when there is none: a headless JVM, no display, no showing
// frame, or a toolkit without the native interface. Leaves no Java exception pending.
unsigned long mainWindowDrawable(JNIEnv* env);

}  // namespace desktop
