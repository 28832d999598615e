// Restarting a Linux computer: the administrator holds the shutdown privilege, and the restart
// is systemd's, forced past its inhibitors.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/restart_backend.h"

extern char** environ;

namespace framework {
namespace {

constexpr uintptr_t kProcessToken = 1;
constexpr uint32_t kShutdownPrivilegeLowPart = 19;
constexpr uint32_t kErrorNoSuchPrivilege = 1313;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorSuccess = 0;
constexpr const char* kSystemctl = "systemctl";

thread_local uint32_t t_lastError = kErrorSuccess;

// The first executable regular file of that name in a folder of PATH; empty when none.
// Empty PATH entries (the current directory) are not searched.
std::string FindOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    std::string entries = path;
    std::size_t start = 0;
    while (start <= entries.size()) {
        std::size_t end = entries.find(':', start);
        if (end == std::string::npos) end = entries.size();
        std::string folder = entries.substr(start, end - start);
        if (!folder.empty()) {
            std::string candidate = folder + "/" + program;
            struct stat st {};
            if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return {};
}

// Runs the program with its arguments (no shell) and waits; true when it exited with 0.
bool RunAndWait(const std::string& program, char* const argv[]) {
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class PosixRestart final : public RestartBackend {
public:
    bool OpenProcessToken(uint32_t, uintptr_t& token) override {
        token = kProcessToken;
        t_lastError = kErrorSuccess;
        return true;
    }

    bool LookupPrivilegeValue(const char* privilegeName, PrivilegeLuid& luid) override {
        if (privilegeName == nullptr || std::strcmp(privilegeName, kShutdownPrivilegeName) != 0) {
            t_lastError = kErrorNoSuchPrivilege;
            return false;
        }
        luid = PrivilegeLuid{kShutdownPrivilegeLowPart, 0};
        t_lastError = kErrorSuccess;
        return true;
    }

    // Only the administrator may restart the computer: anyone else is told, as on Windows,
    // that the privilege was not assigned.
    bool AdjustTokenPrivileges(uintptr_t token, bool, const TokenPrivilege& newState) override {
        if (token != kProcessToken) {
            t_lastError = kErrorInvalidHandle;
            return false;
        }
        bool known = newState.privilegeCount == 1 &&
                     newState.luid.lowPart == kShutdownPrivilegeLowPart &&
                     newState.luid.highPart == 0;
        t_lastError = known && geteuid() == 0 ? kErrorSuccess : kErrorNotAllAssigned;
        return true;
    }

    uint32_t GetLastError() override { return t_lastError; }

    bool ExitWindowsEx(uint32_t flags, uint32_t) override {
        if (flags != (kEwxReboot | kEwxForce)) {
            t_lastError = kErrorInvalidParameter;
            return false;
        }
        std::string systemctl = FindOnPath(kSystemctl);
        if (systemctl.empty()) {
            t_lastError = kErrorFileNotFound;
            return false;
        }
        char name[] = "systemctl";
        char verb[] = "reboot";
        char force[] = "--check-inhibitors=no";
        char* const argv[] = {name, verb, force, nullptr};
        return RunAndWait(systemctl, argv);
    }

    void CloseToken(uintptr_t) override {}
};

}  // namespace

RestartBackend& PlatformRestartBackend() {
    static PosixRestart backend;
    return backend;
}

}  // namespace framework
