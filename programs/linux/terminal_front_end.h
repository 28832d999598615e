// The Linux program's front end: the in-memory window system does the dialogs' work, and this
// shows what it holds on a terminal and answers its dialogs and message boxes by asking the
// person at the keyboard.
//
// - The licence: its text a page at a time, then "Accept the licence agreement? [y/N]" (y
//   accepts; anything else, Escape or end of input cancels).
// - The main window: a block redrawn in place on a terminal, only the lines that changed, and
//   whole again after the terminal is resized (title, activity line, two lines per controller:
//   its bar of real progress with "updated", "FAILED" or "waiting", then its step, bytes and
//   attempt or the cause of its failure; the image. In the bars' colours: 24-bit where
//   COLORTERM says the terminal has them, else the 16 standard colours, none when NO_COLOR is
//   set); elsewhere the image, then one plain line per step of each controller.
// - Message boxes: "CAPTION: TEXT" on standard error; the interactive run then waits for Enter.
//   Notices: their line on standard error.
// - The restart prompt: its headline, then "Restart now? [Y/n]" after the ending where every
//   controller was updated, "Restart now? [y/N]" after any other (Enter takes the capital answer;
//   y: restart now, n: restart later, Escape or end of input: cancel). Not asked at all (and
//   nothing restarted) after a close request, nor when no flash was erased.
// - Ctrl-C, SIGTERM and SIGHUP: the main window's close request; what it waits for is said in the
//   block itself.
// Silent mode prints nothing but message boxes and waits for nobody.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "framework/memory/memory_window_system.h"
#include "framework/posix/terminal_io.h"
#include "framework/services.h"
#include "programs/linux/terminal_render.h"

namespace terminal {

using framework::AnswerEnd;
using framework::ChangeRecord;
using framework::MemoryWindowObserver;
using framework::MemoryWindowSystem;
using framework::MessageBoxRecord;
using framework::UserAction;
using framework::WindowState;

struct TerminalOptions {
    int inputFd = 0;
    int outputFd = 1;
    int errorFd = 2;
    bool silent = false;
    bool drawInPlace = false;  // the output is a terminal: redraw the main window in place
    ColourDepth colour = ColourDepth::kNone;  // how bars are coloured
    int columns = 0;                          // 0: the terminal's width (80 when unknown)
    int rows = 0;                             // 0: the terminal's height (24 when unknown)
};

// The options for the process's standard streams: drawn in place when standard output is a
// terminal (not TERM=dumb), in colour unless NO_COLOR is set to a non-empty value: 24-bit when
// COLORTERM is "truecolor" or "24bit", else the 16 standard colours.
TerminalOptions StandardTerminalOptions(bool silent);

class TerminalFrontEnd final : public MemoryWindowObserver {
public:
    explicit TerminalFrontEnd(const TerminalOptions& options);
    ~TerminalFrontEnd() override;
    TerminalFrontEnd(const TerminalFrontEnd&) = delete;
    TerminalFrontEnd& operator=(const TerminalFrontEnd&) = delete;

    // Puts this front end's window system and message boxes into the program's services.
    void Provide(framework::Services& services);
    // Starts answering the window system's dialogs and message boxes and makes the close signals
    // this front end's; Uninstall (or the destructor) stops and restores the terminal.
    void Install();
    void Uninstall();

    MemoryWindowSystem& Windows() { return m_windows; }

    // The image the run writes, shown under the controllers (from any thread).
    void SetImageName(const std::string& path);

    void OnChange(const ChangeRecord& change) override;

    // The sentence said instead of the restart question after a close request, and when no
    // flash was erased.
    static constexpr const char* kClosedNotRestarted =
        "The update was asked to close: this computer was not restarted.";
    static constexpr const char* kNothingWrittenNotRestarted =
        "No flash was written: this computer was not restarted.";

private:
    UserAction Respond(const WindowState& dialog);
    UserAction AskLicence(const WindowState& dialog);
    UserAction AskRestart(const WindowState& dialog);
    UserAction WatchMainWindow(const WindowState& dialog);
    int AnswerMessageBox(const MessageBoxRecord& box);
    // A line that needs no answer, on standard error below the main window.
    void ShowNotice(const std::string& text);

    // Reads an answer with the main window's drawing held back; the prompt goes first.
    AnswerEnd Ask(const std::string& prompt, std::string& answer);
    // Prints text where questions go, below the main window's block (m_mutex held).
    void PrintBelow(const std::string& text);
    // Draws the main window from its current state, or its plain lines (m_mutex held).
    void ShowMainWindow(bool printPlainRows);
    // Puts the block's lines on the screen over the ones drawn before, rewriting only those that
    // changed; after a resize, clears what the old block may now cover and draws it whole
    // (m_mutex held).
    void DrawBlock(const std::vector<std::string>& lines);
    void LeaveBlock();  // m_mutex held
    // Writes text to one of the front end's outputs (m_mutex held). An output whose reader has
    // gone (EPIPE: a pager that quit) never comes back: it is not written to again, and the main
    // window is no longer drawn on it; the run goes on.
    void Emit(int fd, const std::string& text);
    bool Gone(int fd) const;  // m_mutex held
    int Columns() const;
    int Rows() const;

    TerminalOptions m_options;
    int m_promptFd;  // questions and the licence: the output, or standard error when only it is
                     // a terminal
    MemoryWindowSystem m_windows;
    bool m_installed = false;
    bool m_observing = false;  // the jobs' steps are told to this front end

    std::mutex m_mutex;                // the output and everything below
    int m_prompting = 0;               // answers being read: the block is not redrawn meanwhile
    std::vector<std::string> m_drawn;  // the block's lines on the screen, the cursor below them
    uint64_t m_resizesSeen = 0;        // terminal resizes already drawn for
    int m_drawnColumns = 0;            // the width the block was drawn for
    std::string m_imageName;
    std::string m_notice;  // a line under the block's rows
    bool m_titlePrinted = false;
    bool m_rowTextsPending = false;  // a row's texts are being refilled
    std::array<std::string, 4> m_plainRows;
    std::vector<int> m_goneFds;                   // outputs whose reader has gone
    std::map<uint64_t, UserAction> m_nextAction;  // what a dialog is told next
    std::map<uint64_t, bool> m_asked;             // dialogs already answered
    uint64_t m_closeRequestsSeen = 0;
    uint64_t m_closeRequestsAtInstall = 0;

    // The activity line: when the window was first shown and when every row had ended, the
    // mark's frame, and what was last drawn of the jobs' records and the hardware's accesses.
    std::chrono::steady_clock::time_point m_shownAt;
    std::chrono::steady_clock::time_point m_lastFrameAt;
    bool m_shown = false;
    bool m_ended = false;
    uint64_t m_ullEndedMs = 0;
    unsigned m_frame = 0;
    uint64_t m_progressSeen = 0;
    uint64_t m_accessesSeen = 0;
    bool m_imagePrinted = false;  // plain lines: the image was named
};

}  // namespace terminal
