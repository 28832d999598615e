// Identification of the flash part behind a controller.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_bridge.h"
#include "flash/flash_part_table.h"
#include "flash/spi_protocol.h"
#include "tests/support/test_clocks.h"

namespace {

constexpr uint16_t kUnsetPageSize = 77;

class IdentifyPart : public ::testing::Test {
protected:
    IdentifyPart() : m_bridge(m_clock), m_spi(&m_bridge, &m_clock) {
        m_record.usPageSize = kUnsetPageSize;
    }
    // The flash answers identification opcode `opcode` with the three bytes of `id` (first
    // byte in bits 0-7) and every other opcode with ones.
    void Answer(uint8_t opcode, uint32_t id) {
        m_bridge.data = [this, opcode, id] {
            const auto writes = m_bridge.DataWrites();
            const bool asked = !writes.empty() && (writes.back() & 0xFF) == opcode;
            return asked ? id : 0xFFFFFFFFu;
        };
    }
    // Data-register reads of the identification commands: every one but the settling status
    // read that comes first.
    std::size_t IdReads() const { return m_bridge.Count(pci::kSpiDataRegister, false) - 1; }
    bool IsRow(const flash::FlashPartInfo& part, std::size_t row) {
        return std::memcmp(&part, &flash::g_FlashParts[row], sizeof part) == 0;
    }

    testsupport::VirtualClock m_clock;
    fake::FakeBridge m_bridge;
    flash::CSPICtl m_spi;
    ControllerInfo m_record{};
};

TEST_F(IdentifyPart, FirstMatchingRowAndItsPageSize) {
    struct Case {
        uint8_t opcode;
        uint32_t id;
        std::size_t row;
        uint16_t pageSize;
        std::size_t reads;
    };
    const Case cases[] = {
        {0x9F, 0x1020C2, 0, 256, 1},    // C2 20 10
        {0x9F, 0x1022C2, 2, 32, 3},     // C2 22 10: not row 0
        {0x9F, 0x1122C2, 3, 32, 4},     // C2 22 11
        {0x15, 0x00651F, 32, 128, 33},  // 1F 65 with any third byte; 128-byte pages
        {0x15, 0x42651F, 32, 128, 33},
        {0x90, 0xBF48BF, 45, 256, 46},  // found after 45 unsuccessful reads
        {0xAB, 0x7F7B9D, 34, 256, 35},  // mode 3 command
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.row));
        m_bridge.log.clear();
        m_record.usPageSize = kUnsetPageSize;
        Answer(c.opcode, c.id);
        const flash::FlashPartInfo part = m_spi.QueryFlashPart(m_record);
        EXPECT_TRUE(IsRow(part, c.row)) << part.szPartName;
        EXPECT_EQ(m_record.usPageSize, c.pageSize);
        EXPECT_EQ(IdReads(), c.reads);
    }
}

TEST_F(IdentifyPart, NothingAnswering) {
    Answer(0x00, 0);
    const flash::FlashPartInfo part = m_spi.QueryFlashPart(m_record);
    EXPECT_FALSE(flash::IsIdentified(part));
    const flash::FlashPartInfo none = flash::UnidentifiedFlashPart();
    EXPECT_EQ(std::memcmp(&part, &none, sizeof part), 0);
    EXPECT_EQ(IdReads(), flash::kFlashPartCount);
    EXPECT_EQ(m_record.usPageSize, kUnsetPageSize);
}

// A bridge that never answers tells nothing about the part: not identified, so nothing is
// erased or written with another part's commands.
TEST_F(IdentifyPart, StuckBridgeIsNotIdentified) {
    m_bridge.control = [] { return uint32_t{flash::kControlBusy}; };
    m_bridge.recordControlReads = false;
    m_bridge.usPerAccess = 1000;
    const flash::FlashPartInfo part = m_spi.QueryFlashPart(m_record);
    EXPECT_FALSE(flash::IsIdentified(part));
    EXPECT_EQ(m_record.usPageSize, kUnsetPageSize);
    EXPECT_LT(m_clock.NowSeconds(), 3u) << "the search stops at the first failed read";
}

}  // namespace
