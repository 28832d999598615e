// Restarting a Linux computer: only the administrator may, and the restart is systemd's, which
// heeds the other inhibitors (a backup in progress, a user logged in). A restart that does not
// happen is said in one line of the program's own.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "framework/message_box.h"
#include "framework/restart_backend.h"

extern char** environ;

namespace framework {
namespace {

constexpr const char* kSystemctl = "systemctl";
// The most of systemctl's output kept for the message: its first line is what it says.
constexpr std::size_t kKeptOutputBytes = 4096;
constexpr const char* kNotRestartedText = "This computer was not restarted: ";
constexpr const char* kRestartYourselfText = ". Restart it to finish the update.";

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

// The first line of a program's output, without surrounding blanks.
std::string FirstLine(const std::string& output) {
    const std::size_t begin = output.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    const std::size_t end = output.find_first_of("\r\n", begin);
    std::string line = output.substr(begin, end == std::string::npos ? end : end - begin);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '.')) {
        line.pop_back();
    }
    return line;
}

// Runs the program with its arguments (no shell, no input) and waits; true when it exited with 0.
// What it prints is kept in output (never shown: the caller says what happened).
bool RunAndWait(const std::string& program, char* const argv[], std::string& output, int& status) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return false;
    }
    char buffer[512];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (output.size() < kKeptOutputBytes) output.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0) {
        if (errno != EINTR) return false;
    }
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return status == 0;
}

class SystemctlRestart final : public RestartBackend {
public:
    bool RestartNow() override {
        // Only the administrator may restart the computer.
        if (geteuid() != 0) {
            NotRestarted("only the administrator may restart it");
            return false;
        }
        std::string systemctl = FindOnPath(kSystemctl);
        if (systemctl.empty()) {
            NotRestarted("systemctl was not found");
            return false;
        }
        // Inhibitors are checked also when the output is no terminal (the default checks them
        // only on a terminal): a backup in progress or a user logged in keeps the computer up.
        char name[] = "systemctl";
        char verb[] = "reboot";
        char checkInhibitors[] = "--check-inhibitors=yes";
        char* const argv[] = {name, verb, checkInhibitors, nullptr};
        std::string output;
        int status = -1;
        if (RunAndWait(systemctl, argv, output, status)) return true;
        std::string reason = FirstLine(output);
        if (reason.empty()) {
            reason = status < 0 ? "systemctl reboot did not end normally"
                                : "systemctl reboot ended with status " + std::to_string(status);
        } else {
            reason = "systemctl reboot: " + reason;
        }
        NotRestarted(reason);
        return false;
    }

private:
    static void NotRestarted(const std::string& reason) {
        ShowNotice(kNotRestartedText + reason + kRestartYourselfText);
    }
};

}  // namespace

RestartBackend& PlatformRestart() {
    static SystemctlRestart restart;
    return restart;
}

}  // namespace framework
