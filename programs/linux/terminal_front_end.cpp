#include "programs/linux/terminal_front_end.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "flash/job_progress.h"
#include "flash/stoppable_vlmio.h"
#include "framework/message_box.h"
#include "programs/linux/terminal_render.h"
#include "res/resource_ids.h"
#include "util/exit_status.h"

namespace terminal {

using namespace framework;
namespace {

// How often the main window looks for close requests while nothing else happens.
constexpr uint64_t kWatchMs = 50;
// How often the block is drawn anew for progress alone (its bytes, the activity line).
constexpr std::chrono::milliseconds kFrameInterval{200};
constexpr int kDefaultColumns = 80;
constexpr int kDefaultRows = 24;
constexpr int kSmallestPage = 5;
constexpr int kPromptLines = 2;  // the lines a licence page leaves for its prompt

constexpr char kLicenceQuestion[] = "Accept the licence agreement? [y/N] ";
constexpr char kMorePrompt[] = "-- More: Enter for the next page, q for the question --";
// Enter restarts by default only after the ending where every controller was updated.
constexpr char kRestartQuestionYes[] = "Restart now? [Y/n] ";
constexpr char kRestartQuestionNo[] = "Restart now? [y/N] ";
constexpr char kPressEnter[] = "Press Enter to continue.";
constexpr char kClosing[] = "Closing: an update in progress is finished first.";

// Cuts leading and trailing carriage returns and line feeds.
std::string TrimLineBreaks(const std::string& s) {
    std::size_t begin = s.find_first_not_of("\r\n");
    if (begin == std::string::npos) return {};
    std::size_t end = s.find_last_not_of("\r\n");
    return s.substr(begin, end - begin + 1);
}

// The answer without surrounding blanks, in lower case.
std::string Normalised(const std::string& s) {
    std::size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    std::size_t end = s.find_last_not_of(" \t");
    std::string out = s.substr(begin, end - begin + 1);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The text with every control character but line feed and tab shown as a visible escape ("\x1b"),
// so that a licence cannot clear the screen, set the window's title or hide text. UTF-8's
// C1 controls (U+0080 to U+009F) are shown the same way.
std::string VisibleText(const std::string& text) {
    constexpr unsigned char kC1Lead = 0xC2;
    constexpr unsigned char kC1First = 0x80;
    constexpr unsigned char kC1Last = 0x9F;
    constexpr unsigned char kDeleteByte = 0x7F;
    std::string out;
    out.reserve(text.size());
    auto escape = [&out](unsigned char c) {
        char visible[8];
        std::snprintf(visible, sizeof visible, "\\x%02x", c);
        out += visible;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n' || c == '\t') {
            out.push_back(text[i]);
        } else if (c < ' ' || c == kDeleteByte) {
            escape(c);
        } else if (c == kC1Lead && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= kC1First &&
                   static_cast<unsigned char>(text[i + 1]) <= kC1Last) {
            escape(static_cast<unsigned char>(text[++i]));
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// Whether the control holds part of a controller row's text (its name, numbers, flash part).
bool IsRowText(int id) {
    auto in = [id](const auto& ids) { return std::find(ids.begin(), ids.end(), id) != ids.end(); };
    if (in(res::kControllerNames) || in(res::kFlashPartLabels)) return true;
    for (const res::NumberRow& r : res::kNumberRows) {
        if (in(std::array<int, 6>{r.busCaption, r.bus, r.deviceCaption, r.device, r.functionCaption,
                                  r.function})) {
            return true;
        }
    }
    return false;
}

std::string ControlText(const WindowState& window, int id) {
    const ControlState* c = window.Control(id);
    return c ? c->text : std::string();
}

}  // namespace

TerminalOptions StandardTerminalOptions(bool silent) {
    TerminalOptions options;
    options.silent = silent;
    const char* term = std::getenv("TERM");
    const char* noColour = std::getenv("NO_COLOR");
    const char* colourTerm = std::getenv("COLORTERM");
    options.drawInPlace =
        isatty(STDOUT_FILENO) == 1 && !(term != nullptr && std::string(term) == "dumb");
    if (options.drawInPlace && (noColour == nullptr || noColour[0] == '\0')) {
        const std::string depth = colourTerm != nullptr ? colourTerm : "";
        options.colour = depth == "truecolor" || depth == "24bit" ? ColourDepth::kTrueColour
                                                                  : ColourDepth::kStandard;
    }
    return options;
}

TerminalFrontEnd::TerminalFrontEnd(const TerminalOptions& options)
    : m_options(options),
      m_promptFd(isatty(options.outputFd) != 1 && isatty(options.errorFd) == 1 ? options.errorFd
                                                                               : options.outputFd) {
}

TerminalFrontEnd::~TerminalFrontEnd() {
    Uninstall();
}

void TerminalFrontEnd::Provide(framework::Services& services) {
    services.windowSystem = &m_windows;
    services.messageBoxes = [this](const MessageBoxRequest& request) {
        return m_windows.ShowMessageBox(request);
    };
    services.notices = [this](const std::string& text) { ShowNotice(text); };
}

void TerminalFrontEnd::ShowNotice(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    LeaveBlock();
    Emit(m_options.errorFd, text + "\n");
}

void TerminalFrontEnd::Install() {
    m_closeRequestsSeen = CloseRequestCount();
    m_closeRequestsAtInstall = m_closeRequestsSeen;
    InstallTerminalSignalHandlers();
    m_windows.SetObserver(this);
    m_windows.SetDialogResponder([this](const WindowState& w) { return Respond(w); });
    m_windows.SetMessageBoxResponder(
        [this](const MessageBoxRecord& box) { return AnswerMessageBox(box); });
    if (!m_options.silent && !m_options.drawInPlace) {
        // Plain lines: each step is told as the job enters it, however short it is; the job
        // waits for its line.
        flash::SetJobStepObserver([this](uint8_t, const flash::JobSnapshot&) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_titlePrinted) ShowMainWindow(!m_rowTextsPending);
        });
        m_observing = true;
    }
    m_installed = true;
}

void TerminalFrontEnd::Uninstall() {
    if (!m_installed) return;
    m_installed = false;
    m_windows.SetObserver(nullptr);
    m_windows.SetDialogResponder(nullptr);
    m_windows.SetMessageBoxResponder(nullptr);
    if (m_observing) flash::SetJobStepObserver(nullptr);
    m_observing = false;
    std::lock_guard<std::mutex> lock(m_mutex);
    LeaveBlock();
    RestoreTerminal();
}

int TerminalFrontEnd::Columns() const {
    int columns = m_options.columns;
    int rows = 0;
    if (columns <= 0 && !TerminalSize(m_options.outputFd, columns, rows)) {
        columns = kDefaultColumns;
    }
    return columns;
}

int TerminalFrontEnd::Rows() const {
    int rows = m_options.rows;
    int columns = 0;
    if (rows <= 0 && !TerminalSize(m_options.outputFd, columns, rows)) rows = kDefaultRows;
    return rows;
}

// ---- The main window ----------------------------------------------------------------------

void TerminalFrontEnd::OnChange(const ChangeRecord& change) {
    if (change.templateId != res::IDD_VLM270FWUPDATE_DIALOG || m_options.silent) return;
    switch (change.property) {
        case Property::kUserAction:
        case Property::kPainted:
        case Property::kDragIcon:
        case Property::kIcon:
        case Property::kMenuItem:
        case Property::kTimerSet:
        case Property::kTimerKilled:
        case Property::kWindowPos:
            return;
        default:
            break;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    bool printRows = true;
    if (change.property == Property::kText) {
        // A refresh of the rows sets their texts one by one and ends with the update-to value:
        // the plain lines wait for the whole refresh.
        if (IsRowText(change.controlId)) {
            m_rowTextsPending = true;
            printRows = false;
        } else if (change.controlId == res::IDC_UPDATE_TO_VALUE) {
            m_rowTextsPending = false;
        }
    }
    if (m_rowTextsPending) printRows = false;
    if (change.property == Property::kDestroyed) {
        LeaveBlock();
        return;
    }
    ShowMainWindow(printRows);
}

void TerminalFrontEnd::SetImageName(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_imageName = path;
}

void TerminalFrontEnd::Emit(int fd, const std::string& text) {
    if (Gone(fd)) return;
    if (!WriteAll(fd, text) && errno == EPIPE) m_goneFds.push_back(fd);
}

bool TerminalFrontEnd::Gone(int fd) const {
    return std::find(m_goneFds.begin(), m_goneFds.end(), fd) != m_goneFds.end();
}

void TerminalFrontEnd::ShowMainWindow(bool printPlainRows) {
    if (Gone(m_options.outputFd)) return;  // nobody reads the drawing any more
    std::optional<WindowState> window = m_windows.FindWindow(res::IDD_VLM270FWUPDATE_DIALOG);
    if (!window || !window->alive || !window->visible) {
        LeaveBlock();  // what was drawn stays on the screen
        return;
    }
    MainWindowView view = ViewOfMainWindow(*window);
    view.image = m_imageName;
    for (ControllerRowView& row : view.rows) {
        const auto target = static_cast<uint8_t>(row.index);
        row.progress = flash::SnapshotOf(target);
        if (row.progress.step == flash::JobStep::kFailed) {
            row.cause = flash::CauseText(flash::CauseOf(target));
        }
    }
    m_progressSeen = flash::ProgressGeneration();
    if (m_options.drawInPlace) {
        if (m_prompting > 0) return;
        view.notice = m_notice;
        const auto now = std::chrono::steady_clock::now();
        if (!m_shown) {
            m_shown = true;
            m_shownAt = now;
        }
        // The mark turns only when the hardware was worked on since the last frame.
        const uint64_t accesses = flash::CStoppableVlmIo::CallsMade();
        if (accesses != m_accessesSeen) {
            m_accessesSeen = accesses;
            ++m_frame;
        }
        m_lastFrameAt = now;
        const auto elapsed = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now - m_shownAt).count());
        const ControlState* bar = window->Control(res::IDC_OVERALL_PROGRESS);
        const bool bRunFailed = bar != nullptr && bar->barColour == framework::Rgb(255, 50, 50);
        std::string activity =
            ActivityLine(m_frame, m_ended ? m_ullEndedMs : elapsed, view.rows, bRunFailed);
        if (!m_ended && activity.rfind("[", 0) != 0) {
            m_ended = true;  // the clock stops once every row has ended
            m_ullEndedMs = elapsed;
        }
        view.activity = std::move(activity);
        DrawBlock(RenderMainWindowBlock(view, Columns() - 1, m_options.colour));
        return;
    }
    std::string out;
    if (!m_titlePrinted) {
        m_titlePrinted = true;
        out += view.title + "\n";
    }
    if (!m_imagePrinted && !view.image.empty()) {
        m_imagePrinted = true;
        out += "Image: " + view.image + "\n";
    }
    if (printPlainRows) {
        for (const ControllerRowView& row : view.rows) {
            if (!PlainRowWorthPrinting(row)) continue;
            std::string line;
            for (const std::string& piece : RenderPlainRow(row, Columns())) line += piece + "\n";
            std::string& last = m_plainRows[static_cast<std::size_t>(row.index)];
            if (line != last) {
                last = line;
                out += line;
            }
        }
    }
    if (!out.empty()) Emit(m_options.outputFd, out);
}

void TerminalFrontEnd::DrawBlock(const std::vector<std::string>& lines) {
    const uint64_t resizes = TerminalResizeCount();
    const int columns = Columns();
    std::string out;
    std::size_t cursor = m_drawn.size();  // the row below the block
    auto up = [&out](std::size_t n) {
        if (n > 0) out += "\x1b[" + std::to_string(n) + "A";
    };
    const bool bFirst = m_drawn.empty();
    if (bFirst) {
        SetCursorVisible(m_options.outputFd, false);
        SetTypingHidden(m_options.inputFd, true);
    } else if (resizes != m_resizesSeen || columns != m_drawnColumns) {
        // The terminal may have rewrapped the old lines to its new width: clear every row they
        // can take now, and draw the block whole from its first row.
        std::size_t rows = 0;
        for (const std::string& line : m_drawn) {
            const std::size_t width = VisibleWidth(line);
            const std::size_t perRow = columns > 0 ? static_cast<std::size_t>(columns) : width;
            rows += width == 0 || perRow == 0 ? 1 : (width + perRow - 1) / perRow;
        }
        up(rows);
        out += "\r\x1b[J";
        m_drawn.clear();
        cursor = 0;
    }
    m_resizesSeen = resizes;
    m_drawnColumns = columns;
    auto moveTo = [&](std::size_t row) {
        if (row < cursor) up(cursor - row);
        if (row > cursor) out += "\x1b[" + std::to_string(row - cursor) + "B";
        if (row != cursor) out += "\r";
        cursor = row;
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i < m_drawn.size() && m_drawn[i] == lines[i]) continue;
        moveTo(i);
        out += lines[i] + "\n";
        cursor = i + 1;
    }
    moveTo(lines.size());
    if (lines.size() < m_drawn.size()) out += "\x1b[J";
    m_drawn = lines;
    if (!out.empty()) Emit(m_options.outputFd, out);
}

