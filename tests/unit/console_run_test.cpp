// The upgrade run as a user sees it: each ending's message, bars and exit status, the job bars
// of each outcome, two controllers written one after the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

#include "framework/message_box.h"
#include "tests/support/program_harness.h"

namespace {

using namespace program_test;

constexpr int kOverall = res::IDC_OVERALL_PROGRESS;
constexpr int kMain = res::IDD_VLM270FWUPDATE_DIALOG;
const std::string kHostNotReady =
    "Your Host Device is not ready, Firmware Update Failed!!!, Please reboot your PC and try "
    "again!!!";

// One answer for the restart prompt that restarts nothing.
void RestartLater(ProgramHarness& h) {
    h.Script(res::IDD_REBOOT, {UserAction::Press(res::IDC_RESTART_LATER), UserAction::Enter()});
}

// The sequence number of the last timer kill of the main window (0: never killed).
uint64_t TimerKilledAt(ProgramHarness& h) {
    uint64_t at = 0;
    for (const auto& r : h.windows.History()) {
        if (r.templateId == kMain && r.property == Property::kTimerKilled) at = r.sequence;
    }
    return at;
}

uint64_t MessageAt(ProgramHarness& h, const std::string& text) {
    for (const auto& box : h.windows.MessageBoxes()) {
        if (box.text == text) return box.sequence;
    }
    return 0;
}

// Whether the activity bar was set full once the jobs were done, and moved after that only by
// the timer: after a success the timer runs until the worker is done, so a slow machine may see
// the bar sweep on from 100 (0, 1, 2, ...) before the window closes.
bool OverallBarFullAfterTheJobs(ProgramHarness& h) {
    uint64_t jobsDone = 0;
    std::vector<std::pair<uint64_t, int64_t>> overall;
    for (const auto& r : h.windows.History()) {
        if (r.templateId != kMain || r.property != Property::kPos) continue;
        if (r.controlId == kOverall) {
            overall.emplace_back(r.sequence, r.value);
        } else {
            jobsDone = r.sequence;
        }
    }
    auto full = std::find_if(overall.rbegin(), overall.rend(),
                             [&](const auto& p) { return p.first > jobsDone && p.second == 100; });
    if (full == overall.rend()) return false;
    int64_t previous = 100;
    for (auto it = full.base(); it != overall.end(); ++it) {
        if (it->second != (previous + 1) % 101) return false;
        previous = it->second;
    }
    return true;
}

TEST(UpgradeRun, OneControllerUpdatedEndsBlueAndGreenWithTheSuccessHeadline) {
    ProgramHarness h("controller 03:00.1 part=M25P10A flash=c1.bin timing=instant\n");
    RestartLater(h);
    EXPECT_EQ(h.Run(), 0);

    EXPECT_TRUE(h.HoldsImage(3, 0, 1));
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_EQ(g_Utility.m_bAllUpdated.load(), 1);
    // Job bar: the positions of an update, ending blue.
    std::vector<int64_t> pos = h.Values(res::kJobBars[0], Property::kPos);
    std::vector<int64_t> expected = {0, 0, 0, 10, 12, 25, 33, 50, 50, 100};
    EXPECT_EQ(pos, expected);
    EXPECT_EQ(h.Values(res::kJobBars[0], Property::kBarColour).back(), kBarBlue);
    // The activity bar stays green and ends full.
    auto main = h.Window(kMain);
    EXPECT_EQ(main.Control(kOverall)->barColour, kBarGreen);
    EXPECT_TRUE(OverallBarFullAfterTheJobs(h));
    // Rows: a single controller is "270X :", numbers in two digits, its flash part named.
    EXPECT_EQ(main.Control(res::kControllerNames[0])->text, "270X :");
    EXPECT_EQ(main.Control(res::kNumberRows[0].bus)->text, "03");
    EXPECT_EQ(main.Control(res::kNumberRows[0].device)->text, "00");
    EXPECT_EQ(main.Control(res::kNumberRows[0].function)->text, "01");
    EXPECT_EQ(main.Control(res::kFlashPartLabels[0])->text, "NUMONYX:[M25P10A]");
    EXPECT_EQ(main.Control(res::kNumberRows[1].bus)->text, "");
    EXPECT_TRUE(main.Control(res::kJobBars[0])->visible);
    EXPECT_FALSE(main.Control(res::kJobBars[1])->visible);
    EXPECT_EQ(main.title, "Velmora 270 Firmware Upgrade Tool Ver 1.0.2.0");
    // The restart prompt announced the success; nothing was restarted.
    EXPECT_EQ(h.Window(res::IDD_REBOOT).Control(res::IDC_RESTART_HEADLINE)->text,
              "Firmware Updated Successful!!");
    EXPECT_EQ(h.restart.restarts.load(), 0);
    // The computer was kept awake for the run and let go afterwards.
    EXPECT_EQ(h.keepAwake.Begins(), 1);
    EXPECT_FALSE(h.keepAwake.IsHeld());
    EXPECT_EQ(g_Utility.m_pFWBinBuffer, nullptr);
}

TEST(UpgradeRun, TwoControllersAreWrittenOneAfterTheOther) {
    ProgramHarness h(
        "controller 02:00.0 part=M25P10A flash=a.bin timing=instant\n"
        "controller 05:01.0 part=A25L010 flash=b.bin timing=instant\n");
    // Which controller each erase, program or write-enable command went to, in order.
    std::mutex mutex;
    std::vector<int> writers;
    h.pc->SetAccessObserver([&](const vlmio::emu::RegisterAccess& a) {
        if (!a.write || a.offset != 0xF0) return;
        uint8_t opcode = a.value & 0xFF;
        if (opcode == 0x06 || opcode == 0x02 || opcode == 0xAF || opcode == 0x60 ||
            opcode == 0xC7 || opcode == 0x01) {
            std::lock_guard<std::mutex> lock(mutex);
            if (writers.empty() || writers.back() != a.bus) writers.push_back(a.bus);
        }
    });
    RestartLater(h);
    EXPECT_EQ(h.Run(), 0);
    h.pc->SetAccessObserver(nullptr);

    EXPECT_TRUE(h.HoldsImage(2, 0, 0));
    EXPECT_TRUE(h.HoldsImage(5, 1, 0));
    // One controller's writes all came before the other's: never interleaved. (Normally the
    // first job's, but a busy machine may let the second job reach the write lock first.)
    std::sort(writers.begin(), writers.end());
    EXPECT_EQ(writers, (std::vector<int>{2, 5}));
    auto main = h.Window(kMain);
    EXPECT_EQ(main.Control(res::kControllerNames[0])->text, "270X 1:");
    EXPECT_EQ(main.Control(res::kControllerNames[1])->text, "270X 2:");
    EXPECT_EQ(main.Control(res::kFlashPartLabels[1])->text, "AMIC:[A25L010]");
    EXPECT_EQ(main.Control(res::kNumberRows[1].bus)->text, "05");
    EXPECT_EQ(main.Control(res::kNumberRows[1].device)->text, "01");
    for (int bar : {res::kJobBars[0], res::kJobBars[1]}) {
        EXPECT_EQ(main.Control(bar)->pos, 100);
        EXPECT_EQ(main.Control(bar)->barColour, kBarBlue);
    }
}

// The two parts whose writing the updater mends, run by the program: both updated. The M45PE10's
// only misuse is named: it has no status register, so the status write of each unprotect (the
// erase's and the section's) is rejected.
TEST(UpgradeRun, TheMendedRowsAreUpdated) {
    ProgramHarness h(
        "controller 01:00.0 part=M45PE10 flash=a.bin timing=instant\n"
        "controller 02:00.0 part=AT25F512A(B) flash=b.bin timing=instant\n");
    h.AllowViolations({"rejected-command"});
    RestartLater(h);
    EXPECT_EQ(h.Run(), 0);
    EXPECT_TRUE(h.HoldsImage(1, 0, 0));
    EXPECT_TRUE(h.HoldsImage(2, 0, 0));
    std::vector<std::string> misuse;
    for (const vlmio::emu::Violation& v : h.pc->Violations()) {
        char where[16];
        std::snprintf(where, sizeof where, "%02x:%02x.%x ", v.bus, v.device, v.function);
        misuse.push_back(where + std::string(vlmio::emu::ViolationName(v.kind)) + ": " + v.detail);
    }
    const std::string rejected = "01:00.0 rejected-command: status write 0x01: the chip has none";
    EXPECT_EQ(misuse, (std::vector<std::string>{rejected, rejected}));
}

TEST(UpgradeRun, AFailingControllerBesideAGoodOneEndsHostNotReady) {
    // The second controller's chip never erases.
    ProgramHarness h(
        "controller 01:00.0 part=M25P10A flash=a.bin timing=instant\n"
        "controller 04:00.0 part=W25X10B(C)L(V) flash=b.bin timing=instant fault=erase-fails\n");
    RestartLater(h);
    EXPECT_EQ(h.Run(), 5);

    EXPECT_TRUE(h.HoldsImage(1, 0, 0));
    EXPECT_FALSE(h.HoldsImage(4, 0, 0));
    EXPECT_EQ(h.MessageTexts(), std::vector<std::string>{kHostNotReady});
    auto box = h.windows.MessageBoxes().front();
    EXPECT_EQ(box.type, framework::kMbOk | framework::kMbIconExclamation);
    EXPECT_EQ(box.caption, framework::ApplicationName());
    auto main = h.Window(kMain);
    EXPECT_EQ(main.Control(res::kJobBars[0])->barColour, kBarBlue);
    EXPECT_EQ(main.Control(res::kJobBars[1])->barColour, kBarRed);
    EXPECT_EQ(main.Control(res::kJobBars[1])->pos, 100);
    std::vector<int64_t> failed = h.Values(res::kJobBars[1], Property::kPos);
    EXPECT_EQ(std::vector<int64_t>(failed.end() - 5, failed.end()),
              (std::vector<int64_t>{0, 10, 12, 50, 100}));
    // The timer is stopped before the message; the bar turns red after it.
    EXPECT_LT(TimerKilledAt(h), MessageAt(h, kHostNotReady));
    EXPECT_EQ(main.Control(kOverall)->barColour, kBarRed);
    EXPECT_EQ(main.Control(kOverall)->pos, 100);
    EXPECT_EQ(g_Utility.m_bAllUpdated.load(), 0);
    EXPECT_EQ(h.Window(res::IDD_REBOOT).Control(res::IDC_RESTART_HEADLINE)->text,
              "Restart Computer");
    // The engine wrote its failures to the event log.
    EXPECT_FALSE(h.eventLog.Lines().empty());
}

TEST(UpgradeRun, AFinishedBarStaysFinishedWhileAnotherJobIdentifies) {
    ProgramHarness h(
        "controller 01:00.0 part=W25X10B(C)L(V) flash=a.bin timing=instant fault=erase-fails\n"
        "controller 02:00.0 part=none timing=instant\n"
        "controller 03:00.0 part=M25P10A flash=c.bin timing=instant\n");
    RestartLater(h);
    EXPECT_EQ(h.Run(), 5);
    // Once a bar reached 100 it never moves again, whatever the other jobs show.
    for (int bar : {res::kJobBars[0], res::kJobBars[1], res::kJobBars[2]}) {
        std::vector<int64_t> pos = h.Values(bar, Property::kPos);
        auto done = std::find(pos.begin(), pos.end(), 100);
        ASSERT_NE(done, pos.end()) << bar;
        EXPECT_EQ(done + 1, pos.end()) << bar;
    }
    // The controller whose flash answers nothing: 0, 10, 50, red 100, empty names.
    std::vector<int64_t> unidentified = h.Values(res::kJobBars[1], Property::kPos);
    EXPECT_EQ(std::vector<int64_t>(unidentified.end() - 4, unidentified.end()),
              (std::vector<int64_t>{0, 10, 50, 100}));
    auto main = h.Window(kMain);
    EXPECT_EQ(main.Control(res::kFlashPartLabels[1])->text, ":[]");
    EXPECT_EQ(main.Control(res::kJobBars[1])->barColour, kBarRed);
    EXPECT_EQ(main.Control(res::kJobBars[2])->barColour, kBarBlue);
    EXPECT_TRUE(h.HoldsImage(3, 0, 0));
}

TEST(UpgradeRun, NoControllerEndsNotReadyWithoutSearchingTheImage) {
    ProgramHarness h("device 00:1f.0 8086:2922\n", 20, /*withImage=*/false);
    RestartLater(h);
    EXPECT_EQ(h.Run(), 1);
    EXPECT_EQ(h.MessageTexts(), std::vector<std::string>{"270X SATA/PATA Controller is not ready"});
    EXPECT_LT(TimerKilledAt(h), MessageAt(h, "270X SATA/PATA Controller is not ready"));
    auto main = h.Window(kMain);
    EXPECT_EQ(main.Control(kOverall)->barColour, kBarRed);
    EXPECT_EQ(main.Control(kOverall)->pos, 100);
    EXPECT_TRUE(h.WindowMade(res::IDD_REBOOT));
    EXPECT_EQ(h.keepAwake.Begins(), 0);
}

TEST(UpgradeRun, NoImageEndsWithTheErrorCaptionAndNoJob) {
    ProgramHarness h("controller 03:00.0 part=M25P10A flash=c.bin timing=instant\n", 20, false);
    RestartLater(h);
    EXPECT_EQ(h.Run(), 2);
    auto boxes = h.windows.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Can't Find Firmware file(*.rom) !");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].type, framework::kMbOk | framework::kMbIconError);
    EXPECT_TRUE(boxes[0].ownedByMainWindow);
    // The timer was not stopped before the message: only the worker stopped it afterwards.
    EXPECT_GT(TimerKilledAt(h), boxes[0].sequence);
    EXPECT_TRUE(h.Values(res::kJobBars[0], Property::kPos).size() <= 1u);
    EXPECT_EQ(h.Window(kMain).Control(kOverall)->barColour, kBarRed);
    EXPECT_FALSE(h.HoldsImage(3, 0, 0));
}

TEST(UpgradeRun, UpperCaseExtensionIsFoundByTheSecondSearch) {
    ProgramHarness h("controller 03:00.0 part=M25P10A flash=c.bin timing=instant\n", 20, false);
    h.folder.Write("FW.ROM", h.image);
    RestartLater(h);
    EXPECT_EQ(h.Run(), 0);
    EXPECT_TRUE(h.HoldsImage(3, 0, 0));
}

TEST(UpgradeRun, AnImageTooLongForTheBufferIsRefusedBeforeAnyWrite) {
    ProgramHarness h("controller 03:00.0 part=M25P10A flash=c.bin timing=instant\n", 20, false);
    h.folder.Write("big.rom", MakeImage(0x20001));
    RestartLater(h);
    EXPECT_EQ(h.Run(), 3);
    std::string path = h.folder / "big.rom";
    std::string expected =
        "\r\nCVLM270FWUpdateDlg::RunFirmwareUpgrade:759:Open Frimware bin file "
        "Failed!!strFwFullName[" +
        path + "], (-4)\n";
    EXPECT_EQ(h.MessageTexts(), std::vector<std::string>{expected});
    std::vector<std::string> lines = h.eventLog.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "\r\nCVLM270FWUpdateDlg::RunFirmwareUpgrade:758:   Open Frimware bin file "
                        "Failed!!strFwFullName[" +
                            path + "], (-4)\n"),
              lines.end());
    EXPECT_EQ(g_Utility.m_pFWBinBuffer, nullptr);
    // The old firmware is untouched.
    std::vector<uint8_t> flashBytes = h.Flash(3, 0, 0);
    EXPECT_FALSE(
        std::all_of(flashBytes.begin(), flashBytes.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST(UpgradeRun, ImageDeletedBeforeTheJobChecksItLeavesTheControllerUntouched) {
    ProgramHarness h("controller 03:00.0 part=M25P10A flash=c.bin timing=instant\n");
    std::vector<uint8_t> before = h.Flash(3, 0, 0);
    // The message of the path check comes from the job; the image is removed as the rows
    // appear, after it was loaded.
    std::once_flag once;
    struct Remover final : framework::MemoryWindowObserver {
        std::function<void(const framework::ChangeRecord&)> fn;
        void OnChange(const framework::ChangeRecord& c) override { fn(c); }
    } remover;
    remover.fn = [&](const framework::ChangeRecord& c) {
        if (c.controlId == res::kNumberRows[0].bus && c.property == Property::kText &&
            !c.text.empty()) {
            std::call_once(once, [&] { std::remove((h.folder / "fw.rom").c_str()); });
        }
    };
    h.windows.SetObserver(&remover);
    RestartLater(h);
    EXPECT_EQ(h.Run(), 5);
    h.windows.SetObserver(nullptr);
    std::string path = h.folder / "fw.rom";
    auto texts = h.MessageTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], path + " File/Path is not exist");
    EXPECT_EQ(texts[1], kHostNotReady);
    std::vector<int64_t> pos = h.Values(res::kJobBars[0], Property::kPos);
    EXPECT_EQ(std::vector<int64_t>(pos.end() - 3, pos.end()), (std::vector<int64_t>{0, 50, 100}));
    EXPECT_EQ(h.Flash(3, 0, 0), before);
}

