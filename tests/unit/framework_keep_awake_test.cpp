// Keeping the computer awake on Linux: logind's inhibitor lock, taken over the system bus (a
// private bus with a stand-in for logind here), is a descriptor that ends with the program
// however it ends; where no system bus answers, a systemd-inhibit child (a recording stand-in
// here) holds it, and neither it nor what it runs outlives the program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

// Sets (or with nullptr removes) an environment variable for the guard's life.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (m_had) m_saved = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvGuard() {
        if (m_had) {
            setenv(m_name.c_str(), m_saved.c_str(), 1);
        } else {
            unsetenv(m_name.c_str());
        }
    }

private:
    std::string m_name;
    std::string m_saved;
    bool m_had = false;
};

// Whether the other ends of the pipe whose read end this is are all closed, within waitMs.
bool PipeClosed(int readEnd, int waitMs) {
    pollfd p{readEnd, POLLIN, 0};
    return poll(&p, 1, waitMs) == 1 && (p.revents & POLLHUP) != 0;
}

// A process that takes the platform's keep-awake lock when told (after the test has set up what
// answers it), says whether it holds it, and then waits to be killed.
class Holder {
public:
    Holder() {
        if (pipe(m_go) != 0 || pipe(m_held) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            char c = 0;
            if (read(m_go[0], &c, 1) != 1) _exit(1);
            const char held = framework::PlatformKeepAwake().Begin() ? 'y' : 'n';
            if (write(m_held[1], &held, 1) != 1) _exit(1);
            for (;;) pause();
        }
    }
    ~Holder() {
        Kill();
        for (int fd : {m_go[0], m_go[1], m_held[0], m_held[1]}) {
            if (fd >= 0) close(fd);
        }
    }
    bool Started() const { return m_pid > 0; }
    // Tells it to take the lock; whether it holds it.
    bool Take() {
        const char c = 'g';
        if (write(m_go[1], &c, 1) != 1) return false;
        pollfd p{m_held[0], POLLIN, 0};
        char held = 0;
        return poll(&p, 1, 10000) == 1 && read(m_held[0], &held, 1) == 1 && held == 'y';
    }
    void Kill() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = 0;
    }

private:
    int m_go[2] = {-1, -1};
    int m_held[2] = {-1, -1};
    pid_t m_pid = 0;
};

// ---- Where no system bus answers: the systemd-inhibit child -------------------------------------

// A systemd-inhibit stand-in that records its arguments and process id, and runs its command (what
// follows the options) as the real one does, in a child with the same standard input.
class InhibitChildTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string script = m_folder.Write(
            "systemd-inhibit",
            "#!/bin/sh\n"
            "echo \"$@\" > \"" +
                m_folder.path() + "/args\"\n" + "echo $$ > \"" + m_folder.path() +
                "/inhibitor\"\n" +
                "while [ \"${1#--}\" != \"$1\" ]; do shift; done\nexec 3<&0\n\"$@\" <&3 3<&- &\n" +
                "echo $! > \"" + m_folder.path() + "/grandchild\"\n" + "wait\n");
        chmod(script.c_str(), 0755);
    }
    // The inhibitor's and its command's process ids, once both have started.
    bool Started(pid_t& inhibitor, pid_t& command) {
        if (!WaitFor([&] { return !ReadAll(m_folder / "grandchild").empty(); })) return false;
        inhibitor = std::stoi(ReadAll(m_folder / "inhibitor"));
        command = std::stoi(ReadAll(m_folder / "grandchild"));
        return Running(inhibitor) && Running(command);
    }

    testsupport::TempFolder m_folder;
    EnvGuard m_path{"PATH", (m_folder.path() + ":/usr/bin:/bin").c_str()};
    EnvGuard m_noBus{"DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + m_folder / "no-bus").c_str()};
};

TEST_F(InhibitChildTest, HoldsAnInhibitorChildAndEndsItWithWhatItStarted) {
    testsupport::ScopedTestServices services;  // the platform's keep-awake
    pid_t inhibitor = 0;
    pid_t command = 0;
    {
        framework::KeepAwake awake(true);
        EXPECT_TRUE(awake.Held());
        ASSERT_TRUE(Started(inhibitor, command));
        EXPECT_EQ(ReadAll(m_folder / "args"),
                  "--what=shutdown:sleep:idle --mode=block --who=270X firmware update "
                  "--why=Writing controller flash /usr/bin/cat\n");
    }
    EXPECT_TRUE(WaitFor([&] { return !Running(inhibitor) && !Running(command); }));
}

TEST_F(InhibitChildTest, AKilledProgramLeavesNoInhibitorBehind) {
    Holder holder;
    ASSERT_TRUE(holder.Started());
    ASSERT_TRUE(holder.Take());
    pid_t inhibitor = 0;
    pid_t command = 0;
    ASSERT_TRUE(Started(inhibitor, command));
    holder.Kill();
    EXPECT_TRUE(WaitFor([&] { return !Running(inhibitor); })) << "the inhibitor outlived it";
    EXPECT_TRUE(WaitFor([&] { return !Running(command); })) << "its command outlived it";
}

