// The terminal front end driven by small dialogs of the shapes the program shows: the licence,
// the restart prompt, the main window; message boxes; close requests from signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "flash/job_progress.h"
#include "framework/dialog.h"
#include "framework/message_box.h"
#include "framework/posix/terminal_io.h"
#include "framework/window_system.h"
#include "programs/linux/terminal_front_end.h"
#include "programs/linux/terminal_render.h"
#include "res/resource_ids.h"
#include "tests/support/test_services.h"
#include "util/exit_status.h"

namespace {

using framework::Dialog;

constexpr framework::Colour kGreen = framework::Rgb(0, 150, 75);
constexpr framework::Colour kBlue = framework::Rgb(50, 50, 255);
constexpr framework::Colour kRed = framework::Rgb(255, 50, 50);

// Standard streams for one front end: input from a pipe holding the given text (then its end),
// output and errors into memory files.
class Streams {
public:
    explicit Streams(const std::string& input) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        m_in = fds[0];
        EXPECT_TRUE(framework::WriteAll(fds[1], input));
        close(fds[1]);
        m_out = memfd_create("out", 0);
        m_err = memfd_create("err", 0);
    }
    ~Streams() {
        close(m_in);
        close(m_out);
        close(m_err);
    }
    terminal::TerminalOptions Options(bool silent, bool inPlace = false,
                                      terminal::ColourDepth colour = terminal::ColourDepth::kNone) {
        terminal::TerminalOptions o;
        o.inputFd = m_in;
        o.outputFd = m_out;
        o.errorFd = m_err;
        o.silent = silent;
        o.drawInPlace = inPlace;
        o.colour = colour;
        o.columns = 120;
        o.rows = 24;
        return o;
    }
    std::string Out() const { return Contents(m_out); }
    std::string Err() const { return Contents(m_err); }
    // What is left of the input.
    std::string RestOfInput() const {
        std::string rest;
        char buffer[256];
        ssize_t n;
        while ((n = read(m_in, buffer, sizeof buffer)) > 0) rest.append(buffer, n);
        return rest;
    }

private:
    static std::string Contents(int fd) {
        std::string all;
        char buffer[4096];
        ssize_t n;
        off_t at = 0;
        while ((n = pread(fd, buffer, sizeof buffer, at)) > 0) {
            all.append(buffer, n);
            at += n;
        }
        return all;
    }
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
};

// A front end installed as the program installs it: its windows and message boxes are the
// services'.
class FrontEnd {
public:
    explicit FrontEnd(const terminal::TerminalOptions& options)
        : m_terminal(options), m_services(ServicesOf(m_terminal)) {
        m_terminal.Install();
    }
    void Uninstall() { m_terminal.Uninstall(); }
    framework::MemoryWindowSystem& Windows() { return m_terminal.Windows(); }
    void SetImageName(const std::string& path) { m_terminal.SetImageName(path); }

private:
    static pci::Services ServicesOf(terminal::TerminalFrontEnd& frontEnd) {
        pci::Services services;
        frontEnd.Provide(services.platform);
        return services;
    }
    terminal::TerminalFrontEnd m_terminal;
    testsupport::ScopedTestServices m_services;
};

