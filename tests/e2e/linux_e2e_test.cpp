// End-to-end tests of the Linux program: the real binary in temporary program folders copied
// from the demonstration folder (emulated PC with instant timing), or from the hardware folder
// against this machine's own /sys.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pci/controller_ids.h"
#include "tools/option_rom_builder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "vlm270fwupdate";
constexpr const char* kImageName = "VLM270_Option_ROM.rom";
constexpr const char* kMachineFile = "emulated-pc.conf";
constexpr int kRunLimitSeconds = 90;
constexpr std::size_t kImageBytes = 0x10000;

// Exit statuses of the program.
constexpr int kAllUpdated = 0;
constexpr int kControllerNotReady = 1;
constexpr int kImageNotFound = 2;
constexpr int kImageLoadFailed = 3;
constexpr int kHostNotReady = 5;
constexpr int kLicenceNotAccepted = 6;
constexpr int kLibraryOrRights = 7;
constexpr int kUnexpectedFailure = 8;
constexpr int kAnotherUpdate = 9;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& data, fs::perms perms) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
    fs::permissions(path, perms);
}

struct Outcome {
    int status = -1;  // exit status, or -1 when it did not exit by itself
    std::string out;
    std::string err;
    bool lineModeAfter = false;  // on a terminal: line mode and echo as before the run
};

// The machine file with every controller's chip at instant timing.
std::string Instant(const std::string& conf) {
    std::string out;
    std::istringstream lines(conf);
    std::string line;
    while (std::getline(lines, line)) {
        line = std::regex_replace(line, std::regex(" timing=[a-z]+"), "");
        if (line.rfind("controller", 0) == 0) {
            std::size_t comment = line.find('#');
            line.insert(comment == std::string::npos ? line.size() : comment, " timing=instant ");
        }
        out += line + "\n";
    }
    return out;
}

// A program folder of its own in a temporary folder: a copy of a built folder, writable by its
// owner only, with a recording systemctl first on PATH.
class ProgramFolder {
public:
    explicit ProgramFolder(const fs::path& from) {
        char pattern[] = "/tmp/vlm-e2e-XXXXXX";
        m_root = mkdtemp(pattern);
        fs::permissions(m_root, fs::perms(0755));
        m_dir = m_root / "program";
        fs::copy(from, m_dir, fs::copy_options::recursive);
        fs::permissions(m_dir, fs::perms(0755));
        for (const auto& e : fs::directory_iterator(m_dir)) {
            if (e.path().filename().string().rfind("flash-", 0) == 0) fs::remove(e.path());
        }
        fs::create_directory(m_root / "bin");
        fs::permissions(m_root / "bin", fs::perms(0755));
        WriteFile(
            m_root / "bin" / "systemctl",
            "#!/bin/sh\necho \"$*\" >> " + (m_root / "systemctl.calls").string() + "\nexit 0\n",
            fs::perms(0755));
        if (fs::exists(m_dir / kMachineFile)) {
            std::string conf = ReadFile(m_dir / kMachineFile);
            SetMachineFile(Instant(conf));
        }
    }
    ~ProgramFolder() {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    const fs::path& Dir() const { return m_dir; }
    fs::path Root() const { return m_root; }
    // More variables for the runs' environment ("NAME=value").
    std::vector<std::string> extraEnvironment;
    // Whether the emulator logs every register access to "access.log" beside the folder.
    bool accessLog = true;
    // Where Run sends standard output instead of the file "stdout" beside the folder.
    fs::path stdoutTo;
    void SetMachineFile(const std::string& text) {
        WriteFile(m_dir / kMachineFile, text, fs::perms(0644));
    }
    std::string SystemctlCalls() const { return ReadFile(m_root / "systemctl.calls"); }
    std::string AccessLog() const { return ReadFile(m_root / "access.log"); }
    // The emulated PC's record of host misuse (VLMIO_EMULATOR_VIOLATIONS), one line each.
    std::string Violations() const { return ReadFile(m_root / "violations.log"); }

    // The environment of a run: PATH with the recording systemctl first, the access log.
    std::vector<std::string> Environment() const {
        std::vector<std::string> env;
        env.push_back("PATH=" + (m_root / "bin").string() + ":/usr/sbin:/usr/bin:/sbin:/bin");
        if (accessLog) env.push_back("VLMIO_EMULATOR_LOG=" + (m_root / "access.log").string());
        env.push_back("VLMIO_EMULATOR_VIOLATIONS=" + (m_root / "violations.log").string());
        env.push_back("VLM270_EVENT_LOG=" + (m_root / "events.log").string());
        env.push_back("TERM=xterm-256color");
        env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
        for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
            if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
        }
        return env;
    }

    // Runs the program with standard input from /dev/null and the outputs captured.
    Outcome Run(const std::vector<std::string>& args, const std::string& user = "") const {
        std::vector<std::string> argv;
        if (!user.empty()) {
            for (const char* a :
                 {"setpriv", "--reuid", user.c_str(), "--regid", user.c_str(), "--clear-groups"}) {
                argv.push_back(a);
            }
        }
        argv.push_back((m_dir / kProgram).string());
        argv.insert(argv.end(), args.begin(), args.end());
        fs::path outFile = m_root / "stdout";
        fs::path errFile = m_root / "stderr";
        pid_t pid = fork();
        if (pid == 0) {
            int in = open("/dev/null", O_RDONLY);
            int out = open(stdoutTo.empty() ? outFile.c_str() : stdoutTo.c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            Exec(argv);
        }
        Outcome o;
        o.status = Wait(pid);
        o.out = ReadFile(outFile);
        o.err = ReadFile(errFile);
        return o;
    }

    // Starts the program silently; WaitFor gives its exit status. In a process group of its own,
    // a stop signal stops it whatever group the test runs in (the stop signals' default action
    // does nothing in a group without a parent outside it, as a test runner's may be).
    pid_t StartSilent(bool ownProcessGroup = false) const {
        pid_t pid = fork();
        if (pid == 0) {
            if (ownProcessGroup) setpgid(0, 0);
            int in = open("/dev/null", O_RDONLY);
            dup2(in, 0);
            Exec({(m_dir / kProgram).string(), "/s"});
        }
        return pid;
    }
    static int WaitFor(pid_t pid) { return Wait(pid); }

    // Starts the program with those arguments, standard input from /dev/null and its outputs in
    // the files "stdout" and "stderr" beside the folder (standard output on stdoutFd when one is
    // given); Finish waits for it and reads them.
    pid_t Start(const std::vector<std::string>& args, int stdoutFd = -1) const {
        const fs::path outFile = m_root / "stdout";
        const fs::path errFile = m_root / "stderr";
        std::vector<std::string> argv = {(m_dir / kProgram).string()};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_t pid = fork();
        if (pid == 0) {
            int in = open("/dev/null", O_RDONLY);
            int out = stdoutFd >= 0 ? stdoutFd
                                    : open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            Exec(argv);
        }
        return pid;
    }
    Outcome Finish(pid_t pid) const {
        Outcome o;
        o.status = Wait(pid);
        o.out = ReadFile(m_root / "stdout");
        o.err = ReadFile(m_root / "stderr");
        return o;
    }

    // Starts the program silently with its outputs in the files "stdout" and "stderr" beside the
    // folder.
    pid_t StartSilentQuietly(const std::vector<std::string>& args = {"/s"}) const {
        const fs::path outFile = m_root / "stdout";
        const fs::path errFile = m_root / "stderr";
        pid_t pid = fork();
        if (pid == 0) {
            int in = open("/dev/null", O_RDONLY);
            int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<std::string> argv = {(m_dir / kProgram).string()};
            argv.insert(argv.end(), args.begin(), args.end());
            Exec(argv);
        }
        return pid;
    }

    // Starts the program interactively with standard input and output on those descriptors and
    // standard error into the file "stderr" beside the folder.
    pid_t StartWithStreams(int input, int output) const {
        const fs::path errFile = m_root / "stderr";
        pid_t pid = fork();
        if (pid == 0) {
            int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(input, 0);
            dup2(output, 1);
            dup2(err, 2);
            Exec({(m_dir / kProgram).string()});
        }
        return pid;
    }

    // Runs the program on a pseudo-terminal; each time the screen shows the next expected text,
    // the keys that go with it are typed.
    Outcome RunOnTerminal(const std::vector<std::string>& args,
                          const std::vector<std::pair<std::string, std::string>>& script) const {
        std::vector<std::string> argv = {(m_dir / kProgram).string()};
        argv.insert(argv.end(), args.begin(), args.end());
        struct winsize size {};
        size.ws_col = 120;
        size.ws_row = 40;
        int master = -1;
        pid_t pid = forkpty(&master, nullptr, nullptr, &size);
        if (pid == 0) Exec(argv);
        Outcome o;
        std::size_t step = 0;
        std::size_t searchFrom = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunLimitSeconds);
        for (;;) {
            if (step < script.size()) {
                std::size_t at = o.out.find(script[step].first, searchFrom);
                if (at != std::string::npos) {
                    searchFrom = at + script[step].first.size();
                    std::string keys = script[step].second;
                    if (write(master, keys.data(), keys.size()) < 0) break;
                    ++step;
                    continue;
                }
            }
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                break;
            }
            struct pollfd p {
                master, POLLIN, 0
            };
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[4096];
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) break;  // the program has ended
            o.out.append(buffer, n);
        }
        o.status = Wait(pid);
        struct termios after {};
        o.lineModeAfter = tcgetattr(master, &after) == 0 && (after.c_lflag & ICANON) != 0 &&
                          (after.c_lflag & ECHO) != 0;
        close(master);
        return o;
    }

private:
    [[noreturn]] void Exec(const std::vector<std::string>& argv) const {
        std::vector<std::string> env = Environment();
        std::vector<char*> a;
        std::vector<char*> e;
        for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
        for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        e.push_back(nullptr);
        if (chdir(m_root.c_str()) != 0) _exit(126);
        execvpe(a[0], a.data(), e.data());
        _exit(127);
    }
    static int Wait(pid_t pid) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path m_root;
    fs::path m_dir;
};

const fs::path kDemo = VLM_DEMO_DIR;
const fs::path kHardware = VLM_HARDWARE_DIR;

// Each flash file holds the image at its start, the rest erased.
void ExpectFlashHoldsImage(const ProgramFolder& folder, const std::string& flashFile) {
    std::string image = ReadFile(folder.Dir() / kImageName);
    std::string flash = ReadFile(folder.Dir() / flashFile);
    ASSERT_EQ(image.size(), kImageBytes);
    ASSERT_GE(flash.size(), image.size()) << flashFile;
    EXPECT_TRUE(flash.compare(0, image.size(), image) == 0) << flashFile << " differs";
    EXPECT_EQ(flash.find_first_not_of('\xff', image.size()), std::string::npos) << flashFile;
}

