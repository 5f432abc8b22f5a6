// The library's side of a panel when the helper fails: whatever goes wrong, the caller gets a
// cancelled panel and one line on stderr, and is never left waiting.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "panel_runner.hpp"
#include "scoped_env.hpp"
#include "temp_dir.hpp"

namespace pw::desktop {
namespace {

PanelRequest saveRequest() {
    PanelRequest request;
    request.kind = PanelKind::Save;
    request.title = "Save";
    request.fileTypes = {"wav", "aiff"};
    return request;
}

// A helper of the test's own making: a shell script `name` with `body`.
std::string scriptHelper(const test::TempDir& dir, const std::string& name, const std::string& body) {
    const std::string path = dir.file(name);
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
}

void expectCancelled(const PanelAnswer& answer) {
    EXPECT_FALSE(answer.accepted);
    EXPECT_TRUE(answer.paths.empty());
    EXPECT_FALSE(answer.selectedType);
}

TEST(PanelRunner, FailingHelpersGiveACancelledPanelAndOneLine) {
    test::TempDir dir("pw-panel-");
    const struct {
        const char* what;
        std::string helper;
        const char* reason;
    } rows[] = {
        {"missing helper", dir.file("no-such-helper"), "could not be started"},
        {"helper that is not a program", dir.path(), "could not be started"},
        {"helper that fails", scriptHelper(dir, "fails", "cat >/dev/null; exit 4"), "exited with status 4"},
        {"helper that is killed", scriptHelper(dir, "killed", "kill -KILL $$"), "was killed by signal 9"},
    };
    for (const auto& row : rows) {
        testing::internal::CaptureStderr();
        const PanelAnswer answer = runPanel(saveRequest(), row.helper);
        const std::string err = testing::internal::GetCapturedStderr();
        expectCancelled(answer);
        EXPECT_NE(std::string::npos, err.find(row.reason)) << row.what << ": " << err;
        EXPECT_NE(std::string::npos, err.find("counts as cancelled")) << row.what;
    }
    for (const char* body : {"cat >/dev/null; printf 'accepted\\t1\\n1\\n'", "printf 'garbage'"}) {
        const std::string helper = scriptHelper(dir, "answers", body);
        testing::internal::CaptureStderr();
        expectCancelled(runPanel(saveRequest(), helper));
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("gave an unreadable answer")) << body;
    }
}

TEST(PanelRunner, TheHelperReadsTheWholeRequestAndItsAnswerComesBack) {
    test::TempDir dir("pw-panel-");
    // Echoes the directory it was asked for as the chosen path: the request got there whole.
    const std::string helper = scriptHelper(
        dir, "echoes", "request=$(cat); case \"$request\" in *\"directory\t9\n/tmp/\xc3\xa4 b\"*) ;; *) exit 7;; esac\n"
             "printf 'accepted\\t1\\n1\\npath\\t9\\n/tmp/\xc3\xa4 b\\nselected-type\\t4\\naiff\\n'");
    PanelRequest request = saveRequest();
    request.directory = "/tmp/\xc3\xa4 b";
    const PanelAnswer answer = runPanel(request, helper);
    EXPECT_TRUE(answer.accepted);
    EXPECT_EQ(std::vector<std::string>{"/tmp/\xc3\xa4 b"}, answer.paths);
    EXPECT_EQ(std::optional<std::string>("aiff"), answer.selectedType);
}

TEST(PanelRunner, TheHelperHoldsNoOtherDescriptorOfTheCaller) {
    test::TempDir dir("pw-panel-");
    int pipeFds[2];
    ASSERT_EQ(0, ::pipe(pipeFds));  // inheritable, as a JVM's own pipes may be
    const std::string helper = scriptHelper(
        dir, "descriptors",
        "cat >/dev/null; for fd in " + std::to_string(pipeFds[0]) + " " + std::to_string(pipeFds[1]) +
            "; do [ -e /proc/$$/fd/$fd ] && exit 5; done; printf 'accepted\\t1\\n0\\n'");
    testing::internal::CaptureStderr();
    const PanelAnswer answer = runPanel(saveRequest(), helper);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(err.empty()) << err;
    expectCancelled(answer);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(PanelRunner, TheRealHelperWithoutADisplaySaysSo) {
    test::ScopedEnv noDisplay("DISPLAY", std::nullopt);
    test::ScopedEnv noWayland("WAYLAND_DISPLAY", std::nullopt);
    testing::internal::CaptureStderr();
    expectCancelled(runPanel(saveRequest(), GRAVENLISK_PANEL_HELPER));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("cannot open the display")) << err;
    EXPECT_NE(std::string::npos, err.find("exited with status 3")) << err;
}

}  // namespace
}  // namespace pw::desktop