std::size_t Count(const std::string& haystack, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

// The licence dialog's shape: title, prompt and the RTF document in its pane.
class LicenceDialog : public Dialog {
public:
    explicit LicenceDialog(std::string rtf) : Dialog(res::IDD_AGREEMENT), m_rtf(std::move(rtf)) {}
    bool OnInitDialog() override {
        Dialog::OnInitDialog();
        BindControl(res::IDC_LICENCE_TEXT, m_pane);
        SetWindowText("License Agreement");
        std::size_t at = 0;
        m_pane.StreamInRtf([&](char* buffer, std::size_t capacity) {
            std::size_t n = std::min(capacity, m_rtf.size() - at);
            m_rtf.copy(buffer, n, at);
            at += n;
            return n;
        });
        return true;
    }

private:
    std::string m_rtf;
    framework::RichEditCtrl m_pane;
};

// The restart prompt's shape: title, headline, restart now checked at the start.
class RestartDialog : public Dialog {
public:
    RestartDialog() : Dialog(res::IDD_REBOOT) {}
    bool OnInitDialog() override {
        Dialog::OnInitDialog();
        SetWindowText("Restart Computer");
        SetDlgItemText(res::IDC_RESTART_HEADLINE, "Firmware Updated Successful!!");
        CheckDlgButton(res::IDC_RESTART_NOW, framework::kBstChecked);
        return true;
    }
    void OnCommand(int id) override {
        if (id == res::IDC_RESTART_LATER) m_clicksLater++;
        Dialog::OnCommand(id);
    }
    int m_clicksLater = 0;
};

// The main window's shape: once shown, one timer tick plays the given steps, then it ends unless
// told to wait for a close request.
class MainDialog : public Dialog {
public:
    explicit MainDialog(std::function<void(MainDialog&)> steps, bool endItself = true)
        : Dialog(res::IDD_VLM270FWUPDATE_DIALOG),
          m_steps(std::move(steps)),
          m_endItself(endItself) {}
    bool OnInitDialog() override {
        Dialog::OnInitDialog();
        SetWindowText("Velmora 270 Firmware Upgrade Tool Ver 1.0.2.0");
        // The labels are cleared before the window is first shown.
        for (const res::NumberRow& n : res::kNumberRows) {
            for (int id :
                 {n.busCaption, n.bus, n.deviceCaption, n.device, n.functionCaption, n.function}) {
                SetDlgItemText(id, "");
            }
        }
        for (int id : res::kControllerNames) SetDlgItemText(id, "");
        for (int id : res::kFlashPartLabels) SetDlgItemText(id, "");
        SetDlgItemText(res::IDC_UPDATE_TO_CAPTION, "");
        SetDlgItemText(res::IDC_UPDATE_TO_VALUE, "");
        SetTimer(1, 1);
        return true;
    }
    void OnTimer(unsigned id) override {
        if (!IsWindowVisible()) return;  // the steps play once the window shows
        KillTimer(id);
        if (m_steps) m_steps(*this);
        if (m_endItself) EndDialog(framework::kIdOkCommand);
    }
    void OnClose() override {
        ++m_closes;
        Dialog::OnClose();
    }
    int m_closes = 0;

    // One controller row filled the way the main dialog refreshes its rows.
    void ShowRow(const std::string& flashPart) {
        const res::NumberRow& n = res::kNumberRows[0];
        SetDlgItemText(n.busCaption, "Bus:");
        SetDlgItemText(n.deviceCaption, "Device:");
        SetDlgItemText(n.functionCaption, "Function:");
        SetDlgItemText(n.bus, "01");
        SetDlgItemText(n.device, "00");
        SetDlgItemText(n.function, "00");
        auto host = HostRef();
        host->ShowControl(res::kJobBars[0], true);
        host->SetProgressBarColour(res::kJobBars[0], kGreen);
        host->SetProgressPos(res::kJobBars[0], 0);
        SetDlgItemText(res::kControllerNames[0], "270X :");
        SetDlgItemText(res::kFlashPartLabels[0], flashPart);
        SetDlgItemText(res::IDC_UPDATE_TO_CAPTION, "Update to:");
        SetDlgItemText(res::IDC_UPDATE_TO_VALUE, "");
    }
    void Bar(int pos, framework::Colour colour) {
        HostRef()->SetProgressBarColour(res::kJobBars[0], colour);
        HostRef()->SetProgressPos(res::kJobBars[0], pos);
    }

private:
    std::function<void(MainDialog&)> m_steps;
    bool m_endItself;
};

const char kLicenceRtf[] =
    "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 SOFTWARE LICENCE\\par Use it with care.\\par}";

TEST(TerminalFrontEnd, LicenceAnswers) {
    struct Case {
        const char* input;
        int result;
    } cases[] = {
        {"y\n", framework::kIdOkCommand},      {"Y\n", framework::kIdOkCommand},
        {" yes \n", framework::kIdOkCommand},  {"\n", framework::kIdCancelCommand},
        {"n\n", framework::kIdCancelCommand},  {"x\n", framework::kIdCancelCommand},
        {"", framework::kIdCancelCommand},     {"\x1by\n", framework::kIdCancelCommand},
        {"yy\n", framework::kIdCancelCommand},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        Streams s(c.input);
        FrontEnd frontEnd(s.Options(false));
        ASSERT_TRUE(framework::LoadControlLibrary("RICHED20.DLL"));
        LicenceDialog licence(kLicenceRtf);
        EXPECT_EQ(licence.DoModal(), c.result);
        frontEnd.Uninstall();
        std::string out = s.Out();
        EXPECT_NE(out.find("License Agreement\n"), std::string::npos) << out;
        EXPECT_NE(out.find("Please read the following license agreement"), std::string::npos);
        EXPECT_NE(out.find("SOFTWARE LICENCE\nUse it with care.\n"), std::string::npos) << out;
        EXPECT_NE(out.find("Accept the licence agreement? [y/N] "), std::string::npos);
        EXPECT_EQ(out.find("\\rtf"), std::string::npos);
        EXPECT_EQ(s.Err(), "");
    }
}

// A licence cannot drive the terminal: raw control bytes and escaped ones (\'1b) are shown as
// visible escapes, never written as they are.
TEST(TerminalFrontEnd, LicenceControlCharactersAreShownNotObeyed) {
    Streams s("n\n");
    FrontEnd frontEnd(s.Options(false));
    ASSERT_TRUE(framework::LoadControlLibrary("RICHED20.DLL"));
    LicenceDialog licence(
        "{\\rtf1 Clear\\'1b[2J now\\par Title \x1b]0;owned\x07 set\\par Hidden \x1b[8mtext\\par "
        "Bell\\'07 and back\\'7f\\par}");
    EXPECT_EQ(licence.DoModal(), framework::kIdCancelCommand);
    frontEnd.Uninstall();
    const std::string out = s.Out();
    EXPECT_NE(out.find("Clear\\x1b[2J now\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Title \\x1b]0;owned\\x07 set\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Hidden \\x1b[8mtext\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Bell\\x07 and back\\x7f\n"), std::string::npos) << out;
    for (const char* raw : {"\x1b[2J", "\x1b]0;", "\x1b[8m", "\x07", "\x7f"}) {
        EXPECT_EQ(out.find(raw), std::string::npos) << "raw " << raw + 1;
    }
}

TEST(TerminalFrontEnd, LicenceIsShownAPageAtATime) {
    std::string rtf = "{\\rtf1 ";
    for (int i = 1; i <= 12; ++i) rtf += "line " + std::to_string(i) + "\\par ";
    rtf += "}";
    struct Case {
        const char* input;
        int result;
        bool lastLineShown;
    } cases[] = {
        {"\n\ny\n", framework::kIdOkCommand, true},    // every page, then accepted
        {"q\ny\n", framework::kIdOkCommand, false},    // straight to the question
        {"", framework::kIdCancelCommand, false},      // input ends at the first page
        {"\x1b", framework::kIdCancelCommand, false},  // Escape at the first page
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        Streams s(c.input);
        terminal::TerminalOptions o = s.Options(false);
        o.rows = 7;  // pages of five lines
        FrontEnd frontEnd(o);
        ASSERT_TRUE(framework::LoadControlLibrary("RICHED20.DLL"));
        LicenceDialog licence(rtf);
        EXPECT_EQ(licence.DoModal(), c.result);
        frontEnd.Uninstall();
        std::string out = s.Out();
        EXPECT_NE(out.find("line 5\n-- More"), std::string::npos) << out;
        EXPECT_EQ(out.find("line 6\n") != std::string::npos, c.lastLineShown) << out;
        EXPECT_EQ(out.find("line 12\n") != std::string::npos, c.lastLineShown) << out;
    }
}

// A run that erased a flash, as the restart question is asked only after one.
void EraseBegun() {
    flash::ResetJobProgress();
    flash::ScopedJobProgress job(0, 1, 1);
    flash::BeginAttempt(1);
    flash::BeginStep(flash::JobStep::kErase);
}

// Enter restarts only after the ending where every controller was updated: two Enters after a
// run that failed never restart a computer.
TEST(TerminalFrontEnd, RestartPromptAnswers) {
    EraseBegun();
    struct Case {
        ExitStatus ending;
        const char* input;
        int result;
        int laterChecked;
        std::size_t questions;
    } cases[] = {
        {ExitStatus::kAllUpdated, "\n", framework::kIdOkCommand, framework::kBstUnchecked, 1},
        {ExitStatus::kAllUpdated, "y\n", framework::kIdOkCommand, framework::kBstUnchecked, 1},
        {ExitStatus::kAllUpdated, "n\n", framework::kIdOkCommand, framework::kBstChecked, 1},
        {ExitStatus::kAllUpdated, "NO\n", framework::kIdOkCommand, framework::kBstChecked, 1},
        {ExitStatus::kAllUpdated, "maybe\nn\n", framework::kIdOkCommand, framework::kBstChecked, 2},
        {ExitStatus::kAllUpdated, "", framework::kIdCancelCommand, framework::kBstUnchecked, 1},
        {ExitStatus::kAllUpdated, "\x1b", framework::kIdCancelCommand, framework::kBstUnchecked, 1},
        {ExitStatus::kControllerNotReady, "\n", framework::kIdOkCommand, framework::kBstChecked, 1},
        {ExitStatus::kImageNotFound, "\n\n", framework::kIdOkCommand, framework::kBstChecked, 1},
        {ExitStatus::kHostNotReady, "\n", framework::kIdOkCommand, framework::kBstChecked, 1},
        {ExitStatus::kTimeOut, "\n", framework::kIdOkCommand, framework::kBstChecked, 1},
        {ExitStatus::kHostNotReady, "y\n", framework::kIdOkCommand, framework::kBstUnchecked, 1},
        {ExitStatus::kTimeOut, "yes\n", framework::kIdOkCommand, framework::kBstUnchecked, 1},
        {ExitStatus::kHostNotReady, "\x1b", framework::kIdCancelCommand, framework::kBstUnchecked,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input) + " after ending " +
                     std::to_string(static_cast<int>(c.ending)));
        ResetExitStatus();
        RecordExitStatus(c.ending);
        Streams s(c.input);
        FrontEnd frontEnd(s.Options(false));
        RestartDialog prompt;
        EXPECT_EQ(prompt.DoModal(), c.result);
        auto window = frontEnd.Windows().FindWindow(res::IDD_REBOOT);
        ASSERT_TRUE(window);
        EXPECT_EQ(window->Control(res::IDC_RESTART_LATER)->check, c.laterChecked);
        EXPECT_EQ(window->Control(res::IDC_RESTART_NOW)->check,
                  c.laterChecked == framework::kBstChecked ? framework::kBstUnchecked
                                                           : framework::kBstChecked);
        frontEnd.Uninstall();
        std::string out = s.Out();
        EXPECT_NE(out.find("Firmware Updated Successful!!\n"), std::string::npos) << out;
        const bool byDefault = c.ending == ExitStatus::kAllUpdated;
        EXPECT_EQ(Count(out, byDefault ? "Restart now? [Y/n] " : "Restart now? [y/N] "),
                  c.questions)
            << out;
        EXPECT_EQ(Count(out, byDefault ? "Restart now? [y/N] " : "Restart now? [Y/n] "), 0u);
    }
    ResetExitStatus();
}

