// Closing the main window while a flash is written, and the run's time limit: a close never
// cuts a write; at the limit the unfinished jobs are stopped and the run ends honestly.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/program_harness.h"

namespace {

using namespace program_test;

constexpr int kMain = res::IDD_VLM270FWUPDATE_DIALOG;
// The time-limit runs wait out the 200-second limit on a clock 100 times faster than real time
// (2 seconds). Their jobs never finish on their own, and the emulated bridge is never busy, so
// no shorter limit of the run is reached on the way.
constexpr uint32_t kTimeLimitClockFactor = 100;

TEST(CloseDuringRun, IsDeferredUntilTheWorkerIsDoneAndTheFlashIsWhole) {
    ProgramHarness h("controller 03:00.0 part=M25P10A flash=c.bin timing=instant\n");
    std::atomic<int> tries{0};
    // While the flash is written (its bar rests at 12), the user tries every way to close.
    h.mainAnswer = [&](const framework::WindowState& w) {
        const framework::ControlState* bar = w.Control(res::kJobBars[0]);
        if (bar && bar->pos == 12 && tries.load() < 4) {
            switch (tries.fetch_add(1)) {
                case 0:
                    return UserAction::CloseBox();
                case 1:
                    return UserAction::Escape();
                case 2:
                    return UserAction::Enter();
                default:
                    return UserAction::Press(framework::kIdCancelCommand);
            }
        }
        return UserAction::Wait();
    };
    h.Script(res::IDD_REBOOT, {UserAction::Press(res::IDC_RESTART_LATER), UserAction::Enter()});
    EXPECT_EQ(h.Run(), 0);
    EXPECT_EQ(tries.load(), 4);
    EXPECT_TRUE(h.HoldsImage(3, 0, 0));
    // The prompt still followed the run, and the main window ended only after it.
    uint64_t promptEnded = 0;
    uint64_t mainEnded = 0;
    for (const auto& r : h.windows.History()) {
        if (r.property != Property::kDestroyed) continue;
        if (r.templateId == res::IDD_REBOOT) promptEnded = r.sequence;
        if (r.templateId == kMain) mainEnded = r.sequence;
    }
    EXPECT_NE(promptEnded, 0u);
    EXPECT_GT(mainEnded, promptEnded);
    EXPECT_EQ(h.Window(kMain).Control(res::kJobBars[0])->barColour, kBarBlue);
}

TEST(TimeLimit, StopsUnfinishedJobsAfterMoreThan200Seconds) {
    // Every register access takes 5 ms: a write needs far longer than the limit. Whichever job
    // takes the write lock first holds it at the limit; the other waits for it meanwhile.
    ProgramHarness h(
        "controller 01:00.0 part=M25P10A flash=a.bin timing=instant fault=slow:5\n"
        "controller 02:00.0 part=M25P10A flash=b.bin timing=instant fault=slow:5\n",
        kTimeLimitClockFactor);
    std::vector<uint8_t> firstBefore = h.Flash(1, 0, 0);
    std::vector<uint8_t> secondBefore = h.Flash(2, 0, 0);
    h.Script(res::IDD_REBOOT, {UserAction::Escape()});
    EXPECT_EQ(h.Run(), 4);

    auto boxes = h.windows.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Firmware Update Time Out, Fail!!!");
    EXPECT_EQ(boxes[0].type, framework::kMbOk | framework::kMbIconExclamation);
    // More than 200 seconds (of the scaled clock) passed since the first job started.
    uint64_t firstJobMs = 0;
    uint64_t timerKilled = 0;
    uint64_t barRed = 0;
    for (const auto& r : h.windows.History()) {
        if (r.templateId != kMain) continue;
        if (firstJobMs == 0 && r.controlId == res::kJobBars[0] && r.property == Property::kPos) {
            firstJobMs = r.timeMs;
        }
        if (r.property == Property::kTimerKilled && timerKilled == 0) timerKilled = r.sequence;
        if (r.controlId == res::IDC_OVERALL_PROGRESS && r.property == Property::kBarColour &&
            r.value == kBarRed) {
            barRed = r.sequence;
        }
    }
    EXPECT_GE(boxes[0].timeMs - firstJobMs, 200000u);
    EXPECT_LT(timerKilled, boxes[0].sequence);
    EXPECT_GT(barRed, boxes[0].sequence);
    // Both jobs were stopped where they were: bars left at 12, neither blue nor red.
    auto main = h.Window(kMain);
    for (int bar : {res::kJobBars[0], res::kJobBars[1]}) {
        EXPECT_EQ(main.Control(bar)->pos, 12) << bar;
        EXPECT_EQ(main.Control(bar)->barColour, kBarGreen) << bar;
    }
    EXPECT_EQ(main.Control(res::IDC_OVERALL_PROGRESS)->pos, 100);
    // The waiting job never wrote anything; the restart prompt still followed.
    EXPECT_TRUE(h.Flash(1, 0, 0) == firstBefore || h.Flash(2, 0, 0) == secondBefore);
    EXPECT_FALSE(h.HoldsImage(1, 0, 0) || h.HoldsImage(2, 0, 0));
    EXPECT_TRUE(h.WindowMade(res::IDD_REBOOT));
    EXPECT_EQ(g_Utility.m_bAllUpdated.load(), 0);
    EXPECT_FALSE(h.keepAwake.IsHeld());
}

TEST(TimeLimit, AStoppedJobInsideTheLibraryKeepsTheImageBufferAndTheDriverUntilItEnds) {
    ProgramHarness h("controller 01:00.0 part=M25P10A flash=a.bin timing=instant fault=slow:5\n",
                     kTimeLimitClockFactor);
    // Shortly before the run's time limit, one register access of the job stays inside the
    // library until the time-out's message is shown: longer than the run waits for the job.
    const uint64_t startMs = framework::ProcessClock().NowMs();
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    h.pc->SetAccessObserver([&](const vlmio::emu::RegisterAccess&) {
        if (held.load() || framework::ProcessClock().NowMs() - startMs < 195000) return;
        held.store(true);
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::atomic<bool> bufferAtMessage{false};
    h.onMessageBox = [&](const framework::MessageBoxRecord&) {
        bufferAtMessage.store(g_Utility.m_pFWBinBuffer != nullptr);
        release.store(true);
    };
    h.Script(res::IDD_REBOOT, {UserAction::Escape()});
    EXPECT_EQ(h.Run(), 4);
    h.pc->SetAccessObserver(nullptr);

    EXPECT_TRUE(held.load());
    EXPECT_EQ(h.MessageTexts(), std::vector<std::string>{"Firmware Update Time Out, Fail!!!"});
    // The stopped job could still read the image while the ending was shown; the buffer went
    // only once the job had ended.
    EXPECT_TRUE(bufferAtMessage.load());
    EXPECT_EQ(g_Utility.m_pFWBinBuffer, nullptr);
    // The driver was not unloaded under the call: only the start's unload happened.
    EXPECT_EQ(h.library->unloads.load(), 1);
}

}  // namespace
