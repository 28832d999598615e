// The SPI layer's register traffic, against a recording bridge on a virtual clock.
#include <gtest/gtest.h>

#include <vector>

#include "fake_bridge.h"
#include "flash/spi_protocol.h"
#include "tests/support/test_clocks.h"
#include "util/result_codes.h"

namespace {

using flash::CSPICtl;
using V = std::vector<uint32_t>;

constexpr uint64_t kUsPerSecond = 1000000;
constexpr uint64_t kStuckUsPerAccess = 100;  // keeps the stuck-bridge tests short

class SpiProtocol : public ::testing::Test {
protected:
    SpiProtocol() : m_bridge(m_clock), m_spi(&m_bridge, &m_clock) {
        m_record.ucBus = 3;
        m_record.ucDevice = 4;
        m_record.ucFunction = 1;
    }
    // Every access went to the record's function.
    void ExpectOnlyOwnFunction() {
        for (const fake::Access& a : m_bridge.log) {
            EXPECT_EQ(a.bus, 3u);
            EXPECT_EQ(a.device, 4u);
            EXPECT_EQ(a.function, 1u);
        }
    }
    void StuckBusy() {
        m_bridge.control = [] { return uint32_t{flash::kControlBusy}; };
        m_bridge.recordControlReads = false;
        m_bridge.usPerAccess = kStuckUsPerAccess;
    }

    testsupport::VirtualClock m_clock;
    fake::FakeBridge m_bridge;
    CSPICtl m_spi;
    ControllerInfo m_record{};
};

TEST(SpiEncoding, TransferValuesAndAddressOrder) {
    for (uint32_t count = 1; count <= 4; ++count) {
        EXPECT_EQ(flash::TransferValue(count, false), 0x20 + count);
        EXPECT_EQ(flash::TransferValue(count, true), 0x28 + count);
    }
    // Opcode first on the wire, then the address most significant byte first.
    EXPECT_EQ(flash::OpcodeWithAddress(0x02, 0x000100), 0x00010002u);
    EXPECT_EQ(flash::OpcodeWithAddress(0x03, 0x123456), 0x56341203u);
}

TEST_F(SpiProtocol, BadCountsAreRefusedAfterTheFirstWait) {
    for (uint32_t count : {0u, 5u}) {
        m_bridge.log.clear();
        uint32_t out = 0xAAAAAAAA;
        EXPECT_EQ(m_spi.ReadData(m_record, count, &out), kResultInvalidParameter);
        EXPECT_EQ(m_spi.WriteData(m_record, 0x06, count), kResultInvalidParameter);
        EXPECT_EQ(out, 0xAAAAAAAAu);
        EXPECT_TRUE(m_bridge.ControlWrites().empty()) << count;
        EXPECT_TRUE(m_bridge.DataWrites().empty()) << count;
        EXPECT_EQ(m_bridge.Count(pci::kSpiControlRegister, false), 2u);
    }
}

TEST_F(SpiProtocol, ReadDataKeepsOnlyTheBytesReceived) {
    m_bridge.data = [] { return 0x44332211u; };
    const std::pair<uint32_t, uint32_t> cases[] = {
        {1, 0x11}, {2, 0x2211}, {3, 0x332211}, {4, 0x44332211}};
    for (const auto& [count, expected] : cases) {
        uint32_t out = 0;
        ASSERT_EQ(m_spi.ReadData(m_record, count, &out), kResultSuccess);
        EXPECT_EQ(out, expected);
    }
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x21, 0x22, 0x23, 0x24}));
    ExpectOnlyOwnFunction();
}

// A limit of one second lasts at least one second, wherever inside a second it starts, and
// ends soon after.
TEST(SpiLimits, TheBridgeLimitLastsAtLeastOneSecondFromAnyStart) {
    for (uint64_t startUs :
         {uint64_t{0}, kUsPerSecond - 1000, kUsPerSecond - 1, 7 * kUsPerSecond - 1}) {
        SCOPED_TRACE(startUs);
        testsupport::VirtualClock clock(startUs);
        fake::FakeBridge bridge(clock, kStuckUsPerAccess);
        bridge.control = [] { return uint32_t{flash::kControlBusy}; };
        bridge.recordControlReads = false;
        CSPICtl spi(&bridge, &clock);
        EXPECT_EQ(spi.WaitReady(ControllerInfo{}), kResultTransferError);
        EXPECT_GE(clock.NowUs() - startUs, kUsPerSecond);
        EXPECT_LE(clock.NowUs() - startUs, kUsPerSecond + 2000 + kStuckUsPerAccess);
    }
}

