// The update engine and the SPI layer against every modelled part, with datasheet timing on
// the virtual clock: each part takes an image that fits it, except the M45PE10, whose chip
// erase command never erases.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/emulator_vlmio.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "tests/support/test_clocks.h"
#include "tests/unit/emulator_test_util.h"
#include "util/utility.h"

namespace {

constexpr int kM45PE10Row = 27;
constexpr uint32_t kImageBytes = 0x10000;

class EmulatedUpdate : public ::testing::TestWithParam<int> {};

TEST_P(EmulatedUpdate, EveryPartButTheM45PE10TakesTheImage) {
    const int row = GetParam();
    SCOPED_TRACE(flash::g_FlashParts[static_cast<std::size_t>(row)].szPartName);
    testsupport::VirtualClock clock;
    auto pc = emu_test::MakePc("controller 02:00.0 part=" + std::to_string(row) + "\n", clock);
    vlmio::emu::EmulatorVlmIo io(*pc);
    ASSERT_EQ(io.LoadVlmIODriver(), 1u);
    flash::CSPICtl spi(&io, &clock);
    uint8_t count = 0;
    ControllerInfo controllers[kMaxControllers] = {};
    flash::CInterctl engine(count, controllers, spi);
    ASSERT_EQ(engine.ScanControllers(), 0);
    ASSERT_EQ(count, 1);
    ControllerInfo& record = controllers[0];

    flash::FlashPartInfo part = spi.QueryFlashPart(record);
    ASSERT_TRUE(flash::IsIdentified(part));
    EXPECT_STREQ(part.szPartName, flash::g_FlashParts[static_cast<std::size_t>(row)].szPartName);

    std::vector<uint8_t> image(kImageBufferBytes, 0);
    for (uint32_t i = 0; i < kImageBytes; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    int32_t result = engine.Update_Firmware(0, record, part, image.data(), kImageBytes);
    const std::vector<uint8_t>& flash = pc->Chip(2, 0, 0)->Contents();
    bool written = std::equal(image.begin(), image.begin() + kImageBytes, flash.begin());
    if (row == kM45PE10Row) {
        EXPECT_EQ(result, -3);
        EXPECT_FALSE(written);
    } else {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(written);
    }
}

INSTANTIATE_TEST_SUITE_P(AllParts, EmulatedUpdate,
                         ::testing::Range(0, static_cast<int>(flash::kFlashPartCount)));

}  // namespace
