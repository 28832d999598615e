// The update engine and the SPI layer against every modelled part with datasheet timing on the
// virtual clock: each part takes an image that fits it without any misuse of the hardware, as
// long as its chip erase ends within the status poll's limit; one that takes longer shows what
// the engine then does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/chip_catalogue.h"
#include "emulator/emulator_vlmio.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "tests/support/emulated_rig.h"
#include "tests/support/test_clocks.h"
#include "util/utility.h"

namespace {

constexpr uint32_t kImageBytes = 0x10000;
// The shortest time the status poll's 5-second limit may last as the limit is counted (whole
// seconds of the process clock).
constexpr uint32_t kShortestPollUs = 4000000;

struct Outcome {
    int32_t result = 1;
    bool written = false;
    std::vector<std::string> violations;  // the kinds, in order
};

// Finds, identifies and updates the one controller of the machine with a 64 KiB image.
Outcome Update(const std::string& machine) {
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
    if (chip.ChipEraseUs() > kShortestPollUs) {
        // The poll may give up before the erase ends: then what SlowChipErase shows.
        for (const std::string& kind : o.violations)
            EXPECT_TRUE(kind == "chip-busy" || kind == "status-write-disabled") << kind;
        return;
    }
    // The M45PE10 has no status register: each unprotect's status write is rejected.
    const std::vector<std::string> named =
        row == 27 ? std::vector<std::string>{"rejected-command", "rejected-command"}
                  : std::vector<std::string>{};
    EXPECT_EQ(o.violations, named);
}

INSTANTIATE_TEST_SUITE_P(AllParts, EmulatedUpdate,
                         ::testing::Range(0, static_cast<int>(flash::kFlashPartCount)));

// A chip erase longer than the status poll's limit: the poll gives up while the chip erases.
// The busy chip then ignores all but the status read, as its datasheet says: the write disable,
// every read of the blank check (whose bytes come back 0xFF from the idle line, so that the
// check passes a chip that is still erasing), and the write enable before the section's status
// write, which therefore goes without it. Once the erase has ended the section is written and
// read back, and the update succeeds. (MX25U8035: 8 s, an estimate; EN25F40: 5 s, the EN25LF40
// datasheet's figure, which the limit counted in whole seconds may cut to 4.)
TEST(SlowChipErase, OutlastsTheStatusPoll) {
    const Outcome o = Update("controller 02:00.0 part=MX25U8035\n");
    EXPECT_EQ(o.result, 0);
    EXPECT_TRUE(o.written);
    std::vector<std::string> expected(1 + 256 + 1, "chip-busy");
    expected.push_back("status-write-disabled");
    EXPECT_EQ(o.violations, expected);
}

}  // namespace
