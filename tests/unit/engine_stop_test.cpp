// A job stopped at the run's time limit, as the run stops it (its controller cut off by the stop
// switch, its thread asked to stop), at points all through an update of each programming
// family: the engine returns at once and writes no diagnostic line after the stop.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "event_capture.h"
#include "flash/stoppable_vlmio.h"
#include "flash/update_engine.h"
#include "framework/thread.h"
#include "tests/support/emulated_rig.h"
#include "tests/support/test_clocks.h"
#include "util/result_codes.h"

namespace {

constexpr uint32_t k64K = 0x10000;
// The longest a stopped update may go on: the slice of the pause after the erase.
constexpr uint64_t kStopAnswerUs = 60000;
constexpr uint64_t kAccessUs = 2;

// Moves the virtual clock on for every call, also for those the stop switch keeps from the
// emulated PC, as time passes for every access on real hardware.
class TickingVlmIo final : public pci::IVlmIo {
public:
    TickingVlmIo(pci::IVlmIo& inner, testsupport::VirtualClock& clock)
        : m_inner(inner), m_clock(clock) {}
    uint32_t LoadVlmIODriver() override { return m_inner.LoadVlmIODriver(); }
    void UnloadVlmIODriver() override { m_inner.UnloadVlmIODriver(); }
    uint32_t PCI_Read_BYTE(uint32_t b, uint32_t d, uint32_t f, uint32_t o) override {
        m_clock.Advance(kAccessUs);
        return m_inner.PCI_Read_BYTE(b, d, f, o);
    }
    uint32_t PCI_Read_DWORD(uint32_t b, uint32_t d, uint32_t f, uint32_t o) override {
        m_clock.Advance(kAccessUs);
        return m_inner.PCI_Read_DWORD(b, d, f, o);
    }
    void PCI_Write_Byte(uint32_t b, uint32_t d, uint32_t f, uint32_t o, uint32_t v) override {
        m_clock.Advance(kAccessUs);
        m_inner.PCI_Write_Byte(b, d, f, o, v);
    }
    void PCI_Write_DWORD(uint32_t b, uint32_t d, uint32_t f, uint32_t o, uint32_t v) override {
        m_clock.Advance(kAccessUs);
        m_inner.PCI_Write_DWORD(b, d, f, o, v);
    }

private:
    pci::IVlmIo& m_inner;
    testsupport::VirtualClock& m_clock;
};

// One controller's update on a job thread, stopped at its stopAt-th register access (never,
// for 0).
struct StoppedUpdate {
    StoppedUpdate(const std::string& partName, uint64_t stopAtAccess)
        : machine("controller 02:00.0 part=" + partName + " timing=instant\n", clock),
          stopSwitch(*machine.io),
          ticking(stopSwitch, clock),
          spi(&ticking, &clock),
          engine(count, records, spi),
          stopAt(stopAtAccess) {}

