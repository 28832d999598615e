// Injectable faults of the emulated PC.
#include <gtest/gtest.h>

#include "pci/controller_ids.h"
#include "tests/support/test_clocks.h"
#include "tests/unit/bridge_driver.h"
#include "tests/unit/emulator_test_util.h"

namespace {

using emu_test::MakePc;
using testing_bridge::BridgeDriver;
using testsupport::VirtualClock;

std::vector<uint8_t> Blank(std::size_t n) {
    return std::vector<uint8_t>(n, 0xFF);
}

// Unprotect, write enable and chip erase, as the host does it, then wait.
void EraseChip(BridgeDriver& b) {
    b.WriteEnable();
    b.WriteStatus(0);
    b.WriteEnable();
    b.Command({0x60});
    b.WaitWhileBusy(1000);
}

TEST(EmulatorFaults, StuckBusyBridgeNeverClears) {
    VirtualClock clock;
    auto pc = MakePc("controller 01:00.0 part=0 fault=stuck-busy\n", clock);
    BridgeDriver b(*pc, 1, 0, 0);
    EXPECT_FALSE(b.WaitReady(1000));
    clock.Advance(10'000'000);
    EXPECT_EQ(pc->ReadByte(1, 0, 0, 0xF4), 0x20u);
    EXPECT_EQ(pc->ReadDword(1, 0, 0, 0xF4), 0x20u);
    EXPECT_EQ(pc->ReadDword(1, 0, 0, 0x00), ControllerIdKey(g_ControllerIds[0]));
}

TEST(EmulatorFaults, StuckBytesAlwaysReadTheirValue) {
    VirtualClock clock;
    auto pc = MakePc(
        "controller 01:00.0 part=0 timing=instant fault=stuck-byte:0x1234=0x00 "
        "fault=stuck-byte:4660=7 fault=stuck-byte:0=0xA5\n",
        clock);
    BridgeDriver b(*pc, 1, 0, 0);
    EraseChip(b);
    EXPECT_EQ(pc->Chip(1, 0, 0)->Contents(), Blank(64 * 1024));  // the array itself is fine
    std::vector<uint8_t> all = b.Read(0, 64 * 1024);
    for (std::size_t i = 0; i < all.size(); ++i) {
        uint8_t expected = i == 0 ? 0xA5 : i == 0x1234 ? 0x00 : 0xFF;  // first stuck-byte wins
        ASSERT_EQ(all[i], expected) << i;
    }
    b.WriteEnable();
    b.PageProgram(0, {0x5A});
    EXPECT_EQ(b.Read(0, 1)[0], 0xA5);
}

TEST(EmulatorFaults, FlakyReadCorruptsOneByteOfEveryNthDataRead) {
    VirtualClock clock;
    auto pc = MakePc("controller 01:00.0 part=0 timing=instant fault=flaky-read:3\n", clock);
    pc->Chip(1, 0, 0)->SetContents(std::vector<uint8_t>(64 * 1024, 0x00));
    BridgeDriver b(*pc, 1, 0, 0);
    std::vector<uint8_t> bytes = b.Read(0, 24);  // six data-register reads
    std::vector<uint8_t> expected(24, 0x00);
    expected[8] = 0xA5;   // third read, first byte
    expected[20] = 0xA5;  // sixth read
    EXPECT_EQ(bytes, expected);
    // Byte reads of the data register count too, and corrupt the lane read.
    EXPECT_EQ(pc->ReadByte(1, 0, 0, 0xF1), 0x00u);
    EXPECT_EQ(pc->ReadByte(1, 0, 0, 0xF2), 0x00u);
    EXPECT_EQ(pc->ReadByte(1, 0, 0, 0xF3), 0xA5u);
}

TEST(EmulatorFaults, EraseFailsLeavesTheArrayButEndsTheCommand) {
    VirtualClock clock;
    auto pc = MakePc("controller 01:00.0 part=0 fault=erase-fails\n", clock);
    std::vector<uint8_t> old = pc->Chip(1, 0, 0)->Contents();
    BridgeDriver b(*pc, 1, 0, 0);
    b.WriteEnable();
    b.Command({0x60});
    EXPECT_EQ(b.ReadStatus(), 0x01);  // busy as usual, latch gone
    clock.Advance(1'000'000);
    EXPECT_EQ(b.ReadStatus(), 0x00);
    EXPECT_EQ(pc->Chip(1, 0, 0)->Contents(), old);
    // Programming still works.
    b.WriteEnable();
    b.PageProgram(0, {0x00});
    EXPECT_EQ(pc->Chip(1, 0, 0)->Contents()[0], 0x00);
}

TEST(EmulatorFaults, WriteProtectKeepsTheProtectionBits) {
    VirtualClock clock;
    auto pc = MakePc("controller 01:00.0 part=0 timing=instant fault=write-protect\n", clock);
    std::vector<uint8_t> old = pc->Chip(1, 0, 0)->Contents();
    BridgeDriver b(*pc, 1, 0, 0);
    EXPECT_EQ(b.ReadStatus(), 0x1C);
    EraseChip(b);
    EXPECT_EQ(b.ReadStatus(), 0x1C);
    b.WriteEnable();
    b.PageProgram(0, {0x00});
    EXPECT_EQ(pc->Chip(1, 0, 0)->Contents(), old);
    pc->PowerCycle();
    EXPECT_EQ(b.ReadStatus(), 0x1C);
}

TEST(EmulatorFaults, SlowAccessesTakeTheirTimeOnTheClock) {
    VirtualClock clock;
    auto pc = MakePc("controller 01:00.0 part=0 fault=slow:7\ncontroller 02:00.0 part=0\n", clock);
    pc->ReadDword(1, 0, 0, 0x00);
    pc->WriteByte(1, 0, 0, 0xF4, 0x10);
    EXPECT_EQ(clock.NowUs(), 2 * (7000 + vlmio::emu::kRegisterAccessUs));
    pc->ReadDword(2, 0, 0, 0x00);  // other controllers are not slowed
    EXPECT_EQ(clock.NowUs(), 2 * 7000 + 3 * vlmio::emu::kRegisterAccessUs);
    // Less than a millisecond an access: to the microsecond.
    auto fine = MakePc("controller 01:00.0 part=0 fault=slow:0.05\n", clock);
    const uint64_t before = clock.NowUs();
    fine->ReadDword(1, 0, 0, 0x00);
    EXPECT_EQ(clock.NowUs() - before, 50 + vlmio::emu::kRegisterAccessUs);
}

TEST(EmulatorFaults, UnplugAfterNAccessesReadsAllOnes) {
    VirtualClock clock;
    auto pc = MakePc(
        "controller 01:00.0 part=0 timing=instant fault=unplug-after:3\n"
        "controller 02:00.0 part=0 fault=unplug-after:0\n",
        clock);
    uint32_t id = ControllerIdKey(g_ControllerIds[0]);
    EXPECT_EQ(pc->ReadDword(1, 0, 0, 0x00), id);
    pc->WriteDword(1, 0, 0, 0xF0, 0x12345678);
    EXPECT_EQ(pc->ReadDword(1, 0, 0, 0xF0), 0x12345678u);
    EXPECT_EQ(pc->ReadDword(1, 0, 0, 0x00), 0xFFFFFFFFu);
    EXPECT_EQ(pc->ReadByte(1, 0, 0, 0xF4), 0xFFu);
    pc->WriteDword(1, 0, 0, 0xF0, 0);  // ignored
    pc->PowerCycle();
    EXPECT_EQ(pc->ReadDword(1, 0, 0, 0xF0), 0xFFFFFFFFu);
    EXPECT_EQ(pc->ReadDword(2, 0, 0, 0x00), 0xFFFFFFFFu);
}

TEST(EmulatorFaults, SeveralFaultsCombine) {
    VirtualClock clock;
    auto pc = MakePc(
        "controller 01:00.0 part=0 timing=instant fault=erase-fails fault=stuck-byte:2=0x42 "
        "fault=slow:1\n",
        clock);
    std::vector<uint8_t> old = pc->Chip(1, 0, 0)->Contents();
    BridgeDriver b(*pc, 1, 0, 0);
    uint64_t start = clock.NowUs();
    EraseChip(b);
    EXPECT_GE(clock.NowUs() - start, 1000u * 10);
    EXPECT_EQ(pc->Chip(1, 0, 0)->Contents(), old);
    EXPECT_EQ(b.Read(2, 1)[0], 0x42);
}

}  // namespace
