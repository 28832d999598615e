// Checks the Win32 window system under Wine, without the application: every template builds a
// window with all its controls; controls changed by many threads at once end as the last change
// made, while the window's thread keeps waiting on those threads; the window-position filter can
// keep a window hidden; a quit request ends a modal loop; the rich-text pane takes a stream; a set
// event wakes the thread that waits on it, however their steps interleave.
// Prints one line per check and exits 1 when any failed.
#include "framework/win32/win32_headers.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/dialog.h"
#include "framework/event.h"
#include "framework/event_log_backend.h"
#include "framework/platform.h"
#include "framework/services.h"
#include "framework/win32/win32_window_system.h"
#include "res/dialog_templates.h"

namespace {

using framework::Dialog;

int g_failures = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) ++g_failures;
}

// Ends itself once initialised, after checking that every control of its template exists.
class TemplateDialog final : public Dialog {
public:
    explicit TemplateDialog(int id) : Dialog(id) {}
    bool OnInitDialog() override {
        Dialog::OnInitDialog();
        const framework::DialogTemplate* t = res::FindDialogTemplate(TemplateId());
        bool all = t != nullptr;
        if (t != nullptr) {
            for (const framework::ControlTemplate& c : t->controls) {
                if (c.id != res::IDC_STATIC && !HostRef()->HasControl(c.id)) all = false;
            }
            all = all && GetWindowText() == std::string(t->caption);
        }
        Check(all, "template " + std::to_string(TemplateId()) + " has its caption and controls");
        PostMessage(framework::kWmCommand, framework::kIdOkCommand);
        return true;
    }
};

constexpr int kWriterThreads = 4;
constexpr int kChangesPerThread = 400;
constexpr unsigned kPollTimer = 7;
constexpr unsigned kPollMs = 20;

// Four threads change the job bars and labels while the window's thread itself blocks waiting
// for them (no message is pumped meanwhile): nothing may deadlock, and the window ends showing
// every thread's last change. The silent filter keeps the window hidden throughout.
class ThreadedDialog final : public Dialog {
public:
    ThreadedDialog() : Dialog(res::IDD_VLM270FWUPDATE_DIALOG) {}

    bool OnInitDialog() override {
        Dialog::OnInitDialog();
        for (int i = 0; i < kWriterThreads; ++i) {
            m_threads.emplace_back([this, i] {
                for (int n = 0; n <= kChangesPerThread; ++n) {
                    HostRef()->SetProgressPos(res::kJobBars[i], n % 101);
                    HostRef()->SetControlText(res::kFlashPartLabels[i],
                                              "change " + std::to_string(n));
                }
                HostRef()->SetProgressBarColour(res::kJobBars[i], framework::Rgb(0, 0, 255));
                SetTimer(kPollTimer, kPollMs);  // from a thread that does not own the window
            });
        }
        // Waits without pumping messages: the writers must never wait for this thread.
        for (auto& t : m_threads) t.join();
        m_joined = true;
        return true;
    }

    void OnTimer(unsigned id) override {
        if (id != kPollTimer || !m_joined) return;
        KillTimer(kPollTimer);
        bool ok = true;
        for (int i = 0; i < kWriterThreads; ++i) {
            ok = ok && HostRef()->GetProgressPos(res::kJobBars[i]) == kChangesPerThread % 101;
            ok = ok && GetDlgItemText(res::kFlashPartLabels[i]) ==
                           "change " + std::to_string(kChangesPerThread);
        }
        Check(ok, "changes from four threads arrive in order while the window's thread waits");
        Check(!IsWindowVisible(), "the position filter kept the window hidden");
        EndDialog(framework::kIdOkCommand);
    }

    void OnWindowPosChanging(framework::WindowPos& pos) override {
        pos.flags &= ~framework::kSwpShowWindow;
    }

    ~ThreadedDialog() override {
        for (auto& t : m_threads) {
            if (t.joinable()) t.join();
        }
    }

private:
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_joined{false};
};