// No restart is offered after a close request (Ctrl-C, TERM, HUP during the run), nor after a
// run that erased no flash: "y" typed then restarts nothing, and the sentence says so.
TEST(TerminalFrontEnd, NoRestartQuestionAfterACloseRequestOrWhenNothingWasWritten) {
    struct Case {
        bool erased;
        int signal;  // 0: none
        const char* said;
    } cases[] = {
        {true, SIGINT, "The update was asked to close: this computer was not restarted.\n"},
        {true, SIGTERM, "The update was asked to close: this computer was not restarted.\n"},
        {true, SIGHUP, "The update was asked to close: this computer was not restarted.\n"},
        {false, 0, "No flash was written: this computer was not restarted.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.said) + std::to_string(c.signal));
        if (c.erased) {
            EraseBegun();
        } else {
            flash::ResetJobProgress();
        }
        ResetExitStatus();
        RecordExitStatus(ExitStatus::kAllUpdated);
        Streams s("y\n");
        FrontEnd frontEnd(s.Options(false));
        if (c.signal != 0) std::raise(c.signal);
        RestartDialog prompt;
        EXPECT_EQ(prompt.DoModal(), framework::kIdCancelCommand);
        frontEnd.Uninstall();
        EXPECT_EQ(s.Out().find("Restart now?"), std::string::npos) << s.Out();
        EXPECT_NE(s.Out().find(c.said), std::string::npos) << s.Out();
        EXPECT_EQ(s.RestOfInput(), "y\n");
    }
    flash::ResetJobProgress();
    ResetExitStatus();
}

TEST(TerminalFrontEnd, MessageBoxesGoToStandardErrorAndWaitForEnterOnlyWhenInteractive) {
    for (bool silent : {true, false}) {
        SCOPED_TRACE(silent);
        Streams s("\nrest");
        FrontEnd frontEnd(s.Options(silent));
        EXPECT_EQ(framework::MessageBox("\r\n\r\nHost:12: went wrong\r\n", "Caption",
                                        framework::kMbOk | framework::kMbIconExclamation),
                  framework::kIdOk);
        frontEnd.Uninstall();
        EXPECT_EQ(s.Err(), "Caption: Host:12: went wrong\n");
        if (silent) {
            EXPECT_EQ(s.Out(), "");
            EXPECT_EQ(s.RestOfInput(), "\nrest");  // nobody was asked
        } else {
            EXPECT_NE(s.Out().find("Press Enter to continue."), std::string::npos);
            EXPECT_EQ(s.RestOfInput(), "rest");  // Enter was waited for
        }
    }
}

// The main window running one controller's update: refresh, the job's steps with the bar
// moves that follow them, colour at the end.
void PlayUpdate(MainDialog& d) {
    flash::ResetJobProgress();
    d.ShowRow(":[]");
    d.ShowRow("PFLASH:[PM25LV010A]");
    {
        flash::ScopedJobProgress job(0, 0x10000, 0x10000);
        flash::BeginAttempt(1);
        flash::BeginStep(flash::JobStep::kErase);
        d.Bar(10, kGreen);
        flash::BeginStep(flash::JobStep::kWrite);
        flash::StepBytesDone(0x1000);
        d.Bar(12, kGreen);
        flash::BeginStep(flash::JobStep::kVerify);
        flash::StepBytesDone(0x10000);
        d.Bar(50, kGreen);
    }
    flash::FinishJob(0, true);
    d.Bar(100, kBlue);
    d.HostRef()->SetProgressPos(res::IDC_OVERALL_PROGRESS, 37);
}

TEST(TerminalFrontEnd, MainWindowAsPlainLinesWhenOutputIsNoTerminal) {
    Streams s("");
    FrontEnd frontEnd(s.Options(false));
    frontEnd.SetImageName("/srv/fw/VLM270_Option_ROM.rom");
    MainDialog main(PlayUpdate);
    EXPECT_EQ(main.DoModal(), framework::kIdOkCommand);
    frontEnd.Uninstall();
    // The image is named; no line before the part is known; one line per step and attempt, not
    // per byte; the outcome in words, not colour names.
    EXPECT_EQ(s.Out(),
              "Velmora 270 Firmware Upgrade Tool Ver 1.0.2.0\n"
              "Image: /srv/fw/VLM270_Option_ROM.rom\n"
              "270X : Bus 01 Dev 00 Fn 00 PFLASH:[PM25LV010A] identified\n"
              "270X : Bus 01 Dev 00 Fn 00 PFLASH:[PM25LV010A] erase, attempt 1 of 3\n"
              "270X : Bus 01 Dev 00 Fn 00 PFLASH:[PM25LV010A] write, attempt 1 of 3\n"
              "270X : Bus 01 Dev 00 Fn 00 PFLASH:[PM25LV010A] verify, attempt 1 of 3\n"
              "270X : Bus 01 Dev 00 Fn 00 PFLASH:[PM25LV010A] updated\n");
    EXPECT_EQ(s.Err(), "");
}

TEST(TerminalFrontEnd, MainWindowDrawnInPlaceInTheColoursTheTerminalHas) {
    using terminal::ColourDepth;
    struct Case {
        ColourDepth depth;
        const char* blue;   // how the blue cells start
        const char* green;  // how the green cells start
    } cases[] = {
        {ColourDepth::kTrueColour, "\x1b[38;2;50;50;255;48;2;50;50;255m", "\x1b[38;2;0;150;75;"},
        {ColourDepth::kStandard, "\x1b[34;44m#", "\x1b[32;42m"},
        {ColourDepth::kNone, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.depth));
        Streams s("");
        FrontEnd frontEnd(s.Options(false, true, c.depth));
        MainDialog main(PlayUpdate);
        main.DoModal();
        frontEnd.Uninstall();
        std::string out = s.Out();
        EXPECT_NE(out.find("\x1b[1A\r"), std::string::npos);  // a line redrawn over itself
        EXPECT_NE(out.find("PFLASH:[PM25LV010A]"), std::string::npos);
        // The activity line, no percentage; the step and bytes under the row; the outcome in
        // words in every mode.
        EXPECT_NE(out.find("Finished after 0:0"), std::string::npos) << out;
        EXPECT_EQ(out.find(" 37%"), std::string::npos);
        EXPECT_NE(out.find("write 4,096 of 65,536 bytes, attempt 1 of 3"), std::string::npos);
        EXPECT_NE(out.find("] 100% updated"), std::string::npos);
        EXPECT_NE(out.find("written and verified 65,536 bytes, attempt 1 of 3"), std::string::npos);
        EXPECT_EQ(out.find("\x1b[38;2;") != std::string::npos, c.depth == ColourDepth::kTrueColour);
        if (c.blue != nullptr) {
            EXPECT_NE(out.find(c.blue), std::string::npos);
            EXPECT_NE(out.find(c.green), std::string::npos);
        } else {
            EXPECT_FALSE(std::regex_search(out, std::regex("\x1b\\[[34][0-9][;m]")))
                << "no colour at all";
            EXPECT_EQ(out.find("green"), std::string::npos);
        }
    }
}

