#include "panel_runner.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fd_io.hpp"

extern char** environ;

namespace pw::desktop {

namespace {

void reportCancelled(const std::string& helperPath, const std::string& why) {
    std::fprintf(stderr, "Gravenlisk: the panel helper %s %s; the panel counts as cancelled\n",
                 helperPath.c_str(), why.c_str());
}

// The request as an unlinked in-memory file positioned at its start, or -1.
int requestFile(const PanelRequest& request) {
    const int fd = ::memfd_create("gravenlisk-request", MFD_CLOEXEC);
    if (fd < 0) return -1;
    if (!writeAll(fd, encodeRequest(request)) || ::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Starts the helper with `in` as its standard input, `out` as its standard output and the caller's
// standard error, and no other descriptor. The JVM's
// threads block and handle signals of their own: the helper starts with every signal unblocked and
// at its default action.
int spawnHelper(const std::string& helperPath, int in, int out, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    // Nothing else of the JVM's: a pipe it holds open for a process of its own would otherwise stay
    // open in the helper, and that process's reader would wait for the panel to close.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char* argv[] = {const_cast<char*>(helperPath.c_str()), nullptr};
    const int result = ::posix_spawn(pid, helperPath.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

}  // namespace

std::string panelHelperBesideThisLibrary() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&panelHelperBesideThisLibrary), &info) == 0 || !info.dli_fname)
        return kPanelHelperName;
    std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return path + kPanelHelperName;
}

PanelAnswer runPanel(const PanelRequest& request, const std::string& helperPath) {
    const int in = requestFile(request);
    if (in < 0) {
        reportCancelled(helperPath, std::string("got no request file (") + std::strerror(errno) + ")");
        return {};
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        reportCancelled(helperPath, std::string("got no pipe (") + std::strerror(errno) + ")");
        ::close(in);
        return {};
    }
    pid_t pid = 0;
    const int spawned = spawnHelper(helperPath, in, pipeFds[1], &pid);
    // Only the helper holds the write end now, so the read below ends when it exits.
    ::close(in);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        reportCancelled(helperPath, std::string("could not be started (") + std::strerror(spawned) + ")");
        return {};
    }
    const std::string bytes = readToEnd(pipeFds[0]);
    ::close(pipeFds[0]);

    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    // ECHILD: a process that ignores SIGCHLD has its children reaped for it; the answer decides.
    if (waited == pid && WIFSIGNALED(status)) {
        reportCancelled(helperPath, "was killed by signal " + std::to_string(WTERMSIG(status)));
        return {};
    }
    if (waited == pid && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        reportCancelled(helperPath, "exited with status " + std::to_string(WEXITSTATUS(status)));
        return {};
    }
    const auto answer = decodeAnswer(bytes);
    if (!answer) {
        reportCancelled(helperPath, "gave an unreadable answer");
        return {};
    }
    return *answer;
}

}  // namespace pw::desktop