void TerminalFrontEnd::LeaveBlock() {
    if (m_drawn.empty()) return;
    m_drawn.clear();
    m_notice.clear();
    SetCursorVisible(m_options.outputFd, true);
    SetTypingHidden(m_options.inputFd, false);
}

void TerminalFrontEnd::PrintBelow(const std::string& text) {
    LeaveBlock();
    Emit(m_promptFd, text);
}

// ---- Answers --------------------------------------------------------------------------------

AnswerEnd TerminalFrontEnd::Ask(const std::string& prompt, std::string& answer) {
    uint64_t seen = CloseRequestCount();
    std::optional<AnswerMode> mode;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_prompting;
        LeaveBlock();
        // Raw mode before the question shows, so that every key typed once it shows is read
        // as typed; and only those keys answer it: a key pressed earlier by chance must not
        // accept a licence or restart a computer.
        mode.emplace(m_options.inputFd);
        DiscardTypedInput(m_options.inputFd);
        Emit(m_promptFd, prompt);
    }
    AnswerEnd end = ReadAnswer(m_options.inputFd, m_promptFd, answer, seen);
    mode.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    // Typed answers are echoed by the terminal; others end the prompt's line here.
    if (isatty(m_options.inputFd) != 1) Emit(m_promptFd, "\n");
    --m_prompting;  // the main window is drawn anew below at its next change
    return end;
}