// Only the lines that changed are written again: the title goes out once, and a change that
// shows nothing new writes nothing.
TEST(TerminalFrontEnd, MainWindowRedrawsOnlyWhatChanged) {
    Streams s("");
    FrontEnd frontEnd(s.Options(false, true, terminal::ColourDepth::kStandard));
    std::size_t before = 0;
    std::size_t after = 0;
    MainDialog main([&](MainDialog& d) {
        PlayUpdate(d);
        before = s.Out().size();
        d.Bar(100, kBlue);  // as it is already
        d.SetDlgItemText(res::kFlashPartLabels[0], "PFLASH:[PM25LV010A]");
        after = s.Out().size();
    });
    main.DoModal();
    frontEnd.Uninstall();
    EXPECT_EQ(Count(s.Out(), "Velmora 270 Firmware Upgrade Tool"), 1u);
    EXPECT_EQ(after, before);
    // Each step of the job was written once.
    EXPECT_EQ(Count(s.Out(), "write 4,096 of 65,536 bytes"), 1u);
}

// A reader that has gone (a pager that quit) does not come back: once a write to the output
// failed with EPIPE, nothing more is drawn on it, even where the same descriptor could be written
// again (here a new pipe put in its place), and the window still runs to its end.
TEST(TerminalFrontEnd, AnOutputWhoseReaderWentIsNeverDrawnOnAgain) {
    for (bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace);
        Streams s("");
        int gone[2];
        ASSERT_EQ(pipe(gone), 0);
        close(gone[0]);
        int later[2];
        ASSERT_EQ(pipe2(later, O_NONBLOCK), 0);
        terminal::TerminalOptions o = s.Options(false, inPlace);
        o.outputFd = gone[1];
        FrontEnd frontEnd(o);
        MainDialog main([&](MainDialog& d) {
            d.ShowRow("PFLASH:[PM25LV010A]");  // written to nobody
            ASSERT_EQ(dup2(later[1], gone[1]), gone[1]);
            d.Bar(10, kGreen);
            d.Bar(50, kGreen);
            d.Bar(100, kBlue);
        });
        EXPECT_EQ(main.DoModal(), framework::kIdOkCommand);
        frontEnd.Uninstall();
        char buffer[256];
        const ssize_t n = read(later[0], buffer, sizeof buffer);
        EXPECT_EQ(n, -1) << "drawn after the reader went: "
                         << std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        for (int fd : {gone[1], later[0], later[1]}) close(fd);
    }
}

