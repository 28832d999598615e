// The Linux program's front end: the in-memory window system does the dialogs' work, and this
// shows what it holds on a terminal and answers its dialogs and message boxes by asking the
// person at the keyboard.
//
// - The licence: its text a page at a time, then "Accept the licence agreement? [y/N]" (y
//   accepts; anything else, Escape or end of input cancels).
// - The main window: a block redrawn in place on a terminal (title, activity bar, one line per
//   controller with its bar, in the bars' colours unless NO_COLOR is set); elsewhere one plain
//   line per change of a controller's row or job bar.
// - Message boxes: "CAPTION: TEXT" on standard error; the interactive run then waits for Enter.
//   Notices: their line on standard error.
// - The restart prompt: its headline, then "Restart now? [Y/n]" after the ending where every
//   controller was updated, "Restart now? [y/N]" after any other (Enter takes the capital answer;
//   y: restart now, n: restart later, Escape or end of input: cancel).
// - Ctrl-C, SIGTERM and SIGHUP: the main window's close request.
// Silent mode prints nothing but message boxes and waits for nobody.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "framework/memory/memory_window_system.h"
#include "framework/posix/terminal_io.h"
#include "framework/services.h"

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
    bool colour = false;       // draw bars in their colours
    int columns = 0;           // 0: the terminal's width (80 when unknown)
    int rows = 0;              // 0: the terminal's height (24 when unknown)
};

// The options for the process's standard streams: drawn in place when standard output is a
// terminal (not TERM=dumb), in colour unless NO_COLOR is set to a non-empty value.
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

    void OnChange(const ChangeRecord& change) override;

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
    void LeaveBlock();  // m_mutex held
    int Columns() const;
    int Rows() const;

    TerminalOptions m_options;
    int m_promptFd;  // questions and the licence: the output, or standard error when only it is
                     // a terminal
    MemoryWindowSystem m_windows;
    bool m_installed = false;

    std::mutex m_mutex;            // the output and everything below
    int m_prompting = 0;           // answers being read: the block is not redrawn meanwhile
    std::size_t m_blockLines = 0;  // lines of the block on the screen, the cursor below them
    bool m_titlePrinted = false;
    bool m_rowTextsPending = false;  // a row's texts are being refilled
    std::array<std::string, 4> m_plainRows;
    std::map<uint64_t, UserAction> m_nextAction;  // what a dialog is told next
    std::map<uint64_t, bool> m_asked;             // dialogs already answered
    uint64_t m_closeRequestsSeen = 0;
};

}  // namespace terminal