UserAction TerminalFrontEnd::Respond(const WindowState& dialog) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto next = m_nextAction.find(dialog.windowId);
        if (next != m_nextAction.end()) {
            UserAction action = next->second;
            m_nextAction.erase(next);
            return action;
        }
        if (dialog.templateId != res::IDD_VLM270FWUPDATE_DIALOG) {
            if (m_asked[dialog.windowId]) return UserAction::Wait(kWatchMs);
            m_asked[dialog.windowId] = true;
        }
    }
    switch (dialog.templateId) {
        case res::IDD_VLM270FWUPDATE_DIALOG:
            return WatchMainWindow(dialog);
        case res::IDD_AGREEMENT:
            return m_options.silent ? UserAction::Escape() : AskLicence(dialog);
        case res::IDD_REBOOT:
            return m_options.silent ? UserAction::Escape() : AskRestart(dialog);
        case res::IDD_ABOUTBOX:
            return UserAction::Enter();
        default:
            return UserAction::Escape();
    }
}

UserAction TerminalFrontEnd::WatchMainWindow(const WindowState& dialog) {
    (void)dialog;
    uint64_t requests = CloseRequestCount();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (requests > m_closeRequestsSeen) {
        m_closeRequestsSeen = requests;
        if (!m_options.silent) {
            if (m_options.drawInPlace && !m_drawn.empty()) {
                // Said inside the block, so that no copy of the block is left above it.
                m_notice = kClosing;
                ShowMainWindow(false);
            } else {
                PrintBelow(std::string(kClosing) + "\n");
            }
        }
        return UserAction::CloseBox();
    }
    if (m_options.silent) return UserAction::Wait(kWatchMs);
    if (m_options.drawInPlace && !m_drawn.empty() && TerminalResizeCount() != m_resizesSeen) {
        ShowMainWindow(false);
    } else if (m_options.drawInPlace && !m_drawn.empty() && !m_ended) {
        // Progress, and the activity line's mark and clock, at a few frames a second.
        if (std::chrono::steady_clock::now() - m_lastFrameAt >= kFrameInterval) {
            ShowMainWindow(false);
        }
    } else if (!m_options.drawInPlace && m_titlePrinted &&
               flash::ProgressGeneration() != m_progressSeen) {
        ShowMainWindow(!m_rowTextsPending);
    }
    return UserAction::Wait(kWatchMs);
}