TEST(TerminalFrontEnd, SilentModePrintsNothingButMessageBoxes) {
    Streams s("");
    FrontEnd frontEnd(s.Options(true));
    MainDialog main([](MainDialog& d) {
        PlayUpdate(d);
        framework::AfxMessageBox("Firmware Update Time Out, Fail!!!");
    });
    main.DoModal();
    frontEnd.Uninstall();
    EXPECT_EQ(s.Out(), "");
    EXPECT_NE(s.Err().find(": Firmware Update Time Out, Fail!!!\n"), std::string::npos);
}

TEST(TerminalFrontEnd, SignalsAreTheMainWindowsCloseRequest) {
    Streams s("");
    FrontEnd frontEnd(s.Options(false));
    MainDialog main([](MainDialog&) { std::raise(SIGINT); }, false);
    EXPECT_EQ(main.DoModal(), framework::kIdCancelCommand);  // the close request ended it
    EXPECT_EQ(main.m_closes, 1);
    frontEnd.Uninstall();
    EXPECT_NE(s.Out().find("Closing"), std::string::npos);
}

// On a terminal the close request's message goes into the block: the block is not drawn anew
// below it, so no stale copy stays on the screen.
TEST(TerminalFrontEnd, CloseMessageInPlaceLeavesNoCopyOfTheBlock) {
    Streams s("");
    FrontEnd frontEnd(s.Options(false, true, terminal::ColourDepth::kStandard));
    MainDialog main(
        [](MainDialog& d) {
            PlayUpdate(d);
            std::raise(SIGINT);
        },
        false);
    EXPECT_EQ(main.DoModal(), framework::kIdCancelCommand);
    frontEnd.Uninstall();
    const std::string out = s.Out();
    EXPECT_EQ(Count(out, "Velmora 270 Firmware Upgrade Tool"), 1u) << out;
    const std::size_t closing = out.find("Closing: an update in progress is finished first.");
    ASSERT_NE(closing, std::string::npos);
    EXPECT_EQ(out.find("PFLASH", closing), std::string::npos) << "nothing drawn after it";
}

