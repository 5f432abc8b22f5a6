// gravenlisk-panel: shows one GTK file chooser for the request on standard input and writes the
// answer to standard output (formats in panel_request.hpp). It ships beside libGravenlisk, which
// starts it once per panel.
//
// Exit status: 0 with an answer (accepted or cancelled), 2 for an unreadable request, 3 when no
// display can be opened. Diagnostics go to standard error.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "panel_dialog.hpp"
#include "panel_request.hpp"
#include "test_hook.hpp"

namespace {

constexpr int kExitBadRequest = 2;
constexpr int kExitNoDisplay = 3;

std::string readAll(int fd) {
    std::string bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // The answer owns standard output: whatever GTK or a module prints goes to standard error.
    const int answerFd = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);

    const auto request = pw::desktop::decodeRequest(readAll(STDIN_FILENO));
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
    return writeAll(answerFd, pw::desktop::encodeAnswer(answer)) ? 0 : 1;
}
