// Closing the main window while a flash is written, and the run's time limit: a close never
// cuts a write; at the limit the unfinished jobs are stopped, end at once, and the run ends
// honestly, within its bound whatever holds a job.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include "console/run_options.h"
#include "framework/clock.h"
#include "tests/support/program_harness.h"

namespace {

using namespace program_test;

constexpr int kMain = res::IDD_VLM270FWUPDATE_DIALOG;
// The time-limit runs wait out the 200-second limit on a clock 100 times faster than real time
// (2 seconds). Their jobs never finish on their own, and the emulated bridge is never busy, so
// no shorter limit of the run is reached on the way. Runs that bound how soon the time-out's
// message follows the limit keep the harness's slower clock, on which a loaded machine's delays
// weigh less.
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

// Runs the program on a thread of its own: a run that does not end within the watchdog's real
// time is a failure (and the process, whose threads can then not be ended, goes with it).
int RunWithWatchdog(ProgramHarness& h, std::chrono::seconds limit = std::chrono::seconds(120)) {
    std::future<int> run = std::async(std::launch::async, [&h] { return h.Run(); });
    if (run.wait_for(limit) != std::future_status::ready) {
        ADD_FAILURE() << "the program did not end";
        std::fflush(nullptr);
        std::_Exit(1);
    }
    return run.get();
}

// The latest the time-out's message may follow the jobs' start when a stopped job ends at once:
// the run's limit, its polls and a margin for a loaded machine, well short of the 10 s the run
// waits for a stopped job that does not end.
constexpr uint64_t kMessageAfterStopLimitMs = 206000;

// The scaled-clock time of the first job's first bar position: the jobs' start.
uint64_t FirstJobStartMs(ProgramHarness& h) {
    for (const auto& r : h.windows.History()) {
        if (r.templateId == kMain && r.controlId == res::kJobBars[0] &&
            r.property == Property::kPos) {
            return r.timeMs;
        }
    }
    return 0;
}

std::vector<std::string> EngineLines(ProgramHarness& h) {
    std::vector<std::string> lines;
    for (const std::string& line : h.eventLog.Lines()) {
        if (line.find("CInterctl::") != std::string::npos) lines.push_back(line);
    }
    return lines;
}

TEST(TimeLimit, StopsUnfinishedJobsAfterMoreThan200Seconds) {
    // Every register access takes 5 ms: a write needs far longer than the limit. Whichever job
    // takes the write lock first holds it at the limit; the other waits for it meanwhile.
    ProgramHarness h(
        "controller 01:00.0 part=M25P10A flash=a.bin timing=instant fault=slow:5\n"
        "controller 02:00.0 part=M25P10A flash=b.bin timing=instant fault=slow:5\n");
    std::vector<uint8_t> firstBefore = h.Flash(1, 0, 0);
    std::vector<uint8_t> secondBefore = h.Flash(2, 0, 0);
    h.Script(res::IDD_REBOOT, {UserAction::Escape()});
    EXPECT_EQ(h.Run(), 4);

    auto boxes = h.windows.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Firmware Update Time Out, Fail!!!");
    EXPECT_EQ(boxes[0].type, framework::kMbOk | framework::kMbIconExclamation);
    // More than 200 seconds (of the scaled clock) passed since the first job started; the
    // stopped job ended at once, so the message follows the limit within its polls.
    uint64_t timerKilled = 0;
    uint64_t barRed = 0;
    for (const auto& r : h.windows.History()) {
        if (r.templateId != kMain) continue;
        if (r.property == Property::kTimerKilled && timerKilled == 0) timerKilled = r.sequence;
        if (r.controlId == res::IDC_OVERALL_PROGRESS && r.property == Property::kBarColour &&
            r.value == kBarRed) {
            barRed = r.sequence;
        }
    }
    const uint64_t firstJobMs = FirstJobStartMs(h);
    EXPECT_GE(boxes[0].timeMs - firstJobMs, 200000u);
    EXPECT_LE(boxes[0].timeMs - firstJobMs, kMessageAfterStopLimitMs);
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
    const bool firstUntouched = h.Flash(1, 0, 0) == firstBefore;
    const bool secondUntouched = h.Flash(2, 0, 0) == secondBefore;
    EXPECT_TRUE(firstUntouched || secondUntouched);
    EXPECT_FALSE(h.HoldsImage(1, 0, 0) || h.HoldsImage(2, 0, 0));
    EXPECT_TRUE(h.WindowMade(res::IDD_REBOOT));
    EXPECT_EQ(g_Utility.m_bAllUpdated.load(), 0);
    EXPECT_FALSE(h.keepAwake.IsHeld());
    // The stopped job logged no failure of its own; the controller whose flash was being
    // written is named, on the notices and in the event log, the other not.
    EXPECT_EQ(EngineLines(h), std::vector<std::string>{});
    const std::string written = firstUntouched ? "0000:02:00.0" : "0000:01:00.0";
    const std::string line = "flash of " + written + " may be partly written: run the update again";
    EXPECT_EQ(h.Notices(), std::vector<std::string>{line});
    std::vector<std::string> events = h.eventLog.Lines();
    EXPECT_EQ(std::count(events.begin(), events.end(), "\r\n" + line), 1);
    EXPECT_EQ(h.endedProcessWith.load(), -1);
}

// What the run does for every controller before its jobs (the Linux program's backups) does not
// count against the jobs' 200 seconds: 205 seconds of it still leave the update its own time.
TEST(TimeLimit, WorkBeforeTheJobsDoesNotCountAgainstIt) {
    ProgramHarness h("controller 01:00.0 part=M25P10A flash=a.bin timing=instant\n");
    RunOptions options;
    uint8_t seen = 0;
    options.beforeJobs = [&seen](uint8_t ucCount) {
        seen = ucCount;
        framework::ProcessClock().SleepMs(205000);
    };
    SetRunOptions(std::move(options));
    const int status = h.Run("/s");
    SetRunOptions(RunOptions{});
    EXPECT_EQ(status, 0);
    EXPECT_EQ(seen, 1);
    EXPECT_TRUE(h.HoldsImage(1, 0, 0));
    EXPECT_EQ(h.MessageTexts(), std::vector<std::string>{});
}

// An SST part on a slow bus: its byte-by-byte programming (a dozen accesses a byte) outlasts the
// run's time limit; the job stopped inside it then ends at once.
TEST(TimeLimit, AnSstJobStoppedInsideItsByteProgrammingEndsAtOnce) {
    ProgramHarness h(
        "controller 01:00.0 part=SST25VF010A flash=a.bin timing=instant fault=slow:1\n");
    h.Script(res::IDD_REBOOT, {UserAction::Escape()});
    EXPECT_EQ(RunWithWatchdog(h), 4);
    EXPECT_EQ(h.MessageTexts(), std::vector<std::string>{"Firmware Update Time Out, Fail!!!"});
    EXPECT_LE(h.windows.MessageBoxes()[0].timeMs - FirstJobStartMs(h), kMessageAfterStopLimitMs);
    EXPECT_EQ(h.Notices(), std::vector<std::string>{"flash of 0000:01:00.0 may be partly "
                                                    "written: run the update again"});
    EXPECT_EQ(EngineLines(h), std::vector<std::string>{});
    EXPECT_EQ(h.endedProcessWith.load(), -1);
    EXPECT_EQ(h.library->unloads.load(), 2);
}

// An event log that holds the first line of the engine until released: a job blocked outside
// the access library.
class BlockingEventLog final : public framework::EventLogBackend {
public:
    explicit BlockingEventLog(testsupport::MemoryEventLog& inner) : m_inner(inner) {}
    bool WriteSourceRegistration(const std::string& key, const std::string& file,
                                 uint32_t types) override {
        return m_inner.WriteSourceRegistration(key, file, types);
    }
    uintptr_t OpenSource(const std::string& name) override { return m_inner.OpenSource(name); }
    void CloseSource(uintptr_t handle) override { m_inner.CloseSource(handle); }
    bool Report(uintptr_t handle, uint16_t type, uint16_t category, uint32_t id,
                const std::vector<uint8_t>* sid, const char* text) override {
        if (std::string(text).find("CInterctl::") != std::string::npos &&
            !m_blocked.exchange(true)) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_released.wait(lock, [this] { return m_release; });
        }
        return m_inner.Report(handle, type, category, id, sid, text);
    }
    bool CurrentUserSid(std::vector<uint8_t>& sid) override { return m_inner.CurrentUserSid(sid); }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_release = true;
        m_released.notify_all();
    }
    bool Blocked() const { return m_blocked.load(); }

