// The dialog layer over the in-memory window system: message routing, the loop, timers, quit,
// controls from other threads, the scripted user and message boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "framework/clock.h"
#include "framework/message_box.h"
#include "res/resource_ids.h"
#include "tests/support/test_clocks.h"
#include "tests/unit/framework_test_support.h"

namespace framework_test {
namespace {

constexpr int kMainId = res::IDD_VLM270FWUPDATE_DIALOG;

struct RoutingCase {
    const char* name;
    int templateId;
    UserAction action;
    int expectedResult;
    std::vector<std::string> expectedCalls;  // after "init" and the first "paint"
};

// What a user's key or click becomes: the handler chain and the dialog's result.
TEST(FrameworkDialog, UserInputIsRoutedAsInARealDialog) {
    const RoutingCase cases[] = {
        // The main window's OK button is hidden, but Enter still triggers it.
        {"enter hits hidden default",
         kMainId,
         UserAction::Enter(),
         kIdOkCommand,
         {"command 1", "ok"}},
        {"escape", kMainId, UserAction::Escape(), kIdCancelCommand, {"command 2", "cancel"}},
        {"cancel button",
         kMainId,
         UserAction::Press(kIdCancelCommand),
         kIdCancelCommand,
         {"command 2", "cancel"}},
        {"close box",
         kMainId,
         UserAction::CloseBox(),
         kIdCancelCommand,
         {"syscommand 61536", "close", "command 2", "cancel"}},
        {"enter on restart prompt",
         res::IDD_REBOOT,
         UserAction::Enter(),
         kIdOkCommand,
         {"command 1", "ok"}},
        // Its Cancel button is hidden: Escape still cancels.
        {"escape on restart prompt",
         res::IDD_REBOOT,
         UserAction::Escape(),
         kIdCancelCommand,
         {"command 2", "cancel"}},
    };
    for (const RoutingCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedWindowSystem ws;
        ws.system.SetDialogResponder(Script({c.action}));
        TestDialog dialog(c.templateId);
        EXPECT_EQ(dialog.DoModal(), c.expectedResult);
        std::vector<std::string> calls = dialog.Calls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[0], "init");
        EXPECT_EQ(calls[1], "paint");
        EXPECT_EQ(std::vector<std::string>(calls.begin() + 2, calls.end()), c.expectedCalls);
        EXPECT_FALSE(dialog.HasWindow());
    }
}

TEST(FrameworkDialog, HiddenOrMissingButtonsCannotBePressed) {
    ScopedWindowSystem ws;
    // The restart prompt's Cancel is hidden; 4242 does not exist; the menu has no item 77.
    ws.system.SetDialogResponder(
        Script({UserAction::Press(kIdCancelCommand), UserAction::Press(4242),
                UserAction::SystemMenu(77), UserAction::Press(kIdOkCommand)}));
    TestDialog dialog(res::IDD_REBOOT);
    EXPECT_EQ(dialog.DoModal(), kIdOkCommand);
    auto window = ws.system.FindWindow(res::IDD_REBOOT);
    ASSERT_TRUE(window);
    auto actions = ws.system.History(window->windowId, 0, Property::kUserAction);
    ASSERT_EQ(actions.size(), 4u);
    EXPECT_EQ(actions[0].text, "ignored");
    EXPECT_EQ(actions[1].text, "ignored");
    EXPECT_EQ(actions[2].text, "ignored");
    EXPECT_EQ(actions[3].text, "");
}

TEST(FrameworkDialog, RadioClickChecksItAndClearsItsGroup) {
    ScopedWindowSystem ws;
    std::vector<std::pair<int, int>> seen;  // (clicked id, its check state in the handler)
    ws.system.SetDialogResponder(
        Script({UserAction::Press(res::IDC_RESTART_LATER), UserAction::Press(res::IDC_RESTART_NOW),
                UserAction::Press(res::IDC_RESTART_LATER), UserAction::Enter()}));
    TestDialog dialog(res::IDD_REBOOT);
    dialog.onInit = [](TestDialog& d) {
        d.CheckDlgButton(res::IDC_RESTART_NOW, kBstChecked);
        return true;
    };
    dialog.onCommand = [&](TestDialog& d, int id) {
        if (id == res::IDC_RESTART_NOW || id == res::IDC_RESTART_LATER) {
            seen.emplace_back(id, d.IsDlgButtonChecked(id));
        }
    };
    EXPECT_EQ(dialog.DoModal(), kIdOkCommand);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{res::IDC_RESTART_LATER, kBstChecked},
                                                      {res::IDC_RESTART_NOW, kBstChecked},
                                                      {res::IDC_RESTART_LATER, kBstChecked}}));
    auto window = ws.system.FindWindow(res::IDD_REBOOT);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->Control(res::IDC_RESTART_NOW)->check, kBstUnchecked);
    EXPECT_EQ(window->Control(res::IDC_RESTART_LATER)->check, kBstChecked);
}

