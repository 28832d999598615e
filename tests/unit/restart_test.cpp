// Restarting the computer: the Windows steps on recorded system calls, the restart through the
// installed services, and the Linux restart with a recording systemctl (nothing here can restart
// the machine that runs the tests).
#include "util/reboot_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/restart_backend.h"
#include "framework/win32/restart_steps.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_services.h"

namespace {

namespace win32 = framework::win32;

// The system calls of the Windows restart, recorded and answered as told.
class RecordingRestartApi {
public:
    bool openSucceeds = true;
    bool lookupSucceeds = true;
    bool adjustSucceeds = true;
    uint32_t errorAfterAdjust = 0;
    bool exitAccepted = true;
    std::vector<std::string> calls;
    win32::TokenPrivilege adjusted;
    uint32_t lastError = 0;

    bool OpenProcessToken(uint32_t desiredAccess, uintptr_t& token) {
        calls.push_back("OpenProcessToken " + std::to_string(desiredAccess));
        token = 42;
        return openSucceeds;
    }
    bool LookupPrivilegeValue(const char* name, win32::PrivilegeLuid& luid) {
        // Appended rather than concatenated: GCC 12 at -O3 warns falsely on the concatenation.
        std::string call = "LookupPrivilegeValue ";
        call += name;
        calls.push_back(call);
        if (lookupSucceeds) luid = win32::PrivilegeLuid{19, 0};
        return lookupSucceeds;
    }
    bool AdjustTokenPrivileges(uintptr_t token, bool disableAll,
                               const win32::TokenPrivilege& newState) {
        calls.push_back("AdjustTokenPrivileges " + std::to_string(token) + " " +
                        std::to_string(disableAll));
        adjusted = newState;
        lastError = errorAfterAdjust;
        return adjustSucceeds;
    }
    uint32_t GetLastError() {
        calls.push_back("GetLastError");
        return lastError;
    }
    bool ExitWindowsEx(uint32_t flags, uint32_t reason) {
        calls.push_back("ExitWindowsEx " + std::to_string(flags) + " " + std::to_string(reason));
        return exitAccepted;
    }
    void CloseToken(uintptr_t token) { calls.push_back("CloseToken " + std::to_string(token)); }
};

TEST(WindowsRestart, EnablesTheShutdownPrivilegeThenForcesARestart) {
    RecordingRestartApi api;
    EXPECT_TRUE(win32::RestartWithShutdownPrivilege(api));
    EXPECT_EQ(api.calls,
              (std::vector<std::string>{"OpenProcessToken 40",  // adjust privileges | query
                                        "LookupPrivilegeValue SeShutdownPrivilege",
                                        "AdjustTokenPrivileges 42 0", "GetLastError",
                                        "CloseToken 42", "ExitWindowsEx 6 0"}));
    EXPECT_EQ(api.adjusted.privilegeCount, 1u);
    EXPECT_EQ(api.adjusted.luid.lowPart, 19u);
    EXPECT_EQ(api.adjusted.attributes, win32::kSePrivilegeEnabled);
}

TEST(WindowsRestart, FailuresEndWithoutARestart) {
    struct Case {
        const char* what;
        void (*setUp)(RecordingRestartApi&);
        bool restartAsked;
    };
    const Case cases[] = {
        {"token cannot be opened", [](RecordingRestartApi& b) { b.openSucceeds = false; }, false},
        {"privilege not held",
         [](RecordingRestartApi& b) { b.errorAfterAdjust = win32::kErrorNotAllAssigned; }, false},
        {"adjustment fails",
         [](RecordingRestartApi& b) {
             b.adjustSucceeds = false;
             b.errorAfterAdjust = 5;
         },
         false},
        {"restart refused", [](RecordingRestartApi& b) { b.exitAccepted = false; }, true},
    };
    for (const Case& c : cases) {
        RecordingRestartApi api;
        c.setUp(api);
        EXPECT_FALSE(win32::RestartWithShutdownPrivilege(api)) << c.what;
        bool asked = !api.calls.empty() && api.calls.back().rfind("ExitWindowsEx", 0) == 0;
        EXPECT_EQ(asked, c.restartAsked) << c.what;
    }
    // The lookup's outcome is not tested: the adjustment decides.
    RecordingRestartApi lookupFails;
    lookupFails.lookupSucceeds = false;
    EXPECT_TRUE(win32::RestartWithShutdownPrivilege(lookupFails));
}

// A restart that records that it was asked and answers as told.
class RecordingRestart final : public framework::RestartBackend {
public:
    bool accepted = true;
    int asked = 0;
    bool RestartNow() override {
        ++asked;
        return accepted;
    }
};

TEST(RebootSystem, AsksTheInstalledRestart) {
    for (bool accepted : {true, false}) {
        RecordingRestart restart;
        restart.accepted = accepted;
        testsupport::ScopedTestServices services({.platform = {.restart = &restart}});
        EXPECT_EQ(RebootSystem(), accepted);
        EXPECT_EQ(restart.asked, 1);
    }
}

// PATH reduced to one folder holding a systemctl that records its arguments; the notices shown.
class LinuxRestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.ok());
        const char* path = std::getenv("PATH");
        m_savedPath = path != nullptr ? path : "";
        m_record = m_dir / "arguments";
        ASSERT_EQ(setenv("PATH", m_dir.path().c_str(), 1), 0);
    }
    void TearDown() override { setenv("PATH", m_savedPath.c_str(), 1); }

    // A systemctl that records its arguments, prints what it is given on both of its outputs
    // and exits with that status.
    void InstallSystemctl(int exitStatus, const std::string& says = "") {
        const std::string text = m_dir / "says";
        std::ofstream(text) << says;
        std::string script = m_dir / "systemctl";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << m_record
                              << "'\n/bin/cat '" << text << "'\n/bin/cat '" << text
                              << "' >&2\nexit " << exitStatus << "\n";
        ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    }
    std::string Recorded() {
        std::ifstream in(m_record);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    testsupport::TempFolder m_dir;
    std::string m_savedPath;
    std::string m_record;
    std::vector<std::string> m_notices;
    // The platform's restart; notices recorded.
    testsupport::ScopedTestServices m_services{
        {.platform = {.notices = [this](const std::string& text) { m_notices.push_back(text); }}}};
};