TEST(SpiLimits, TheStatusPollLimitLastsAtLeastFiveSecondsFromAnyStart) {
    // The limit starts after the first status read: starts just before a second's end.
    for (uint64_t startUs = 3 * kUsPerSecond - 40; startUs <= 3 * kUsPerSecond; startUs += 2) {
        SCOPED_TRACE(startUs);
        testsupport::VirtualClock clock(startUs);
        fake::FakeBridge bridge(clock);
        bridge.recordControlReads = false;
        bridge.data = [] { return uint32_t{flash::kStatusBusy}; };
        CSPICtl spi(&bridge, &clock);
        spi.WaitWhileBusy(ControllerInfo{});
        EXPECT_GE(clock.NowUs() - startUs, 5 * kUsPerSecond);
        EXPECT_LE(clock.NowUs() - startUs, 5 * kUsPerSecond + 2000);
    }
}

TEST_F(SpiProtocol, ReadyBridgeAnswersAtTheFirstRead) {
    EXPECT_EQ(m_spi.WaitReady(m_record), kResultSuccess);
    EXPECT_EQ(m_bridge.log.size(), 1u);
}

TEST_F(SpiProtocol, ReadMemoryRemainders) {
    uint32_t next = 0;
    m_bridge.data = [&next] {
        const uint32_t base = next;
        next += 4;
        return base | (base + 1) << 8 | (base + 2) << 16 | (base + 3) << 24;
    };
    uint8_t out[8] = {};
    ASSERT_EQ(m_spi.Read_Memory(m_record, 0x012345, 7, out), kResultSuccess);
    EXPECT_EQ(m_bridge.DataWrites(), (V{0x45230103}));
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x2C, 0x24, 0x23, 0x10}));
    EXPECT_EQ(std::vector<uint8_t>(out, out + 7), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6}));

    m_bridge.log.clear();
    ASSERT_EQ(m_spi.Read_Memory(m_record, 0, 1, out), kResultSuccess);
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x2C, 0x21, 0x10}));
    EXPECT_EQ(out[0], 8);
    ExpectOnlyOwnFunction();
}

// A remainder that could not be read is a failure, and the command is still ended.
TEST_F(SpiProtocol, ReadMemoryFailedWaitsReportAndEndTheCommand) {
    for (uint32_t count : {3u, 1u, 8u}) {
        int controlReads = 0;
        const int readyReads = count == 8 ? 4 : 3;  // ready through the command (and a block)
        m_bridge.control = [&controlReads, readyReads] {
            return ++controlReads > readyReads ? uint32_t{flash::kControlBusy} : 0u;
        };
        m_bridge.log.clear();
        uint8_t out[8] = {};
        EXPECT_EQ(m_spi.Read_Memory(m_record, 0, count, out), kResultTransferError) << count;
        EXPECT_EQ(m_bridge.ControlWrites().back(), 0x10u) << count;
    }
}

TEST_F(SpiProtocol, PageProgramSixBytesIsOneCommand) {
    const uint8_t data[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
    ASSERT_EQ(m_spi.PageProgram(m_record, 0x100, data, 6), kResultSuccess);
    EXPECT_EQ(m_bridge.DataWrites(), (V{0x00010002, 0xA3A2A1A0, 0xA5A4}));
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x2C, 0x2C, 0x2A, 0x10}));

    m_bridge.log.clear();
    ASSERT_EQ(m_spi.PageProgram(m_record, 0, data, 5), kResultSuccess);
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x2C, 0x2C, 0x29, 0x10}));
    m_bridge.log.clear();
    ASSERT_EQ(m_spi.PageProgram(m_record, 0, data, 0), kResultSuccess);
    ASSERT_EQ(m_spi.AaiProgram(m_record, 0, data, 0), kResultSuccess);
    EXPECT_TRUE(m_bridge.log.empty());
}

