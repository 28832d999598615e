// Configuration space and the SPI bridge registers of the emulated PC.
#include <gtest/gtest.h>

#include <thread>

#include "pci/controller_ids.h"
#include "tests/support/test_clocks.h"
#include "tests/unit/bridge_driver.h"
#include "tests/unit/emulator_test_util.h"

namespace {

using emu_test::MakePc;
using testing_bridge::BridgeDriver;
using testsupport::VirtualClock;
using vlmio::emu::RegisterAccess;

constexpr char kMachine[] =
    "# two controllers and another function\n"
    "controller 03:00.0 part=0 timing=instant\n"
    "controller 0a:1f.7 part=MX25L5121E member=7   # the last family member\n"
    "device     00:1f.2 8086:2922\n";

TEST(EmulatedPcRegisters, IdentifiersAndPlainRegisters) {
    VirtualClock clock;
    auto pc = MakePc(kMachine, clock);
    ASSERT_NE(pc, nullptr);
    EXPECT_EQ(pc->ControllerCount(), 2u);
    EXPECT_EQ(pc->ReadDword(3, 0, 0, 0x00), ControllerIdKey(g_ControllerIds[0]));
    EXPECT_EQ(pc->ReadDword(0x0A, 0x1F, 7, 0x00), ControllerIdKey(g_ControllerIds[6]));
    EXPECT_EQ(pc->ReadDword(0, 0x1F, 2, 0x00), 0x29228086u);
    // Byte reads give the identifier's bytes; other offsets read 0; dwords ignore the low bits.
    EXPECT_EQ(pc->ReadByte(0, 0x1F, 2, 0x02), 0x22u);
    EXPECT_EQ(pc->ReadDword(0, 0x1F, 2, 0x03), 0x29228086u);
    EXPECT_EQ(pc->ReadDword(3, 0, 0, 0x08), 0u);
    EXPECT_EQ(pc->ReadDword(0, 0x1F, 2, 0xF0), 0u);
    EXPECT_EQ(pc->ReadByte(0, 0x1F, 2, 0xF4), 0u);
    // Absent functions, and offsets past configuration space, read all ones.
    EXPECT_EQ(pc->ReadDword(3, 0, 1, 0x00), 0xFFFFFFFFu);
    EXPECT_EQ(pc->ReadByte(3, 0, 1, 0xF4), 0xFFu);
    EXPECT_EQ(pc->ReadDword(3, 0, 0, 0x100), 0xFFFFFFFFu);
    EXPECT_EQ(pc->ReadDword(300, 0, 0, 0x00), 0xFFFFFFFFu);
    // Writes to the identifier or to another function change nothing.
    pc->WriteDword(3, 0, 0, 0x00, 0);
    pc->WriteDword(0, 0x1F, 2, 0xF0, 0x12345678);
    EXPECT_EQ(pc->ReadDword(3, 0, 0, 0x00), ControllerIdKey(g_ControllerIds[0]));
    EXPECT_EQ(pc->ReadDword(0, 0x1F, 2, 0xF0), 0u);
}

TEST(EmulatedPcRegisters, DataRegisterLanesAndTransfers) {
    VirtualClock clock;
    auto pc = MakePc(kMachine, clock);
    pc->WriteDword(3, 0, 0, 0xF0, 0x11223344);
    pc->WriteByte(3, 0, 0, 0xF2, 0xAB);
    EXPECT_EQ(pc->ReadDword(3, 0, 0, 0xF0), 0x11AB3344u);
    EXPECT_EQ(pc->ReadByte(3, 0, 0, 0xF3), 0x11u);

    // 0x9F sent with a byte write of the control register, then three bytes received.
    pc->WriteDword(3, 0, 0, 0xF0, 0x9F);
    pc->WriteByte(3, 0, 0, 0xF4, 0x29);
    pc->WriteByte(3, 0, 0, 0xF4, 0x23);
    EXPECT_EQ(pc->ReadDword(3, 0, 0, 0xF0), 0x1020C2u);  // bytes not received read 0
    pc->WriteByte(3, 0, 0, 0xF4, 0x10);
    // A dword write of the control register acts on its low byte; values outside the
    // protocol do nothing.
    pc->WriteDword(3, 0, 0, 0xF0, 0x9F);
    pc->WriteDword(3, 0, 0, 0xF4, 0x29);
    pc->WriteByte(3, 0, 0, 0xF4, 0x27);
    pc->WriteByte(3, 0, 0, 0xF4, 0x21);
    EXPECT_EQ(pc->ReadDword(3, 0, 0, 0xF4), 0u);
    EXPECT_EQ(pc->ReadDword(3, 0, 0, 0xF0), 0xC2u);
}

TEST(EmulatedPcRegisters, TransfersKeepTheBridgeBusyOnlyUnderDatasheetTiming) {
    VirtualClock clock;
    auto pc =
        MakePc("controller 01:00.0 part=0\ncontroller 02:00.0 part=0 timing=instant\n", clock);
    for (uint32_t bus : {1u, 2u}) {
        pc->WriteDword(bus, 0, 0, 0xF0, 0x05);
        pc->WriteByte(bus, 0, 0, 0xF4, 0x2C);             // four bytes: busy 4 us
        uint32_t first = pc->ReadByte(bus, 0, 0, 0xF4);   // 2 us later
        uint32_t second = pc->ReadByte(bus, 0, 0, 0xF4);  // 4 us later
        EXPECT_EQ(first, bus == 1 ? 0x20u : 0u);
        EXPECT_EQ(second, 0u);
        pc->WriteByte(bus, 0, 0, 0xF4, 0x10);
    }
}

TEST(EmulatedPcRegisters, EveryAccessCostsTimeAndReachesTheObserver) {
    VirtualClock clock;
    auto pc = MakePc(kMachine, clock);
    std::vector<RegisterAccess> seen;
    pc->SetAccessObserver([&](const RegisterAccess& a) { seen.push_back(a); });
    pc->WriteByte(3, 0, 0, 0xF4, 0x10);
    pc->ReadDword(4, 0, 0, 0x00);
    pc->SetAccessObserver(nullptr);
    pc->ReadDword(3, 0, 0, 0x00);
    EXPECT_EQ(clock.NowUs(), 3 * vlmio::emu::kRegisterAccessUs);
    EXPECT_EQ(pc->AccessCount(), 3u);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(vlmio::emu::FormatAccess(seen[0]), "W 03:00.0 f4 1 00000010");
    EXPECT_EQ(vlmio::emu::FormatAccess(seen[1]), "R 04:00.0 00 4 ffffffff");
}

TEST(EmulatedPcRegisters, AccessLogFileAppendsOneLinePerAccess) {
    emu_test::TempDir dir;
    VirtualClock clock;
    std::string log = dir.File("access.log");
    emu_test::WriteText(log, "earlier\n");
    {
        auto pc = MakePc(kMachine, clock);
        ASSERT_TRUE(pc->SetAccessLogFile(log));
        pc->ReadByte(0x0A, 0x1F, 7, 0xF4);
        pc->WriteDword(0x0A, 0x1F, 7, 0xF0, 0xDEADBEEF);
    }
    std::vector<uint8_t> bytes = emu_test::ReadFile(log);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "earlier\nR 0a:1f.7 f4 1 00000000\nW 0a:1f.7 f0 4 deadbeef\n");
    VirtualClock other;
    auto pc = MakePc(kMachine, other);
    EXPECT_FALSE(pc->SetAccessLogFile(dir.File("no/such/folder/log")));
}

// Two threads drive two controllers at once; each sees its own chip's answers throughout.
TEST(EmulatedPcRegisters, ConcurrentControllersStayApart) {
    VirtualClock clock;
    auto pc = MakePc(
        "controller 01:00.0 part=0 timing=instant\n"
        "controller 02:00.0 part=SST25VF010A timing=instant\n",
        clock);
    auto run = [&](uint8_t bus, std::array<uint8_t, 3> expected, uint8_t opcode, uint8_t mode,
                   int* mismatches) {
        BridgeDriver b(*pc, bus, 0, 0);
        for (int i = 0; i < 2000; ++i) {
            if (b.ReadId(opcode, mode) != expected) ++*mismatches;
        }
    };
    int bad1 = 0, bad2 = 0;
    std::thread t1(run, 1, std::array<uint8_t, 3>{0xC2, 0x20, 0x10}, 0x9F, 0, &bad1);
    std::thread t2(run, 2, std::array<uint8_t, 3>{0xBF, 0x49, 0xBF}, 0x90, 3, &bad2);
    t1.join();
    t2.join();
    EXPECT_EQ(bad1, 0);
    EXPECT_EQ(bad2, 0);
}

}  // namespace
