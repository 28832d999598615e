#include "framework/posix/terminal_io.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>

#include "framework/platform.h"

namespace framework {
namespace {

// How often a wait for input looks for close requests.
constexpr int kInputPollMs = 50;
// How long the rest of a key's escape sequence (an arrow key) may take to arrive.
constexpr int kEscapeSequenceMs = 30;

constexpr char kEscape = '\x1b';
constexpr char kEndOfTransmission = '\x04';  // Ctrl-D
constexpr char kBackspace = '\x08';
constexpr char kDelete = '\x7f';
constexpr char kShowCursor[] = "\x1b[?25h";
constexpr char kHideCursor[] = "\x1b[?25l";

std::atomic<uint64_t> g_closeRequests{0};
std::atomic<uint64_t> g_resizes{0};
static_assert(std::atomic<uint64_t>::is_always_lock_free, "signal handlers need a lock-free count");

// The terminal's state as found, while raw mode is on; read by the signal-time restore.
struct termios g_savedTermios {};
volatile sig_atomic_t g_rawFd = -1;
// The keys that make a close request while raw mode is on, as their signals would outside it:
// the interrupt key (Ctrl-C unless the terminal says other) and the quit key (Ctrl-\ unless the
// terminal says other; none when the terminal has none).
char g_interruptKey = '\x03';
int g_quitKey = '\x1c';
volatile sig_atomic_t g_cursorFd = -1;
// The terminal's state as found, while typing is hidden.
struct termios g_typingTermios {};
volatile sig_atomic_t g_typingFd = -1;

constexpr std::array<int, 4> kCloseSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr std::array<int, 5> kFatalSignals = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL};
struct sigaction g_previousFatal[NSIG] {};

// While flashes are written a stop request (Ctrl-Z, SIGTSTP) waits for the end of the writes.
std::atomic<bool> g_stopsHeld{false};
std::atomic<bool> g_stopPending{false};
static_assert(std::atomic<bool>::is_always_lock_free, "signal handlers need a lock-free flag");
struct sigaction g_stopAction {};

void OnCloseSignal(int) {
    g_closeRequests.fetch_add(1, std::memory_order_relaxed);
}

void OnResizeSignal(int) {
    g_resizes.fetch_add(1, std::memory_order_relaxed);
}

// Stops the process as the stop signal would, with the terminal put back first; once the process
// is continued, the terminal is set up again as it was. Async-signal-safe.
void StopWithTerminalRestored() {
    const int savedErrno = errno;
    const int rawFd = g_rawFd;
    const int typingFd = g_typingFd;
    const int cursorFd = g_cursorFd;
    struct termios rawMode {};
    struct termios typingMode {};
    const bool raw = rawFd >= 0 && tcgetattr(rawFd, &rawMode) == 0;
    const bool typing = typingFd >= 0 && tcgetattr(typingFd, &typingMode) == 0;
    RestoreTerminal();
    // The default action stops the process as soon as the signal is no longer blocked.
    struct sigaction stopDefault {};
    stopDefault.sa_handler = SIG_DFL;
    sigemptyset(&stopDefault.sa_mask);
    sigaction(SIGTSTP, &stopDefault, nullptr);
    sigset_t stopOnly;
    sigset_t previousMask;
    sigemptyset(&stopOnly);
    sigaddset(&stopOnly, SIGTSTP);
    raise(SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &stopOnly, &previousMask);
    // Continued.
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    sigaction(SIGTSTP, &g_stopAction, nullptr);
    if (typing) {
        g_typingFd = typingFd;
        tcsetattr(typingFd, TCSANOW, &typingMode);
    }
    if (raw) {
        g_rawFd = rawFd;
        tcsetattr(rawFd, TCSANOW, &rawMode);
    }
    if (cursorFd >= 0) {
        g_cursorFd = cursorFd;
        ssize_t ignored = write(cursorFd, kHideCursor, sizeof kHideCursor - 1);
        (void)ignored;
    }
    errno = savedErrno;
}

void OnStopSignal(int) {
    if (g_stopsHeld.load(std::memory_order_acquire)) {
        g_stopPending.store(true, std::memory_order_release);
        return;
    }
    StopWithTerminalRestored();
}

// Puts the terminal back, then lets the signal do what it did before.
void OnFatalSignal(int signalNumber) {
    RestoreTerminal();
    sigaction(signalNumber, &g_previousFatal[signalNumber], nullptr);
    raise(signalNumber);
}

// Reads one byte; 1 read, 0 end of input, -1 nothing yet (interrupted or would block).
int ReadByte(int fd, char& c) {
    ssize_t n = read(fd, &c, 1);
    if (n == 1) return 1;
    if (n == 0) return 0;
    return errno == EINTR || errno == EAGAIN ? -1 : 0;
}

// Throws away the rest of an escape sequence that is already arriving.
void DrainEscapeSequence(int fd) {
    for (;;) {
        struct pollfd p {
            fd, POLLIN, 0
        };
        if (poll(&p, 1, kEscapeSequenceMs) <= 0) return;
        char c = 0;
        if (ReadByte(fd, c) != 1) return;
    }
}

}  // namespace