const char* const kFlashFiles[] = {"flash-02-00-0.bin", "flash-03-00-0.bin"};

// The sample of that kind, as the sample maker writes it.
std::string Sample(const char* kind) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(romtools::MakeSample(kind, bytes)) << kind;
    return std::string(bytes.begin(), bytes.end());
}

TEST(LinuxProgram, HelpAndVersionTouchNothingAndNeedNoRights) {
    ProgramFolder folder(kDemo);
    for (const char* user : {"", "65534"}) {
        Outcome help = folder.Run({"--help"}, user);
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find("Usage: vlm270fwupdate [-s | /s]"), std::string::npos) << help.out;
        EXPECT_NE(help.out.find("Exit status:"), std::string::npos);
        Outcome version = folder.Run({"/s", "--version"}, user);
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, "vlm270fwupdate 1.0.2.0\n");
    }
    EXPECT_EQ(folder.AccessLog(), "");
    for (const char* f : kFlashFiles) EXPECT_FALSE(fs::exists(folder.Dir() / f));
}

TEST(LinuxProgram, OthersThanRootAreTurnedAwayBeforeAnythingIsTouched) {
    ProgramFolder folder(kDemo);
    Outcome o = folder.Run({"/s"}, "65534");
    EXPECT_EQ(o.status, kLibraryOrRights);
    EXPECT_NE(o.err.find("needs administrator rights: run it with sudo"), std::string::npos)
        << o.err;
    EXPECT_EQ(folder.AccessLog(), "");
}

TEST(LinuxProgram, InteractiveRunWithoutATerminalSuggestsSilentMode) {
    ProgramFolder folder(kDemo);
    for (const std::vector<std::string>& args : {std::vector<std::string>{}}) {
        Outcome o = folder.Run(args);
        EXPECT_EQ(o.status, kLicenceNotAccepted);
        EXPECT_NE(o.err.find("needs a terminal"), std::string::npos) << o.err;
        EXPECT_NE(o.err.find("/s"), std::string::npos);
    }
    EXPECT_EQ(folder.AccessLog(), "");
}

TEST(LinuxProgram, SilentRunUpdatesEveryControllerAndPrintsNothing) {
    ProgramFolder folder(kDemo);
    for (const char* commandLine : {"/s", "/S", "_/s_"}) {
        SCOPED_TRACE(commandLine);
        Outcome o = folder.Run({commandLine});
        EXPECT_EQ(o.status, kAllUpdated) << o.err;
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "");
        for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
    }
    EXPECT_EQ(folder.SystemctlCalls(), "");
    EXPECT_EQ(folder.Violations(), "");
}

// The two parts whose writing the updater had to mend: both updated; the M45PE10's only misuse
// is the status write of each unprotect, which the chip (having no status register) rejects.
TEST(LinuxProgram, TheMendedRowsAreUpdated) {
    ProgramFolder folder(kDemo);
    folder.SetMachineFile(
        "controller 02:00.0 part=M45PE10 flash=flash-02-00-0.bin timing=instant\n"
        "controller 03:00.0 part=AT25F512A(B) flash=flash-03-00-0.bin timing=instant\n");
    Outcome o = folder.Run({"/s"});
    EXPECT_EQ(o.status, kAllUpdated) << o.err;
    for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
    const std::regex rejected(
        "02:00\\.0 access [0-9]+: rejected-command: status write 0x01: the chip has none\n"
        "02:00\\.0 access [0-9]+: rejected-command: status write 0x01: the chip has none\n");
    EXPECT_TRUE(std::regex_match(folder.Violations(), rejected)) << folder.Violations();
}

