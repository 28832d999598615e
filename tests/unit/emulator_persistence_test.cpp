// Flash files of the emulated PC, power cycles, and the in-process access library.
#include <gtest/gtest.h>

#include "emulator/emulator_vlmio.h"
#include "emulator/machine_file.h"
#include "tests/support/test_clocks.h"
#include "tests/unit/bridge_driver.h"
#include "tests/unit/emulator_test_util.h"

namespace {

using emu_test::MakePc;
using emu_test::ReadFile;
using testing_bridge::BridgeDriver;
using testsupport::VirtualClock;
using vlmio::emu::EmulatorVlmIo;

TEST(EmulatorPersistence, FlashFilesSurviveTwoLoads) {
    emu_test::TempDir dir;
    const std::string text =
        "controller 01:00.0 part=0 timing=instant flash=a.bin\n"
        "controller 02:00.0 part=SST25VF010A timing=instant flash=sub/../b.bin\n";
    VirtualClock clock;
    {
        auto pc = MakePc(text, clock, dir.Path());
        // A missing file starts as recognisable old firmware.
        EXPECT_EQ(pc->Chip(1, 0, 0)->Contents(), vlmio::emu::OldFirmwarePattern(64 * 1024));
        EXPECT_EQ(pc->Chip(1, 0, 0)->Contents()[0], 0x55);
        EXPECT_EQ(pc->Chip(1, 0, 0)->Contents()[1], 0xAA);
        BridgeDriver b(*pc, 1, 0, 0);
        b.WriteEnable();
        b.Command({0x60});
        b.WriteEnable();
        b.PageProgram(0x40, {1, 2, 3});
        pc->SaveFlashFiles();
        std::vector<uint8_t> saved = ReadFile(dir.File("a.bin"));
        ASSERT_EQ(saved.size(), 64u * 1024);
        EXPECT_EQ(saved[0x41], 2);
        b.WriteEnable();
        b.PageProgram(0x80, {9});  // after the explicit save: the destructor saves it
    }
    auto again = MakePc(text, clock, dir.Path());
    const std::vector<uint8_t>& contents = again->Chip(1, 0, 0)->Contents();
    EXPECT_EQ(contents[0], 0xFF);
    EXPECT_EQ(contents[0x42], 3);
    EXPECT_EQ(contents[0x80], 9);
    EXPECT_EQ(ReadFile(dir.File("b.bin")), vlmio::emu::OldFirmwarePattern(128 * 1024));
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.bin.tmp")));
}

TEST(EmulatorPersistence, ShortFileLeavesTheRestErased) {
    emu_test::TempDir dir;
    emu_test::WriteFile(dir.File("short.bin"), {0x10, 0x20, 0x30});
    VirtualClock clock;
    auto pc = MakePc("controller 01:00.0 part=0 flash=short.bin\n", clock, dir.Path());
    std::vector<uint8_t> expected(64 * 1024, 0xFF);
    expected[0] = 0x10;
    expected[1] = 0x20;
    expected[2] = 0x30;
    EXPECT_EQ(pc->Chip(1, 0, 0)->Contents(), expected);
    pc.reset();
    EXPECT_EQ(ReadFile(dir.File("short.bin")), expected);  // written back whole
}

TEST(EmulatorPersistence, AFlashFileThatCannotBeWrittenIsReported) {
    emu_test::TempDir dir;
    std::filesystem::create_directory(dir.File("gone"));
    VirtualClock clock;
    auto pc = MakePc(
        "controller 01:00.0 part=0 flash=gone/f.bin\n"
        "controller 02:00.0 part=0 flash=kept.bin\n",
        clock, dir.Path());
    std::filesystem::remove(dir.File("gone"));
    EXPECT_FALSE(pc->SaveFlashFiles());
    EXPECT_EQ(ReadFile(dir.File("kept.bin")).size(), 64u * 1024);  // the others still written
    std::filesystem::create_directory(dir.File("gone"));
    EXPECT_TRUE(pc->SaveFlashFiles());
}

// Written through, a flash file holds at every moment what its chip holds, as a real chip would
// after a process killed at that moment: each erase and program as its command ends.
TEST(EmulatorPersistence, EveryEraseAndProgramReachesTheFileAsItsCommandEnds) {
    emu_test::TempDir dir;
    emu_test::WriteFile(dir.File("short.bin"), {0x10, 0x20});
    VirtualClock clock;
    auto pc = MakePc(
        "controller 01:00.0 part=0 timing=instant flash=new.bin\n"
        "controller 02:00.0 part=0 timing=instant flash=short.bin\n",
        clock, dir.Path());
    std::string error;
    ASSERT_TRUE(pc->StartWriteThrough(&error)) << error;
    // A missing file is made whole, a short one completed, at once.
    std::vector<uint8_t> chip = vlmio::emu::OldFirmwarePattern(64 * 1024);
    EXPECT_EQ(ReadFile(dir.File("new.bin")), chip);
    std::vector<uint8_t> shortChip(64 * 1024, 0xFF);
    shortChip[0] = 0x10;
    shortChip[1] = 0x20;
    EXPECT_EQ(ReadFile(dir.File("short.bin")), shortChip);

    BridgeDriver b(*pc, 1, 0, 0);
    b.WriteEnable();
    b.Command(BridgeDriver::WithAddress(0x20, 0x1000));  // erase the second 4 KiB sector
    std::fill_n(chip.begin() + 0x1000, 0x1000, 0xFF);
    EXPECT_EQ(ReadFile(dir.File("new.bin")), chip);
    b.WriteEnable();
    b.PageProgram(0x10FE, {0x12, 0x34});
    chip[0x10FE] = 0x12;
    chip[0x10FF] = 0x34;
    EXPECT_EQ(ReadFile(dir.File("new.bin")), chip);
    // A command still being sent (chip select held) has not taken effect.
    b.WriteEnable();
    b.Send(BridgeDriver::WithAddress(0x02, 0x1100));
    b.Send({0x00});
    EXPECT_EQ(ReadFile(dir.File("new.bin")), chip);
    b.End();
    chip[0x1100] = 0x00;
    EXPECT_EQ(ReadFile(dir.File("new.bin")), chip);
    EXPECT_EQ(ReadFile(dir.File("short.bin")), shortChip);  // the other chip untouched

    // After a save (a new file renamed over the old one), changes reach the new file.
    ASSERT_TRUE(pc->SaveFlashFiles(&error)) << error;
    b.WriteEnable();
    b.Command({0x60});
    EXPECT_EQ(ReadFile(dir.File("new.bin")), std::vector<uint8_t>(64 * 1024, 0xFF));
}

// A real chip keeps its state while the program stops and starts: the emulated PC keeps it in
// FILE.state beside the flash file, from one process (one emulated PC) to the next, so that a
// process killed in the middle of a command leaves the chip as the next one finds it: chip
// selected with the command's bytes received, the write-enable latch, an erase still running.
// A power cycle clears it.
TEST(EmulatorPersistence, AChipKeepsItsStateFromOneProcessToTheNext) {
    emu_test::TempDir dir;
    const std::string text = "controller 01:00.0 part=0 flash=a.bin\n";
    VirtualClock clock;
    auto process = [&] {
        auto pc = MakePc(text, clock, dir.Path());
        std::string error;
        EXPECT_TRUE(pc->StartWriteThrough(&error)) << error;
        return pc;
    };
    const std::vector<uint8_t> old = vlmio::emu::OldFirmwarePattern(64 * 1024);
    {
        auto pc = process();
        BridgeDriver(*pc, 1, 0, 0).Send(BridgeDriver::WithAddress(0x03, 0x0001));  // left open
    }
    {
        auto pc = process();
        BridgeDriver b(*pc, 1, 0, 0);
        EXPECT_EQ(b.Receive(2), std::vector<uint8_t>(old.begin() + 1, old.begin() + 3))
            << "the read command is still open";
        b.End();
        b.WriteEnable();
    }
    {
        auto pc = process();
        EXPECT_TRUE(pc->Chip(1, 0, 0)->WriteEnabled());
        BridgeDriver(*pc, 1, 0, 0).Command({0x60});  // chip erase: busy for about a second
    }
    {
        auto pc = process();
        EXPECT_EQ(pc->Chip(1, 0, 0)->Status() & 0x01, 0x01) << "still erasing";
        EXPECT_FALSE(pc->Chip(1, 0, 0)->WriteEnabled());
        BridgeDriver(*pc, 1, 0, 0).Send({0x9F});
        pc->PowerCycle();
    }
    auto pc = process();
    BridgeDriver b(*pc, 1, 0, 0);
    EXPECT_EQ(pc->Chip(1, 0, 0)->Status(), 0x00);
    EXPECT_EQ(b.Read(0, 2), std::vector<uint8_t>(2, 0xFF)) << "erased, and nothing left open";
}

// The save writes a new file beside the flash file and renames it over it: whatever already has
// that name (a file, a folder) is never replaced or removed; that flash file is not saved, and
// the failure says what is in the way.
TEST(EmulatorPersistence, ASaveNeverTouchesAFileItDidNotMake) {
    emu_test::TempDir dir;
    emu_test::WriteText(dir.File("a.bin.tmp"), "someone's file");
    std::filesystem::create_directory(dir.File("b.bin.tmp"));
    VirtualClock clock;
    auto pc = MakePc(
        "controller 01:00.0 part=0 timing=instant flash=a.bin\n"
        "controller 02:00.0 part=0 timing=instant flash=b.bin\n"
        "controller 03:00.0 part=0 timing=instant flash=c.bin\n",
        clock, dir.Path());
    std::string error;
    EXPECT_FALSE(pc->SaveFlashFiles(&error));
    EXPECT_EQ(error, dir.File("a.bin") + ": the flash file could not be written back (" +
                         dir.File("a.bin.tmp") +
                         " is in the way: remove it if no run is using it)\n" + dir.File("b.bin") +
                         ": the flash file could not be written back (" + dir.File("b.bin.tmp") +
                         " is in the way: remove it if no run is using it)\n");
    EXPECT_EQ(emu_test::ReadText(dir.File("a.bin.tmp")), "someone's file");
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("b.bin.tmp")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.bin")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("b.bin")));
    EXPECT_EQ(ReadFile(dir.File("c.bin")).size(), 64u * 1024);  // the others still saved
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.bin.tmp")));

    std::filesystem::remove(dir.File("a.bin.tmp"));
    std::filesystem::remove(dir.File("b.bin.tmp"));
    error.clear();
    EXPECT_TRUE(pc->SaveFlashFiles(&error)) << error;
    EXPECT_EQ(ReadFile(dir.File("b.bin")).size(), 64u * 1024);
}

TEST(EmulatorPersistence, PowerCycleResetsStatesAndKeepsTheFlash) {
    VirtualClock clock;
    auto pc = MakePc("controller 01:00.0 part=SST25VF512X\n", clock);
    BridgeDriver b(*pc, 1, 0, 0);
    b.Command({0x50});
    b.WriteStatus(0);
    b.WriteEnable();
    b.Command({0x60});  // busy for 70 ms
    EXPECT_EQ(b.ReadStatus(), 0x01);
    std::vector<uint8_t> erased = pc->Chip(1, 0, 0)->Contents();
    pc->WriteDword(1, 0, 0, 0xF0, 0x12345678);
    pc->PowerCycle();
    EXPECT_EQ(b.ReadStatus(), 0x0C);  // protected again (BP0, BP1), not busy, no latch
    EXPECT_EQ(pc->Chip(1, 0, 0)->Contents(), erased);
    EXPECT_EQ(pc->ReadDword(1, 0, 0, 0xF0), 0x0Cu);  // the status byte just received
}

TEST(EmulatorVlmIoTest, LoadsParsesAndSavesAMachineFile) {
    emu_test::TempDir dir;
    std::string conf = dir.File("pc.conf");
    emu_test::WriteText(conf, "controller 01:00.0 part=0 timing=instant flash=chip.bin\n");
    VirtualClock clock;
    EmulatorVlmIo io(conf, clock);
    EXPECT_TRUE(io.IsEmulated());
    io.UnloadVlmIODriver();  // nothing loaded: harmless
    EXPECT_EQ(io.PCI_Read_DWORD(1, 0, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(io.PCI_Read_BYTE(1, 0, 0, 0xF4), 0xFFu);
    ASSERT_EQ(io.LoadVlmIODriver(), 1u);
    EXPECT_NE(io.PCI_Read_DWORD(1, 0, 0, 0), 0xFFFFFFFFu);
    // Write enable and chip erase through the library's entries.
    for (uint32_t opcode : {0x06u, 0x60u}) {
        io.PCI_Write_DWORD(1, 0, 0, 0xF0, opcode);
        io.PCI_Write_Byte(1, 0, 0, 0xF4, 0x29);
        io.PCI_Write_Byte(1, 0, 0, 0xF4, 0x10);
    }
    // Written through as the erase ended, before any save.
    EXPECT_EQ(ReadFile(dir.File("chip.bin")), std::vector<uint8_t>(64 * 1024, 0xFF));
    EXPECT_FALSE(io.FlashNotSaved());
    io.UnloadVlmIODriver();
    EXPECT_EQ(ReadFile(dir.File("chip.bin")), std::vector<uint8_t>(64 * 1024, 0xFF));
    EXPECT_EQ(io.PCI_Read_DWORD(1, 0, 0, 0), 0xFFFFFFFFu);

    emu_test::WriteText(conf, "controller 01:00.0 part=99\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(io.LoadVlmIODriver(), 0u);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, conf +
                       ":1: unknown part '99' (a chip of the emulator's catalogue, a row number "
                       "0-46 of the updater's part table, none, or unknown:OP:B0:B1:B2)\n");
}

TEST(EmulatorVlmIoTest, DrivesAnEmulatedPcItDoesNotOwn) {
    emu_test::TempDir dir;
    VirtualClock clock;
    auto pc = MakePc("controller 05:00.0 part=0 flash=x.bin\n", clock, dir.Path());
    EmulatorVlmIo io(*pc);
    EXPECT_EQ(io.LoadVlmIODriver(), 1u);
    EXPECT_EQ(io.PCI_Read_DWORD(5, 0, 0, 0xF4), 0u);
    EXPECT_EQ(pc->AccessCount(), 1u);
    io.UnloadVlmIODriver();
    EXPECT_TRUE(std::filesystem::exists(dir.File("x.bin")));
    EXPECT_EQ(pc->ReadDword(5, 0, 0, 0xF4), 0u);  // still alive
}

}  // namespace