// A resized terminal gets the block whole again at its new width, from the block's first row.
TEST(TerminalFrontEnd, ResizeRedrawsTheWholeBlockAtTheNewWidth) {
    int master = -1;
    int slave = -1;
    struct winsize wide {};
    wide.ws_col = 100;
    wide.ws_row = 30;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &wide), 0);
    std::string out;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(master, buffer, sizeof buffer)) > 0) out.append(buffer, n);
    });
    {
        Streams s("");
        terminal::TerminalOptions o = s.Options(false, true, terminal::ColourDepth::kNone);
        o.outputFd = slave;
        o.columns = 0;  // the terminal's own width
        FrontEnd frontEnd(o);
        MainDialog main([&](MainDialog& d) {
            PlayUpdate(d);
            struct winsize narrow = wide;
            narrow.ws_col = 60;
            ioctl(master, TIOCSWINSZ, &narrow);
            std::raise(SIGWINCH);
            d.HostRef()->SetProgressPos(res::IDC_OVERALL_PROGRESS, 38);
        });
        main.DoModal();
        frontEnd.Uninstall();
    }
    close(slave);
    reader.join();
    close(master);
    const std::size_t cleared = out.find("\r\x1b[J");
    ASSERT_NE(cleared, std::string::npos) << out;
    // The old block's four lines are cleared from the first: the controller's line, 94 columns
    // wide, may have been wrapped onto two rows by the terminal.
    EXPECT_EQ(out.substr(cleared - 4, 4), "\x1b[5A");
    const std::string after = out.substr(cleared + 4);
    EXPECT_NE(after.find("Velmora 270 Firmware Upgrade Tool"), std::string::npos);
    std::size_t start = 0;
    while (start < after.size()) {
        std::size_t end = after.find('\n', start);
        if (end == std::string::npos) end = after.size();
        EXPECT_LE(terminal::VisibleWidth(after.substr(start, end - start)), 60u);
        start = end + 1;
    }
}

TEST(TerminalFrontEnd, CloseRequestCancelsAQuestion) {
    // Input that never ends: only the close request can end the wait.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int out = memfd_create("out", 0);
    std::string answer;
    framework::InstallTerminalSignalHandlers();
    uint64_t seen = framework::CloseRequestCount();
    std::raise(SIGTERM);
    EXPECT_EQ(framework::ReadAnswer(fds[0], out, answer, seen), framework::AnswerEnd::kInterrupted);
    close(fds[0]);
    close(fds[1]);
    close(out);
}

