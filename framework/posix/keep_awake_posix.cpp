// Linux: logind's inhibitor lock against shutdown, sleep and idle. It is a descriptor from
// logind's Inhibit call on the system bus: the lock lasts while the descriptor is open, and the
// kernel closes it when the process ends, however it ends (a crash, SIGKILL). Where no system
// bus answers, a systemd-inhibit child holds the lock instead; it is sent SIGTERM when the thread
// that started it ends (the run's worker, which holds and releases the lock), and the command it
// runs reads a pipe that the kernel closes with the program, so neither outlives the program.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "framework/keep_awake.h"

extern char** environ;

namespace framework {
namespace {

constexpr const char* kInhibitProgram = "systemd-inhibit";
constexpr const char* kWhat = "shutdown:sleep:idle";
constexpr const char* kWho = "270X firmware update";
constexpr const char* kWhy = "Writing controller flash";
constexpr const char* kMode = "block";
// How long logind may take to answer.
constexpr uint64_t kInhibitCallTimeoutUs = 5'000'000;
// The child's status when it cannot start the inhibitor.
constexpr int kChildFailed = 127;

// The full path of a program of that name in a folder of PATH that may be run; empty when none.
std::string OnPath(const char* name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    const char* folder = path;
    for (;;) {
        const char* end = std::strchr(folder, ':');
        const std::size_t length =
            end != nullptr ? static_cast<std::size_t>(end - folder) : std::strlen(folder);
        const std::string candidate =
            length == 0 ? std::string("./") + name : std::string(folder, length) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == nullptr) return {};
        folder = end + 1;
    }
}

enum class LogindLock { kTaken, kRefused, kNoBus };

// Asks logind for the lock over the system bus; on kTaken, fd is the lock's descriptor.
LogindLock TakeLogindLock(int& fd) {
    fd = -1;
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return LogindLock::kNoBus;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int received = -1;
    if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1",
                                       "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                       "Inhibit") >= 0 &&
        sd_bus_message_append(call, "ssss", kWhat, kWho, kWhy, kMode) >= 0 &&
        sd_bus_call(bus, call, kInhibitCallTimeoutUs, &error, &reply) >= 0 &&
        sd_bus_message_read(reply, "h", &received) >= 0) {
        // The reply owns the descriptor it carries: keep a copy of it.
        fd = fcntl(received, F_DUPFD_CLOEXEC, 3);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
    return fd >= 0 ? LogindLock::kTaken : LogindLock::kRefused;
}

class InhibitKeepAwake final : public KeepAwakeBackend {
public:
    bool Begin() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_lockFd >= 0 || m_child > 0) return true;
        switch (TakeLogindLock(m_lockFd)) {
            case LogindLock::kTaken:
                return true;
            case LogindLock::kRefused:
                // logind answers for systemd-inhibit too: it would be refused as well.
                return false;
            case LogindLock::kNoBus:
                break;
        }
        return StartInhibitChild();
    }

    void End() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_lockFd >= 0) {
            close(m_lockFd);
            m_lockFd = -1;
        }
        if (m_child > 0) {
            kill(-m_child, SIGTERM);
            close(m_childPipe);
            int status = 0;
            waitpid(m_child, &status, 0);
            m_child = 0;
            m_childPipe = -1;
        }
    }

private:
    // systemd-inhibit running cat on the read end of a pipe whose write end only this process
    // holds: cat ends, and systemd-inhibit with it, once the program closes the pipe or ends.
    bool StartInhibitChild() {
        const std::string program = OnPath(kInhibitProgram);
        if (program.empty()) return false;
        const std::string cat = OnPath("cat");
        if (cat.empty()) return false;
        const std::string what = std::string("--what=") + kWhat;
        const std::string mode = std::string("--mode=") + kMode;
        const std::string who = std::string("--who=") + kWho;
        const std::string why = std::string("--why=") + kWhy;
        const char* argv[] = {kInhibitProgram, what.c_str(), mode.c_str(), who.c_str(),
                              why.c_str(),     cat.c_str(),  nullptr};
        int pipeFds[2] = {-1, -1};
        if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
        const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (devNull < 0) {
            close(pipeFds[0]);
            close(pipeFds[1]);
            return false;
        }
        const pid_t parent = getpid();
        const pid_t child = fork();
        if (child == 0) {
            // Only async-signal-safe calls from here on. Its own process group, so that ending it
            // also ends the command it runs; its output never reaches the user's screen (where no
            // system bus answers it complains on standard error).
            setpgid(0, 0);
            if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(kChildFailed);
            if (dup2(pipeFds[0], STDIN_FILENO) < 0 || dup2(devNull, STDOUT_FILENO) < 0 ||
                dup2(devNull, STDERR_FILENO) < 0) {
                _exit(kChildFailed);
            }
            // A descriptor that already had its number (a program started with its standard
            // input closed) was not copied, and would still close on exec.
            for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) fcntl(fd, F_SETFD, 0);
            execve(program.c_str(), const_cast<char* const*>(argv), environ);
            _exit(kChildFailed);
        }
        if (child > 0) setpgid(child, child);  // also here, so that End never misses it
        close(pipeFds[0]);
        close(devNull);
        if (child < 0) {
            close(pipeFds[1]);
            return false;
        }
        m_child = child;
        m_childPipe = pipeFds[1];
        return true;
    }

    std::mutex m_mutex;
    int m_lockFd = -1;
    pid_t m_child = 0;
    int m_childPipe = -1;
};

}  // namespace

KeepAwakeBackend& PlatformKeepAwake() {
    static InhibitKeepAwake s_inhibit;
    return s_inhibit;
}

}  // namespace framework