UserAction TerminalFrontEnd::AskLicence(const WindowState& dialog) {
    std::vector<std::string> lines =
        WrapText(VisibleText(ControlText(dialog, res::IDC_LICENCE_TEXT)), Columns() - 1);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        PrintBelow(dialog.title + "\n" + ControlText(dialog, res::IDC_LICENCE_PROMPT) + "\n\n");
    }
    const std::size_t page =
        static_cast<std::size_t>(std::max(kSmallestPage, Rows() - kPromptLines));
    std::string answer;
    for (std::size_t first = 0; first < lines.size(); first += page) {
        std::string text;
        std::size_t last = std::min(lines.size(), first + page);
        for (std::size_t i = first; i < last; ++i) text += lines[i] + "\n";
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            PrintBelow(text);
        }
        if (last == lines.size()) break;
        AnswerEnd end = Ask(kMorePrompt, answer);
        if (end != AnswerEnd::kLine) return UserAction::Escape();
        if (Normalised(answer) == "q") break;
    }
    AnswerEnd end = Ask(std::string("\n") + kLicenceQuestion, answer);
    std::string a = Normalised(answer);
    if (end == AnswerEnd::kLine && (a == "y" || a == "yes")) {
        return UserAction::Press(kIdOkCommand);
    }
    return UserAction::Escape();
}