TEST(TerminalFrontEnd, AnswersOnATerminalUseRawModeAndPutTheTerminalBack) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);
    struct Case {
        const char* keys;
        framework::AnswerEnd end;
        const char* answer;
    } cases[] = {
        {"ab\x7f"
         "c\r",
         framework::AnswerEnd::kLine, "ac"},
        {"\x1b[A", framework::AnswerEnd::kEscape, ""},  // an arrow key counts as Escape
        {"\x04", framework::AnswerEnd::kEndOfInput, ""},
        // Ctrl-C is read as a key, so it cannot be lost as a signal would be when it comes
        // while the question is being shown; it still counts as a close request.
        {"x\x03", framework::AnswerEnd::kInterrupted, "x"},
        // So is the quit key (Ctrl-\), as SIGQUIT is outside a question.
        {"y\x1c", framework::AnswerEnd::kInterrupted, "y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        // The keys are typed once the answer is awaited in raw mode.
        std::thread person([&] {
            termios now{};
            while (tcgetattr(slave, &now) == 0 && (now.c_lflag & ICANON) != 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            framework::WriteAll(master, c.keys);
        });
        std::string answer;
        const uint64_t closeRequests = framework::CloseRequestCount();
        EXPECT_EQ(framework::ReadAnswer(slave, slave, answer, closeRequests), c.end);
        person.join();
        EXPECT_EQ(framework::CloseRequestCount() - closeRequests,
                  c.end == framework::AnswerEnd::kInterrupted ? 1u : 0u);
        EXPECT_EQ(answer, c.answer);
        termios after{};
        ASSERT_EQ(tcgetattr(slave, &after), 0);
        EXPECT_EQ(after.c_lflag, before.c_lflag);
    }
    close(slave);
    close(master);
}

TEST(TerminalFrontEnd, KeysTypedBeforeAQuestionDoNotAnswerIt) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    int out = memfd_create("out", 0);
    terminal::TerminalOptions o;
    o.inputFd = slave;
    o.outputFd = out;
    o.errorFd = out;
    o.drawInPlace = true;
    o.columns = 100;
    FrontEnd frontEnd(o);
    EraseBegun();  // the question is asked only after a run that erased a flash
    // Enter pressed while the run was going on would mean "restart now".
    ASSERT_TRUE(framework::WriteAll(master, "\r"));
    struct pollfd typed {
        slave, POLLIN, 0
    };
    ASSERT_EQ(poll(&typed, 1, 5000), 1);  // the key waits in the terminal's input
    // The answer is typed once the question shows: keys typed before it, even in raw mode,
    // are discarded with the early Enter.
    std::thread person([master, out] {
        std::string shown(1 << 16, '\0');
        for (;;) {
            ssize_t n = pread(out, shown.data(), shown.size(), 0);
            if (n > 0 && shown.find("Restart now?") < static_cast<std::size_t>(n)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        framework::WriteAll(master, "n\r");
    });
    RestartDialog prompt;
    EXPECT_EQ(prompt.DoModal(), framework::kIdOkCommand);
    person.join();
    auto window = frontEnd.Windows().FindWindow(res::IDD_REBOOT);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->Control(res::IDC_RESTART_LATER)->check, framework::kBstChecked);
    frontEnd.Uninstall();
    flash::ResetJobProgress();
    close(out);
    close(slave);
    close(master);
}

TEST(TerminalFrontEnd, TypingHiddenWhileDrawingIsShownAgainWhenTheTerminalIsRestored) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios t{};
    framework::SetTypingHidden(slave, true);
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_FALSE(t.c_lflag & ECHO);
    framework::RestoreTerminal();
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_TRUE(t.c_lflag & ECHO);
    close(slave);
    close(master);
}

