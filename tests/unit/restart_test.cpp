// Restarting the computer: the steps on recorded restart services, and the Linux services with
// a recording systemctl (nothing here can restart the machine that runs the tests).
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

#include "tests/support/temp_folder.h"

namespace {

// Restart services that record every call and answer as told.
class RecordingRestart final : public framework::RestartBackend {
public:
    bool openSucceeds = true;
    bool lookupSucceeds = true;
    bool adjustSucceeds = true;
    uint32_t errorAfterAdjust = 0;
    bool exitAccepted = true;
    std::vector<std::string> calls;
    framework::TokenPrivilege adjusted;
    uint32_t lastError = 0;

    bool OpenProcessToken(uint32_t desiredAccess, uintptr_t& token) override {
        calls.push_back("OpenProcessToken " + std::to_string(desiredAccess));
        token = 42;
        return openSucceeds;
    }
    bool LookupPrivilegeValue(const char* name, framework::PrivilegeLuid& luid) override {
        calls.push_back(std::string("LookupPrivilegeValue ") + name);
        if (lookupSucceeds) luid = framework::PrivilegeLuid{19, 0};
        return lookupSucceeds;
    }
    bool AdjustTokenPrivileges(uintptr_t token, bool disableAll,
                               const framework::TokenPrivilege& newState) override {
        calls.push_back("AdjustTokenPrivileges " + std::to_string(token) + " " +
                        std::to_string(disableAll));
        adjusted = newState;
        lastError = errorAfterAdjust;
        return adjustSucceeds;
    }
    uint32_t GetLastError() override {
        calls.push_back("GetLastError");
        return lastError;
    }
    bool ExitWindowsEx(uint32_t flags, uint32_t reason) override {
        calls.push_back("ExitWindowsEx " + std::to_string(flags) + " " + std::to_string(reason));
        return exitAccepted;
    }
    void CloseToken(uintptr_t token) override {
        calls.push_back("CloseToken " + std::to_string(token));
    }
};

TEST(RebootSystem, EnablesTheShutdownPrivilegeThenForcesARestart) {
    RecordingRestart backend;
    EXPECT_TRUE(RebootSystem(backend));
    EXPECT_EQ(backend.calls,
              (std::vector<std::string>{"OpenProcessToken 40",  // adjust privileges | query
                                        "LookupPrivilegeValue SeShutdownPrivilege",
                                        "AdjustTokenPrivileges 42 0", "GetLastError",
                                        "CloseToken 42", "ExitWindowsEx 6 0"}));
    EXPECT_EQ(backend.adjusted.privilegeCount, 1u);
    EXPECT_EQ(backend.adjusted.luid.lowPart, 19u);
    EXPECT_EQ(backend.adjusted.attributes, framework::kSePrivilegeEnabled);
}

TEST(RebootSystem, FailuresEndWithoutARestart) {
    struct Case {
        const char* what;
        void (*setUp)(RecordingRestart&);
        bool restartAsked;
    };
    const Case cases[] = {
        {"token cannot be opened", [](RecordingRestart& b) { b.openSucceeds = false; }, false},
        {"privilege not held",
         [](RecordingRestart& b) { b.errorAfterAdjust = framework::kErrorNotAllAssigned; }, false},
        {"adjustment fails",
         [](RecordingRestart& b) {
             b.adjustSucceeds = false;
             b.errorAfterAdjust = 5;
         },
         false},
        {"restart refused", [](RecordingRestart& b) { b.exitAccepted = false; }, true},
    };
    for (const Case& c : cases) {
        RecordingRestart backend;
        c.setUp(backend);
        EXPECT_FALSE(RebootSystem(backend)) << c.what;
        bool asked = !backend.calls.empty() && backend.calls.back().rfind("ExitWindowsEx", 0) == 0;
        EXPECT_EQ(asked, c.restartAsked) << c.what;
    }
    // The lookup's outcome is not tested: the adjustment decides.
    RecordingRestart lookupFails;
    lookupFails.lookupSucceeds = false;
    EXPECT_TRUE(RebootSystem(lookupFails));
}

TEST(RebootSystem, ProcessWideServicesCanBeReplaced) {
    RecordingRestart backend;
    SetRestartBackend(&backend);
    EXPECT_TRUE(RebootSystem());
    SetRestartBackend(nullptr);
    EXPECT_EQ(backend.calls.size(), 6u);
}

// PATH reduced to one folder holding a systemctl that records its arguments.
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

    void InstallSystemctl(int exitStatus) {
        std::string script = m_dir / "systemctl";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << m_record << "'\nexit "
                              << exitStatus << "\n";
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
};

TEST_F(LinuxRestartTest, RestartsThroughSystemctlForcedPastInhibitors) {
    InstallSystemctl(0);
    SetRestartBackend(nullptr);
    if (geteuid() != 0) {
        // Only the administrator holds the shutdown privilege.
        EXPECT_FALSE(RebootSystem());
        EXPECT_EQ(framework::PlatformRestartBackend().GetLastError(),
                  framework::kErrorNotAllAssigned);
        EXPECT_EQ(Recorded(), "");
        return;
    }
    EXPECT_TRUE(RebootSystem());
    EXPECT_EQ(Recorded(), "reboot\n--check-inhibitors=no\n");
}

TEST_F(LinuxRestartTest, AFailingOrMissingSystemctlIsARefusal) {
    auto& backend = framework::PlatformRestartBackend();
    EXPECT_FALSE(backend.ExitWindowsEx(framework::kEwxReboot | framework::kEwxForce, 0))
        << "no systemctl on PATH";
    InstallSystemctl(1);
    EXPECT_FALSE(backend.ExitWindowsEx(framework::kEwxReboot | framework::kEwxForce, 0));
    EXPECT_EQ(Recorded(), "reboot\n--check-inhibitors=no\n");
    std::remove(m_record.c_str());
    EXPECT_FALSE(backend.ExitWindowsEx(framework::kEwxReboot, 0)) << "only a forced restart";
    EXPECT_EQ(Recorded(), "");
}

}  // namespace