// A progress bar shows the colour it is given (the system's visual style would ignore it).
class ColourDialog final : public Dialog {
public:
    ColourDialog() : Dialog(res::IDD_VLM270FWUPDATE_DIALOG) {}
    bool OnInitDialog() override {
        Dialog::OnInitDialog();
        HostRef()->SetProgressPos(res::IDC_OVERALL_PROGRESS, 100);
        HostRef()->SetProgressBarColour(res::IDC_OVERALL_PROGRESS, kRed);
        SetTimer(kPollTimer, 500);
        return true;
    }
    void OnTimer(unsigned id) override {
        if (id != kPollTimer) return;
        KillTimer(kPollTimer);
        HWND dialog = ::FindWindowA(nullptr, GetWindowText().c_str());
        HWND bar = ::GetDlgItem(dialog, res::IDC_OVERALL_PROGRESS);
        RECT r{};
        ::GetClientRect(bar, &r);
        HDC dc = GetDC(bar);
        COLORREF seen = GetPixel(dc, r.right / 2, r.bottom / 2);
        ReleaseDC(bar, dc);
        char text[64];
        std::snprintf(text, sizeof text, "%06lX", static_cast<unsigned long>(seen));
        Check(seen == kRed,
              std::string("the overall bar is drawn in its colour (saw ") + text + ")");
        EndDialog(framework::kIdOkCommand);
    }

private:
    static constexpr framework::Colour kRed = framework::Rgb(255, 50, 50);
};

// A quit request made during initialisation ends the modal loop with the failure value.
class QuitDialog final : public Dialog {
public:
    QuitDialog() : Dialog(res::IDD_REBOOT) {}
    bool OnInitDialog() override {
        Dialog::OnInitDialog();
        framework::CurrentWindowSystem().PostQuit(18);
        return true;
    }
};

// The licence pane takes a document through the stream and shows it as text.
class RichTextDialog final : public Dialog {
public:
    RichTextDialog() : Dialog(res::IDD_AGREEMENT) {}
    bool OnInitDialog() override {
        Dialog::OnInitDialog();
        const std::string document = "{\\rtf1\\ansi Line one\\par Line two}";
        std::size_t at = 0;
        bool streamed =
            HostRef()->StreamInRtf(res::IDC_LICENCE_TEXT, [&](char* buffer, std::size_t capacity) {
                std::size_t n = std::min(capacity, document.size() - at);
                document.copy(buffer, n, at);
                at += n;
                return n;
            });
        std::string text = GetDlgItemText(res::IDC_LICENCE_TEXT);
        Check(streamed && text.find("Line one") != std::string::npos &&
                  text.find("Line two") != std::string::npos &&
                  text.find("rtf1") == std::string::npos,
              "the rich-text pane shows the streamed document as text");
        PostMessage(framework::kWmCommand, framework::kIdCancelCommand);
        return true;
    }
};

// One thread waits on one event after another while this thread sets them, the set falling at
// a different point of each wait's start (the program's worker waits so for its dialog). A set
// that the waiter misses leaves it asleep for good: each round has a bound, and a waiter still
// asleep after it fails the check. The events outlive a waiter that never wakes.
void CheckEventWakesItsWaiter() {
    constexpr int kRounds = 2000;
    constexpr auto kRoundLimit = std::chrono::seconds(5);
    struct Rounds {
        std::vector<framework::Event> events = std::vector<framework::Event>(kRounds);
        std::atomic<int> woken{0};
    };
    auto rounds = std::make_shared<Rounds>();
    std::thread([rounds] {
        for (framework::Event& event : rounds->events) {
            event.Wait();
            rounds->woken.fetch_add(1, std::memory_order_release);
        }
    }).detach();
    int woken = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < round % 8; ++i) std::this_thread::yield();
        rounds->events[round].Set();
        const auto limit = std::chrono::steady_clock::now() + kRoundLimit;
        while ((woken = rounds->woken.load(std::memory_order_acquire)) == round &&
               std::chrono::steady_clock::now() < limit) {
            std::this_thread::yield();
        }
        if (woken == round) break;
    }
    Check(woken == kRounds, "a set event wakes its waiter (" + std::to_string(woken) + " of " +
                                std::to_string(kRounds) + " rounds)");
}