TEST(TerminalRender, WrapsTextAtSpacesAndKeepsParagraphs) {
    struct Case {
        const char* text;
        int columns;
        std::vector<std::string> lines;
    } cases[] = {
        {"one two three", 7, {"one two", "three"}},
        {"abcdefghij", 4, {"abcd", "efgh", "ij"}},
        {"a\n\nb\n\n", 10, {"a", "", "b"}},
        {"\tx", 20, {"        x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(terminal::WrapText(c.text, c.columns), c.lines);
    }
}

// The widest rows of four controllers keep their bars and percentages from 80 columns down to 60,
// giving up the long spelling of the numbers, bar cells, then the end of the part's name.
TEST(TerminalRender, RowsFitTheTerminalWithTheirBars) {
    using terminal::ColourDepth;
    terminal::MainWindowView view;
    view.title = std::string(200, 'T');
    view.image = "/usr/lib/vlm270fwupdate/" + std::string(100, 'i') + ".rom";
    const char* parts[] = {"MXIC:[MX25L100(2)5C/1006E]", "Giga Device:[GD25Q512]",
                           "WinBond:[W25X10B(C)L(V)]", "PFLASH:[PM25L(W)D020C]"};
    for (int i = 0; i < 4; ++i) {
        terminal::ControllerRowView row;
        row.index = i;
        row.name = "270X " + std::to_string(i + 1) + ":";
        row.numbers = "Bus: 15 Device: 31 Function: 07";
        row.bus = "15";
        row.device = "31";
        row.function = "07";
        row.flashPart = parts[i];
        row.barVisible = true;
        row.barPercent = 100;
        row.barColour = i == 0 ? kRed : kBlue;
        row.progress.step = i == 0 ? flash::JobStep::kFailed : flash::JobStep::kUpdated;
        row.progress.ucAttempt = 3;
        row.progress.dwAttemptTotal = 3 * 0x20000;
        row.progress.dwAttemptDone = i == 0 ? 0x20000 : 3 * 0x20000;
        row.progress.dwStepTotal = 0x20000;
        if (i == 0) {
            row.cause =
                "erase did not take: status register 0x1c (block-protect bits set); "
                "blank check read 0x00 at 0x000000 on all 3 attempts";
        }
        view.rows.push_back(row);
    }
    view.activity = terminal::ActivityLine(0, 75000, view.rows, true);
    EXPECT_EQ(view.activity, "Finished after 1:15: 3 updated, 1 FAILED");
    const std::regex bar("\\[[#-]{10,20}\\] +(33|100)% (updated|FAILED)$");
    for (ColourDepth depth :
         {ColourDepth::kTrueColour, ColourDepth::kStandard, ColourDepth::kNone}) {
        for (int columns : {79, 69, 59}) {
            SCOPED_TRACE(std::to_string(columns) + " columns, depth " +
                         std::to_string(static_cast<int>(depth)));
            const auto lines = terminal::RenderMainWindowBlock(view, columns, depth);
            // Title, activity, each row and its detail (the cause over two lines or more), the
            // image.
            ASSERT_GE(lines.size(), 12u);
            EXPECT_NE(lines.back().find("Image: "), std::string::npos);
            std::vector<std::string> rows;
            std::string causes;
            for (const std::string& line : lines) {
                EXPECT_LE(terminal::VisibleWidth(line), static_cast<std::size_t>(columns)) << line;
                std::string visible;
                for (std::size_t k = 0; k < line.size(); ++k) {
                    if (line[k] == '\x1b') {
                        k = line.find_first_of("mK", k);
                        continue;
                    }
                    visible.push_back(line[k]);
                }
                if (visible.rfind("270X ", 0) == 0) rows.push_back(visible);
                if (visible.rfind("        ", 0) == 0) causes += visible.substr(7);
            }
            ASSERT_EQ(rows.size(), 4u);
            for (std::size_t i = 0; i < rows.size(); ++i) {
                EXPECT_TRUE(std::regex_search(rows[i], bar)) << rows[i];
                if (columns == 79) {
                    EXPECT_NE(rows[i].find(parts[i]), std::string::npos);
                }
            }
            EXPECT_NE(rows[0].find("]  33% FAILED"), std::string::npos) << rows[0];
            EXPECT_NE(causes.find(" blank check read 0x00 at 0x000000 on all 3 attempts"),
                      std::string::npos)
                << causes;
        }
    }
    EXPECT_EQ(terminal::OutcomeWord(kGreen), "");
}

// Every step of the widest row, as a plain line and as the block's two lines, fits in 80
// columns; the words and the attempt are always there.
TEST(TerminalRender, EveryStepFitsEightyColumns) {
    using flash::JobStep;
    const struct {
        JobStep step;
        const char* plain;   // the plain line's end
        const char* detail;  // the block's second line, without its indent
    } cases[] = {
        {JobStep::kWaiting, " waiting", "waiting for another controller's write to end"},
        {JobStep::kBackup, " backup", "backup: reading its flash before the erase"},
        {JobStep::kErase, " erase, attempt 2 of 3", "erase, attempt 2 of 3"},
        {JobStep::kBlankCheck, " blank check, attempt 2 of 3",
         "blank check 12,288 of 65,536 bytes, attempt 2 of 3"},
        {JobStep::kWrite, " write, attempt 2 of 3",
         "write 12,288 of 131,072 bytes, attempt 2 of 3"},
        {JobStep::kVerify, " verify, attempt 2 of 3",
         "verify 12,288 of 131,072 bytes, attempt 2 of 3"},
        {JobStep::kUpdated, " updated", "written and verified 131,072 bytes, attempt 2 of 3"},
        {JobStep::kFailed, " FAILED", "written data differs at 0x001234 (wrote 0x5a, read 0x00)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plain);
        terminal::ControllerRowView row;
        row.name = "270X 4:";
        row.numbers = "Bus: 0f Device: 1f Function: 07";
        row.bus = "0f";
        row.device = "1f";
        row.function = "07";
        row.flashPart = "MXIC:[MX25L100(2)5C/1006E]";
        row.barVisible = true;
        row.progress.step = c.step;
        row.progress.ucAttempt = 2;
        row.progress.dwStepDone = 12288;
        row.progress.dwStepTotal = c.step == JobStep::kBlankCheck ? 65536 : 131072;
        row.cause = "written data differs at 0x001234 (wrote 0x5a, read 0x00)";
        const auto plain = terminal::RenderPlainRow(row, 80);
        for (const std::string& line : plain) EXPECT_LE(line.size(), 80u) << line;
        EXPECT_EQ(plain[0].rfind("270X 4: Bus 0f Dev 1f Fn 07 MXIC:[MX25L", 0), 0u) << plain[0];
        EXPECT_EQ(plain[0].substr(plain[0].size() - std::string(c.plain).size()), c.plain);
        EXPECT_EQ(plain.size(), c.step == JobStep::kFailed ? 2u : 1u);
        EXPECT_EQ(terminal::RowDetail(row), c.detail);
        terminal::MainWindowView view;
        view.rows.push_back(row);
        for (const std::string& line :
             terminal::RenderMainWindowBlock(view, 79, terminal::ColourDepth::kNone)) {
            EXPECT_LE(terminal::VisibleWidth(line), 79u) << line;
        }
    }
    EXPECT_EQ(terminal::ByteCount(0), "0");
    EXPECT_EQ(terminal::ByteCount(999), "999");
    EXPECT_EQ(terminal::ByteCount(1000), "1,000");
}

}  // namespace