TEST_F(SpiProtocol, StuckBridge) {
    StuckBusy();
    const uint8_t data[6] = {};
    EXPECT_EQ(m_spi.PageProgram(m_record, 0x100, data, 6), kResultSuccess);
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x10}));
    EXPECT_TRUE(m_bridge.DataWrites().empty());

    m_bridge.log.clear();
    EXPECT_EQ(m_spi.AaiProgram(m_record, 0, data, 2), kResultSuccess);
    EXPECT_TRUE(m_bridge.DataWrites().empty()) << "no byte goes out as a command of its own";

    m_bridge.log.clear();
    EXPECT_EQ(m_spi.ChipErase(m_record, flash::g_FlashParts[0]), kResultTransferError);
    EXPECT_TRUE(m_bridge.DataWrites().empty()) << "the erase command is never sent";

    uint32_t id = 0;
    uint8_t out[4] = {};
    m_bridge.log.clear();
    EXPECT_EQ(m_spi.ReadId(m_record, 0x9F, 0, &id), kResultTransferError);
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x10}));
    m_bridge.log.clear();
    EXPECT_EQ(m_spi.Read_Memory(m_record, 0, 4, out), kResultTransferError);
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x10}));
    EXPECT_EQ(m_spi.BlankCheck(m_record), kResultTransferError);
    EXPECT_EQ(m_spi.WriteStatusZero(m_record), kResultTransferError);
    EXPECT_EQ(m_spi.WriteDisable(m_record), kResultTransferError);
}

TEST_F(SpiProtocol, ReadIdModes) {
    m_bridge.data = [] { return 0x991022C2u; };
    uint32_t id = 0;
    ASSERT_EQ(m_spi.ReadId(m_record, 0x9F, 0, &id), kResultSuccess);
    EXPECT_EQ(id, 0x1022C2u) << "the fourth byte is cleared";
    EXPECT_EQ(m_bridge.DataWrites(), (V{0x9F}));
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x29, 0x23, 0x10}));
    m_bridge.log.clear();
    ASSERT_EQ(m_spi.ReadId(m_record, 0x90, 3, &id), kResultSuccess);
    EXPECT_EQ(m_bridge.DataWrites(), (V{0x90}));
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x2C, 0x23, 0x10}));
}

TEST_F(SpiProtocol, StatusCommands) {
    m_bridge.data = [] { return uint32_t{flash::kStatusWriteEnableLatch}; };
    EXPECT_EQ(m_spi.WriteStatusZero(m_record), kResultSuccess);
    EXPECT_EQ(m_spi.WriteDisable(m_record), kResultSuccess);
    EXPECT_EQ(m_bridge.DataWrites(), (V{0x0001, 0x04}));
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x2A, 0x10, 0x29, 0x10}));
}

// SST parts get the enable-write-status command and no latch poll; others a write enable
// followed by the latch poll.
TEST_F(SpiProtocol, UnprotectPerMaker) {
    m_bridge.data = [] { return uint32_t{flash::kStatusWriteEnableLatch}; };
    m_spi.Unprotect(m_record, flash::g_FlashParts[45]);
    // 0x50; status write 0x01 00; the busy poll's first read (not busy: one read).
    EXPECT_EQ(m_bridge.DataWrites(), (V{0x50, 0x0001, 0x05}));
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x29, 0x10, 0x2A, 0x10, 0x29, 0x21, 0x10}));

    m_bridge.log.clear();
    m_spi.Unprotect(m_record, flash::g_FlashParts[0]);
    EXPECT_EQ(m_bridge.DataWrites(), (V{0x06, 0x05, 0x0001, 0x05}));
}

TEST_F(SpiProtocol, PollsEndAtTheirLimit) {
    m_bridge.recordControlReads = false;
    m_bridge.data = [] { return uint32_t{flash::kStatusBusy}; };  // busy, latch never set
    for (int poll = 0; poll < 2; ++poll) {
        const uint64_t start = m_clock.NowUs();
        if (poll == 0) {
            m_spi.WaitWhileBusy(m_record);
        } else {
            m_spi.WaitWriteEnable(m_record);
        }
        const uint64_t spent = m_clock.NowUs() - start;
        EXPECT_GE(spent, 5 * kUsPerSecond) << poll;
        EXPECT_LE(spent, 5 * kUsPerSecond + 2000) << poll;
        EXPECT_EQ(m_bridge.ControlWrites().back(), 0x10u);
    }
}