// Waits until the run has begun writing a flash (a write enable reached a controller); false when
// it does not within the run limit.
bool WaitUntilWriting(const ProgramFolder& folder) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunLimitSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (folder.AccessLog().find(" f0 4 00000006\n") != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

TEST(LinuxProgram, CloseSignalsWaitForTheRunSoNoFlashIsCutShort) {
    // Runs side by side, each sent one of the close signals while it writes.
    const int signals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
    std::vector<std::unique_ptr<ProgramFolder>> folders;
    std::vector<pid_t> pids;
    for (std::size_t i = 0; i < std::size(signals); ++i) {
        folders.push_back(std::make_unique<ProgramFolder>(kDemo));
        pids.push_back(folders.back()->StartSilent());
    }
    // Each signal comes once its run is writing a flash.
    for (std::size_t i = 0; i < pids.size(); ++i) {
        ASSERT_TRUE(WaitUntilWriting(*folders[i]));
        kill(pids[i], signals[i]);
    }
    for (std::size_t i = 0; i < pids.size(); ++i) {
        SCOPED_TRACE(signals[i]);
        EXPECT_EQ(ProgramFolder::WaitFor(pids[i]), kAllUpdated);
        for (const char* f : kFlashFiles) ExpectFlashHoldsImage(*folders[i], f);
        EXPECT_EQ(folders[i]->Violations(), "");
    }
}

// Two runs at once on one machine: the second is turned away before it touches anything, and
// the first writes its image undisturbed.
TEST(LinuxProgram, ASecondRunAtOnceIsTurnedAwayAndTheFirstFinishes) {
    ProgramFolder folder(kDemo);
    const pid_t first = folder.StartSilent();
    ASSERT_TRUE(WaitUntilWriting(folder));  // the first holds the lock while it writes
    Outcome second = folder.Run({"/s"});
    EXPECT_EQ(second.status, kAnotherUpdate) << second.err;
    EXPECT_NE(second.err.find("another update is in progress"), std::string::npos) << second.err;
    EXPECT_EQ(ProgramFolder::WaitFor(first), kAllUpdated);
    for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
    // Once the first has ended, the next run goes ahead.
    EXPECT_EQ(folder.Run({"/s"}).status, kAllUpdated);
}

// Waits for a change of the process's state: its exit or a stop. The raw status, or -1 when
// nothing changed within limitMs.
int WaitForChange(pid_t pid, int limitMs) {
    for (int waited = 0; waited <= limitMs; waited += 20) {
        int raw = 0;
        if (waitpid(pid, &raw, WNOHANG | WUNTRACED) == pid) return raw;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

// Ctrl-Z (SIGTSTP) while flashes are written: the program goes on, and stops only once the
// writes are over; continued, it ends as the run ended.
TEST(LinuxProgram, AStopRequestWaitsForTheEndOfTheWrites) {
    ProgramFolder folder(kDemo);
    const pid_t pid = folder.StartSilent(true);
    ASSERT_TRUE(WaitUntilWriting(folder));
    kill(pid, SIGTSTP);
    const std::size_t accessesAtRequest = folder.AccessLog().size();
    int raw = WaitForChange(pid, 300);
    EXPECT_EQ(raw, -1) << "the process stopped while it wrote";
    if (raw == -1) raw = WaitForChange(pid, kRunLimitSeconds * 1000);
    ASSERT_NE(raw, -1);
    EXPECT_TRUE(WIFSTOPPED(raw));
    // The writes went on after the request.
    EXPECT_GT(folder.AccessLog().size(), accessesAtRequest);
    kill(pid, SIGCONT);
    EXPECT_EQ(ProgramFolder::WaitFor(pid), kAllUpdated);
    for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
}

// A flash file the emulated PC cannot write back at the end is flash lost: the run ends with
// status 8 and says why, whatever was in the way is left as it was, and the other flash is
// written.
TEST(LinuxProgram, AFlashFileThatCannotBeWrittenBackFailsTheRun) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> block;  // puts something in the way at that path
    } cases[] = {
        {"a folder", [](const fs::path& p) { fs::create_directory(p); }},
        {"a file", [](const fs::path& p) { WriteFile(p, "someone's file", fs::perms(0644)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder(kDemo);
        const fs::path blocked = folder.Dir() / (std::string(kFlashFiles[0]) + ".tmp");
        c.block(blocked);
        Outcome o = folder.Run({"/s"});
        EXPECT_EQ(o.status, kUnexpectedFailure) << o.err;
        EXPECT_NE(o.err.find((folder.Dir() / kFlashFiles[0]).string() +
                             ": the flash file could not be written back (" + blocked.string() +
                             " is in the way: remove it if no run is using it)\n"),
                  std::string::npos)
            << o.err;
        EXPECT_NE(o.err.find("The emulated PC could not write all its flash files back"),
                  std::string::npos)
            << o.err;
        EXPECT_TRUE(fs::exists(blocked));
        if (fs::is_regular_file(blocked)) {
            EXPECT_EQ(ReadFile(blocked), "someone's file");
        }
        ExpectFlashHoldsImage(folder, kFlashFiles[1]);
    }
}

// A flash file locked by another run of the emulated PC (started from another folder, say) ends
// this run as a library that would not load, naming the file, before anything is touched.
TEST(LinuxProgram, AFlashFileInUseByAnotherRunIsNotTouched) {
    ProgramFolder folder(kDemo);
    const fs::path flash = folder.Dir() / kFlashFiles[1];
    WriteFile(flash, "another run's flash", fs::perms(0644));
    const int fd = open(flash.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    Outcome o = folder.Run({"/s"});
    close(fd);
    EXPECT_EQ(o.status, kLibraryOrRights) << o.err;
    EXPECT_NE(o.err.find(flash.string() +
                         ": the flash file is in use by another run of the emulated PC\n"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(ReadFile(flash), "another run's flash");
    EXPECT_EQ(folder.AccessLog(), "");
}

// A machine file that is not a bounded regular text file ends the run as a library that would
// not load (status 7), with the file named, and never waits on it or reads it without bound.
TEST(LinuxProgram, MachineFilesThatAreNotFilesEndTheRunAsALibraryThatWouldNotLoad) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;  // makes the machine file at that path
        std::string message;                        // after the file's name
    } cases[] = {
        {"a folder", [](const fs::path& p) { fs::create_directory(p); },
         ": not a regular file, so not a machine file\n"},
        {"a pipe with no writer", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); },
         ": not a regular file, so not a machine file\n"},
        {"a link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
         ": not a regular file, so not a machine file\n"},
        {"too long",
         [](const fs::path& p) {
             WriteFile(p, std::string(1024 * 1024 + 1, '#'), fs::perms(0644));
         },
         ": more than 1048576 bytes, too long for a machine file\n"},
        {"a NUL byte",
         [](const fs::path& p) {
             const char text[] = "# demo\ncontroller 02:00.0 part=0\0 flash=f.bin\n";
             WriteFile(p, std::string(text, sizeof text - 1), fs::perms(0644));
         },
         ":2: a NUL byte (a machine file is text)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder(kDemo);
        const fs::path conf = folder.Dir() / kMachineFile;
        fs::remove(conf);
        c.make(conf);
        const pid_t pid = folder.StartSilentQuietly();
        int raw = WaitForChange(pid, kRunLimitSeconds * 1000);
        if (raw == -1) {
            kill(pid, SIGKILL);
            ProgramFolder::WaitFor(pid);
        }
        ASSERT_NE(raw, -1) << "the run did not end";
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), kLibraryOrRights);
        const std::string err = ReadFile(folder.Root() / "stderr");
        EXPECT_NE(err.find(conf.string() + c.message), std::string::npos) << err;
        EXPECT_EQ(folder.AccessLog(), "");
    }
}

// Waits until the run has begun programming a flash (a page program at address 0 reached a
// controller, after its erase); false when it does not within the run limit.
bool WaitUntilProgramming(const ProgramFolder& folder) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunLimitSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string log = folder.AccessLog();
        for (const char* line : {"W 02:00.0 f0 4 00000002\n", "W 03:00.0 f0 4 00000002\n"}) {
            if (log.find(line) != std::string::npos) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// SIGKILL cannot be held off: a run killed while it writes leaves in each flash file what the
// chip held at that moment (erased, partly programmed), as a real flash would be left, and the
// next run puts the image in place (the update lock goes with the killed process).
TEST(LinuxProgram, ARunKilledWhileWritingIsRecoveredByTheNextRun) {
    ProgramFolder folder(kDemo);
    const pid_t pid = folder.StartSilent();
    ASSERT_TRUE(WaitUntilProgramming(folder));
    kill(pid, SIGKILL);
    int raw = 0;
    ASSERT_EQ(waitpid(pid, &raw, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(raw)) << "the run ended before it was killed";
    // Each flash file holds erased bytes and bytes of the image only: the old firmware is gone
    // from at least the one being programmed.
    const std::string image = ReadFile(folder.Dir() / kImageName);
    std::size_t erasedOrImage = 0;
    for (const char* f : kFlashFiles) {
        SCOPED_TRACE(f);
        const std::string flash = ReadFile(folder.Dir() / f);
        bool onlyErasedOrImage = !flash.empty();
        for (std::size_t i = 0; i < flash.size() && onlyErasedOrImage; ++i) {
            onlyErasedOrImage = flash[i] == '\xff' || (i < image.size() && flash[i] == image[i]);
        }
        erasedOrImage += onlyErasedOrImage ? 1 : 0;
    }
    EXPECT_GE(erasedOrImage, 1u);
    Outcome again = folder.Run({"/s"});
    EXPECT_EQ(again.status, kAllUpdated) << again.err;
    for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
}

std::size_t Count(const std::string& haystack, const std::string& needle);

// Waits until the access log holds the line at least `times` times; false when it does not
// within the run limit.
bool WaitForAccess(const ProgramFolder& folder, const std::string& line, std::size_t times) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunLimitSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Count(folder.AccessLog(), line) >= times) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A run killed in the middle of a flash command leaves the chip as it was at that moment (chip
// selected with the command's bytes received, an erase still running), and the emulated PC
// keeps that from one process to the next as a real chip does. The next run still identifies
// the part (MX25L(V)512(C), the only part that the first identification command finds, which
// an open read would answer with flash data) and updates it.
TEST(LinuxProgram, ARunKilledInTheMiddleOfAFlashCommandLeavesAChipTheNextRunIdentifies) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* line;  // killed once the access log holds it `times` times
        std::size_t times;
        bool datasheetTiming;
    };
    const Case cases[] = {
        {"a read", {"--verify"}, "W 02:00.0 f4 1 00000024\n", 3001, false},
        {"a page program", {"/s"}, "W 02:00.0 f4 1 0000002c\n", 20001, false},
        {"an erase", {"/s"}, "W 02:00.0 f0 4 00000060\n", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder(kDemo);
        // Datasheet timing keeps the erase running; otherwise 50 microseconds an access on the
        // first controller keep the run going long after the kill is due, also under a sanitizer
        // on a loaded machine.
        const std::string conf = c.datasheetTiming ? ReadFile(kDemo / kMachineFile)
                                                   : ReadFile(folder.Dir() / kMachineFile);
        folder.SetMachineFile(
            c.datasheetTiming ? conf
                              : std::regex_replace(conf, std::regex("(controller 02:00.0[^\n]*)"),
                                                   "$1 fault=slow:0.05"));
        const pid_t pid = folder.StartSilentQuietly(c.args);
        const bool reached = WaitForAccess(folder, c.line, c.times);
        kill(pid, SIGKILL);
        int raw = 0;
        ASSERT_EQ(waitpid(pid, &raw, 0), pid);
        ASSERT_TRUE(reached);
        ASSERT_TRUE(WIFSIGNALED(raw)) << "the run ended before it was killed";
        folder.SetMachineFile(conf);  // the next runs at full speed; the chips keep their state
        Outcome list = folder.Run({"--list"});
        EXPECT_EQ(list.status, kAllUpdated) << list.out << list.err;
        EXPECT_NE(list.out.find("flash: MXIC MX25L(V)512(C)"), std::string::npos) << list.out;
        Outcome update = folder.Run({"/s"});
        EXPECT_EQ(update.status, kAllUpdated) << update.err;
        for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
    }
}

// The interactive run's output piped into a reader that goes away (a pager that quit): the run
// goes on to its end instead of dying of SIGPIPE in the middle of a write.
TEST(LinuxProgram, AClosedOutputDoesNotEndTheRun) {
    ProgramFolder folder(kDemo);
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    // Only the program's own ends reach it: the reader's going must be seen.
    ASSERT_EQ(fcntl(master, F_SETFD, FD_CLOEXEC), 0);
    ASSERT_EQ(fcntl(slave, F_SETFD, FD_CLOEXEC), 0);
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const pid_t pid = folder.StartWithStreams(slave, out[1]);
    close(slave);
    close(out[1]);
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunLimitSeconds);
    bool answered = false;
    while (std::chrono::steady_clock::now() < deadline) {
        struct pollfd p {
            out[0], POLLIN, 0
        };
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<std::size_t>(n));
        if (!answered && seen.find("Accept the licence agreement? [y/N]") != std::string::npos) {
            ASSERT_EQ(write(master, "y\r", 2), 2);
            answered = true;
        }
        if (answered && seen.find("270X 1:") != std::string::npos) break;
    }
    // The reader goes while the flashes are written; the end of input later cancels the
    // restart question.
    ASSERT_TRUE(WaitUntilWriting(folder)) << seen;
    close(out[0]);
    close(master);
    EXPECT_EQ(ProgramFolder::WaitFor(pid), kAllUpdated) << seen;
    for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
}

TEST(LinuxProgram, FailureEndingsPrintTheirMessageAndExitStatus) {
    struct Case {
        const char* name;
        std::function<void(ProgramFolder&)> prepare;
        int status;
        std::string message;
    } cases[] = {
        {"no controller", [](ProgramFolder& f) { f.SetMachineFile("device 00:1f.2 8086:2922\n"); },
         kControllerNotReady, "vlm270fwupdate: 270X SATA/PATA Controller is not ready\n"},
        {"no image", [](ProgramFolder& f) { fs::remove(f.Dir() / kImageName); }, kImageNotFound,
         "Error: Can't Find Firmware file(*.rom) !\n"},
        {"image too long",
         [](ProgramFolder& f) {
             WriteFile(f.Dir() / kImageName, std::string(0x20001, '\x5a'), fs::perms(0644));
         },
         kImageLoadFailed, "Open Frimware bin file Failed!!strFwFullName["},
        {"empty image",
         [](ProgramFolder& f) { WriteFile(f.Dir() / kImageName, "", fs::perms(0644)); },
         kImageLoadFailed, "Open Frimware bin file Failed!!strFwFullName["},
        {"a controller fails",
         [](ProgramFolder& f) {
             f.SetMachineFile(
                 "controller 02:00.0 part=M25P10A flash=flash-02-00-0.bin timing=instant\n"
                 "controller 03:00.0 part=SST25VF010A flash=flash-03-00-0.bin timing=instant "
                 "fault=erase-fails\n");
         },
         kHostNotReady,
         "vlm270fwupdate: Your Host Device is not ready, Firmware Update Failed!!!, Please "
         "reboot your PC and try again!!!\n"},
        {"library writable by others",
         [](ProgramFolder& f) { fs::permissions(f.Dir() / "libvlmio.so", fs::perms(0777)); },
         kLibraryOrRights, "libvlmio.so is refused"},
        {"folder writable by others",
         [](ProgramFolder& f) { fs::permissions(f.Dir(), fs::perms(0777)); }, kLibraryOrRights,
         "libvlmio.so is refused"},
        {"folder owned by another user",
         [](ProgramFolder& f) { ASSERT_EQ(chown(f.Dir().c_str(), 65534, 65534), 0); },
         kLibraryOrRights, "is owned by user 65534, not by root"},
        {"library a link out of the folder into one anyone may write",
         [](ProgramFolder& f) {
             fs::create_directory(f.Root() / "open");
             fs::permissions(f.Root() / "open", fs::perms(0777));
             fs::rename(f.Dir() / "libvlmio.so", f.Root() / "open" / "libvlmio.so");
             fs::create_symlink(f.Root() / "open" / "libvlmio.so", f.Dir() / "libvlmio.so");
         },
         kLibraryOrRights, "libvlmio.so is refused: group or others may write to its folder"},
        {"library missing", [](ProgramFolder& f) { fs::remove(f.Dir() / "libvlmio.so"); },
         kLibraryOrRights, "libvlmio.so was not found"},
        {"bad machine file",
         [](ProgramFolder& f) { f.SetMachineFile("# demo\ncontroller 02:00.0 part=NoSuchPart\n"); },
         kLibraryOrRights, std::string(kMachineFile) + ":2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder(kDemo);
        c.prepare(folder);
        Outcome o = folder.Run({"/s"});
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(folder.SystemctlCalls(), "");
    }
}

TEST(LinuxProgram, ImageLoadFailureIsAlsoWrittenToTheEventLog) {
    ProgramFolder folder(kDemo);
    WriteFile(folder.Dir() / kImageName, std::string(0x20001, '\x5a'), fs::perms(0644));
    Outcome o = folder.Run({"/s"});
    EXPECT_EQ(o.status, kImageLoadFailed);
    std::string events = ReadFile(folder.Root() / "events.log");
    EXPECT_NE(events.find("CVLM270FWUpdateDlg::RunFirmwareUpgrade:758:   Open Frimware bin file "
                          "Failed!!strFwFullName[" +
                          (folder.Dir() / kImageName).string() + "], (-4)"),
              std::string::npos)
        << events;
}

// A copy of the event log that cannot be written (a pipe nobody reads) never holds the run.
TEST(LinuxProgram, AnEventLogPipeWithNoReaderDoesNotHoldTheRun) {
    ProgramFolder folder(kDemo);
    folder.SetMachineFile(
        "controller 02:00.0 part=M25P10A flash=flash-02-00-0.bin timing=instant "
        "fault=erase-fails\n");
    ASSERT_EQ(mkfifo((folder.Root() / "events.log").c_str(), 0600), 0);
    pid_t pid = folder.StartSilent();
    int status = -1;
    for (int waited = 0; waited < 300; ++waited) {  // 30 s at most
        int raw = 0;
        if (waitpid(pid, &raw, WNOHANG) == pid) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (status == -1) {
        kill(pid, SIGKILL);
        ProgramFolder::WaitFor(pid);
    }
    EXPECT_EQ(status, kHostNotReady);
}

TEST(LinuxProgram, InteractiveRunOnATerminalAnsweredRestartLater) {
    ProgramFolder folder(kDemo);
    Outcome o = folder.RunOnTerminal(
        {}, {{"Accept the licence agreement? [y/N]", "y\r"}, {"Restart now? [Y/n]", "n\r"}});
    EXPECT_EQ(o.status, kAllUpdated) << o.out;
    EXPECT_TRUE(o.lineModeAfter);
    EXPECT_GT(o.out.rfind("\x1b[?25h"), o.out.rfind("\x1b[?25l"));  // the cursor shown again
    EXPECT_NE(o.out.find("License Agreement"), std::string::npos);
    EXPECT_NE(o.out.find("Velmora 270 Firmware Upgrade Tool Ver 1.0.2.0"), std::string::npos);
    for (const char* name : {"270X 1:", "270X 2:"}) {
        EXPECT_NE(o.out.find(name), std::string::npos) << name;
    }
    EXPECT_NE(o.out.find("Bus: 02 Device: 00 Function: 00"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("Bus: 03 Device: 00 Function: 00"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("MXIC:[MX25L(V)512(C)]"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("] 100%"), std::string::npos);
    // Blue job bars, in the 16 standard colours: the terminal does not say it has more.
    EXPECT_NE(o.out.find("\x1b[34;44m#"), std::string::npos);
    EXPECT_EQ(o.out.find("\x1b[38;2;"), std::string::npos);
    // The run names its image.
    EXPECT_NE(o.out.find("Image: " + (folder.Dir() / kImageName).string()), std::string::npos);
    EXPECT_NE(o.out.find("Firmware Updated Successful!!"), std::string::npos);
    EXPECT_EQ(o.out.find("power-cycled"), std::string::npos);
    for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
    EXPECT_EQ(folder.SystemctlCalls(), "");
    EXPECT_EQ(folder.Violations(), "");
}

// Ctrl-C while the flashes are written: the run goes on to its end, and then no restart is
// offered; the window said each controller's step and its outcome in words.
TEST(LinuxProgram, InteractiveRunClosedWithCtrlCIsNotRestarted) {
    ProgramFolder folder(kDemo);
    Outcome o = folder.RunOnTerminal(
        {}, {{"Accept the licence agreement? [y/N]", "y\r"}, {"attempt 1 of 3", "\x03"}});
    EXPECT_EQ(o.status, kAllUpdated) << o.out;
    EXPECT_NE(o.out.find("Closing: an update in progress is finished first."), std::string::npos);
    EXPECT_EQ(o.out.find("Restart now?"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("The update was asked to close: this computer was not restarted."),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("] 100% updated"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("written and verified 65,536 bytes, attempt 1 of 3"), std::string::npos);
    for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
    EXPECT_EQ(folder.SystemctlCalls(), "");
}

// A run that wrote nothing (no controller) asks no restart question: Enter typed at once
// restarts nothing.
TEST(LinuxProgram, InteractiveRunThatWroteNothingAsksNoRestart) {
    ProgramFolder folder(kDemo);
    folder.SetMachineFile("device 00:1f.2 8086:2922\n");
    Outcome o = folder.RunOnTerminal(
        {}, {{"Accept the licence agreement? [y/N]", "y\r"}, {"Press Enter", "\r"}});
    EXPECT_EQ(o.status, kControllerNotReady) << o.out;
    EXPECT_EQ(o.out.find("Restart now?"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("No flash was written: this computer was not restarted."),
              std::string::npos)
        << o.out;
    EXPECT_EQ(folder.SystemctlCalls(), "");
}

TEST(LinuxProgram, InteractiveRestartNowPowerCyclesTheEmulatedPcOnly) {
    ProgramFolder folder(kDemo);
    folder.extraEnvironment = {"COLORTERM=truecolor"};
    Outcome o = folder.RunOnTerminal({}, {{"Accept the licence agreement? [y/N]", "y\r"},
                                          {"Restart now? [Y/n]", "\r"},
                                          {"Press Enter", "\r"}});
    EXPECT_EQ(o.status, kAllUpdated) << o.out;
    EXPECT_NE(o.out.find("\x1b[38;2;50;50;255;"), std::string::npos);  // the dialog's own blue
    EXPECT_NE(o.out.find("power-cycled"), std::string::npos) << o.out;
    for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
    EXPECT_EQ(folder.Violations(), "");
    EXPECT_EQ(folder.SystemctlCalls(), "");  // this computer was never asked to restart
}

TEST(LinuxProgram, LicenceCancelledTouchesNoRegister) {
    for (const char* keys : {"n\r", "\x1b", "\r", "\x03"}) {  // no, Escape, Enter, Ctrl-C
        ProgramFolder folder(kDemo);
        Outcome o = folder.RunOnTerminal({}, {{"Accept the licence agreement? [y/N]", keys}});
        EXPECT_EQ(o.status, kLicenceNotAccepted) << o.out;
        EXPECT_TRUE(o.lineModeAfter);
        EXPECT_EQ(folder.AccessLog(), "");
        for (const char* f : kFlashFiles) EXPECT_FALSE(fs::exists(folder.Dir() / f));
    }
}

// Runs the program of the folder on this computer's own buses with the given arguments, its
// outputs into "stdout" and "stderr" beside the folder, every open traced into `trace` when that
// is named; gives its exit status. This computer's update lock is real there: a run refused
// because another test or program holds the lock at that moment is run again once it is free,
// for up to two minutes.
int RunOnThisMachine(const ProgramFolder& folder, const std::string& args, const fs::path& trace) {
    std::string command = "cd '" + folder.Root().string() + "' && env -i";
    for (const std::string& e : folder.Environment()) command += " '" + e + "'";
    if (!trace.empty()) command += " strace -f -qq -e trace=openat -o '" + trace.string() + "'";
    command += " '" + (folder.Dir() / kProgram).string() + "' " + args + " >stdout 2>stderr";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    for (;;) {
        int status = std::system(command.c_str());
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (code != kAnotherUpdate || std::chrono::steady_clock::now() > deadline) return code;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

TEST(LinuxProgram, SysfsLibraryOnThisMachineFindsNoControllerAndWritesNothing) {
    if (!fs::exists("/sys/bus/pci/devices")) GTEST_SKIP() << "no /sys/bus/pci here";
    ProgramFolder folder(kHardware);
    WriteFile(folder.Dir() / kImageName, ReadFile(kDemo / kImageName), fs::perms(0644));
    // Every open of a configuration file is recorded: none may ask for writing.
    fs::path trace = folder.Root() / "trace";
    bool traced = std::system("strace -V >/dev/null 2>&1") == 0;
    Outcome o;
    o.status = RunOnThisMachine(folder, "/s", traced ? trace : fs::path());
    o.err = ReadFile(folder.Root() / "stderr");
    EXPECT_EQ(o.status, kControllerNotReady) << o.err;
    EXPECT_NE(o.err.find("270X SATA/PATA Controller is not ready"), std::string::npos) << o.err;
    if (traced) {
        std::string opens = ReadFile(trace);
        EXPECT_NE(opens.find("/config"), std::string::npos) << "the walk read nothing?";
        std::regex written("/config\"[^\\n]*O_(WRONLY|RDWR)");
        EXPECT_FALSE(std::regex_search(opens, written)) << opens;
    }
}

// ---- The administrator's options ---------------------------------------------------------

constexpr int kUsageError = 64;

// The whole file's SHA-256 as sha256sum prints it.
std::string Sha256Of(const fs::path& file) {
    std::string cmd = "sha256sum '" + file.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    char digest[65] = {};
    if (!pipe || std::fread(digest, 1, 64, pipe.get()) != 64) return {};
    return digest;
}

std::size_t Count(const std::string& haystack, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(LinuxProgram, ArgumentsThatAreNotOptionsAreUsageErrorsBeforeAnythingIsTouched) {
    ProgramFolder folder(kDemo);
    const std::vector<std::vector<std::string>> cases = {
        {"--dry-run"},
        {"-y"},
        {"-"},
        {"--image"},
        {"--controller", "2:0.0"},
        {"--controller", "02:20.0"},
        {"--list", "--verify"},
        {"--json"},
        {"-s", "/x"},
        {"--list", "/s"},
        {"/s", "/x"},
        {"/s/x"},
        {"new.rom"},  // never an interactive update with the folder's image
        {"--backup", (folder.Root() / "missing").string(), "-s"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.front() + (args.size() > 1 ? " " + args[1] : ""));
        for (const char* user : {"", "65534"}) {  // also before the administrator check
            Outcome o = folder.Run(args, user);
            EXPECT_EQ(o.status, kUsageError) << o.err;
            EXPECT_NE(o.err.find("Usage: vlm270fwupdate"), std::string::npos) << o.err;
            EXPECT_EQ(o.out, "");
        }
    }
    EXPECT_EQ(folder.AccessLog(), "");
    for (const char* f : kFlashFiles) EXPECT_FALSE(fs::exists(folder.Dir() / f));
}

TEST(LinuxProgram, DashSAndSilentAreSpellingsOfSlashS) {
    ProgramFolder folder(kDemo);
    for (const char* option : {"-s", "--silent"}) {
        SCOPED_TRACE(option);
        Outcome o = folder.Run({option});
        EXPECT_EQ(o.status, kAllUpdated) << o.err;
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "");
        for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
    }
    EXPECT_EQ(folder.Violations(), "");
}

// --list reads identifiers and flash contents, nothing else: every register write goes to a
// found controller's bridge and is a read or identification command or a transfer; beyond the
// buses the update walks only identifier words are read. It also warns about what the update
// leaves out.
TEST(LinuxProgram, ListReadsOnlyIdentifiersAndFlashAndWarnsAboutWhatIsLeftOut) {
    ProgramFolder folder(kDemo);
    // In the walk's order: 02, 03, 05, 06 (not identified), then 07, a fifth; 20 is beyond it.
    folder.SetMachineFile(
        "controller 02:00.0 part=MX25L(V)512(C) flash=flash-02-00-0.bin timing=instant\n"
        "controller 03:00.0 part=SST25VF512X flash=flash-03-00-0.bin timing=instant\n"
        "controller 05:00.0 part=AT25F512A(B) flash=flash-05-00-0.bin timing=instant\n"
        "controller 06:00.0 part=none timing=instant\n"
        "controller 07:00.0 part=M25P10A timing=instant\n"
        "controller 20:00.0 part=M25P10A timing=instant\n");
    ASSERT_EQ(folder.Run({"--list"}).status, 5);  // the emulated chips get their flash files
    std::map<std::string, std::string> before;
    for (const auto& e : fs::directory_iterator(folder.Dir())) {
        if (e.path().filename().string().rfind("flash-", 0) == 0) {
            before[e.path().filename()] = ReadFile(e.path());
        }
    }
    fs::remove(folder.Root() / "access.log");

    Outcome o = folder.Run({"--list"});
    // 06:00.0 answers no identification: it could not be updated.
    EXPECT_EQ(o.status, 5) << o.err;
    EXPECT_NE(o.out.find("0000:02:00.0  270X identifier row 1 (1f7c:2700)\n"
                         "    flash: MXIC MX25L(V)512(C), 64 KiB\n"
                         "    identification: c2 20 10 (command 9f)\n"),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("0000:06:00.0  270X identifier row 1 (1f7c:2700)\n"
                         "    flash: flash part not identified\n"
                         "    identification: ff ff ff (command 9f)\n"),
              std::string::npos)
        << o.out;
    // The chip answers 0x15 with two bytes; the third is the idle line.
    EXPECT_NE(o.out.find("flash: ATMEL AT25F512A(B), 64 KiB\n    identification: 1f 65 ff "
                         "(command 15)"),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("flash: SST SST25VF512X, 64 KiB"), std::string::npos) << "not 512 KiB";
    // Each controller ends with the update's verdict of it, the one its JSON result gives.
    EXPECT_EQ(Count(o.out, "\n    result: ready\n"), 3u) << o.out;
    EXPECT_NE(o.out.find("    result: not identified\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("image: " + (folder.Dir() / kImageName).string() +
                         "\n    65536 bytes\n"
                         "    sha256 " +
                         Sha256Of(folder.Dir() / kImageName)),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("warning: 270X function 0000:07:00.0 beyond the first four: not "
                         "updated\n"),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("warning: 270X function 0000:20:00.0 on a bus the walk skips (above "
                         "0x0f): not updated\n"),
              std::string::npos)
        << o.out;

    const std::set<std::string> found = {"02:00.0", "03:00.0", "05:00.0", "06:00.0"};
    EXPECT_EQ(o.out.find("0000:07:00.0  "), std::string::npos);
    // Reads and identifications, and the status read and write disable that settle each chip
    // before its first command (write disable changes nothing that a flash holds).
    const std::set<std::string> readCommands = {"03", "9f", "15", "ab", "90", "05", "04"};
    const std::set<std::string> transfers = {"21", "22", "23", "24", "29", "2a", "2b", "2c", "10"};
    std::size_t writes = 0;
    std::size_t farReads = 0;
    for (const std::string& line : Lines(folder.AccessLog())) {
        // "W 02:00.0 f0 4 0000009f"
        std::istringstream fields(line);
        std::string kind, where, offset, width, value;
        fields >> kind >> where >> offset >> width >> value;
        if (kind == "R" && std::stoul(where.substr(0, 2), nullptr, 16) >= 0x10) {
            ++farReads;
            EXPECT_EQ(offset, "00") << line << ": beyond the walk, identifiers only";
        }
        if (kind != "W") continue;
        ++writes;
        EXPECT_TRUE(found.count(where)) << line;
        if (offset == "f0") {
            EXPECT_TRUE(readCommands.count(value.substr(6))) << line;
        } else {
            EXPECT_EQ(offset, "f4") << line;
            EXPECT_TRUE(transfers.count(value.substr(6))) << line;
        }
    }
    EXPECT_GT(writes, 0u);
    EXPECT_EQ(farReads, 240u * 32 * 8) << "the separate scan reads each function once";
    for (const auto& [name, contents] : before) {
        EXPECT_EQ(ReadFile(folder.Dir() / name), contents) << name << " changed";
    }
    EXPECT_EQ(folder.Violations(), "");
}

TEST(LinuxProgram, VerifySaysMatchesOrWhereTheFlashDiffers) {
    ProgramFolder folder(kDemo);
    Outcome o = folder.Run({"--verify"});
    EXPECT_EQ(o.status, kHostNotReady) << o.err;
    for (const char* address : {"0000:02:00.0", "0000:03:00.0"}) {
        EXPECT_NE(o.out.find(address), std::string::npos);
    }
    EXPECT_NE(o.out.find(": differs at 0x0000"), std::string::npos) << o.out;
    ASSERT_EQ(folder.Run({"/s"}).status, kAllUpdated);
    std::string log = folder.AccessLog();
    o = folder.Run({"--verify", "--json"});
    EXPECT_EQ(o.status, kAllUpdated) << o.err;
    EXPECT_NE(o.out.find("\"mode\":\"verify\",\"exit_status\":0"), std::string::npos) << o.out;
    EXPECT_EQ(Count(o.out, "\"result\":\"matches\""), 2u) << o.out;
    // The update leaves zeros after a 64 KiB image in the first 64 KiB section only.
    EXPECT_NE(o.out.find("\"compared\":65536"), std::string::npos) << o.out;
    // No write command went out while verifying: reads, identification, and the status read
    // and write disable that settle each chip first.
    for (const std::string& line : Lines(folder.AccessLog().substr(log.size()))) {
        if (line.rfind("W", 0) == 0 && line.find(" f0 ") != std::string::npos) {
            const std::string opcode = line.substr(line.size() - 2);
            EXPECT_TRUE(opcode == "03" || opcode == "9f" || opcode == "05" || opcode == "04")
                << line;
        }
    }
    EXPECT_EQ(folder.Violations(), "");
}

TEST(LinuxProgram, BackupHoldsTheOldFlashAndIsNeverOverwritten) {
    ProgramFolder folder(kDemo);
    fs::path backups = folder.Root() / "backups";
    fs::create_directory(backups);
    ASSERT_EQ(folder.Run({"--list"}).status, kAllUpdated);  // the old firmware's flash files
    const std::string old02 = ReadFile(folder.Dir() / kFlashFiles[0]);
    const std::string old03 = ReadFile(folder.Dir() / kFlashFiles[1]);
    Outcome o = folder.Run({"-s", "--backup", backups.string(), "--json"});
    EXPECT_EQ(o.status, kAllUpdated) << o.err;
    for (const char* f : kFlashFiles) ExpectFlashHoldsImage(folder, f);
    std::map<std::string, std::string> made;
    for (const auto& e : fs::directory_iterator(backups)) {
        made[e.path().filename()] = ReadFile(e.path());
        EXPECT_EQ(fs::status(e.path()).permissions(), fs::perms(0600));
    }
    ASSERT_EQ(made.size(), 2u);
    const std::regex name02("02-00-0-MX25L_V_512_C_-\\d{8}T\\d{6}Z\\.bin");
    const std::regex name03("03-00-0-W25X10B_C_L_V_-\\d{8}T\\d{6}Z\\.bin");
    EXPECT_TRUE(std::regex_match(made.begin()->first, name02)) << made.begin()->first;
    EXPECT_TRUE(std::regex_match(std::next(made.begin())->first, name03));
    EXPECT_EQ(made.begin()->second, old02) << "the whole old flash, 64 KiB";
    EXPECT_EQ(std::next(made.begin())->second, old03) << "the whole old flash, 128 KiB";
    EXPECT_NE(o.out.find("\"backup\":\"" + (backups / made.begin()->first).string() + "\""),
              std::string::npos)
        << o.out;

    // A second run at once backs up anew, beside the first backups.
    ASSERT_EQ(folder.Run({"-s", "--backup", backups.string()}).status, kAllUpdated);
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(backups)) {
        ++files;
        if (made.count(e.path().filename())) {
            EXPECT_EQ(ReadFile(e.path()), made[e.path().filename()]) << "never overwritten";
        }
    }
    EXPECT_EQ(files, 4u);
    EXPECT_EQ(folder.Violations(), "");
}

// A backup that cannot be made whole (two reads differ) keeps that controller from being erased:
// it counts as not updated, with a message; the other is updated.
TEST(LinuxProgram, AControllerWhoseBackupFailsIsNotErased) {
    ProgramFolder folder(kDemo);
    folder.SetMachineFile(
        "controller 02:00.0 part=MX25L(V)512(C) flash=flash-02-00-0.bin timing=instant\n"
        "controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03-00-0.bin timing=instant "
        "fault=flaky-read:3000\n");
    fs::path backups = folder.Root() / "backups";
    fs::create_directory(backups);
    ASSERT_EQ(folder.Run({"--list"}).status, kAllUpdated);
    const std::string old03 = ReadFile(folder.Dir() / kFlashFiles[1]);
    Outcome o = folder.Run({"-s", "--backup", backups.string(), "--json"});
    EXPECT_EQ(o.status, kHostNotReady) << o.err;
    EXPECT_NE(o.err.find("The backup of the flash of 0000:03:00.0 failed: two reads of its flash "
                         "differ at 0x"),
              std::string::npos)
        << o.err;
    ExpectFlashHoldsImage(folder, kFlashFiles[0]);
    EXPECT_EQ(ReadFile(folder.Dir() / kFlashFiles[1]), old03) << "never erased";
    EXPECT_NE(o.out.find("\"address\":\"0000:03:00.0\""), std::string::npos);
    EXPECT_NE(o.out.find("\"result\":\"not updated\",\"result_code\":-3,\"attempts\":0"),
              std::string::npos)
        << o.out;
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(backups)) {
        ++files;
        EXPECT_EQ(e.path().filename().string().rfind("02-00-0-", 0), 0u) << e.path();
    }
    EXPECT_EQ(files, 1u);
    EXPECT_EQ(folder.Violations(), "");
}

// --list ends with the status the update then ends with, whatever keeps a controller from being
// updated; a controller that cannot be updated keeps its old firmware (its flash is never erased
// for an image larger than it).
TEST(LinuxProgram, ListPredictsTheUpdatesExitStatus) {
    const std::string demoMachine =
        "controller 02:00.0 part=MX25L(V)512(C) flash=flash-02-00-0.bin\n"
        "controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03-00-0.bin\n";
    struct Case {
        const char* name;
        std::string machine;            // empty: the demonstration's
        std::string image;              // written to image.rom beside the folder; empty: none
        fs::perms imagePerms;           // of image.rom
        std::vector<std::string> args;  // besides --list or -s
        int status;
        bool flash02Kept;                 // 02:00.0's flash file is as the run found it
        const char* preflight = nullptr;  // the check's word for 02:00.0 in both reports
    };
    // Option ROMs for the whole family, of 128 and 64 KiB.
    const std::vector<uint8_t> rom128 = romtools::BuildOptionRom({romtools::FamilyImage(0x20000)});
    const std::string k128(rom128.begin(), rom128.end());
    const std::string k64 = Sample("demo");
    const Case cases[] = {
        {"every controller ready", "", "", fs::perms(0644), {}, kAllUpdated, false},
        {"image larger than the 64 KiB flash",
         "",
         k128,
         fs::perms(0644),
         {"--image", "image.rom"},
         kHostNotReady,
         true,
         "image-too-large"},
        {"image that cannot be opened for writing",
         "",
         k64,
         fs::perms(0444),
         {"--image", "image.rom"},
         kHostNotReady,
         true,
         "image-not-openable"},
        {"image made for another device",
         "",
         Sample("other-device"),
         fs::perms(0644),
         {"--image", "image.rom"},
         kHostNotReady,
         true,
         "image-for-another-device"},
        {"flash part not identified",
         "controller 02:00.0 part=none\n" + demoMachine.substr(demoMachine.find('\n') + 1),
         "",
         fs::perms(0644),
         {},
         kHostNotReady,
         true,
         "part-not-identified"},
        {"image longer than any",
         "",
         std::string(0x20001, '\x5a'),
         fs::perms(0644),
         {"--image", "image.rom"},
         kImageLoadFailed,
         true},
        {"no controller",
         "device 00:1f.2 8086:2922\n",
         "",
         fs::perms(0644),
         {},
         kControllerNotReady,
         true},
        {"a selected controller missing",
         "",
         "",
         fs::perms(0644),
         {"--controller", "05:00.0"},
         kControllerNotReady,
         true},
        {"backup that is never whole",
         demoMachine.substr(0, demoMachine.find('\n')) + " fault=flaky-read:3000\n" +
             demoMachine.substr(demoMachine.find('\n') + 1),
         "",
         fs::perms(0644),
         {"--backup", "backups"},
         kHostNotReady,
         true,
         "backup-failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder(kDemo);
        folder.accessLog = false;
        if (!c.machine.empty()) folder.SetMachineFile(Instant(c.machine));
        if (!c.image.empty()) WriteFile(folder.Root() / "image.rom", c.image, c.imagePerms);
        fs::create_directory(folder.Root() / "backups");
        fs::permissions(folder.Root() / "backups", fs::perms(0700));
        std::vector<std::string> list = {"--list", "--json"};
        list.insert(list.end(), c.args.begin(), c.args.end());
        const Outcome listed = folder.Run(list);
        EXPECT_EQ(listed.status, c.status) << listed.out << listed.err;
        const std::string before = ReadFile(folder.Dir() / kFlashFiles[0]);
        std::vector<std::string> update = {"-s", "--json"};
        update.insert(update.end(), c.args.begin(), c.args.end());
        const Outcome updated = folder.Run(update);
        EXPECT_EQ(updated.status, listed.status) << updated.out << updated.err;
        if (c.preflight != nullptr) {
            const std::string word = std::string("\"preflight\":\"") + c.preflight + "\"";
            EXPECT_GE(Count(listed.out, word), 1u) << listed.out;
            EXPECT_GE(Count(updated.out, word), 1u) << updated.out;
        }
        if (c.flash02Kept) {
            EXPECT_EQ(ReadFile(folder.Dir() / kFlashFiles[0]), before) << "02:00.0 was erased";
        }
        EXPECT_EQ(folder.Violations(), "");
    }
}

// --json gives one document for every exit status but 64, in the mode of the options given,
// also when the run ends before it began; a report that cannot be written is said on standard
// error and never ends 0.
TEST(LinuxProgram, JsonReportForEveryEndingAndAFailedWriteIsNotASuccess) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* user;  // empty: root
        bool noLibrary;    // the access library removed from the folder
        int status;
        const char* mode;
        const char* contains;
    };
    const Case cases[] = {
        {"update, --image missing",
         {"-s", "--json", "--image", "missing.rom"},
         "",
         false,
         kImageNotFound,
         "update",
         "missing.rom"},
        {"verify, --image missing",
         {"--verify", "--json", "--image", "missing.rom"},
         "",
         false,
         kImageNotFound,
         "verify",
         "missing.rom"},
        {"list, not root", {"--list", "--json"}, "65534", false, kLibraryOrRights, "list", ""},
        {"verify, no access library",
         {"--verify", "--json"},
         "",
         true,
         kLibraryOrRights,
         "verify",
         ""},
        {"update, no access library", {"-s", "--json"}, "", true, kLibraryOrRights, "update", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder(kDemo);
        if (c.noLibrary) fs::remove(folder.Dir() / "libvlmio.so");
        const Outcome o = folder.Run(c.args, c.user);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE(o.out.find("\"mode\":\"" + std::string(c.mode) +
                             "\",\"exit_status\":" + std::to_string(c.status)),
                  std::string::npos)
            << o.out;
        EXPECT_NE(o.out.find(c.contains), std::string::npos) << o.out;
        EXPECT_EQ(Count(o.out, "\n"), 1u) << o.out;
    }
    // A full output: the run would have ended 0.
    ProgramFolder folder(kDemo);
    folder.stdoutTo = "/dev/full";
    const Outcome o = folder.Run({"--list", "--json"});
    EXPECT_EQ(o.status, 74);
    EXPECT_NE(o.err.find("the report could not be written to standard output"), std::string::npos)
        << o.err;
}

// --verify says "every controller holds the image" only of every 270X: one the update leaves out
// (a fifth, one on a bus the walk skips) is named "not compared" and the run ends 5; so does a
// backup asked for and not made, as with --list.
TEST(LinuxProgram, VerifyCoversEvery270xAndItsBackups) {
    ProgramFolder folder(kDemo);
    folder.accessLog = false;
    folder.SetMachineFile(
        "controller 02:00.0 part=MX25L(V)512(C) flash=flash-02-00-0.bin timing=instant\n"
        "controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03-00-0.bin timing=instant\n");
    ASSERT_EQ(folder.Run({"-s"}).status, kAllUpdated);
    ASSERT_EQ(folder.Run({"--verify"}).status, kAllUpdated);
    // /proc is root's and nobody may write to it: every backup there fails.
    Outcome o = folder.Run({"--verify", "--json", "--backup", "/proc"});
    EXPECT_EQ(o.status, kHostNotReady) << o.out;
    EXPECT_EQ(Count(o.out, "\"result\":\"matches\""), 2u) << o.out;
    EXPECT_NE(o.out.find("backup failed: "), std::string::npos) << o.out;

    folder.SetMachineFile(
        "controller 02:00.0 part=MX25L(V)512(C) flash=flash-02-00-0.bin timing=instant\n"
        "controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03-00-0.bin timing=instant\n"
        "controller 04:00.0 part=M25P10A timing=instant\ncontroller 05:00.0 part=M25P10A "
        "timing=instant\ncontroller 06:00.0 part=M25P10A timing=instant\n"
        "controller 20:00.0 part=M25P10A timing=instant\n");
    o = folder.Run({"--verify", "--json", "--controller", "02:00.0"});
    EXPECT_EQ(o.status, kAllUpdated) << "only the chosen one is claimed: " << o.out;
    o = folder.Run({"--verify", "--json"});
    EXPECT_EQ(o.status, kHostNotReady);
    for (const char* address : {"0000:06:00.0", "0000:20:00.0"}) {
        EXPECT_NE(o.out.find(std::string("\"address\":\"") + address), std::string::npos) << o.out;
    }
    EXPECT_EQ(Count(o.out, "\"result\":\"not compared\""), 2u) << o.out;
    // The update's report carries the same warnings.
    const std::size_t warnings = o.out.find("\"warnings\":");
    ASSERT_NE(warnings, std::string::npos);
    const Outcome updated = folder.Run({"-s", "--json"});
    EXPECT_NE(updated.out.find(o.out.substr(warnings)), std::string::npos) << updated.out;
}

// Backups never go where the image search looks, never into a folder others could change, and
// are never left half made: each is refused before anything is touched.
TEST(LinuxProgram, BackupFoldersThatCouldMisleadAreRefused) {
    ProgramFolder folder(kDemo);
    const fs::path open = folder.Root() / "open";
    const fs::path stranger = folder.Root() / "stranger";
    fs::create_directory(open);
    fs::permissions(open, fs::perms(0777));
    fs::create_directory(stranger);
    fs::permissions(stranger, fs::perms(0755));
    ASSERT_EQ(chown(stranger.c_str(), 65534, 65534), 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"--list", "--backup", "program"}, kUsageError, "the program's folder"},
        {{"-s", "--backup", folder.Dir().string() + "/."}, kUsageError, "the program's folder"},
        {{"--list", "--backup", "open"}, kLibraryOrRights, "sudo chmod go-w"},
        {{"-s", "--backup", "stranger", "--json"}, kLibraryOrRights, "owner uid 65534"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[2]);
        const Outcome o = folder.Run(c.args);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
        EXPECT_EQ(folder.AccessLog(), "");
    }
    for (const auto& e : fs::directory_iterator(folder.Dir())) {
        EXPECT_EQ(e.path().filename().string().find("-00-0-"), std::string::npos) << e.path();
    }
}

// A read-only run stopped by a close signal ends at its next safe point: no flash command left
// open, no backup left half made, and its report written, with the shell's status for the signal.
// A closed output fails the report, not the run (74, never killed by SIGPIPE).
TEST(LinuxProgram, ReadOnlyRunsEndAtASafePointOnASignalWithTheirReport) {
    ProgramFolder folder(kDemo);
    folder.accessLog = false;
    folder.SetMachineFile(
        "controller 02:00.0 part=MX25L(V)512(C) flash=flash-02-00-0.bin timing=instant "
        "fault=slow:0.2\n"
        "controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03-00-0.bin timing=instant "
        "fault=slow:0.2\n");
    const fs::path backups = folder.Root() / "backups";
    fs::create_directory(backups);
    fs::permissions(backups, fs::perms(0700));
    struct Case {
        std::vector<std::string> args;
        int signal;
    };
    const Case cases[] = {
        {{"--list", "--backup", "backups"}, SIGTERM},
        {{"--verify", "--json"}, SIGINT},
        {{"--verify", "--backup", "backups", "--json"}, SIGHUP},
        {{"--list", "--json", "--backup", "backups"}, SIGQUIT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + std::to_string(c.signal));
        const pid_t pid = folder.Start(c.args);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        kill(pid, c.signal);
        const Outcome o = folder.Finish(pid);
        EXPECT_EQ(o.status, 128 + c.signal) << o.err;
        EXPECT_NE(o.out.find("stopped by signal " + std::to_string(c.signal)), std::string::npos)
            << o.out;
        EXPECT_EQ(folder.Violations(), "");
        for (const auto& e : fs::directory_iterator(backups)) {
            // Only whole backups carry a name: the flash as it is.
            const std::string name = e.path().filename().string();
            EXPECT_EQ(ReadFile(e.path()),
                      ReadFile(folder.Dir() /
                               (name.rfind("02", 0) == 0 ? kFlashFiles[0] : kFlashFiles[1])))
                << name;
        }
    }
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);
    const pid_t pid = folder.Start({"--list", "--json"}, pipeFds[1]);
    close(pipeFds[1]);
    const Outcome o = folder.Finish(pid);
    EXPECT_EQ(o.status, 74) << o.err;
    EXPECT_NE(o.err.find("the report could not be written"), std::string::npos) << o.err;
}

// The update lock is root's: a lock file someone else made is refused, with the way out.
TEST(LinuxProgram, AnUpdateLockOfAnotherUserIsRefused) {
    ProgramFolder folder(kDemo);
    const fs::path lock = folder.Dir() / "vlm270fwupdate.lock";
    WriteFile(lock, "", fs::perms(0644));
    ASSERT_EQ(chown(lock.c_str(), 65534, 65534), 0);
    const Outcome o = folder.Run({"-s"});
    EXPECT_EQ(o.status, kLibraryOrRights) << o.err;
    EXPECT_NE(o.err.find("belongs to another user"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("sudo rm " + lock.string()), std::string::npos) << o.err;
    EXPECT_EQ(folder.AccessLog(), "");
}

TEST(LinuxProgram, ControllerAndImageChooseWhatIsWritten) {
    ProgramFolder folder(kDemo);
    const std::string other = Sample("chain");
    WriteFile(folder.Root() / "other.rom", other, fs::perms(0644));
    Outcome o = folder.Run({"-s", "--controller", "03:00.0", "--image", "other.rom", "--json"});
    EXPECT_EQ(o.status, kAllUpdated) << o.err;
    EXPECT_EQ(ReadFile(folder.Dir() / kFlashFiles[1]).substr(0, other.size()), other);
    EXPECT_EQ(ReadFile(folder.Dir() / kFlashFiles[0]).find(other.substr(0, 64)), std::string::npos)
        << "02:00.0 was left alone";
    EXPECT_NE(o.out.find("\"path\":\"" + (folder.Root() / "other.rom").string() + "\""),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("\"sha256\":\"" + Sha256Of(folder.Root() / "other.rom") + "\""),
              std::string::npos);
    EXPECT_EQ(Count(o.out, "\"address\""), 1u);

    // An address that is no 270X controller: nothing is written.
    const std::string before = ReadFile(folder.Dir() / kFlashFiles[0]);
    o = folder.Run({"-s", "--controller", "0000:05:00.0"});
    EXPECT_EQ(o.status, kControllerNotReady);
    EXPECT_NE(o.err.find("No 270X controller was found at 0000:05:00.0: nothing was written."),
              std::string::npos)
        << o.err;
    EXPECT_EQ(ReadFile(folder.Dir() / kFlashFiles[0]), before);
    o = folder.Run({"-s", "--image", "missing.rom"});
    EXPECT_EQ(o.status, kImageNotFound);
    EXPECT_NE(o.err.find("--image missing.rom: no such file"), std::string::npos) << o.err;
    EXPECT_EQ(folder.Violations(), "");
}

// --verbose tells each controller's steps as they come, then its outcome with the cause of a
// failure: the step, the evidence, and that it held on every attempt.
TEST(LinuxProgram, VerboseTellsEveryStepAndTheCauseOfAFailure) {
    ProgramFolder folder(kDemo);
    folder.SetMachineFile(
        "controller 02:00.0 part=M25P10A flash=flash-02-00-0.bin timing=instant\n"
        "controller 03:00.0 part=SST25VF010A flash=flash-03-00-0.bin timing=instant "
        "fault=erase-fails\n");
    Outcome o = folder.Run({"/s", "--verbose"});
    EXPECT_EQ(o.status, kHostNotReady) << o.err;
    std::vector<std::string> lines;
    std::istringstream in(o.err);
    for (std::string line; std::getline(in, line);) {
        if (line.find(" 0000:02:00.0 ") != std::string::npos) lines.push_back(line);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "vlm270fwupdate: 0000:02:00.0 erase, attempt 1 of 3",
                         "vlm270fwupdate: 0000:02:00.0 blank check, attempt 1 of 3 (65536 bytes)",
                         "vlm270fwupdate: 0000:02:00.0 write, attempt 1 of 3 (65536 bytes)",
                         "vlm270fwupdate: 0000:02:00.0 verify, attempt 1 of 3 (65536 bytes)",
                         "vlm270fwupdate: 0000:02:00.0 updated",
                     }))
        << o.err;
    EXPECT_NE(o.err.find("vlm270fwupdate: 0000:03:00.0 blank check, attempt 3 of 3"),
              std::string::npos);
    const std::regex cause(
        "vlm270fwupdate: 0000:03:00.0 not updated: erase did not take: status register "
        "0x[0-9a-f]{2}; "
        "blank check read 0x[0-9a-f]{2} at 0x000000 on all 3 attempts\n");
    EXPECT_TRUE(std::regex_search(o.err, cause)) << o.err;
    // The description's message box, byte for byte.
    EXPECT_NE(o.err.find("vlm270fwupdate: Your Host Device is not ready, Firmware Update "
                         "Failed!!!, Please reboot your PC and try again!!!\n"),
              std::string::npos);
    // The JSON report's problem is the same cause, not the result code's words alone.
    const Outcome json = folder.Run({"/s", "--json"});
    EXPECT_EQ(json.status, kHostNotReady);
    EXPECT_TRUE(std::regex_search(
        json.out, std::regex("\"problem\":\"erase did not take: status register 0x[0-9a-f]{2}; "
                             "blank check read 0x[0-9a-f]{2} at 0x000000 on all 3 attempts\"")))
        << json.out;
}

TEST(LinuxProgram, SilentRunReportsAsJsonAndNamesItsImageWhenVerbose) {
    ProgramFolder folder(kDemo);
    Outcome o = folder.Run({"/s", "--json", "--verbose"});
    EXPECT_EQ(o.status, kAllUpdated) << o.err;
    const std::string image = (folder.Dir() / kImageName).string();
    const std::string sha = Sha256Of(folder.Dir() / kImageName);
    EXPECT_EQ(o.out.rfind("{\"format\":2,\"program\":\"vlm270fwupdate\",\"version\":\"1.0.2.0\","
                          "\"mode\":\"update\",\"exit_status\":0,",
                          0),
              0u)
        << o.out;
    EXPECT_NE(o.out.find("\"image\":{\"path\":\"" + image + "\",\"size\":65536,\"sha256\":\"" +
                         sha + "\",\"path_bytes\":null,\"option_rom\":{\"well_formed\":true,"),
              std::string::npos)
        << o.out;
    EXPECT_EQ(Count(o.out, "\"result\":\"updated\",\"result_code\":0,\"attempts\":1,"), 2u);
    EXPECT_EQ(o.out.back(), '\n');
    EXPECT_EQ(Count(o.out, "\n"), 1u) << "one document, one line";
    EXPECT_EQ(Count(o.err, "image " + image), 1u) << o.err;
    EXPECT_NE(o.err.find("0000:02:00.0 updated"), std::string::npos) << o.err;
    // Without --verbose a silent run prints nothing on standard error.
    EXPECT_EQ(folder.Run({"/s", "--json"}).err, "");
    if (std::system("python3 -c 'import json' >/dev/null 2>&1") == 0) {
        WriteFile(folder.Root() / "out.json", o.out, fs::perms(0644));
        std::string check = "python3 -c 'import json,sys; json.load(open(sys.argv[1]))' " +
                            (folder.Root() / "out.json").string();
        EXPECT_EQ(std::system(check.c_str()), 0) << "well-formed JSON";
    }
    EXPECT_EQ(folder.Violations(), "");
}

TEST(LinuxProgram, ListOnThisMachinesSysfsFindsNoControllerAndWritesNothing) {
    if (!fs::exists("/sys/bus/pci/devices")) GTEST_SKIP() << "no /sys/bus/pci here";
    ProgramFolder folder(kHardware);
    WriteFile(folder.Dir() / kImageName, ReadFile(kDemo / kImageName), fs::perms(0644));
    fs::path trace = folder.Root() / "trace";
    bool traced = std::system("strace -V >/dev/null 2>&1") == 0;
    EXPECT_EQ(RunOnThisMachine(folder, "--list", traced ? trace : fs::path()), kControllerNotReady)
        << ReadFile(folder.Root() / "stderr");
    EXPECT_NE(ReadFile(folder.Root() / "stdout").find("warning: no 270X controller was found"),
              std::string::npos);
    if (traced) {
        std::string opens = ReadFile(trace);
        EXPECT_NE(opens.find("/config"), std::string::npos) << "the walk read nothing?";
        std::regex written("/config\"[^\\n]*O_(WRONLY|RDWR)");
        EXPECT_FALSE(std::regex_search(opens, written)) << opens;
    }
}

// ---- The option-ROM check --------------------------------------------------------------------

// "vvvv:dddd" of a 270X family member, from the controller table.
std::string MemberId(std::size_t member) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "%04x:%04x",
                  static_cast<unsigned>(g_ControllerIds[member].usVendorId),
                  static_cast<unsigned>(g_ControllerIds[member].dwDeviceId & 0xFFFF));
    return text;
}

// Each image in --list and in the update, on the demonstration's two controllers (the first and
// second family members): what --list says and ends with, what the update ends with, which
// flashes it writes, and the words that say why.
TEST(OptionRomCheck, ListAndUpdateTakeOrRefuseEachImageAlike) {
    struct Case {
        const char* kind;
        bool force;
        int status;    // of --list and of the update alike
        bool written;  // both flashes hold the image after the update, else both are untouched
        std::vector<std::string> said;  // on --list's output and the update's standard error
    };
    const std::string notWellFormed = "not a well-formed option ROM: ";
    const std::string forOther = "cannot be updated: the image is for " + MemberId(3);
    const Case cases[] = {
        {"demo", false, kAllUpdated, true, {}},
        {"device-list", false, kAllUpdated, true, {}},
        {"chain", false, kAllUpdated, true, {}},
        {"other-device",
         false,
         kHostNotReady,
         false,
         {"0000:02:00.0", forOther + ", this controller is " + MemberId(0),
          forOther + ", this controller is " + MemberId(1)}},
        {"bad-checksum",
         false,
         kImageLoadFailed,
         false,
         {notWellFormed + "image 1 at 0x0 (x86): its bytes sum to 0x01, not 0 (a wrong checksum)"}},
        {"truncated-pcir",
         false,
         kImageLoadFailed,
         false,
         {notWellFormed +
          "image 1 at 0x0: its PCI data structure (24 bytes at 0x40) runs past the end of the ROM "
          "(80 bytes)"}},
        {"text",
         false,
         kImageLoadFailed,
         false,
         {notWellFormed + "it does not start with the signature 55 aa"}},
        {"other-device",
         true,
         kAllUpdated,
         true,
         {forOther + ", this controller is " + MemberId(0) + "; --force writes it anyway"}},
        {"text", true, kAllUpdated, true, {"--force writes it anyway"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + (c.force ? " --force" : ""));
        ProgramFolder folder(kDemo);
        folder.accessLog = false;
        const fs::path image = folder.Root() / "image.rom";
        const std::string bytes = Sample(c.kind);
        WriteFile(image, bytes, fs::perms(0644));
        std::vector<std::string> args = {"--image", image.string()};
        if (c.force) args.push_back("--force");

        std::vector<std::string> list = {"--list"};
        list.insert(list.end(), args.begin(), args.end());
        const Outcome listed = folder.Run(list);
        EXPECT_EQ(listed.status, c.status) << listed.out << listed.err;
        EXPECT_NE(listed.out.find("    holds: "), std::string::npos) << listed.out;
        // --list writes nothing, --force or not: it never says that something was written.
        EXPECT_EQ(listed.out.find("written"), std::string::npos) << listed.out;
        std::vector<std::string> before;
        for (const char* f : kFlashFiles) before.push_back(ReadFile(folder.Dir() / f));

        std::vector<std::string> update = {"-s"};
        update.insert(update.end(), args.begin(), args.end());
        const Outcome updated = folder.Run(update);
        EXPECT_EQ(updated.status, c.status) << updated.err;
        for (const std::string& words : c.said) {
            EXPECT_NE(listed.out.find(words), std::string::npos) << words << "\n" << listed.out;
            EXPECT_NE(updated.err.find(words), std::string::npos) << words << "\n" << updated.err;
        }
        const std::string events = ReadFile(folder.Root() / "events.log");
        for (std::size_t i = 0; i < std::size(kFlashFiles); ++i) {
            const std::string flash = ReadFile(folder.Dir() / kFlashFiles[i]);
            if (c.written) {
                EXPECT_EQ(flash.compare(0, bytes.size(), bytes), 0) << kFlashFiles[i];
            } else {
                EXPECT_EQ(flash, before[i]) << kFlashFiles[i] << " was touched";
            }
        }
        if (!c.said.empty()) {
            // The event log (and with it the journal) says it too.
            EXPECT_NE(events.find(c.said.back()), std::string::npos) << events;
        }
        if (c.written) {
            // The flashes hold the image now, as --list says.
            const Outcome after = folder.Run(list);
            EXPECT_EQ(Count(after.out, "(current)"), 2u) << after.out;
        }
    }
}

// ---- The fault matrix ------------------------------------------------------------------------
//
// Every fault of the emulated PC on a part of each programming family, with images of 64, 96 and
// 128 KiB and one larger than the chip, and a controller unplugged all through an update: the
// program ends by itself, and it reports success (exit status 0) exactly when the flash holds
// the image. (A controller unplugged after its last write may hold the image without the
// program being able to read it back: it must then report a failure, and does.) The slow fault
// runs once, on one part with the 64 KiB image, at 10 microseconds an access (a millisecond would
// make every run a time-out of 200 s). Under the sanitizers, whose programs run several times
// slower, the matrix is reduced: each fault with the 64 KiB image only, and a coarser sweep.

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kReducedMatrix = true;
#else
constexpr bool kReducedMatrix = false;
#endif

constexpr std::size_t k64K = 0x10000;
constexpr std::size_t k96K = 0x18000;
constexpr std::size_t k128K = 0x20000;
constexpr const char* kMatrixFlash = "f.bin";
// Runs at once: most of a run is spent waiting (the pause after the erase, the bars' pauses).
constexpr std::size_t kMatrixParallelRuns = kReducedMatrix ? 16 : 48;
constexpr int kMatrixRunLimitSeconds = 150;

struct Family {
    const char* name;
    const char* part;
    uint32_t unplugAt;     // an access in the middle of its update's writing
    std::size_t rowBytes;  // the flash size the part table gives: a larger image is refused
};
constexpr Family kFamilies[] = {
    {"256-byte pages", "M25P10A", 150000, k128K},
    {"32-byte pages", "MX25L1021E", 150000, k128K},
    {"SST", "SST25VF010A", 150000, k128K},
    {"AT25F", "AT25F512A(B)", 150000, k64K},
};

struct ImageCase {
    std::size_t imageBytes;
    std::size_t chipBytes;
};
constexpr ImageCase kImageCases[] = {{k64K, k128K}, {k96K, k128K}, {k128K, k128K}, {k128K, k64K}};

struct MatrixCase {
    std::string name;
    std::string machine;
    std::size_t imageBytes;
    bool unplugged;    // its controller disappears during the run
    bool mustSucceed;  // no fault, and the image fits
};

// An option ROM for the family with no run of erased bytes, different for each size.
std::string MatrixImage(std::size_t size) {
    const std::vector<uint8_t> rom = romtools::BuildOptionRom(
        {romtools::FamilyImage(static_cast<uint32_t>(size), static_cast<uint32_t>(size / 1024))});
    return std::string(rom.begin(), rom.end());
}

std::vector<MatrixCase> FaultMatrix() {
    std::vector<MatrixCase> cases;
    // A slow bus (each access of the controller sleeps first): one case, the longest run, so it
    // comes first. A sleep under a millisecond keeps it to about 20 seconds.
    cases.push_back({"M25P10A slow image 64 KiB chip 128 KiB",
                     "controller 02:00.0 part=M25P10A size=131072 flash=" +
                         std::string(kMatrixFlash) + " timing=instant fault=slow:0.01\n",
                     k64K, false, true});
    for (const Family& family : kFamilies) {
        const std::pair<std::string, std::string> faults[] = {
            {"no fault", ""},
            {"stuck-busy", "fault=stuck-busy"},
            {"stuck-byte", "fault=stuck-byte:0x8000=0xA5"},
            {"flaky-read", "fault=flaky-read:40000"},
            {"erase-fails", "fault=erase-fails"},
            {"write-protect", "fault=write-protect"},
            {"unplug-after", "fault=unplug-after:" + std::to_string(family.unplugAt)},
        };
        for (const auto& [faultName, fault] : faults) {
            for (const ImageCase& image : kImageCases) {
                if (kReducedMatrix && image.imageBytes != k64K) continue;
                MatrixCase c;
                c.name = std::string(family.part) + " " + faultName + " image " +
                         std::to_string(image.imageBytes / 1024) + " KiB chip " +
                         std::to_string(image.chipBytes / 1024) + " KiB";
                c.machine = "controller 02:00.0 part=" + std::string(family.part) +
                            " size=" + std::to_string(image.chipBytes) + " flash=" + kMatrixFlash +
                            " timing=instant " + fault + "\n";
                c.imageBytes = image.imageBytes;
                c.unplugged = faultName == "unplug-after";
                c.mustSucceed = fault.empty() && image.imageBytes <= image.chipBytes &&
                                image.imageBytes <= family.rowBytes;
                cases.push_back(c);
            }
        }
    }
    // Unplugged at every stage of a whole update (about 250,000 accesses of the controller),
    // from the controller walk to the last read back, and never.
    std::vector<uint32_t> points = {0, 1};
    const uint32_t step = kReducedMatrix ? 60000 : 20000;
    for (uint32_t n = step; n <= 240000; n += step) points.push_back(n);
    for (uint32_t n : points) {
        cases.push_back({"M25P10A unplugged after " + std::to_string(n) + " accesses",
                         "controller 02:00.0 part=M25P10A flash=" + std::string(kMatrixFlash) +
                             " timing=instant fault=unplug-after:" + std::to_string(n) + "\n",
                         k64K, true, false});
    }
    cases.push_back({"M25P10A unplugged after the update",
                     "controller 02:00.0 part=M25P10A flash=" + std::string(kMatrixFlash) +
                         " timing=instant fault=unplug-after:10000000\n",
                     k64K, true, true});
    return cases;
}

// Whether the flash file starts with the image.
bool FlashHolds(const fs::path& flashFile, const std::string& image) {
    const std::string flash = ReadFile(flashFile);
    return flash.size() >= image.size() && flash.compare(0, image.size(), image) == 0;
}

TEST(FaultMatrix, ExitStatusZeroExactlyWhenEveryFlashHoldsTheImage) {
    const std::vector<MatrixCase> cases = FaultMatrix();
    struct Running {
        const MatrixCase* c;
        std::unique_ptr<ProgramFolder> folder;
        pid_t pid;
        std::chrono::steady_clock::time_point started;
    };
    std::vector<const MatrixCase*> order;
    for (const MatrixCase& c : cases) order.push_back(&c);

    const auto start = std::chrono::steady_clock::now();
    std::vector<Running> running;
    std::size_t next = 0;
    std::size_t succeeded = 0;
    std::vector<std::pair<double, std::string>> durations;
    while (next < order.size() || !running.empty()) {
        while (next < order.size() && running.size() < kMatrixParallelRuns) {
            const MatrixCase* c = order[next++];
            auto folder = std::make_unique<ProgramFolder>(kDemo);
            folder->accessLog = false;
            folder->SetMachineFile(c->machine);
            WriteFile(folder->Dir() / kImageName, MatrixImage(c->imageBytes), fs::perms(0644));
            const pid_t pid = folder->StartSilentQuietly();
            running.push_back({c, std::move(folder), pid, std::chrono::steady_clock::now()});
        }
        for (auto it = running.begin(); it != running.end();) {
            int raw = 0;
            const pid_t done = waitpid(it->pid, &raw, WNOHANG);
            const bool late = std::chrono::steady_clock::now() - it->started >
                              std::chrono::seconds(kMatrixRunLimitSeconds);
            if (done != it->pid && !late) {
                ++it;
                continue;
            }
            SCOPED_TRACE(it->c->name);
            durations.emplace_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - it->started)
                    .count(),
                it->c->name);
            if (done != it->pid) {
                kill(it->pid, SIGKILL);
                ProgramFolder::WaitFor(it->pid);
                ADD_FAILURE() << "the program did not end by itself";
            } else {
                const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
                const bool holds =
                    FlashHolds(it->folder->Dir() / kMatrixFlash, MatrixImage(it->c->imageBytes));
                const std::string err = ReadFile(it->folder->Root() / "stderr");
                if (status == 0) {
                    EXPECT_TRUE(holds) << "success reported, image not written";
                }
                if (holds && !it->c->unplugged) {
                    EXPECT_EQ(status, 0) << err;
                }
                EXPECT_TRUE(status == 0 || status == 1 || status == 4 || status == 5) << status;
                if (it->c->mustSucceed) {
                    EXPECT_EQ(status, 0);
                }
                if (status == 0) ++succeeded;
            }
            it = running.erase(it);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    std::printf("fault matrix: %zu runs (%zu succeeded) in %lld s; the longest:\n", cases.size(),
                succeeded, static_cast<long long>(seconds.count()));
    std::sort(durations.rbegin(), durations.rend());
    for (std::size_t i = 0; i < durations.size() && i < 5; ++i) {
        std::printf("  %5.1f s  %s\n", durations[i].first, durations[i].second.c_str());
    }
}

}  // namespace