// The event message file turns the diagnostic event into its one string, as the event viewer
// shows it; the writing thread's user identifier is a valid one.
void CheckEventLog(const char* messageFile) {
    HMODULE module = LoadLibraryExA(messageFile, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    char text[256] = {};
    const char* line = "\r\nCInterctl::Update_Firmware:1317: example";
    const DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(line)};
    DWORD n = module == nullptr
                  ? 0
                  : FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                   module, 0x20000001, 0, text, sizeof text,
                                   reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(args)));
    Check(n != 0 && std::string(text).find(line) == 0,
          "the event message file shows event 0x20000001 as its string");
    if (module != nullptr) FreeLibrary(module);

    std::vector<uint8_t> sid;
    bool got = framework::PlatformEventLog().CurrentUserSid(sid);
    Check(got && !sid.empty() && IsValidSid(sid.data()) && GetLengthSid(sid.data()) == sid.size(),
          "the writing thread's user identifier is a valid one");
}

}  // namespace

// The system's lead bytes of three double-byte code pages are those the path split's tests take,
// and with them a path is split at its real last separator only.
void CheckLeadBytes() {
    struct CodePage {
        UINT id;
        bool (*lead)(unsigned char);
        const char* path;
        std::size_t folderLength;
    };
    const CodePage pages[] = {
        {932, [](unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); },
         "C:\\Tools\\\x83\x5c\x83\x74\x83\x67.exe", 8},
        {936, [](unsigned char b) { return b >= 0x81 && b <= 0xFE; }, "D:\\\xd5\x5c\\a.exe", 5},
        {950, [](unsigned char b) { return b >= 0x81 && b <= 0xFE; }, "E:\\\xa5\x5c\\a.exe", 5},
    };
    static UINT s_codePage = 0;
    for (const CodePage& page : pages) {
        bool same = true;
        for (int b = 0; b < 256; ++b) {
            const bool system = IsDBCSLeadByteEx(page.id, static_cast<BYTE>(b)) != FALSE;
            if (system != page.lead(static_cast<unsigned char>(b))) same = false;
        }
        Check(same, "code page " + std::to_string(page.id) + " has the lead bytes the tests take");
        s_codePage = page.id;
        const std::size_t at = framework::FindLastSeparator(page.path, '\\', [](unsigned char b) {
            return IsDBCSLeadByteEx(s_codePage, b) != FALSE;
        });
        Check(at == page.folderLength,
              "code page " + std::to_string(page.id) + " splits the path at its last separator");
    }
    // The program's own split uses the ANSI code page's lead bytes.
    bool programSame = true;
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        if (framework::IsPathLeadByte(byte) != (IsDBCSLeadByteEx(CP_ACP, byte) != FALSE)) {
            programSame = false;
        }
    }
    Check(programSame, "the program's path split takes the ANSI code page's lead bytes");
}

int main(int argc, char** argv) {
    framework::Win32WindowSystem windowSystem;
    framework::ScopedServices services(
        {.windowSystem = &windowSystem,
         .messageBoxes = &framework::Win32WindowSystem::ShowMessageBox,
         .resources = &res::Resources()});
    Check(framework::InitCommonControlsEx(8, 0xFF), "common controls registered");

    for (int id : {res::IDD_ABOUTBOX, res::IDD_VLM270FWUPDATE_DIALOG, res::IDD_REBOOT}) {
        TemplateDialog dialog(id);
        Check(dialog.DoModal() == framework::kIdOkCommand,
              "template " + std::to_string(id) + " runs modally");
    }
    {
        RichTextDialog dialog;
        Check(dialog.DoModal() == framework::kDialogFailed,
              "without the rich-text library the licence template cannot be created");
    }
    Check(framework::LoadControlLibrary("RICHED20.DLL"), "the rich-text library loads");
    {
        RichTextDialog dialog;
        Check(dialog.DoModal() == framework::kIdCancelCommand, "the licence template runs");
    }
    {
        ThreadedDialog dialog;
        Check(dialog.DoModal() == framework::kIdOkCommand, "the threaded dialog ends");
    }
    {
        ColourDialog dialog;
        dialog.DoModal();
    }
    {
        QuitDialog dialog;
        Check(dialog.DoModal() == framework::kDialogFailed, "a quit request ends the modal loop");
    }
    CheckEventWakesItsWaiter();
    CheckLeadBytes();
    if (argc > 1) CheckEventLog(argv[1]);
    std::printf("%s\n", g_failures == 0 ? "backend check passed" : "backend check FAILED");
    return g_failures == 0 ? 0 : 1;
}
