// Linux: a systemd-inhibit child that blocks shutdown, sleep and idle while it lives.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "framework/keep_awake.h"

extern char** environ;

namespace framework {
namespace {

constexpr const char* kInhibitProgram = "systemd-inhibit";

// Whether a program of that name lies in a folder of PATH and may be run.
bool OnPath(const char* name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    const char* folder = path;
    for (;;) {
        const char* end = std::strchr(folder, ':');
        std::size_t length =
            end != nullptr ? static_cast<std::size_t>(end - folder) : std::strlen(folder);
        char candidate[4096] = {};
        int written = length == 0 ? std::snprintf(candidate, sizeof candidate, "./%s", name)
                                  : std::snprintf(candidate, sizeof candidate, "%.*s/%s",
                                                  static_cast<int>(length), folder, name);
        if (written > 0 && static_cast<std::size_t>(written) < sizeof candidate &&
            access(candidate, X_OK) == 0) {
            return true;
        }
        if (end == nullptr) return false;
        folder = end + 1;
    }
}

class InhibitKeepAwake final : public KeepAwakeBackend {
public:
    bool Begin() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_child > 0) return true;
        if (!OnPath(kInhibitProgram)) return false;
        char program[] = "systemd-inhibit";
        char what[] = "--what=shutdown:sleep:idle";
        char mode[] = "--mode=block";
        char who[] = "--who=270X firmware update";
        char why[] = "--why=Writing controller flash";
        char sleepProgram[] = "sleep";
        char forever[] = "infinity";
        char* argv[] = {program, what, mode, who, why, sleepProgram, forever, nullptr};
        // Its own process group, so that ending it also ends the sleep it runs.
        posix_spawnattr_t attributes;
        if (posix_spawnattr_init(&attributes) != 0) return false;
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        // Its output never reaches the user's screen (where no system bus answers it complains
        // on standard error): silent mode prints nothing but message boxes.
        posix_spawn_file_actions_t actions;
        if (posix_spawn_file_actions_init(&actions) != 0) {
            posix_spawnattr_destroy(&attributes);
            return false;
        }
        for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                             fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
        }
        pid_t child = 0;
        int spawned = posix_spawnp(&child, kInhibitProgram, &actions, &attributes, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        if (spawned != 0) return false;
        m_child = child;
        return true;
    }

    void End() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_child <= 0) return;
        kill(-m_child, SIGTERM);
        int status = 0;
        waitpid(m_child, &status, 0);
        m_child = 0;
    }

private:
    std::mutex m_mutex;
    pid_t m_child = 0;
};

}  // namespace

KeepAwakeBackend& PlatformKeepAwake() {
    static InhibitKeepAwake s_inhibit;
    return s_inhibit;
}

}  // namespace framework