UserAction TerminalFrontEnd::AskRestart(const WindowState& dialog) {
    // A person who asked the update to close, or a run that changed no flash, is not asked to
    // restart: nothing is restarted, and that is said.
    const bool bCloseRequested = CloseRequestCount() > m_closeRequestsAtInstall;
    if (bCloseRequested || !flash::AnyEraseBegun()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        PrintBelow(
            std::string(bCloseRequested ? kClosedNotRestarted : kNothingWrittenNotRestarted) +
            "\n");
        return UserAction::Escape();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string headline = "\n";
        headline += ControlText(dialog, res::IDC_RESTART_HEADLINE);
        PrintBelow(headline + "\n");
    }
    // The run's outcome is recorded before the prompt shows.
    const bool restartByDefault = ExitStatusOfRun() == static_cast<int>(ExitStatus::kAllUpdated);
    for (;;) {
        std::string answer;
        AnswerEnd end = Ask(restartByDefault ? kRestartQuestionYes : kRestartQuestionNo, answer);
        if (end != AnswerEnd::kLine) return UserAction::Escape();
        std::string a = Normalised(answer);
        if ((a.empty() && restartByDefault) || a == "y" || a == "yes") return UserAction::Enter();
        if (a.empty() || a == "n" || a == "no") {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_nextAction[dialog.windowId] = UserAction::Enter();
            return UserAction::Press(res::IDC_RESTART_LATER);
        }
    }
}

int TerminalFrontEnd::AnswerMessageBox(const MessageBoxRecord& box) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        LeaveBlock();
        Emit(m_options.errorFd, box.caption + ": " + TrimLineBreaks(box.text) + "\n");
        if (m_options.silent) return kIdOk;
    }
    std::string answer;
    Ask(kPressEnter, answer);  // whatever ends the wait closes the box
    return kIdOk;
}

}  // namespace terminal