private:
    testsupport::MemoryEventLog& m_inner;
    std::atomic<bool> m_blocked{false};
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_release = false;
};

TEST(TimeLimit, AJobBlockedOutsideTheLibraryIsWaitedForTenSecondsAfterItsStop) {
    // The chip is never erased: the first failure line blocks the job for good.
    ProgramHarness h(
        "controller 01:00.0 part=M25P10A flash=a.bin timing=instant "
        "fault=erase-fails\n");
    BlockingEventLog log(h.eventLog);
    pci::Services services = testsupport::CurrentServices();
    services.platform.eventLog = &log;
    testsupport::ScopedTestServices blocking(std::move(services));
    std::atomic<uint64_t> timeOutMessageMs{0};
    h.Script(res::IDD_REBOOT, {UserAction::Escape()});
    h.onMessageBox = [&](const framework::MessageBoxRecord&) {
        timeOutMessageMs.store(framework::ProcessClock().NowMs());
    };
    // The job is released only when the process would have ended.
    std::atomic<uint64_t> endedMs{0};
    pci::Services ending = testsupport::CurrentServices();
    ending.platform.endProcess = [&](int status) {
        endedMs.store(framework::ProcessClock().NowMs());
        h.endedProcessWith.store(status);
        log.Release();
        for (const framework::ThreadHandle& job : g_pMainDlg->m_hJobThread) {
            while (job && !job->WaitForEnd(kJobWaitSliceMs)) {
            }
        }
    };
    testsupport::ScopedTestServices endingScope(std::move(ending));
    const int status = RunWithWatchdog(h, std::chrono::seconds(60));
    if (status != 4) log.Release();
    EXPECT_EQ(status, 4);
    EXPECT_TRUE(log.Blocked());
    EXPECT_EQ(h.endedProcessWith.load(), 4);
    // The run waited for the job at most 10 s before its message, and the process ended no
    // later than 10 s after the stop.
    ASSERT_NE(endedMs.load(), 0u);
    EXPECT_LE(endedMs.load() - timeOutMessageMs.load(), 10500u);
    EXPECT_EQ(h.library->unloads.load(), 2);  // the job was outside the library: unloaded
    g_Utility.m_pFWBinBuffer.reset();
}

