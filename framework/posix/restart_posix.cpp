// Restarting a Linux computer: only the administrator may, and the restart is systemd's, forced
// past its inhibitors.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "framework/restart_backend.h"

extern char** environ;

namespace framework {
namespace {

constexpr const char* kSystemctl = "systemctl";

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

class SystemctlRestart final : public RestartBackend {
public:
    bool RestartNow() override {
        // Only the administrator may restart the computer.
        if (geteuid() != 0) return false;
        std::string systemctl = FindOnPath(kSystemctl);
        if (systemctl.empty()) return false;
        char name[] = "systemctl";
        char verb[] = "reboot";
        char force[] = "--check-inhibitors=no";
        char* const argv[] = {name, verb, force, nullptr};
        return RunAndWait(systemctl, argv);
    }
};

}  // namespace

RestartBackend& PlatformRestart() {
    static SystemctlRestart restart;
    return restart;
}

}  // namespace framework