// An erase still running when the status poll's limit is reached is polled on while the chip
// answers busy, so that the write disable goes to an idle chip; a chip that answers busy for
// ever is given up at the erase limit, and a line nobody drives (0xFF) at the status poll's.
TEST_F(SpiProtocol, AnEraseOutlastingTheStatusPollIsWaitedFor) {
    m_bridge.recordControlReads = false;
    testsupport::VirtualClock& clock = m_clock;
    bool erasing = false;
    uint64_t eraseEndUs = 0;
    uint64_t writeDisableUs = 0;
    // Latch set; busy while the erase runs, which starts at the erase command (0x60).
    m_bridge.data = [&] {
        const bool busy = erasing && clock.NowUs() < eraseEndUs;
        return uint32_t{flash::kStatusWriteEnableLatch} | (busy ? flash::kStatusBusy : 0u);
    };
    struct Case {
        uint64_t eraseUs;
        uint32_t status;  // 0: the scripted chip above
        uint64_t minUs, maxUs;
    };
    const Case cases[] = {
        {12 * kUsPerSecond, 0, 12 * kUsPerSecond, 13 * kUsPerSecond},    // ends after 12 s
        {1000 * kUsPerSecond, 0, 35 * kUsPerSecond, 36 * kUsPerSecond},  // never ends
        {0, 0xFF, 10 * kUsPerSecond, 11 * kUsPerSecond},  // no chip: 0xFF, as described
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.eraseUs);
        if (c.status != 0) m_bridge.data = [&c] { return c.status; };
        m_bridge.log.clear();
        erasing = false;
        writeDisableUs = 0;
        const uint64_t start = m_clock.NowUs();
        // The erase starts with its command; the write disable's time is noted.
        m_bridge.onDataWrite = [&](uint32_t value) {
            if (value == 0x60 && !erasing) {
                erasing = true;
                eraseEndUs = clock.NowUs() + c.eraseUs;
            }
            if (value == flash::kOpWriteDisable) writeDisableUs = clock.NowUs();
        };
        EXPECT_EQ(m_spi.ChipErase(m_record, flash::g_FlashParts[0]), kResultSuccess);
        const uint64_t spent = m_clock.NowUs() - start;
        EXPECT_GE(spent, c.minUs);
        EXPECT_LE(spent, c.maxUs);
        if (c.status == 0 && c.eraseUs < 30 * kUsPerSecond) {
            EXPECT_GE(writeDisableUs, eraseEndUs);
        }
        EXPECT_EQ(m_bridge.DataWrites().back(), flash::kOpWriteDisable);
    }
}

// A status read that fails counts as busy: the poll goes on and ends on the first good read.
TEST_F(SpiProtocol, FailedFirstStatusReadKeepsPolling) {
    m_bridge.recordControlReads = false;
    testsupport::VirtualClock& clock = m_clock;
    m_bridge.control = [&clock] {
        return clock.NowUs() < 3 * kUsPerSecond / 2 ? uint32_t{flash::kControlBusy} : 0u;
    };
    m_bridge.data = [] { return 0u; };  // not busy
    m_spi.WaitWhileBusy(m_record);
    EXPECT_GE(m_clock.NowUs(), 3 * kUsPerSecond / 2);
    EXPECT_LT(m_clock.NowUs(), 3 * kUsPerSecond);
    EXPECT_EQ(m_bridge.Count(pci::kSpiDataRegister, false), 1u) << "one good status read";
    EXPECT_EQ(m_bridge.ControlWrites().back(), 0x10u);
}

TEST_F(SpiProtocol, AaiProgramPollsBetweenBytes) {
    const uint8_t data[3] = {0x11, 0x22, 0x33};
    ASSERT_EQ(m_spi.AaiProgram(m_record, 0x010203, data, 1), kResultSuccess);
    EXPECT_EQ(m_bridge.DataWrites(), (V{0x030201AF, 0x11, 0x05}));
    EXPECT_EQ(m_bridge.ControlWrites(), (V{0x2C, 0x29, 0x10, 0x29, 0x21, 0x10, 0x10}));

    // Busy for two status reads after each byte: three reads before each further byte.
    int reads = 0;
    m_bridge.data = [&reads] { return ++reads % 3 != 0 ? uint32_t{flash::kStatusBusy} : 0u; };
    m_bridge.log.clear();
    ASSERT_EQ(m_spi.AaiProgram(m_record, 0, data, 3), kResultSuccess);
    EXPECT_EQ(m_bridge.DataWrites(),
              (V{0x000000AF, 0x11, 5, 5, 5, 0x22AF, 5, 5, 5, 0x33AF, 5, 5, 5}));

    // A chip that stays busy is polled 1000 times, then the next byte goes anyway.
    m_bridge.data = [] { return uint32_t{flash::kStatusBusy}; };
    m_bridge.log.clear();
    ASSERT_EQ(m_spi.AaiProgram(m_record, 0, data, 2), kResultSuccess);
    EXPECT_EQ(m_bridge.Count(pci::kSpiDataRegister, false), 2000u);
}

}  // namespace
