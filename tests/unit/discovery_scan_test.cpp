// The walk of configuration space for 270X controllers.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

#include "fake_bridge.h"
#include "flash/update_engine.h"
#include "pci/controller_ids.h"
#include "tests/support/test_clocks.h"
#include "util/result_codes.h"

namespace {

using Address = std::tuple<uint32_t, uint32_t, uint32_t>;

class DiscoveryScan : public ::testing::Test {
protected:
    DiscoveryScan()
        : m_bridge(m_clock), m_spi(&m_bridge, &m_clock), m_engine(m_count, m_records, m_spi) {}

    uint32_t Key(std::size_t row) { return ControllerIdKey(g_ControllerIds[row]); }
    std::vector<Address> Found() {
        std::vector<Address> out;
        for (uint8_t i = 0; i < m_count; ++i) {
            out.emplace_back(m_records[i].ucBus, m_records[i].ucDevice, m_records[i].ucFunction);
        }
        return out;
    }

    testsupport::VirtualClock m_clock;
    fake::FakeBridge m_bridge;
    flash::CSPICtl m_spi;
    uint8_t m_count = 0xEE;
    ControllerInfo m_records[kMaxControllers] = {};
    flash::CInterctl m_engine;
};

TEST_F(DiscoveryScan, NothingFound) {
    m_bridge.ids[{0, 0, 0}] = 0x12348086;  // some other maker's device
    EXPECT_EQ(m_engine.ScanControllers(), kResultTransferError);
    EXPECT_EQ(m_count, 0);
    EXPECT_EQ(m_bridge.idReads, 7u * 16 * 32 * 8) << "every row over the whole range";
    EXPECT_EQ(m_bridge.maxBusRead, 15u);
}

TEST_F(DiscoveryScan, OrderIsRowThenBusDeviceFunction) {
    m_bridge.ids[{9, 0, 0}] = Key(0);  // the earlier row wins over a lower bus
    m_bridge.ids[{1, 2, 0}] = Key(3);
    m_bridge.ids[{5, 1, 0}] = Key(1);  // same row on buses 5 and 2: bus 2 first
    m_bridge.ids[{2, 7, 0}] = Key(1);
    m_bridge.ids[{16, 0, 0}] = Key(0);  // beyond the buses walked
    ASSERT_EQ(m_engine.ScanControllers(), kResultSuccess);
    EXPECT_EQ(Found(), (std::vector<Address>{{9, 0, 0}, {2, 7, 0}, {5, 1, 0}, {1, 2, 0}}));
    EXPECT_EQ(m_bridge.maxBusRead, 15u);
    // Each record knows which identifier row it matched.
    const uint8_t rows[] = {0, 1, 1, 3};
    for (uint8_t i = 0; i < m_count; ++i) EXPECT_EQ(m_records[i].ucIdRow, rows[i]) << int(i);
}

TEST_F(DiscoveryScan, EveryMatchingFunctionIsAControllerUpToFour) {
    for (uint32_t f = 0; f < 8; ++f) m_bridge.ids[{3, 0, f}] = Key(6);
    m_records[2].usPageSize = 256;
    ASSERT_EQ(m_engine.ScanControllers(), kResultSuccess);
    EXPECT_EQ(m_count, kMaxControllers) << "matches past the fourth are ignored";
    EXPECT_EQ(Found(), (std::vector<Address>{{3, 0, 0}, {3, 0, 1}, {3, 0, 2}, {3, 0, 3}}));
    EXPECT_EQ(m_records[2].usPageSize, 0) << "a page size belongs to an identified part";
    EXPECT_EQ(m_bridge.idReads, 7u * 16 * 32 * 8) << "the walk goes on to its end";

    // The engine lock is free again afterwards.
    EXPECT_TRUE(m_engine.EngineLock().try_lock());
    m_engine.EngineLock().unlock();
}

// The walk waits for the engine lock and takes it for its whole length.
TEST_F(DiscoveryScan, WalkRunsUnderTheEngineLock) {
    m_bridge.ids[{0, 1, 0}] = Key(0);
    m_engine.EngineLock().lock();
    int32_t result = 1;
    std::thread walker([this, &result] { result = m_engine.ScanControllers(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(m_bridge.idReads, 0u) << "no read before the lock is had";
    m_engine.EngineLock().unlock();
    walker.join();
    EXPECT_EQ(result, kResultSuccess);
    EXPECT_EQ(m_count, 1);
}

}  // namespace