AnswerMode::AnswerMode(int fd) {
    if (g_rawFd >= 0 || isatty(fd) != 1) return;
    struct termios current {};
    if (tcgetattr(fd, &current) != 0) return;
    g_savedTermios = current;
    g_interruptKey =
        current.c_cc[VINTR] != _POSIX_VDISABLE ? static_cast<char>(current.c_cc[VINTR]) : '\x03';
    g_quitKey = current.c_cc[VQUIT] != _POSIX_VDISABLE ? static_cast<int>(current.c_cc[VQUIT]) : -1;
    struct termios raw = current;
    // The interrupt and quit keys are read as keys, not turned into signals: a signal can arrive
    // while the question is being shown and be taken for an earlier one, a key cannot.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    g_rawFd = fd;
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
        g_rawFd = -1;
        return;
    }
    m_owner = true;
}

AnswerMode::~AnswerMode() {
    if (!m_owner) return;
    int fd = g_rawFd;
    if (fd >= 0) {
        g_rawFd = -1;
        tcsetattr(fd, TCSANOW, &g_savedTermios);
    }
}

uint64_t CloseRequestCount() {
    return g_closeRequests.load(std::memory_order_relaxed);
}

uint64_t TerminalResizeCount() {
    return g_resizes.load(std::memory_order_relaxed);
}

void InstallTerminalSignalHandlers() {
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        struct sigaction close {};
        close.sa_handler = OnCloseSignal;
        sigemptyset(&close.sa_mask);
        close.sa_flags = 0;  // no restart: a waiting read wakes up
        for (int s : kCloseSignals) sigaction(s, &close, nullptr);
        struct sigaction resize {};
        resize.sa_handler = OnResizeSignal;
        sigemptyset(&resize.sa_mask);
        resize.sa_flags = SA_RESTART;
        sigaction(SIGWINCH, &resize, nullptr);
        struct sigaction fatal {};
        fatal.sa_handler = OnFatalSignal;
        sigemptyset(&fatal.sa_mask);
        fatal.sa_flags = SA_RESETHAND;
        for (int s : kFatalSignals) sigaction(s, &fatal, &g_previousFatal[s]);
        g_stopAction.sa_handler = OnStopSignal;
        sigemptyset(&g_stopAction.sa_mask);
        g_stopAction.sa_flags = SA_RESTART;
        sigaction(SIGTSTP, &g_stopAction, nullptr);
        // A closed output (a pager that quit) must not end the program: writes to it fail and
        // the drawing stops, the run goes on.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, nullptr);
        std::atexit(RestoreTerminal);
    });
}

