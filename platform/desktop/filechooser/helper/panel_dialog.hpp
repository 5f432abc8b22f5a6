// The GTK 3 file chooser dialog that stands for one open or save panel request.
//
// Thread safety: GTK's thread only (the helper's main thread).
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "panel_request.hpp"

namespace pw::desktop {

struct PanelDialog {
    GtkWidget* dialog = nullptr;
    GtkWidget* typePopup = nullptr;  // the save panel's type popup, when it has one
};

PanelDialog buildPanelDialog(const PanelRequest& request);
// Runs the dialog modally, reads the answer and destroys the dialog.
PanelAnswer runPanelDialog(PanelDialog& panel);

// The glob a file type stands for in a filter: "mp3" gives "*.[mM][pP]3", matching the extension
// in any letter case; "*" gives "*" (every file).
std::string filterPattern(const std::string& type);

// The label in front of the save dialog's name field, or null when GTK has none.
GtkLabel* findNameFieldLabel(GtkWidget* dialog);

}  // namespace pw::desktop