TEST(UpgradeRun, ThreadsThatCannotStartCountAsNotUpdated) {
    {
        // A job thread that cannot start: that controller is not updated, the other is.
        ProgramHarness h(
            "controller 01:00.0 part=M25P10A flash=a.bin timing=instant\n"
            "controller 02:00.0 part=M25P10A flash=b.bin timing=instant\n");
        std::atomic<int> jobStarts{0};
        pci::Services services = testsupport::CurrentServices();
        services.platform.threadStartFilter = [&](framework::ThreadPriority priority) {
            return priority != framework::ThreadPriority::kTimeCritical ||
                   jobStarts.fetch_add(1) != 1;
        };
        testsupport::ScopedTestServices filtered(std::move(services));
        RestartLater(h);
        EXPECT_EQ(h.Run(), 5);
        EXPECT_TRUE(h.HoldsImage(1, 0, 0));
        EXPECT_FALSE(h.HoldsImage(2, 0, 0));
        EXPECT_EQ(h.MessageTexts(), std::vector<std::string>{kHostNotReady});
    }
    {
        // A worker that cannot start: nothing is touched, the driver is unloaded, status 8.
        ProgramHarness h("controller 01:00.0 part=M25P10A flash=a.bin timing=instant\n");
        pci::Services services = testsupport::CurrentServices();
        services.platform.threadStartFilter = [](framework::ThreadPriority priority) {
            return priority != framework::ThreadPriority::kHighest;
        };
        testsupport::ScopedTestServices filtered(std::move(services));
        EXPECT_EQ(h.Run(), 8);
        EXPECT_EQ(h.library->loads.load(), 1);
        EXPECT_EQ(h.library->unloads.load(), 2);
        EXPECT_FALSE(h.HoldsImage(1, 0, 0));
    }
}

}  // namespace
