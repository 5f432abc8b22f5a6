// gravenlisk-panel: shows one GTK file chooser for the request on standard input and writes the
// answer to standard output (formats in panel_request.hpp). It ships beside libGravenlisk, which
// starts it once per panel.
//
// Exit status: 0 with an answer (accepted or cancelled), 2 for an unreadable request, 3 when no
// display can be opened. Diagnostics go to standard error.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fd_io.hpp"
#include "panel_dialog.hpp"
#include "panel_request.hpp"
#include "test_hook.hpp"

namespace {

constexpr int kExitBadRequest = 2;
constexpr int kExitNoDisplay = 3;

}  // namespace

int main(int argc, char** argv) {
    // The answer owns standard output: whatever GTK or a module prints goes to standard error.
    const int answerFd = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);

    const auto request = pw::desktop::decodeRequest(pw::desktop::readToEnd(STDIN_FILENO));
    if (!request) {
        std::fprintf(stderr, "gravenlisk-panel: unreadable request\n");
        return kExitBadRequest;
    }
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "gravenlisk-panel: cannot open the display\n");
        return kExitNoDisplay;
    }
    pw::desktop::PanelDialog panel = pw::desktop::buildPanelDialog(*request);
    pw::desktop::startTestHook(panel);
    const pw::desktop::PanelAnswer answer = pw::desktop::runPanelDialog(panel);
    return pw::desktop::writeAll(answerFd, pw::desktop::encodeAnswer(answer)) ? 0 : 1;
}