TEST(FrameworkDialog, PostedMessagesAreHandledInOrderOnTheDialogThread) {
    ScopedWindowSystem ws;
    std::thread::id handlerThread;
    TestDialog dialog(kMainId);
    dialog.onInit = [&](TestDialog& d) {
        // Posted from another thread, in this order.
        std::thread poster([&d] {
            d.PostMessage(kWmCommand, 1001);
            d.PostMessage(kWmSysCommand, 0x20);
            d.PostClose();
        });
        poster.join();
        return true;
    };
    dialog.onCommand = [&](TestDialog&, int) { handlerThread = std::this_thread::get_id(); };
    dialog.onSysCommand = [](TestDialog&, unsigned) {};
    EXPECT_EQ(dialog.DoModal(), kIdCancelCommand);
    // Posted messages come before the window is first shown and painted.
    EXPECT_EQ(dialog.Calls(), (std::vector<std::string>{"init", "command 1001", "syscommand 32",
                                                        "close", "command 2", "cancel"}));
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    auto window = ws.system.FindWindow(kMainId);
    ASSERT_TRUE(window);
    EXPECT_FALSE(window->alive);
    EXPECT_TRUE(ws.system.History(window->windowId, 0, Property::kWindowVisible).empty())
        << "a dialog closed during its initialisation is never shown";
}

TEST(FrameworkDialog, QuitRequestEndsTheLoopAndKeepsTheFirstCode) {
    ScopedWindowSystem ws;
    TestDialog dialog(kMainId);
    dialog.onClose = [](TestDialog& d) {
        PostQuitMessage(18);
        PostQuitMessage(3);
        d.Dialog::OnClose();  // the default processing still ends the dialog with Cancel
    };
    ws.system.SetDialogResponder(Script({UserAction::CloseBox()}));
    EXPECT_EQ(dialog.DoModal(), kIdCancelCommand);
    EXPECT_TRUE(QuitRequested());
    EXPECT_EQ(QuitExitCode(), 18);

    // The quit stays on this thread: a dialog run later here ends at once, after initialising.
    TestDialog later(res::IDD_ABOUTBOX);
    EXPECT_EQ(later.DoModal(), kDialogFailed);
    EXPECT_EQ(later.Calls(), std::vector<std::string>{"init"});

    // Another thread has its own loop and is not affected.
    std::thread other([&] {
        TestDialog elsewhere(res::IDD_ABOUTBOX);
        EXPECT_EQ(elsewhere.DoModal(), kIdCancelCommand);  // the script's Escape
    });
    other.join();
}

TEST(FrameworkDialog, QuitInANestedLoopEndsTheOuterLoopToo) {
    ScopedWindowSystem ws;
    int innerResult = 0;
    TestDialog outer(kMainId);
    outer.onSysCommand = [&](TestDialog& d, unsigned id) {
        if ((id & kScCommandMask) != 16) return;
        TestDialog about(res::IDD_ABOUTBOX, &d);
        about.onInit = [](TestDialog& a) {
            EXPECT_TRUE(a.PostMessage(kWmCommand, 777));
            return true;
        };
        about.onCommand = [](TestDialog&, int id2) {
            if (id2 == 777) PostQuitMessage(18);
        };
        innerResult = about.DoModal();
    };
    outer.onInit = [](TestDialog& d) {
        SystemMenu* menu = d.GetSystemMenu();
        EXPECT_NE(menu, nullptr);
        menu->AppendMenu(kMfSeparator);
        menu->AppendMenu(kMfString, 16, "&About");
        return true;
    };
    ws.system.SetDialogResponder([](const WindowState& w) {
        return w.templateId == kMainId ? UserAction::SystemMenu(16) : UserAction::Wait();
    });
    EXPECT_EQ(outer.DoModal(), kDialogFailed);
    EXPECT_EQ(innerResult, kDialogFailed);
    auto about = ws.system.FindWindow(res::IDD_ABOUTBOX);
    auto main = ws.system.FindWindow(kMainId);
    ASSERT_TRUE(about && main);
    EXPECT_EQ(about->parentWindowId, main->windowId);
    ASSERT_EQ(main->systemMenu.size(), 2u);
    EXPECT_EQ(main->systemMenu[1].text, "&About");
}

