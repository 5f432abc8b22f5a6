#include "pulse_server.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

#include "device.hpp"
#include "pulse_connection.hpp"

namespace pw::test {
namespace {

constexpr int kReadyAttempts = 100;
constexpr auto kReadyPoll = std::chrono::milliseconds(50);
constexpr auto kStopPoll = std::chrono::milliseconds(10);
constexpr int kStopAttempts = 300;

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

std::string tail(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    const std::string s = all.str();
    return s.size() > 2000 ? s.substr(s.size() - 2000) : s;
}

}  // namespace

bool PulseServer::binaryAvailable() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/pulseaudio").c_str(), X_OK) == 0) return true;
    return false;
}

PulseServer::PulseServer(const std::vector<NullSink>& sinks) : dir_("pw-pulse-") {
    ready_ = start(sinks);
    if (!ready_) {
        error_ += "\n--- pulse.log ---\n" + tail(logPath());
        stop();
        env_.clear();
    }
    pw::dev::reloadBackendForTests();
}

PulseServer::~PulseServer() {
    stop();
    env_.clear();
    pw::dev::reloadBackendForTests();
}

bool PulseServer::start(const std::vector<NullSink>& sinks) {
    const std::string run = dir_.file("run");
    const std::string config = dir_.file("daemon.conf");
    const std::string script = dir_.file("test.pa");
    if (mkdir(run.c_str(), 0700) != 0) {
        error_ = "cannot create " + run;
        return false;
    }
    // Without alternate-sample-rate equal to the default, a 48 kHz stream switches the sink.
    std::string conf =
        "default-sample-rate = 44100\nalternate-sample-rate = 44100\nexit-idle-time = -1\n"
        "realtime-scheduling = no\nflat-volumes = no\n";
    std::string pa = "load-module module-native-protocol-unix auth-anonymous=1\n";
    for (const NullSink& s : sinks) {
        pa += "load-module module-null-sink sink_name=" + s.name + " norewinds=1 rate=" + std::to_string(s.rate) +
              " format=float32le channels=" + std::to_string(s.channels) +
              " sink_properties='device.description=\"" + s.description + "\"'\n";
    }
    if (!writeFile(config, conf) || !writeFile(script, pa)) {
        error_ = "cannot write the daemon's configuration in " + dir_.path();
        return false;
    }

    // Everything the child needs is built before fork: between fork and exec only
    // async-signal-safe calls are allowed (another thread may hold the allocator's lock).
    const std::string log = "--log-target=file:" + logPath();
    std::vector<std::string> args = {"pulseaudio", "-n", "-F", script, "--daemonize=no", "--disallow-exit",
                                     "--exit-idle-time=-1", "--use-pid-file=no", log};
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + run, "PULSE_CONFIG=" + config, "HOME=" + dir_.path()};
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("XDG_RUNTIME_DIR=", 0) != 0 && entry.rfind("PULSE_", 0) != 0 && entry.rfind("HOME=", 0) != 0)
            env.push_back(entry);
    }
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        error_ = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        // A test that crashes or is killed by a time-out must not leave its daemon behind: the
        // daemon gets SIGTERM when the thread that started it ends (tests run on the main thread).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);  // the parent is already gone
        execvpe("pulseaudio", argv.data(), envp.data());
        _exit(127);
    }

    env_.push_back(std::make_unique<ScopedEnv>("XDG_RUNTIME_DIR", run));
    env_.push_back(std::make_unique<ScopedEnv>("PULSE_SERVER", "unix:" + run + "/pulse/native"));
    for (int i = 0; i < kReadyAttempts; ++i) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "pulseaudio exited during start-up";
            return false;
        }
        if (access((run + "/pulse/native").c_str(), F_OK) == 0 && pw::dev::PulseConnection::open("pw-test-probe"))
            return true;
        std::this_thread::sleep_for(kReadyPoll);
    }
    error_ = "pulseaudio did not answer within 5 s";
    return false;
}

void PulseServer::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < kStopAttempts; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(kStopPoll);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace pw::test

#if defined(__SANITIZE_THREAD__)
// libpulse recycles its packet and memory blocks through lock-free free lists built on atomics
// that ThreadSanitizer cannot see in the uninstrumented library, so it reports the library's own
// copies into recycled blocks as races. Silence reports whose stacks run through the library
// (not "called_from_lib", which would also hide the library's mutexes and so make every
// main-loop-locked access of ours look racy). Linked into every test that starts a PulseServer.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon-16.1.so\n"
           "race:libpulse.so.0\n";
}
#endif