// At the time limit a job is held inside the library for longer than the run waits for it: the
// run neither unloads the library nor restarts anything through it.
struct StuckInsideTheLibrary {
    explicit StuckInsideTheLibrary(ProgramHarness& h) : harness(h) {
        startMs = framework::ProcessClock().NowMs();
        h.pc->SetAccessObserver([this](const vlmio::emu::RegisterAccess&) {
            if (held.load() || framework::ProcessClock().NowMs() - startMs < 195000) return;
            held.store(true);
            while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }
    ~StuckInsideTheLibrary() {
        release.store(true);
        harness.pc->SetAccessObserver(nullptr);
    }
    ProgramHarness& harness;
    uint64_t startMs = 0;
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
};

TEST(TimeLimit, AStoppedJobInsideTheLibraryKeepsTheImageBufferAndTheDriver) {
    ProgramHarness h("controller 01:00.0 part=M25P10A flash=a.bin timing=instant fault=slow:5\n",
                     kTimeLimitClockFactor);
    StuckInsideTheLibrary stuck(h);
    // The call stays inside until the time-out's message is shown: longer than the run waits.
    std::atomic<bool> bufferAtMessage{false};
    h.onMessageBox = [&](const framework::MessageBoxRecord&) {
        bufferAtMessage.store(g_Utility.m_pFWBinBuffer != nullptr);
        stuck.release.store(true);
    };
    h.Script(res::IDD_REBOOT, {UserAction::Escape()});
    EXPECT_EQ(h.Run(), 4);

    EXPECT_TRUE(stuck.held.load());
    EXPECT_EQ(h.MessageTexts(), std::vector<std::string>{"Firmware Update Time Out, Fail!!!"});
    // The stopped job could still read the image while the ending was shown.
    EXPECT_TRUE(bufferAtMessage.load());
    // The driver was not unloaded under the call: only the start's unload happened.
    EXPECT_EQ(h.library->unloads.load(), 1);
    // Either the job ended by the time the program did, or the program ended without it.
    if (h.endedProcessWith.load() == -1) {
        EXPECT_EQ(g_Utility.m_pFWBinBuffer, nullptr);
    } else {
        EXPECT_EQ(h.endedProcessWith.load(), 4);
        g_Utility.m_pFWBinBuffer.reset();
    }
}

// With a job stuck inside the library the emulated PC cannot be power-cycled: a confirmed
// restart then restarts nothing on the emulated PC, and the real computer only when the library
// is not the emulated PC's.
TEST(TimeLimit, RestartWithAJobStuckInsideTheLibraryIsARealRestartOnlyOnRealHardware) {
    for (const bool emulated : {true, false}) {
        SCOPED_TRACE(emulated ? "emulated PC" : "real hardware");
        ProgramHarness h(
            "controller 01:00.0 part=M25P10A flash=a.bin timing=instant fault=slow:5\n",
            kTimeLimitClockFactor);
        h.library->emulated.store(emulated);
        StuckInsideTheLibrary stuck(h);
        h.Script(res::IDD_REBOOT, {UserAction::Enter()});  // restart now
        // Released once the run has given up on it: the restart still counts it as inside.
        h.onMessageBox = [&](const framework::MessageBoxRecord&) { stuck.release.store(true); };
        EXPECT_EQ(h.Run(), 4);
        EXPECT_TRUE(stuck.held.load());
        EXPECT_EQ(h.restart.restarts.load(), emulated ? 0 : 1);
        std::vector<std::string> texts = h.MessageTexts();
        ASSERT_FALSE(texts.empty());
        if (emulated) {
            ASSERT_EQ(texts.size(), 2u);
            EXPECT_NE(texts[1].find("this computer was not restarted"), std::string::npos);
        } else {
            EXPECT_EQ(texts.size(), 1u);
        }
        if (h.endedProcessWith.load() != -1) g_Utility.m_pFWBinBuffer.reset();
    }
}

}  // namespace
