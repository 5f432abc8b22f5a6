// Runs one open or save panel in the panel helper program and waits for its answer.
//
// The JVM's own toolkit owns the GUI of its process, so the GTK file chooser runs in a helper
// process of its own, started per request: the request goes to the helper's standard input (an
// in-memory file, so writing it never blocks on the helper), the answer comes back through a
// pipe on its standard output, and the helper's standard error is the caller's.
//
// Thread safety: any thread may call runPanel; concurrent calls run separate helpers.
// Blocking: runPanel blocks the calling thread until the helper exits (the user closes the panel).
// A helper that cannot be started, dies, or answers something unreadable gives a cancelled answer
// and one line on standard error; runPanel never waits on anything but that one child.
#pragma once

#include <string>

#include "panel_request.hpp"

namespace pw::desktop {

// The helper's file name; it ships in the library's own folder.
inline constexpr const char* kPanelHelperName = "gravenlisk-panel";

// The helper beside the shared object (or executable) that holds this code.
std::string panelHelperBesideThisLibrary();

PanelAnswer runPanel(const PanelRequest& request, const std::string& helperPath);

}  // namespace pw::desktop
