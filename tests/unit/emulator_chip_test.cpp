// The modelled flash chips, driven through the bridge registers as the host drives them.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "emulator/flash_chip_model.h"
#include "flash/flash_part_table.h"
#include "tests/support/test_clocks.h"
#include "tests/unit/bridge_driver.h"
#include "tests/unit/emulator_test_util.h"

namespace {

using emu_test::MakePc;
using testing_bridge::BridgeDriver;
using testsupport::VirtualClock;
using vlmio::emu::EmulatedPc;
using vlmio::emu::FlashChip;

constexpr uint8_t kWel = 0x02;
constexpr uint8_t kBusy = 0x01;
constexpr uint8_t kProtect = 0x1C;

// One controller at 01:00.0 with the given part and options.
struct Rig {
    explicit Rig(const std::string& options) {
        pc = MakePc("controller 01:00.0 " + options + "\n", clock);
        chip = pc->Chip(1, 0, 0);
    }
    VirtualClock clock;
    std::unique_ptr<EmulatedPc> pc;
    FlashChip* chip = nullptr;
    BridgeDriver bridge() { return BridgeDriver(*pc, 1, 0, 0); }
};

std::vector<uint8_t> Blank(std::size_t n) {
    return std::vector<uint8_t>(n, 0xFF);
}

TEST(EmulatedChip, ProgrammingOnlyClearsBitsAndNeedsTheLatch) {
    Rig rig("part=0 timing=instant");
    std::vector<uint8_t> contents = Blank(rig.chip->Size());
    contents[0x100] = 0xF0;
    contents[0x101] = 0x3C;
    rig.chip->SetContents(contents);
    BridgeDriver b = rig.bridge();

    b.PageProgram(0x100, {0x0F, 0xFF});  // no write enable: nothing happens
    EXPECT_EQ(b.Read(0x100, 2), (std::vector<uint8_t>{0xF0, 0x3C}));

    b.WriteEnable();
    b.PageProgram(0x100, {0x0F, 0x5A, 0x12});
    EXPECT_EQ(b.Read(0x100, 3), (std::vector<uint8_t>{0x00, 0x18, 0x12}));
    EXPECT_EQ(rig.chip->Contents()[0x101], 0x18);
}

TEST(EmulatedChip, PageProgramWrapsInsideItsPage) {
    struct Case {
        const char* part;
        uint32_t address;
        std::vector<uint32_t> landed;  // where the four bytes go
    };
    const Case cases[] = {
        {"part=0", 0x1FE, {0x1FE, 0x1FF, 0x100, 0x101}},
        {"part=MX25L5121E", 0x3E, {0x3E, 0x3F, 0x20, 0x21}},  // 32-byte pages
        {"part=MX25L1021E", 0x7FFF, {0x7FFF, 0x7FE0, 0x7FE1, 0x7FE2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Rig rig(std::string(c.part) + " timing=instant");
        rig.chip->SetContents(Blank(rig.chip->Size()));
        BridgeDriver b = rig.bridge();
        b.WriteEnable();
        b.PageProgram(c.address, {0x11, 0x22, 0x33, 0x44});
        const uint8_t expected[] = {0x11, 0x22, 0x33, 0x44};
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(rig.chip->Contents()[c.landed[i]], expected[i]);
        std::size_t programmed = 0;
        for (uint8_t byte : rig.chip->Contents()) programmed += byte != 0xFF;
        EXPECT_EQ(programmed, 4u);
    }
}

TEST(EmulatedChip, ReadsWrapAtTheChipSize) {
    Rig rig("part=0 timing=instant");  // 64 KiB
    std::vector<uint8_t> contents = Blank(rig.chip->Size());
    contents[0xFFFF] = 0xAB;
    contents[0] = 0xCD;
    rig.chip->SetContents(contents);
    BridgeDriver b = rig.bridge();
    EXPECT_EQ(b.Read(0xFFFF, 2), (std::vector<uint8_t>{0xAB, 0xCD}));
    EXPECT_EQ(b.Read(0x1FFFF, 2), (std::vector<uint8_t>{0xAB, 0xCD}));  // address bit past size
}

TEST(EmulatedChip, LatchIsClearedByEveryProgramEraseAndStatusWrite) {
    Rig rig("part=0 timing=instant");
    BridgeDriver b = rig.bridge();
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> commands = {
        {"page program", {0x02, 0x00, 0x10, 0x00, 0x00}},
        {"chip erase", {0x60}},
        {"status write", {0x01, 0x00}},
        {"write disable", {0x04}},
    };
    for (const auto& [name, bytes] : commands) {
        SCOPED_TRACE(name);
        b.WriteEnable();
        EXPECT_EQ(b.ReadStatus() & kWel, kWel);
        b.Command(bytes);
        EXPECT_EQ(b.ReadStatus() & kWel, 0);
        EXPECT_FALSE(rig.chip->WriteEnabled());
    }
}

TEST(EmulatedChip, ProtectionBitsBlockProgramAndEraseUntilCleared) {
    Rig rig("part=W25X10B(C)L(V) timing=instant");
    rig.chip->SetContents(Blank(rig.chip->Size()));
    BridgeDriver b = rig.bridge();
    b.WriteStatus(kProtect);  // no latch: ignored
    EXPECT_EQ(b.ReadStatus(), 0);
    b.WriteEnable();
    b.WriteStatus(kProtect);
    EXPECT_EQ(b.ReadStatus(), kProtect);

    b.WriteEnable();
    b.PageProgram(0, {0x00});
    EXPECT_EQ(rig.chip->Contents()[0], 0xFF);
    EXPECT_EQ(b.ReadStatus() & kWel, 0);  // refused, and the latch is gone
    rig.chip->SetContents(std::vector<uint8_t>(rig.chip->Size(), 0x00));
    b.WriteEnable();
    b.Command({0x60});
    EXPECT_EQ(rig.chip->Contents()[0], 0x00);

    b.WriteEnable();
    b.WriteStatus(0x00);
    b.WriteEnable();
    b.Command({0x60});
    EXPECT_EQ(rig.chip->Contents(), Blank(rig.chip->Size()));
}

TEST(EmulatedChip, SstPartsPowerUpProtectedAndProgramByAutoIncrement) {
    Rig rig("part=SST25VF010A timing=instant");
    rig.chip->SetContents(Blank(rig.chip->Size()));
    BridgeDriver b = rig.bridge();
    EXPECT_EQ(b.ReadStatus(), kProtect);
    b.WriteEnable();
    b.PageProgram(0, {0x00});
    EXPECT_EQ(rig.chip->Contents()[0], 0xFF);

    b.WriteStatus(0x00);  // neither 0x50 nor 0x06 first: ignored
    EXPECT_EQ(b.ReadStatus(), kProtect);
    b.Command({0x50});
    b.ReadStatus();  // a status read between keeps the enable
    b.WriteStatus(0x00);
    EXPECT_EQ(b.ReadStatus(), 0);
    b.WriteEnable();  // 0x06 enables a status write too
    b.WriteStatus(0x04);
    EXPECT_EQ(b.ReadStatus(), 0x04);
    b.Command({0x50});
    b.WriteStatus(0x00);
    EXPECT_EQ(b.ReadStatus(), 0);

    // Byte program with 0x02 writes only the first byte.
    b.WriteEnable();
    b.PageProgram(0x10, {0x12, 0x34});
    EXPECT_EQ(rig.chip->Contents()[0x10], 0x12);
    EXPECT_EQ(rig.chip->Contents()[0x11], 0xFF);

    // Auto-address-increment: first command with the address, then one byte each.
    b.WriteEnable();
    std::vector<uint8_t> first = BridgeDriver::WithAddress(0xAF, 0x200);
    first.push_back(0xA0);
    b.Command(first);
    b.WaitWhileBusy();
    for (uint8_t byte : {0xA1, 0xA2, 0xA3}) {
        b.Command({0xAF, byte});
        b.WaitWhileBusy();
        EXPECT_EQ(b.ReadStatus() & kWel, kWel);  // held for the whole run
    }
    b.Read(0x200, 4);  // not taken inside the run
    b.WriteDisable();
    EXPECT_EQ(b.ReadStatus() & kWel, 0);
    EXPECT_EQ(b.Read(0x1FF, 6), (std::vector<uint8_t>{0xFF, 0xA0, 0xA1, 0xA2, 0xA3, 0xFF}));
    // After the run a one-byte 0xAF command does nothing.
    b.WriteEnable();
    b.Command({0xAF, 0x00});
    EXPECT_EQ(rig.chip->Contents()[0x204], 0xFF);
}

TEST(EmulatedChip, IncompleteCommandsAreIgnored) {
    Rig rig("part=0 timing=instant");
    rig.chip->SetContents(std::vector<uint8_t>(rig.chip->Size(), 0x00));
    BridgeDriver b = rig.bridge();
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> partial = {
        {"program without data", {0x02, 0x00, 0x00, 0x00}},
        {"program with half an address", {0x02, 0x00}},
        {"status write without value", {0x01}},
    };
    for (const auto& [name, bytes] : partial) {
        SCOPED_TRACE(name);
        b.WriteEnable();
        b.Command(bytes);
        EXPECT_EQ(b.ReadStatus() & kWel, kWel);  // nothing took effect
        b.WriteDisable();
    }
    // Bytes without the end of the command do nothing yet: here the erase is still open.
    b.WriteEnable();
    b.Send({0x60});
    EXPECT_EQ(rig.chip->Contents()[0], 0x00);
    b.End();
    EXPECT_EQ(rig.chip->Contents()[0], 0xFF);
}

TEST(EmulatedChip, M45PE10EraseOpcodeNeedsAnAddressSoItsChipEraseNeverErases) {
    Rig rig("part=M45PE10 timing=instant");
    const flash::FlashPartInfo& row = flash::g_FlashParts[27];
    ASSERT_STREQ(row.szPartName, "M45PE10");
    rig.chip->SetContents(std::vector<uint8_t>(rig.chip->Size(), 0x00));
    BridgeDriver b = rig.bridge();
    b.WriteEnable();
    b.Command({row.ucChipEraseOpcode});  // as the chip erase sends it: opcode alone
    b.WaitWhileBusy();
    EXPECT_EQ(rig.chip->Contents(), std::vector<uint8_t>(rig.chip->Size(), 0x00));
    // With an address it erases that 64 KiB sector only.
    b.Command(BridgeDriver::WithAddress(row.ucChipEraseOpcode, 0x10000));
    b.WaitWhileBusy();
    EXPECT_EQ(rig.chip->Contents()[0xFFFF], 0x00);
    EXPECT_EQ(rig.chip->Contents()[0x10000], 0xFF);
    EXPECT_EQ(rig.chip->Contents()[0x1FFFF], 0xFF);
}

TEST(EmulatedChip, BusyChipAnswersOnlyTheStatusCommand) {
    Rig rig("part=0");  // datasheet timing: the chip erase keeps it busy for a second
    rig.chip->SetContents(std::vector<uint8_t>(rig.chip->Size(), 0x00));
    BridgeDriver b = rig.bridge();
    b.WriteEnable();
    b.Command({0x60});
    EXPECT_EQ(b.ReadStatus() & kBusy, kBusy);
    b.WriteEnable();
    EXPECT_EQ(b.ReadStatus() & kWel, 0);
    rig.chip->SetContents(std::vector<uint8_t>(rig.chip->Size(), 0x00));
    EXPECT_EQ(b.Read(0, 4), Blank(4));  // the read is ignored: the line stays high
    EXPECT_EQ(b.ReadId(0x9F, 0), (std::array<uint8_t, 3>{0xFF, 0xFF, 0xFF}));

    rig.clock.Advance(1000000);
    EXPECT_EQ(b.ReadStatus(), 0);
    EXPECT_EQ(b.Read(0, 4), std::vector<uint8_t>(4, 0x00));
}

TEST(EmulatedChip, DatasheetTimingHoldsBusyForTheFamilysTimes) {
    struct Case {
        const char* part;
        std::vector<uint8_t> command;
        uint64_t busyUs;
    };
    const Case cases[] = {
        {"part=MX25L(V)512(C)", {0x02, 0, 0, 0, 0x00}, 1400},
        {"part=M25P10A", {0xC7}, 1700000},
        {"part=SST25VF512X", {0xAF, 0, 0, 0, 0x00}, 14},
        {"part=PM25LV010A", {0xC7}, 40000},
        {"part=AT25F512A(B)", {0x02, 0, 0, 0, 1, 2, 3, 4}, 4 * 75},
        {"part=W25X10B(C)L(V)", {0x60}, 1000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Rig rig(c.part);
        BridgeDriver b = rig.bridge();
        b.Command({0x50});
        b.WriteEnable();
        b.WriteStatus(0);
        b.WriteEnable();
        b.Command(c.command);  // busy from the end of the command
        EXPECT_EQ(rig.chip->Status() & kBusy, kBusy);
        rig.clock.Advance(c.busyUs - 1);
        EXPECT_EQ(rig.chip->Status() & kBusy, kBusy);
        rig.clock.Advance(1);
        EXPECT_EQ(rig.chip->Status() & kBusy, 0);
    }
    Rig instant("part=M25P10A timing=instant");
    BridgeDriver b = instant.bridge();
    b.WriteEnable();
    b.Command({0xC7});
    EXPECT_EQ(b.ReadStatus() & kBusy, 0);
}

// Every row's chip answers its own identification command with its bytes, so the table search
// finds exactly that row, and reads 0xFF for every other identification command.
TEST(EmulatedChip, EveryPartIdentifiesAsItsOwnRow) {
    std::set<std::pair<uint8_t, uint8_t>> commands;
    for (const flash::FlashPartInfo& row : flash::g_FlashParts)
        commands.insert({row.ucIdOpcode, row.ucIdMode});
    for (std::size_t r = 0; r < flash::kFlashPartCount; ++r) {
        const flash::FlashPartInfo& row = flash::g_FlashParts[r];
        SCOPED_TRACE(std::to_string(r) + " " + row.szPartName);
        Rig rig("part=" + std::to_string(r) + " timing=instant");
        BridgeDriver b = rig.bridge();
        for (auto [opcode, mode] : commands) {
            std::array<uint8_t, 3> id = b.ReadId(opcode, mode);
            if (opcode == row.ucIdOpcode) {
                EXPECT_EQ(id[0], row.ucManufacturerId);
                EXPECT_EQ(id[1], row.ucDeviceId);
                uint8_t capacity = row.ucCapacityId == flash::kAnyCapacityId
                                       ? vlmio::emu::kWildcardIdAnswer
                                       : row.ucCapacityId;
                EXPECT_EQ(id[2], capacity);
            } else {
                EXPECT_EQ(id, (std::array<uint8_t, 3>{0xFF, 0xFF, 0xFF}))
                    << std::hex << int{opcode};
            }
        }
        // The search in table order stops at this row.
        int found = -1;
        for (std::size_t t = 0; t < flash::kFlashPartCount && found < 0; ++t) {
            const flash::FlashPartInfo& candidate = flash::g_FlashParts[t];
            std::array<uint8_t, 3> id = b.ReadId(candidate.ucIdOpcode, candidate.ucIdMode);
            if (flash::MatchesId(candidate, id[0], id[1], id[2])) found = static_cast<int>(t);
        }
        EXPECT_EQ(found, static_cast<int>(r));
        EXPECT_EQ(rig.chip->PartRow(), static_cast<int>(r));
    }
}

TEST(EmulatedChip, SizesAndPageSizesFollowThePartNames) {
    for (std::size_t r = 0; r < flash::kFlashPartCount; ++r) {
        const flash::FlashPartInfo& row = flash::g_FlashParts[r];
        SCOPED_TRACE(std::to_string(r) + " " + row.szPartName);
        Rig rig("part=" + std::to_string(r));
        std::size_t expected = std::size_t{row.usCapacity4K} * 4096;
        if (r == 17) expected = 128 * 1024;            // F25L01PA: 1 Mbit
        if (r == 18 || r == 45) expected = 64 * 1024;  // F25L05PA, SST25VF512X: 512 Kbit
        EXPECT_EQ(rig.chip->Size(), expected);
        EXPECT_EQ(rig.chip->PageSize(), (r == 2 || r == 3) ? 32u : 256u);
    }
    Rig sized("part=0 size=0x100000");
    EXPECT_EQ(sized.chip->Size(), 0x100000u);
}

// Every part but the M45PE10 ends blank after the host's unprotect and its row's chip erase.
TEST(EmulatedChip, EveryPartErasesWithItsRowsOpcode) {
    for (std::size_t r = 0; r < flash::kFlashPartCount; ++r) {
        const flash::FlashPartInfo& row = flash::g_FlashParts[r];
        SCOPED_TRACE(std::to_string(r) + " " + row.szPartName);
        Rig rig("part=" + std::to_string(r) + " timing=instant");
        rig.chip->SetContents(std::vector<uint8_t>(rig.chip->Size(), 0x5A));
        BridgeDriver b = rig.bridge();
        b.Command({flash::TraitsOf(row).bEnableWriteStatus ? uint8_t{0x50} : uint8_t{0x06}});
        b.WriteStatus(0);
        b.WriteEnable();
        b.Command({row.ucChipEraseOpcode});
        b.WriteDisable();
        bool blank = rig.chip->Contents() == Blank(rig.chip->Size());
        EXPECT_EQ(blank, r != 27);
    }
}

TEST(EmulatedChip, UnknownAndAbsentParts) {
    Rig unknown("part=unknown:9F:12:34:56 timing=instant");
    BridgeDriver b = unknown.bridge();
    EXPECT_EQ(b.ReadId(0x9F, 0), (std::array<uint8_t, 3>{0x12, 0x34, 0x56}));
    EXPECT_EQ(b.ReadId(0x90, 3), (std::array<uint8_t, 3>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(unknown.chip->Size(), 128u * 1024);
    EXPECT_EQ(unknown.chip->PartRow(), -1);
    b.WriteEnable();
    b.Command({0x60});
    EXPECT_EQ(unknown.chip->Contents(), Blank(128 * 1024));

    Rig address("part=unknown:90:AA:BB:CC timing=instant");
    BridgeDriver a = address.bridge();
    EXPECT_EQ(a.ReadId(0x90, 3), (std::array<uint8_t, 3>{0xAA, 0xBB, 0xCC}));

    Rig none("part=none");
    EXPECT_EQ(none.chip, nullptr);
    BridgeDriver n = none.bridge();
    EXPECT_EQ(n.ReadId(0x9F, 0), (std::array<uint8_t, 3>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(n.ReadStatus(), 0xFF);
}

}  // namespace
