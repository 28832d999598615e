// The update engine and the SPI layer against every modelled part with datasheet timing on the
// virtual clock, as real chips and bridges keep the host waiting: each part takes an image that
// fits it at the first attempt, without a diagnostic line, without any misuse of the hardware,
// and with every byte written read back after it was written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/chip_catalogue.h"
#include "emulator/emulator_vlmio.h"
#include "event_capture.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "tests/support/emulated_rig.h"
#include "tests/support/test_clocks.h"
#include "util/utility.h"

namespace {

constexpr uint32_t kImageBytes = 0x10000;

struct Outcome {
    int32_t result = 1;
    bool written = false;
    std::vector<std::string> violations;  // the kinds, in order
    std::vector<std::string> lines;       // the engine's diagnostic lines
    std::size_t unverified = 0;           // bytes programmed and not read back after
};

// Finds, identifies and updates the one controller of the machine with a 64 KiB image.
Outcome Update(const std::string& machine) {
    capture::EventCapture events;
    testsupport::EngineRig rig(machine);
    Outcome o;
    if (!rig.Ok() || rig.engine->ScanControllers() != 0) return o;
    ControllerInfo& record = rig.records[0];
    const flash::FlashPartInfo part = rig.spi->QueryFlashPart(record);
    if (!flash::IsIdentified(part)) return o;
    std::vector<uint8_t> image(kImageBufferBytes, 0);
    for (uint32_t i = 0; i < kImageBytes; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    o.result = rig.engine->Update_Firmware(0, record, part, image.data(), kImageBytes);
    const std::vector<uint8_t> flash = rig.Flash();
    o.written = std::equal(image.begin(), image.begin() + kImageBytes, flash.begin());
    for (const vlmio::emu::Violation& v : rig.machine.pc->Violations())
        o.violations.push_back(vlmio::emu::ViolationName(v.kind));
    o.lines = events.Lines();
    o.unverified = rig.machine.pc->Chip(record.ucBus, record.ucDevice, record.ucFunction)
                       ->History()
                       .unverified;
    return o;
}

class EmulatedUpdate : public ::testing::TestWithParam<int> {};

TEST_P(EmulatedUpdate, EveryPartTakesTheImageWithoutMisuse) {
    const auto row = static_cast<std::size_t>(GetParam());
    const vlmio::emu::ChipDatasheet& chip = *vlmio::emu::ChipOfTableRow(row);
    SCOPED_TRACE(chip.name);
    const Outcome o = Update("controller 02:00.0 part=" + std::to_string(row) + "\n");
    EXPECT_EQ(o.result, 0);
    EXPECT_TRUE(o.written);
    EXPECT_EQ(o.lines, std::vector<std::string>{});
    EXPECT_EQ(o.unverified, 0u);
    // The M45PE10 has no status register: each unprotect's status write is rejected.
    const std::vector<std::string> named =
        row == 27 ? std::vector<std::string>{"rejected-command", "rejected-command"}
                  : std::vector<std::string>{};
    EXPECT_EQ(o.violations, named);
}

INSTANTIATE_TEST_SUITE_P(AllParts, EmulatedUpdate,
                         ::testing::Range(0, static_cast<int>(flash::kFlashPartCount)));

// A chip erase longer than the status poll's limit (MX25U8035: 8 s, an estimate; EN25F40: 5 s,
// the EN25LF40 datasheet's figure, which the status poll's whole seconds may cut to 4). A busy
// chip ignores all but the status read, as its datasheet says: had the host gone on when the
// status poll gave up, the write disable, every read of the blank check (whose bytes would come
// back 0xFF from the idle line, passing a chip that is still erasing) and the write enable before
// the section's status write would have gone to a chip still erasing. The erase is waited for.
TEST(SlowChipErase, IsWaitedForPastTheStatusPoll) {
    for (const char* part : {"MX25U8035", "EN25F40"}) {
        SCOPED_TRACE(part);
        const Outcome o = Update(std::string("controller 02:00.0 part=") + part + "\n");
        EXPECT_EQ(o.result, 0);
        EXPECT_TRUE(o.written);
        EXPECT_EQ(o.lines, std::vector<std::string>{});
        EXPECT_EQ(o.violations, std::vector<std::string>{});
    }
}

}  // namespace
