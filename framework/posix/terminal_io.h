// The terminal as the Linux front end uses it: answers read a line at a time with the terminal in
// raw mode (Escape answers at once), close requests from signals, and a terminal that is always
// put back the way it was found (line mode, echo, cursor shown).
#pragma once

#include <cstdint>
#include <string>

namespace framework {

// How reading an answer ended.
enum class AnswerEnd {
    kLine,         // Enter ended a line (its text in the answer)
    kEscape,       // the Escape key
    kEndOfInput,   // end of input (or Ctrl-D on an empty line)
    kInterrupted,  // a close request (Ctrl-C, SIGTERM, SIGHUP) came while waiting
};

// The close requests made by signals so far (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT); each signal adds
// one.
uint64_t CloseRequestCount();
// How often the terminal was resized (SIGWINCH) since the handlers were installed.
uint64_t TerminalResizeCount();
// Makes SIGINT, SIGTERM, SIGHUP and SIGQUIT close requests, counts terminal resizes, puts the
// terminal back on a fatal signal and at exit, and before a stop (Ctrl-Z, SIGTSTP; set up again
// when continued); a stop waits while stops are held. SIGPIPE is ignored: a closed output fails
// its writes. Idempotent.
void InstallTerminalSignalHandlers();

// Raw mode on the terminal fd for the life of the object: no line editing, no echo, and the
// interrupt key (Ctrl-C) read as a key that makes a close request. Does nothing when fd is no
// terminal or raw mode is already on. Entered before a question is shown, it makes sure that
// every key typed once the question shows reaches the answer.
class AnswerMode {
public:
    explicit AnswerMode(int fd);
    ~AnswerMode();
    AnswerMode(const AnswerMode&) = delete;
    AnswerMode& operator=(const AnswerMode&) = delete;

private:
    bool m_owner = false;
};

// Reads one answer from inputFd. On a terminal, input is read in raw mode (AnswerMode) for the
// time of the call, typed characters are echoed to echoFd (backspace erases) and the line ends with
// Enter. The wait ends early with kInterrupted when a close request arrives after
// closeRequestsSeen.
AnswerEnd ReadAnswer(int inputFd, int echoFd, std::string& answer, uint64_t closeRequestsSeen);

// Hides or shows the cursor of the terminal on fd; a hidden cursor is shown again at exit.
void SetCursorVisible(int fd, bool visible);

// Throws away what was typed on the terminal fd and not read yet.
void DiscardTypedInput(int fd);

// Hides or shows again what is typed on the terminal fd (while the main window is drawn in
// place, so that a key pressed meanwhile cannot move the drawing); shown again at exit.
void SetTypingHidden(int fd, bool hidden);

// Puts the terminal back: line mode and echo as they were found, cursor shown. Safe to call at
// any time and more than once; async-signal-safe.
void RestoreTerminal();

// The terminal's size on fd; false when fd is not a terminal or the size is unknown.
bool TerminalSize(int fd, int& columns, int& rows);

// Writes the whole text to fd (retrying short writes); false on failure.
bool WriteAll(int fd, const std::string& text);

}  // namespace framework