TEST_F(LinuxRestartTest, RestartsThroughSystemctlHeedingOtherInhibitors) {
    InstallSystemctl(0, "");
    if (geteuid() != 0) {
        // Only the administrator may restart the computer.
        EXPECT_FALSE(RebootSystem());
        EXPECT_EQ(Recorded(), "");
        return;
    }
    EXPECT_TRUE(RebootSystem());
    // Inhibitors are checked whether or not systemctl's output is a terminal.
    EXPECT_EQ(Recorded(), "reboot\n--check-inhibitors=yes\n");
    EXPECT_EQ(m_notices, std::vector<std::string>{});
}

TEST_F(LinuxRestartTest, ARestartThatDoesNotHappenIsSaidOnceInTheProgramsWords) {
    if (geteuid() != 0) GTEST_SKIP() << "only the administrator reaches systemctl";
    framework::RestartBackend& restart = framework::PlatformRestart();
    EXPECT_FALSE(restart.RestartNow()) << "no systemctl on PATH";
    InstallSystemctl(1,
                     "Operation inhibited by \"backup\" (PID 42), reason is \"nightly\".\n"
                     "Please retry operation after closing inhibitors.\n");
    EXPECT_FALSE(restart.RestartNow());
    EXPECT_EQ(Recorded(), "reboot\n--check-inhibitors=yes\n");
    InstallSystemctl(3, "");
    EXPECT_FALSE(restart.RestartNow());
    EXPECT_EQ(m_notices,
              (std::vector<std::string>{
                  "This computer was not restarted: systemctl was not found. Restart it to "
                  "finish the update.",
                  "This computer was not restarted: systemctl reboot: Operation inhibited by "
                  "\"backup\" (PID 42), reason is \"nightly\". Restart it to finish the update.",
                  "This computer was not restarted: systemctl reboot ended with status 3. Restart "
                  "it to finish the update."}));
}

}  // namespace