// Timers fire on the dialog's thread, measured on the process clock, however it runs.
TEST(FrameworkDialog, TimersFollowTheProcessClock) {
    testsupport::VirtualClock virtualClock;
    testsupport::ScaledClock scaledClock(50);
    Clock* clocks[] = {&virtualClock, &scaledClock};
    for (Clock* clock : clocks) {
        ScopedWindowSystem ws(clock);
        std::atomic<bool> done{false};
        std::thread ticker([&] {  // only needed by the virtual clock
            while (!done.load()) {
                if (clock == &virtualClock) virtualClock.Advance(5000);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        std::vector<uint64_t> firedAt;
        std::thread::id timerThread;
        TestDialog dialog(kMainId);
        uint64_t startMs = 0;
        dialog.onInit = [&](TestDialog& d) {
            startMs = ProcessClock().NowMs();
            EXPECT_EQ(d.SetTimer(1, 150), 1u);
            return true;
        };
        dialog.onTimer = [&](TestDialog& d, unsigned) {
            firedAt.push_back(ProcessClock().NowMs());
            timerThread = std::this_thread::get_id();
            if (firedAt.size() == 3) {
                EXPECT_TRUE(d.KillTimer(1));
                EXPECT_FALSE(d.KillTimer(1));
                d.EndDialog(kIdOkCommand);
            }
        };
        EXPECT_EQ(dialog.DoModal(), kIdOkCommand);
        done = true;
        ticker.join();
        ASSERT_EQ(firedAt.size(), 3u);
        // Never early: each period counts from the previous firing's dispatch, so the k-th
        // firing comes at least k periods after the timer was set. (The spacing between two
        // handlers' own clock readings may be shorter when the first one was dispatched late.)
        EXPECT_GE(firedAt[0], startMs + 150);
        EXPECT_GE(firedAt[1], startMs + 300);
        EXPECT_GE(firedAt[2], startMs + 450);
        EXPECT_EQ(timerThread, std::this_thread::get_id());
    }
}

// The worker and job threads change controls while the dialog's own thread runs its loop.
TEST(FrameworkDialog, ControlsChangedFromOtherThreadsKeepTheirOrder) {
    ScopedWindowSystem ws;
    TestDialog dialog(kMainId);
    std::map<int, std::thread::id> writers;
    dialog.onInit = [&](TestDialog& d) {
        std::vector<std::thread> jobs;
        std::mutex writersMutex;
        for (int bar : res::kJobBars) {
            jobs.emplace_back([&d, bar, &writers, &writersMutex] {
                {
                    std::lock_guard<std::mutex> lock(writersMutex);
                    writers[bar] = std::this_thread::get_id();
                }
                ProgressCtrl control;
                control.Attach(&d, bar);
                control.ShowWindow(kSwShow);
                for (int pos = 0; pos <= 100; pos += 5) control.SetPos(pos);
                control.SetBarColor(Rgb(50, 50, 255));
            });
        }
        for (std::thread& t : jobs) t.join();
        d.PostClose();
        return true;
    };
    EXPECT_EQ(dialog.DoModal(), kIdCancelCommand);
    auto window = ws.system.FindWindow(kMainId);
    ASSERT_TRUE(window);
    for (int bar : res::kJobBars) {
        SCOPED_TRACE(bar);
        auto positions = ws.system.History(window->windowId, bar, Property::kPos);
        ASSERT_EQ(positions.size(), 21u);
        for (std::size_t i = 0; i < positions.size(); ++i) {
            EXPECT_EQ(positions[i].value, static_cast<int64_t>(i * 5));
            EXPECT_EQ(positions[i].thread, writers[bar]);
        }
        const ControlState* state = window->Control(bar);
        EXPECT_TRUE(state->visible);
        EXPECT_EQ(state->pos, 100);
        EXPECT_EQ(state->barColour, Rgb(50, 50, 255));
    }
}

TEST(FrameworkDialog, ProgressBarsStartAsTheSystemMakesThemAndClampPositions) {
    ScopedWindowSystem ws;
    TestDialog dialog(kMainId);
    dialog.onInit = [](TestDialog& d) {
        ProgressCtrl bar;
        EXPECT_TRUE(d.BindControl(res::IDC_OVERALL_PROGRESS, bar));
        EXPECT_EQ(bar.SetStep(1), kProgressDefaultStep);
        EXPECT_EQ(bar.SetBarColor(Rgb(0, 150, 75)), kDefaultColour);
        EXPECT_TRUE(bar.SetRange(0, 100));
        EXPECT_EQ(bar.SetPos(150), 0);
        EXPECT_EQ(bar.GetPos(), 100);
        EXPECT_EQ(bar.SetPos(-5), 100);
        EXPECT_EQ(bar.GetPos(), 0);
        // Controls taken by id; a missing one or one of another kind refuses.
        Control label = d.GetDlgItem(res::IDC_UPDATE_TO_VALUE);
        EXPECT_FALSE(label.IsWindowVisible());
        EXPECT_TRUE(label.ShowWindow(kSwShow));
        EXPECT_TRUE(label.IsWindowVisible());
        EXPECT_TRUE(label.EnableWindow(false));
        EXPECT_FALSE(label.IsWindowEnabled());
        EXPECT_EQ(label.GetWindowText(), "new");
        EXPECT_FALSE(d.SetDlgItemText(4242, "x"));
        EXPECT_FALSE(d.GetDlgItem(4242).ShowWindow(kSwShow));
        ProgressCtrl notABar;
        notABar.Attach(&d, res::IDC_UPDATE_TO_VALUE);
        EXPECT_FALSE(notABar.SetRange(0, 10));
        d.EndDialog(kIdOkCommand);
        return true;
    };
    EXPECT_EQ(dialog.DoModal(), kIdOkCommand);
}

TEST(FrameworkDialog, WindowPositionFilterDecidesWhetherTheWindowShows) {
    struct Case {
        bool silent;
        unsigned laterFlags;  // a change made by another thread later, if any
        bool expectVisible;
    };
    const Case cases[] = {
        {false, 0, true},
        {true, 0, false},  // the framework's own showing is turned into a hide
        // A change that bypasses the filter shows the window even so.
        {true, 0xFFFFFF7F, true},
    };
    for (const Case& c : cases) {
        ScopedWindowSystem ws;
        TestDialog dialog(kMainId);
        dialog.onPosChanging = [&](TestDialog&, WindowPos& pos) {
            if (c.silent) pos.flags = 0xFFFFFFBF;
        };
        dialog.onInit = [](TestDialog& d) {
            d.ShowWindow(kSwHide);
            return true;
        };
        bool laterDone = false;
        ws.system.SetDialogResponder([&](const WindowState& w) {
            if (c.laterFlags && !laterDone) {
                laterDone = true;
                std::thread([&dialog, &c] {
                    dialog.SetWindowPos(kHwndNoTopmost, 0, 0, 0, 0, c.laterFlags);
                }).join();
                return UserAction::Wait();
            }
            EXPECT_EQ(w.visible, c.expectVisible);
            return UserAction::Escape();
        });
        dialog.DoModal();
        auto window = ws.system.FindWindow(kMainId);
        auto shows = ws.system.History(window->windowId, 0, Property::kWindowVisible);
        bool everShown = std::any_of(shows.begin(), shows.end(),
                                     [](const ChangeRecord& r) { return r.value == 1; });
        EXPECT_EQ(everShown, c.expectVisible);
    }
}

TEST(FrameworkDialog, WindowCannotBeCreatedWithoutItsControlLibrary) {
    ScopedWindowSystem ws;
    ws.system.SetControlLibraryAvailable("riched20.dll", false);
    EXPECT_FALSE(LoadControlLibrary("RICHED20.DLL"));
    TestDialog licence(res::IDD_AGREEMENT);
    EXPECT_EQ(licence.DoModal(), kDialogFailed);
    EXPECT_TRUE(licence.Calls().empty()) << "no initialisation without a window";

    ws.system.SetControlLibraryAvailable("RICHED20.DLL", true);
    EXPECT_TRUE(LoadControlLibrary("RICHED20.DLL"));
    ws.system.SetDialogResponder(Script({UserAction::Enter()}));
    TestDialog again(res::IDD_AGREEMENT);
    again.onInit = [](TestDialog& d) {
        RichEditCtrl pane;
        EXPECT_TRUE(d.BindControl(res::IDC_LICENCE_TEXT, pane));
        std::string document = "{\\rtf1 Licence\\par text}";
        std::size_t offset = 0;
        EXPECT_TRUE(pane.StreamInRtf([&](char* buffer, std::size_t capacity) {
            std::size_t n = std::min<std::size_t>({capacity, 3, document.size() - offset});
            std::copy_n(document.data() + offset, n, buffer);
            offset += n;
            return n;
        }));
        EXPECT_EQ(pane.GetWindowText(), "Licence\ntext");
        return true;
    };
    EXPECT_EQ(again.DoModal(), kIdOkCommand);
    EXPECT_EQ(ws.system.FindWindow(res::IDD_AGREEMENT)->Control(res::IDC_LICENCE_TEXT)->rtf,
              "{\\rtf1 Licence\\par text}");
}

TEST(FrameworkDialog, BindingAControlTheTemplateLacksFailsTheDialog) {
    ScopedWindowSystem ws;
    TestDialog dialog(res::IDD_ABOUTBOX);
    dialog.onInit = [](TestDialog& d) {
        Control missing;
        EXPECT_FALSE(d.BindControl(res::IDC_OVERALL_PROGRESS, missing));
        return true;
    };
    EXPECT_EQ(dialog.DoModal(), kDialogFailed);
}

TEST(FrameworkDialog, MinimisedWindowPaintsItsIcon) {
    ScopedWindowSystem ws;
    ws.system.SetDialogResponder(
        Script({UserAction::Minimize(), UserAction::DragIcon(), UserAction::Restore()}));
    TestDialog dialog(kMainId);
    dialog.onPaint = [](TestDialog& d) {
        if (!d.IsIconic()) return;
        PaintDC dc(d);
        dc.EraseIconBackground();
        Rect client = d.GetClientRect();
        int x = (client.Width() - GetSystemMetrics(kSmCxIcon) + 1) / 2;
        int y = (client.Height() - GetSystemMetrics(kSmCyIcon) + 1) / 2;
        dc.DrawIcon(x, y, LoadIcon(res::IDR_MAINFRAME));
    };
    EXPECT_EQ(dialog.DoModal(), kIdCancelCommand);
    auto window = ws.system.FindWindow(kMainId);
    auto paints = ws.system.History(window->windowId, 0, Property::kPainted);
    ASSERT_EQ(paints.size(), 3u);  // shown, minimised, restored
    EXPECT_EQ(paints[0].value2, 0);
    EXPECT_EQ(paints[1].value2, 1);
    // 272 x 210 dialog units are 408 x 341 pixels.
    EXPECT_EQ(paints[1].text, "188,155");
    EXPECT_EQ(paints[2].value2, 0);
    auto drag = ws.system.History(window->windowId, 0, Property::kDragIcon);
    ASSERT_EQ(drag.size(), 1u);
    EXPECT_EQ(drag[0].value, 128);
}

TEST(FrameworkDialog, MessageBoxesAreRecordedAndAnsweredOnTheirThread) {
    ScopedWindowSystem ws;
    std::vector<std::string> asked;
    ws.system.SetMessageBoxResponder([&](const MessageBoxRecord& box) {
        asked.push_back(box.caption + "|" + box.text);
        return box.type == kMbIconQuestion ? kIdCancel : kIdOk;
    });
    std::thread::id worker;
    std::thread t([&] {
        worker = std::this_thread::get_id();
        EXPECT_EQ(MessageBox("Can't Find Firmware file(*.rom) !", "Error", kMbIconError, true),
                  kIdOk);
    });
    t.join();
    EXPECT_EQ(MessageBox("Sure?", "Q", kMbIconQuestion), kIdCancel);
    auto boxes = ws.system.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].text, "Can't Find Firmware file(*.rom) !");
    EXPECT_EQ(boxes[0].type, kMbIconError);
    EXPECT_TRUE(boxes[0].ownedByMainWindow);
    EXPECT_EQ(boxes[0].thread, worker);
    EXPECT_EQ(boxes[0].answer, kIdOk);
    EXPECT_EQ(boxes[1].answer, kIdCancel);
    EXPECT_LT(boxes[0].sequence, boxes[1].sequence);
    EXPECT_EQ(asked.size(), 2u);
}

// A dialog shown from a worker runs its own loop there while the main loop goes on.
TEST(FrameworkDialog, DialogOnAWorkerThreadRunsItsOwnLoop) {
    ScopedWindowSystem ws;
    std::atomic<int> mainTimerTicks{0};
    std::atomic<int> promptResult{0};
    std::thread::id promptThread;
    TestDialog main(kMainId);
    std::thread worker;
    main.onInit = [&](TestDialog& d) {
        d.SetTimer(1, 5);
        worker = std::thread([&] {
            TestDialog prompt(res::IDD_REBOOT);
            prompt.onInit = [&](TestDialog& p) {
                promptThread = std::this_thread::get_id();
                p.SetWindowPos(kHwndTopmost, 0, 0, 0, 0, kSwpNoMove | kSwpNoSize | kSwpNoActivate);
                return true;
            };
            promptResult = prompt.DoModal();
            d.PostClose();
        });
        return true;
    };
    main.onTimer = [&](TestDialog&, unsigned) { ++mainTimerTicks; };
    ws.system.SetDialogResponder([&](const WindowState& w) {
        if (w.templateId == res::IDD_REBOOT) {
            EXPECT_TRUE(w.topmost);
            // Wait until the main thread has shown it is still alive.
            return mainTimerTicks.load() >= 3 ? UserAction::Enter() : UserAction::Wait(5);
        }
        return UserAction::Wait();
    });
    EXPECT_EQ(main.DoModal(), kIdCancelCommand);
    worker.join();
    EXPECT_EQ(promptResult.load(), kIdOkCommand);
    EXPECT_NE(promptThread, std::this_thread::get_id());
    EXPECT_GE(mainTimerTicks.load(), 3);
    EXPECT_EQ(ws.system.FindWindow(res::IDD_REBOOT)->thread, promptThread);
}

// A renderer sees every change, in order, whichever thread made it.
TEST(FrameworkDialog, ObserverSeesEveryChangeInOrder) {
    struct Recorder : MemoryWindowObserver {
        std::mutex mutex;
        std::vector<ChangeRecord> changes;
        std::vector<std::string> boxes;
        void OnChange(const ChangeRecord& change) override {
            std::lock_guard<std::mutex> lock(mutex);
            changes.push_back(change);
        }
        void OnMessageBox(const MessageBoxRecord& box) override {
            std::lock_guard<std::mutex> lock(mutex);
            boxes.push_back(box.text);
        }
    } recorder;
    ScopedWindowSystem ws;
    ws.system.SetObserver(&recorder);
    TestDialog dialog(kMainId);
    dialog.onInit = [](TestDialog& d) {
        d.SetWindowText("Title");
        std::thread([&d] {
            for (int i = 0; i < 50; ++i)
                d.SetDlgItemText(res::kFlashPartLabels[0], std::to_string(i));
            MessageBox("boom", "Error", kMbIconError);
        }).join();
        d.PostClose();
        return true;
    };
    dialog.DoModal();
    ws.system.SetObserver(nullptr);
    auto history = ws.system.History();
    ASSERT_EQ(recorder.changes.size(), history.size());
    for (std::size_t i = 0; i < history.size(); ++i) {
        const ChangeRecord& seen = recorder.changes[i];
        EXPECT_TRUE(seen.windowId == history[i].windowId &&
                    seen.controlId == history[i].controlId &&
                    seen.property == history[i].property && seen.value == history[i].value &&
                    seen.value2 == history[i].value2 && seen.text == history[i].text)
            << "change " << i;
    }
    EXPECT_EQ(recorder.boxes, std::vector<std::string>{"boom"});
    auto texts =
        ws.system.History(history.front().windowId, res::kFlashPartLabels[0], Property::kText);
    ASSERT_EQ(texts.size(), 50u);
    EXPECT_EQ(texts.back().text, "49");
}

TEST(FrameworkDialog, CallsWithoutAWindowFailHarmlessly) {
    ScopedWindowSystem ws;
    TestDialog dialog(kMainId);
    ProgressCtrl bar;
    bar.Attach(&dialog, res::IDC_OVERALL_PROGRESS);
    EXPECT_FALSE(dialog.HasWindow());
    EXPECT_FALSE(dialog.PostClose());
    EXPECT_EQ(dialog.SetTimer(1, 150), 0u);
    EXPECT_FALSE(dialog.SetDlgItemText(res::kFlashPartLabels[0], "x"));
    EXPECT_EQ(bar.SetPos(5), 0);
    EXPECT_EQ(dialog.GetSystemMenu(), nullptr);
    dialog.EndDialog(kIdOkCommand);  // nothing to end
    TestDialog unknown(4242);
    EXPECT_EQ(unknown.DoModal(), kDialogFailed);
}

}  // namespace
}  // namespace framework_test