TEST_F(InhibitChildTest, WithoutSystemdInhibitNothingIsHeld) {
    EnvGuard path("PATH", m_folder.path().c_str());
    unlink((m_folder / "systemd-inhibit").c_str());
    testsupport::ScopedTestServices services;  // the platform's keep-awake
    framework::KeepAwake awake(true);
    EXPECT_FALSE(awake.Held());
}

// ---- logind's lock over the system bus -------------------------------------------------------

// A private message bus (dbus-daemon) with a stand-in for logind on it: its Inhibit call records
// its arguments and hands out the write end of a pipe, keeping the read end, as logind does.
class FakeLogind {
public:
    struct Call {
        std::string what, who, why, mode;
        int readEnd = -1;
    };

    explicit FakeLogind(const std::string& folder) : m_socket(folder + "/bus") {
        m_daemon = fork();
        if (m_daemon == 0) {
            const int devNull = open("/dev/null", O_RDWR);
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
            const std::string address = "--address=unix:path=" + m_socket;
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
                   address.c_str(), nullptr);
            _exit(127);
        }
    }
    ~FakeLogind() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_daemon > 0) {
            kill(m_daemon, SIGTERM);
            int status = 0;
            waitpid(m_daemon, &status, 0);
        }
        for (const Call& c : m_calls) close(c.readEnd);
    }
    std::string Address() const { return "unix:path=" + m_socket; }
    // Starts answering on the bus; false when no bus could be started.
    bool Start() {
        struct stat st {};
        if (m_daemon <= 0 || !WaitFor([&] { return stat(m_socket.c_str(), &st) == 0; })) {
            return false;
        }
        m_thread = std::thread([this] { Serve(); });
        return WaitFor([&] { return m_ready.load() != 0; }) && m_ready.load() > 0;
    }
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

private:
    static int Inhibit(sd_bus_message* m, void* self, sd_bus_error*) {
        const char* fields[4] = {};
        int r = sd_bus_message_read(m, "ssss", &fields[0], &fields[1], &fields[2], &fields[3]);
        if (r < 0) return r;
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return -errno;
        auto* logind = static_cast<FakeLogind*>(self);
        {
            std::lock_guard<std::mutex> lock(logind->m_mutex);
            logind->m_calls.push_back({fields[0], fields[1], fields[2], fields[3], ends[0]});
        }
        r = sd_bus_reply_method_return(m, "h", ends[1]);
        close(ends[1]);
        return r;
    }

    void Serve() {
        static const sd_bus_vtable kManager[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END};
        sd_bus* bus = nullptr;
        const bool up =
            sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, Address().c_str()) >= 0 &&
            sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
            sd_bus_request_name(bus, "org.freedesktop.login1", 0) >= 0 &&
            sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", kManager, this) >= 0;
        m_ready = up ? 1 : -1;
        while (up && !m_stop) {
            if (sd_bus_process(bus, nullptr) > 0) continue;
            sd_bus_wait(bus, 20'000);
        }
        sd_bus_flush_close_unref(bus);
    }

    std::string m_socket;
    pid_t m_daemon = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_ready{0};
    std::mutex m_mutex;
    std::vector<Call> m_calls;
};

TEST(KeepAwakeLinux, LogindsLockIsADescriptorThatEndsWithTheProgram) {
    if (system("command -v dbus-daemon >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "dbus-daemon is not installed: no private system bus can be started";
    }
    testsupport::TempFolder folder;
    FakeLogind logind(folder.path());
    EnvGuard bus("DBUS_SYSTEM_BUS_ADDRESS", logind.Address().c_str());
    // No systemd-inhibit to fall back on: the lock must come from the bus.
    EnvGuard path("PATH", folder.path().c_str());
    Holder holder;  // started before the stand-in's thread, so that it forks no threads
    ASSERT_TRUE(holder.Started());
    ASSERT_TRUE(logind.Start()) << "the private bus did not start";

    ASSERT_TRUE(holder.Take());
    ASSERT_EQ(logind.Calls().size(), 1u);
    const FakeLogind::Call call = logind.Calls()[0];
    EXPECT_EQ(call.what, "shutdown:sleep:idle");
    EXPECT_EQ(call.who, "270X firmware update");
    EXPECT_EQ(call.why, "Writing controller flash");
    EXPECT_EQ(call.mode, "block");
    EXPECT_FALSE(PipeClosed(call.readEnd, 0)) << "the lock ended while held";
    holder.Kill();
    EXPECT_TRUE(PipeClosed(call.readEnd, 5000)) << "the lock outlived a killed program";

    // In process: held until released.
    testsupport::ScopedTestServices services;  // the platform's keep-awake
    {
        framework::KeepAwake awake(true);
        EXPECT_TRUE(awake.Held());
        ASSERT_EQ(logind.Calls().size(), 2u);
        EXPECT_FALSE(PipeClosed(logind.Calls()[1].readEnd, 0));
    }
    EXPECT_TRUE(PipeClosed(logind.Calls()[1].readEnd, 5000));
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
