// Keeping the computer awake on Linux: a systemd-inhibit child (a recording stand-in here)
// blocks shutdown, sleep and idle while held, and ending it ends everything it started.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "framework/keep_awake.h"
#include "tests/support/recording_keep_awake.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_services.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Whether a process runs (a zombie left to a parent that does not reap counts as ended).
bool Running(pid_t pid) {
    std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return false;
    std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class PathGuard {
public:
    explicit PathGuard(const std::string& path) {
        const char* old = std::getenv("PATH");
        m_saved = old ? old : "";
        setenv("PATH", path.c_str(), 1);
    }
    ~PathGuard() { setenv("PATH", m_saved.c_str(), 1); }

private:
    std::string m_saved;
};

TEST(KeepAwakeLinux, HoldsAnInhibitorChildAndEndsItWithWhatItStarted) {
    testsupport::TempFolder folder;
    std::string script = folder.Write("systemd-inhibit",
                                      "#!/bin/sh\n"
                                      "echo \"$@\" > \"" +
                                          folder.path() +
                                          "/args\"\n"
                                          "/bin/sleep 1000 &\n"
                                          "echo $! > \"" +
                                          folder.path() +
                                          "/grandchild\"\n"
                                          "wait\n");
    chmod(script.c_str(), 0755);
    PathGuard path(folder.path() + ":/usr/bin:/bin");
    testsupport::ScopedTestServices services;  // the platform's keep-awake

    pid_t grandchild = 0;
    {
        framework::KeepAwake awake(true);
        EXPECT_TRUE(awake.Held());
        ASSERT_TRUE(WaitFor([&] { return !ReadAll(folder / "grandchild").empty(); }));
        grandchild = std::stoi(ReadAll(folder / "grandchild"));
        EXPECT_TRUE(Running(grandchild));
        EXPECT_EQ(ReadAll(folder / "args"),
                  "--what=shutdown:sleep:idle --mode=block --who=270X firmware update "
                  "--why=Writing controller flash sleep infinity\n");
    }
    EXPECT_TRUE(WaitFor([&] { return !Running(grandchild); }));
}

TEST(KeepAwakeLinux, WithoutSystemdInhibitNothingIsHeld) {
    testsupport::TempFolder folder;
    PathGuard path(folder.path());
    testsupport::ScopedTestServices services;  // the platform's keep-awake
    framework::KeepAwake awake(true);
    EXPECT_FALSE(awake.Held());
}

TEST(KeepAwake, RecordingBackendCountsOneHoldPerScope) {
    testsupport::RecordingKeepAwake recording;
    testsupport::ScopedTestServices services({.platform = {.keepAwake = &recording}});
    {
        framework::KeepAwake awake;
        EXPECT_FALSE(recording.IsHeld());
        awake.Hold();
        awake.Hold();
        EXPECT_TRUE(recording.IsHeld());
    }
    EXPECT_EQ(recording.Begins(), 1);
    EXPECT_EQ(recording.Ends(), 1);
    EXPECT_FALSE(recording.IsHeld());
}

}  // namespace