    // Runs the update; false when the machine or the controller could not be set up.
    bool Run() {
        if (!machine.Ok() || machine.io->LoadVlmIODriver() == 0) return false;
        if (engine.ScanControllers() != kResultSuccess) return false;
        part = spi.QueryFlashPart(records[0]);
        if (!flash::IsIdentified(part)) return false;
        image.assign(kImageBufferBytes, 0);
        for (uint32_t i = 0; i < k64K; ++i) image[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
        machine.pc->SetAccessObserver([this](const vlmio::emu::RegisterAccess&) {
            const uint64_t n = ++accesses;
            if (stopAt != 0 && n == stopAt) {
                stopUs.store(clock.NowUs());
                linesAtStop.store(events.Lines().size());
                const ControllerInfo& r = records[0];
                stopSwitch.StopController(r.ucBus, r.ucDevice, r.ucFunction);
                handle->RequestStop();
            }
        });
        if (framework::BeginThread(&StoppedUpdate::Job, this, framework::ThreadPriority::kNormal,
                                   &handle) == nullptr) {
            return false;
        }
        while (!handle->WaitForEnd(1000)) {
        }
        machine.pc->SetAccessObserver(nullptr);
        return true;
    }

    static unsigned Job(void* param) {
        auto* self = static_cast<StoppedUpdate*>(param);
        self->result =
            self->engine.Update_Firmware(0, self->records[0], self->part, self->image.data(), k64K);
        self->endUs = self->clock.NowUs();
        return 0;
    }

    capture::EventCapture events;
    testsupport::VirtualClock clock;
    testsupport::EmulatedMachine machine;
    flash::CStoppableVlmIo stopSwitch;
    TickingVlmIo ticking;
    flash::CSPICtl spi;
    uint8_t count = 0;
    ControllerInfo records[kMaxControllers] = {};
    flash::CInterctl engine;
    flash::FlashPartInfo part{};
    std::vector<uint8_t> image;
    framework::ThreadHandle handle;
    uint64_t stopAt;
    std::atomic<uint64_t> accesses{0};
    std::atomic<uint64_t> stopUs{0};
    std::atomic<std::size_t> linesAtStop{0};
    int32_t result = 1;
    uint64_t endUs = 0;
};

TEST(EngineStop, AStoppedUpdateEndsAtOnceAndLogsNothingMore) {
    // A 256-byte-page part, a 32-byte-page part, an SST part programmed byte by byte, an
    // AT25F-style part.
    for (const char* part : {"M25P10A", "MX25L1021E", "SST25VF010A", "AT25F512A(B)"}) {
        StoppedUpdate whole(part, 0);
        ASSERT_TRUE(whole.Run()) << part;
        ASSERT_EQ(whole.result, kResultSuccess) << part;
        const uint64_t total = whole.accesses.load();
        // From the erase to the last read back.
        for (uint64_t permille : {1, 20, 150, 400, 700, 990}) {
            SCOPED_TRACE(std::string(part) + " stopped at " + std::to_string(permille) + "/1000");
            StoppedUpdate stopped(part, total * permille / 1000);
            ASSERT_TRUE(stopped.Run());
            ASSERT_NE(stopped.stopUs.load(), 0u);
            EXPECT_EQ(stopped.result, kResultTimedOut);
            EXPECT_LE(stopped.endUs - stopped.stopUs.load(), kStopAnswerUs);
            EXPECT_EQ(stopped.events.Lines().size(), stopped.linesAtStop.load());
            EXPECT_EQ(stopped.events.Lines(), std::vector<std::string>{});
        }
    }
}

// Stopped before it starts, a job touches nothing.
TEST(EngineStop, AJobStoppedBeforeItsUpdateTouchesNothing) {
    StoppedUpdate stopped("M25P10A", 0);
    ASSERT_TRUE(stopped.machine.Ok());
    ASSERT_EQ(stopped.machine.io->LoadVlmIODriver(), 1u);
    ASSERT_EQ(stopped.engine.ScanControllers(), kResultSuccess);
    stopped.part = stopped.spi.QueryFlashPart(stopped.records[0]);
    stopped.image.assign(kImageBufferBytes, 0x5A);
    const std::vector<uint8_t> before = stopped.machine.Flash(2, 0, 0);
    const uint64_t accessesBefore = stopped.machine.Accesses();
    framework::ThreadHandle handle;
    framework::BeginThread(
        [](void* param) -> unsigned {
            auto* s = static_cast<StoppedUpdate*>(param);
            while (!framework::CurrentThreadStopRequested()) {
            }
            s->result = s->engine.Update_Firmware(0, s->records[0], s->part, s->image.data(), k64K);
            return 0;
        },
        &stopped, framework::ThreadPriority::kNormal, &handle);
    ASSERT_TRUE(handle);
    handle->RequestStop();
    while (!handle->WaitForEnd(1000)) {
    }
    EXPECT_EQ(stopped.result, kResultTimedOut);
    EXPECT_EQ(stopped.machine.Accesses(), accessesBefore);
    EXPECT_EQ(stopped.machine.Flash(2, 0, 0), before);
}

}  // namespace
