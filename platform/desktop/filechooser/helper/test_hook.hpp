// Test hook of the panel helper: when GRAVENLISK_PANEL_SCRIPT names a file, the helper plays the
// actions listed there, one per line, once the dialog is on screen, as a user would:
//
//   report <file>     write the dialog's state to <file> as key=value lines (see test_hook.cpp)
//   shot <file>       write a PNG screenshot of the dialog to <file>
//   folder <path>     change to the folder
//   select <path>     select the file alone, as a click does (waits until the chooser has it)
//   add <path>        add the file to the selection, as a click with Ctrl held does
//   name <text>       type <text> into the save dialog's name field
//   popup <index>     choose the type popup's entry <index>
//   accept            press the accept button (again, while the dialog has not answered)
//   cancel            press Cancel
//
// Each action waits for the dialog to settle (shown, folder loaded) before it runs; one that does
// not complete within kStepLimit tries cancels the dialog with a line on standard error. Without
// the variable nothing here runs.
//
// Thread safety: GTK's thread only.
#pragma once

#include "panel_dialog.hpp"

namespace pw::desktop {

inline constexpr const char* kPanelScriptVariable = "GRAVENLISK_PANEL_SCRIPT";

// Reads the script the variable names and plays it on `panel` once the dialog is shown. The panel
// must outlive the dialog's run.
void startTestHook(PanelDialog& panel);

}  // namespace pw::desktop