void HoldTerminalStops(bool hold) {
    if (hold) {
        g_stopsHeld.store(true, std::memory_order_release);
        return;
    }
    g_stopsHeld.store(false, std::memory_order_release);
    if (g_stopPending.exchange(false, std::memory_order_acq_rel)) StopWithTerminalRestored();
}

AnswerEnd ReadAnswer(int inputFd, int echoFd, std::string& answer, uint64_t closeRequestsSeen) {
    answer.clear();
    const bool terminal = isatty(inputFd) == 1;
    AnswerMode raw(inputFd);  // already on when the caller entered it before the question
    auto echo = [&](const std::string& text) {
        if (terminal) WriteAll(echoFd, text);
    };
    for (;;) {
        if (CloseRequestCount() > closeRequestsSeen) {
            echo("\n");
            return AnswerEnd::kInterrupted;
        }
        struct pollfd p {
            inputFd, POLLIN, 0
        };
        int ready = poll(&p, 1, kInputPollMs);
        if (ready < 0 && errno != EINTR) return AnswerEnd::kEndOfInput;
        if (ready <= 0) continue;
        char c = 0;
        int got = ReadByte(inputFd, c);
        if (got < 0) continue;
        if (got == 0 || (c == kEndOfTransmission && answer.empty())) {
            echo("\n");
            return AnswerEnd::kEndOfInput;
        }
        if (terminal && (c == g_interruptKey || static_cast<unsigned char>(c) == g_quitKey)) {
            g_closeRequests.fetch_add(1, std::memory_order_relaxed);
            echo("\n");
            return AnswerEnd::kInterrupted;
        }
        if (c == kEscape) {
            if (terminal) DrainEscapeSequence(inputFd);
            echo("\n");
            return AnswerEnd::kEscape;
        }
        if (c == '\n' || c == '\r') {
            echo("\n");
            return AnswerEnd::kLine;
        }
        if (c == kDelete || c == kBackspace) {
            if (!answer.empty()) {
                answer.pop_back();
                echo("\b \b");
            }
            continue;
        }
        if (static_cast<unsigned char>(c) < ' ') continue;  // other control keys
        answer.push_back(c);
        echo(std::string(1, c));
    }
}

void SetCursorVisible(int fd, bool visible) {
    if (isatty(fd) != 1) return;
    if (visible) {
        g_cursorFd = -1;
        WriteAll(fd, kShowCursor);
    } else {
        g_cursorFd = fd;
        WriteAll(fd, kHideCursor);
    }
}

void DiscardTypedInput(int fd) {
    if (isatty(fd) == 1) tcflush(fd, TCIFLUSH);
}

void SetTypingHidden(int fd, bool hidden) {
    if (hidden) {
        if (g_typingFd >= 0 || isatty(fd) != 1) return;
        struct termios current {};
        if (tcgetattr(fd, &current) != 0) return;
        g_typingTermios = current;
        current.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        g_typingFd = fd;
        if (tcsetattr(fd, TCSANOW, &current) != 0) g_typingFd = -1;
        return;
    }
    int typingFd = g_typingFd;
    if (typingFd >= 0) {
        g_typingFd = -1;
        tcsetattr(typingFd, TCSANOW, &g_typingTermios);
    }
}

void RestoreTerminal() {
    int rawFd = g_rawFd;
    if (rawFd >= 0) {
        g_rawFd = -1;
        tcsetattr(rawFd, TCSANOW, &g_savedTermios);
    }
    SetTypingHidden(-1, false);
    int cursorFd = g_cursorFd;
    if (cursorFd >= 0) {
        g_cursorFd = -1;
        ssize_t ignored = write(cursorFd, kShowCursor, sizeof kShowCursor - 1);
        (void)ignored;
    }
}

bool TerminalSize(int fd, int& columns, int& rows) {
    struct winsize size {};
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return false;
    columns = size.ws_col;
    rows = size.ws_row;
    return true;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace framework
