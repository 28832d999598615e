// The modelled flash chips, driven through the bridge registers as the host drives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "emulator/chip_catalogue.h"
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
    Rig rig("part=W25X40B(C)L(V) timing=instant");
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
    constexpr uint8_t kSstProtect = 0x0C;  // BP0, BP1
    Rig rig("part=SST25VF010A timing=instant");
    rig.chip->SetContents(Blank(rig.chip->Size()));
    BridgeDriver b = rig.bridge();
    EXPECT_EQ(b.ReadStatus(), kSstProtect);
    b.WriteEnable();
    b.PageProgram(0, {0x00});
    EXPECT_EQ(rig.chip->Contents()[0], 0xFF);

    b.WriteStatus(0x00);  // neither 0x50 nor 0x06 first: ignored
    EXPECT_EQ(b.ReadStatus(), kSstProtect);
    b.Command({0x50});
    b.ReadStatus();  // a status read between keeps the enable
    b.WriteStatus(0x00);
    EXPECT_EQ(b.ReadStatus(), 0);
    b.Command({0x50});
    b.WriteStatus(0x04);
    EXPECT_EQ(b.ReadStatus(), 0x04);
    b.WriteEnable();  // write enable alone does not make it writable
    b.WriteStatus(0x00);
    EXPECT_EQ(b.ReadStatus(), 0x04 | kWel);
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
        // Chip erase grows with the chip where the datasheets say so, and not for SST.
        {"part=M25P05A", {0xC7}, 850000},
        {"part=EN25F40", {0xC7}, 5000000},
        {"part=SST25VF010A", {0x60}, 70000},
        {"part=SST25VF512X", {0x60}, 70000},
        {"part=M45PE10", {0xD8, 0x01, 0x00, 0x00}, 1000000},  // one 64 KiB sector
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Rig rig(c.part);
        BridgeDriver b = rig.bridge();
        b.WriteEnable();
        b.Command({0x50});  // right before the status write, as the SST parts need
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

TEST(EmulatedChip, UnknownAndAbsentParts) {
    Rig unknown("part=unknown:9F:12:34:56 timing=instant");
    BridgeDriver b = unknown.bridge();
    EXPECT_EQ(b.ReadId(0x9F, 0), (std::array<uint8_t, 3>{0x12, 0x34, 0x56}));
    EXPECT_EQ(b.ReadId(0x90, 3), (std::array<uint8_t, 3>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(unknown.chip->Size(), 128u * 1024);
    EXPECT_STREQ(unknown.chip->PartName(), "unknown");
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

// What the chips answer to each identification command the updater sends (the opcode alone,
// or with three zero bytes), as their datasheets say.
TEST(EmulatedChip, IdentificationAnswers) {
    using Id = std::array<uint8_t, 3>;
    const Id none = {0xFF, 0xFF, 0xFF};
    struct Case {
        const char* part;
        uint8_t opcode;
        uint8_t mode;
        Id answer;
    };
    const Case cases[] = {
        {"MX25x4006E", 0x9F, 0, {0xC2, 0x20, 0x13}},
        {"MX25x4006E", 0xAB, 3, {0x12, 0x12, 0x12}},  // the signature repeats
        {"MX25x4006E", 0x90, 3, {0xC2, 0x12, 0xC2}},  // maker and device alternate
        {"MX25x4006E", 0x15, 0, none},
        {"LE25FU206A", 0x9F, 0, {0x62, 0x06, 0x12}},
        {"M25P05A", 0xAB, 3, {0x05, 0x05, 0x05}},
        {"M45PE10", 0x9F, 0, {0x20, 0x40, 0x11}},
        {"M45PE10", 0xAB, 3, none},
        {"AT25F512A", 0x15, 0, {0x1F, 0x65, 0xFF}},  // two bytes, then the line idles
        {"AT25F512A", 0x9F, 0, none},
        {"AT25F512B", 0x9F, 0, {0x1F, 0x65, 0x00}},
        {"AT25F512B", 0x15, 0, {0x1F, 0x65, 0xFF}},
        {"LE25FU406B", 0xAB, 3, {0x62, 0x1E, 0x62}},
        {"PM25LD512C", 0x9F, 0, {0x7F, 0x9D, 0x20}},
        {"PM25LV010A", 0x9F, 0, {0x7F, 0x9D, 0x7C}},
        {"PM25LV512A", 0x9F, 0, none},
        {"A25L020", 0xAB, 3, {0x11, 0x11, 0x11}},
        {"SST25VF512X", 0x90, 3, {0xBF, 0x48, 0xBF}},
        {"SST25VF010A", 0xAB, 3, {0xBF, 0x49, 0xBF}},
        {"SST25VF010A", 0x9F, 0, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.part) + " opcode " + std::to_string(c.opcode));
        Rig rig(std::string("part=") + c.part + " timing=instant");
        BridgeDriver b = rig.bridge();
        EXPECT_EQ(b.ReadId(c.opcode, c.mode), c.answer);
        EXPECT_TRUE(rig.pc->Violations().empty());
    }
    // The Sanyo code is four bytes long and repeats.
    Rig sanyo("part=LE25FU206A timing=instant");
    BridgeDriver b = sanyo.bridge();
    b.Send({0x9F});
    EXPECT_EQ(b.Receive(6), (std::vector<uint8_t>{0x62, 0x06, 0x12, 0x00, 0x62, 0x06}));
    b.End();
}

// The kinds of misuse a chip sees, each recorded as it happens while the chip does what its
// datasheet says with the command.
TEST(EmulatedChip, MisuseIsRecordedByKind) {
    using Kinds = std::vector<std::string>;
    struct Case {
        const char* what;
        const char* options;
        std::function<void(BridgeDriver&)> host;
        Kinds kinds;
    };
    std::vector<uint8_t> page256(256);
    for (std::size_t i = 0; i < page256.size(); ++i) page256[i] = static_cast<uint8_t>(i);
    const Case cases[] = {
        {"program without the latch",
         "part=0",
         [](BridgeDriver& b) { b.PageProgram(0x100, {0x00}); },
         {"no-write-enable"}},
        {"erase without the latch",
         "part=0",
         [](BridgeDriver& b) { b.Command({0x60}); },
         {"no-write-enable"}},
        {"a page program running past its page",
         "part=0",
         [](BridgeDriver& b) {
             b.WriteEnable();
             b.PageProgram(0xFE, {1, 2, 3});
         },
         {"page-crossed"}},
        {"256 bytes to a 128-byte page",
         "part=AT25F512A",
         [&](BridgeDriver& b) {
             b.WriteEnable();
             b.PageProgram(0, page256);
         },
         {"page-crossed"}},
        {"256 bytes to a 256-byte page",
         "part=AT25F512B",
         [&](BridgeDriver& b) {
             b.WriteEnable();
             b.PageProgram(0, page256);
         },
         {}},
        {"a status write without write enable",
         "part=0",
         [](BridgeDriver& b) { b.WriteStatus(0); },
         {"status-write-disabled"}},
        {"an SST status write without 0x50 or write enable",
         "part=SST25VF512X",
         [](BridgeDriver& b) { b.WriteStatus(0); },
         {"status-write-disabled"}},
        {"an SST status write after write enable alone",
         "part=SST25VF010A",
         [](BridgeDriver& b) {
             b.WriteEnable();
             b.WriteStatus(0);
         },
         {"status-write-disabled"}},
        {"an SST status write after 0x50",
         "part=SST25VF512X",
         [](BridgeDriver& b) {
             b.Command({0x50});
             b.WriteStatus(0);
         },
         {}},
        {"a chip erase with an address byte",
         "part=0",
         [](BridgeDriver& b) {
             b.WriteEnable();
             b.Command({0x60, 0x00});
         },
         {"rejected-command"}},
        {"a sector erase without its address",
         "part=M45PE10",
         [](BridgeDriver& b) {
             b.WriteEnable();
             b.Command({0xD8});
         },
         {"rejected-command"}},
        {"a status write to a chip that has none",
         "part=M45PE10",
         [](BridgeDriver& b) {
             b.WriteEnable();
             b.WriteStatus(0);
         },
         {"rejected-command"}},
        {"a chip-erase opcode the chip does not have",
         "part=A25L010",
         [](BridgeDriver& b) {
             b.WriteEnable();
             b.Command({0x60});
         },
         {"rejected-command"}},
        {"a read inside an auto-address-increment run",
         "part=SST25VF010A timing=instant",
         [](BridgeDriver& b) {
             b.Command({0x50});
             b.WriteStatus(0);
             b.WriteEnable();
             b.Command({0xAF, 0, 0, 0, 0x12});
             b.Read(0, 1);
             b.Command({0xAF, 0x34});
             b.WriteDisable();
             b.Command({0xAF, 0x56});  // a continuation after the run
         },
         {"aai-misuse", "aai-misuse"}},
        {"commands to a busy chip",
         "part=0",
         [](BridgeDriver& b) {
             b.WriteEnable();
             b.Command({0x60});  // one second
             b.WriteDisable();
             b.Read(0, 4);
             b.ReadStatus();  // the status read is always taken
         },
         {"chip-busy", "chip-busy"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.options);
        BridgeDriver b = rig.bridge();
        c.host(b);
        Kinds kinds;
        for (const vlmio::emu::Violation& v : rig.pc->Violations())
            kinds.push_back(vlmio::emu::ViolationName(v.kind));
        EXPECT_EQ(kinds, c.kinds);
    }
}

// What each erase opcode does to a chip: "OP:chip" for a whole-chip erase, "OP:SIZE" for the
// block at the address sent with it; an opcode the chip does not have erases nothing and, in
// both forms, is recorded as not one of its commands.
std::string EraseCommandsOf(Rig& rig) {
    static constexpr uint8_t kEraseOpcodes[] = {0x20, 0x52, 0x60, 0x62, 0xC7, 0xD7, 0xD8, 0xDB};
    BridgeDriver b = rig.bridge();
    b.WriteEnable();
    b.Command({0x50});
    b.WriteStatus(0x00);  // unprotected, whichever enable the chip needs
    const std::size_t size = rig.chip->Size();
    const auto address = static_cast<uint32_t>(size / 2 + 0x1000);
    auto erased = [&](const std::vector<uint8_t>& command) {
        rig.chip->SetContents(std::vector<uint8_t>(size, 0x00));
        b.WriteEnable();
        b.Command(command);
        const std::vector<uint8_t>& c = rig.chip->Contents();
        return static_cast<std::size_t>(std::count(c.begin(), c.end(), 0xFF));
    };
    std::string out;
    for (uint8_t op : kEraseOpcodes) {
        char name[8];
        std::snprintf(name, sizeof name, "%02X:", op);
        rig.pc->ClearViolations();
        const std::size_t whole = erased({op});
        const std::size_t block = erased(BridgeDriver::WithAddress(op, address));
        if (whole == size) {
            out += std::string(out.empty() ? "" : " ") + name + "chip";
        } else if (block != 0) {
            EXPECT_EQ(rig.chip->Contents()[address], 0xFF) << name;
            out += std::string(out.empty() ? "" : " ") + name +
                   (block >= 1024 ? std::to_string(block / 1024) + "K" : std::to_string(block));
        } else {
            char detail[48];
            std::snprintf(detail, sizeof detail, "0x%02X is not a command of this chip", op);
            std::vector<std::string> details;
            for (const vlmio::emu::Violation& v : rig.pc->Violations()) details.push_back(v.detail);
            EXPECT_EQ(details, (std::vector<std::string>{detail, detail}));
        }
    }
    rig.pc->ClearViolations();
    return out;
}

// Each chip erases with the commands its datasheet or the chip database lists, at their
// extents, and rejects every other: a part table that sent it another would fail its update.
TEST(ChipCatalogue, EachChipTakesOnlyTheEraseCommandsItsReferencesList) {
    const std::pair<const char*, const char*> cases[] = {
        {"AT25F512A", "52:32K 62:chip"},
        {"AT25F512B", "20:4K 52:32K 60:chip 62:chip C7:chip D7:4K D8:32K"},
        {"AT25FS010", "20:4K 52:32K 60:chip C7:chip D7:4K D8:32K"},
        {"LE25FU406B", "C7:chip D7:4K D8:64K"},
        {"PM25LV512A", "C7:chip D7:4K D8:32K"},
        {"PM25LV010A", "C7:chip D7:4K D8:32K"},
        {"PM25LD512C", "20:4K 60:chip C7:chip D7:4K D8:32K"},
        {"PM25LD010x", "20:4K 60:chip C7:chip D7:4K D8:32K"},
        {"PM25L(W)D020C", "20:4K 60:chip C7:chip D7:4K D8:64K"},
        {"A25L512", "20:4K C7:chip D8:64K"},
        {"A25L010", "20:4K C7:chip D8:64K"},
        {"A25L020", "20:4K C7:chip D8:64K"},
        {"A25L040", "20:4K C7:chip D8:64K"},
        {"EN25xF05", "20:4K 60:chip C7:chip D8:32K"},
        {"EN25(L)F10", "20:4K 60:chip C7:chip D8:32K"},
        {"EN25S10", "20:4K 60:chip C7:chip"},
        {"EN25F40", "20:4K 60:chip C7:chip D8:64K"},
        {"M25P10A", "C7:chip D8:32K"},
        {"M45PE10", "D8:64K DB:256"},
        {"W25X10B(C)L(V)", "20:4K 52:32K 60:chip C7:chip D8:64K"},  // "C7h or 60h"
        {"SST25VF512X", "20:4K 52:32K 60:chip"},
        {"SST25VF010A", "20:4K 52:32K 60:chip"},
    };
    for (const auto& [part, expected] : cases) {
        SCOPED_TRACE(part);
        Rig rig(std::string("part=") + part + " timing=instant");
        EXPECT_EQ(EraseCommandsOf(rig), expected);
    }
}

// The status register of each chip: the enable its status write needs (the other is rejected and
// recorded), the bits the write stores and the bits among them that protect the array.
TEST(ChipCatalogue, StatusWriteEnableAndItsBits) {
    struct Case {
        const char* part;
        bool ewsrOnly;  // 0x50 right before; else write enable
        uint8_t stored;
        uint8_t protecting;
    };
    const Case cases[] = {
        {"AT25F512A", false, 0x84, 0x04},      {"AT25F512B", false, 0x9C, 0x1C},
        {"MX25x4006E", false, 0x9C, 0x1C},     {"MX25U8035", false, 0xBC, 0x3C},
        {"GD25Q40", false, 0xFC, 0x7C},        {"GD25Q512", false, 0xFC, 0x7C},
        {"W25X10B(C)L(V)", false, 0xAC, 0x0C}, {"W25X20B(C)L(V)", false, 0xAC, 0x0C},
        {"W25X40B(C)L(V)", false, 0x9C, 0x1C}, {"M25P10A", false, 0x8C, 0x0C},
        {"SST25VF512X", true, 0x8C, 0x0C},     {"SST25VF010A", true, 0x8C, 0x0C},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Rig rig(std::string("part=") + c.part + " timing=instant");
        BridgeDriver b = rig.bridge();
        auto writeStatus = [&](uint8_t value, bool ewsr) {
            if (ewsr) {
                b.Command({0x50});
            } else {
                b.WriteEnable();
            }
            b.WriteStatus(value);
        };
        writeStatus(0x00, c.ewsrOnly);
        const uint8_t before = b.ReadStatus() & ~kWel;
        EXPECT_EQ(before, 0);
        // The other enable: rejected, nothing stored.
        rig.pc->ClearViolations();
        writeStatus(c.protecting, !c.ewsrOnly);
        EXPECT_EQ(b.ReadStatus() & ~kWel, before);
        ASSERT_EQ(rig.pc->Violations().size(), 1u);
        EXPECT_EQ(rig.pc->Violations()[0].kind, vlmio::emu::ViolationKind::kStatusWriteDisabled);
        b.WriteDisable();
        uint8_t stored = 0;
        uint8_t protecting = 0;
        for (int bit = 2; bit < 8; ++bit) {
            const auto value = static_cast<uint8_t>(1u << bit);
            writeStatus(value, c.ewsrOnly);
            stored |= b.ReadStatus() & value;
            rig.chip->SetContents(Blank(rig.chip->Size()));
            b.WriteEnable();
            b.PageProgram(0x100, {0x00});
            if (rig.chip->Contents()[0x100] == 0xFF) protecting |= value;
            writeStatus(0x00, c.ewsrOnly);
        }
        EXPECT_EQ(stored, c.stored);
        EXPECT_EQ(protecting, c.protecting);
    }
}

// A misuse names the controller and the access that made it, which is its line in the access
// log, and reaches the violation record file at once.
TEST(EmulatedChip, AViolationNamesTheControllerAndTheAccess) {
    emu_test::TempDir dir;
    VirtualClock clock;
    auto pc = MakePc("controller 0a:1f.3 part=0 timing=instant\n", clock);
    ASSERT_TRUE(pc->SetViolationLogFile(dir.File("violations.log")));
    uint64_t accesses = 0;
    uint64_t firstEnd = 0;  // the access that ended the first command
    pc->SetAccessObserver([&](const vlmio::emu::RegisterAccess& a) {
        ++accesses;
        if (a.write && a.offset == 0xF4 && a.value == 0x10 && firstEnd == 0) firstEnd = accesses;
    });
    BridgeDriver b(*pc, 0x0A, 0x1F, 3);
    b.PageProgram(0x100, {0x00});
    const std::vector<vlmio::emu::Violation> v = pc->Violations();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].kind, vlmio::emu::ViolationKind::kNoWriteEnable);
    EXPECT_EQ(v[0].access, firstEnd);
    const std::string line = vlmio::emu::FormatViolation(v[0]);
    EXPECT_EQ(line, "0a:1f.3 access " + std::to_string(v[0].access) +
                        ": no-write-enable: page program at 0x000100");
    EXPECT_EQ(emu_test::ReadText(dir.File("violations.log")), line + "\n");
    pc->ClearViolations();
    EXPECT_TRUE(pc->Violations().empty());
}

TEST(EmulatedChip, BridgeMisuse) {
    VirtualClock clock;
    auto pc = MakePc("controller 01:00.0 part=0\n", clock);  // transfers take 1 us a byte
    pc->WriteDword(1, 0, 0, 0xF0, 0x9F);
    pc->WriteByte(1, 0, 0, 0xF4, 0x2C);  // four bytes: busy for 4 us, one access takes 2
    pc->WriteByte(1, 0, 0, 0xF4, 0x23);  // a transfer while busy
    pc->ReadDword(1, 0, 0, 0xF0);        // a read of the data register while busy
    pc->ReadByte(1, 0, 0, 0xF4);         // polling the control register is what it is for
    clock.Advance(100);
    pc->ReadByte(1, 0, 0, 0xF0);          // the data register by bytes
    pc->WriteDword(1, 0, 0, 0xF4, 0x10);  // the control register as a dword
    std::vector<std::string> kinds;
    for (const vlmio::emu::Violation& v : pc->Violations())
        kinds.push_back(vlmio::emu::ViolationName(v.kind));
    EXPECT_EQ(kinds, (std::vector<std::string>{"bridge-busy", "bridge-busy", "register-width",
                                               "register-width"}));
}

// The chip remembers, byte by byte, whether what was programmed was read back afterwards.
TEST(EmulatedChip, ByteHistoryTellsWhatWasReadBackAfterItsProgram) {
    Rig rig("part=0 timing=instant");
    BridgeDriver b = rig.bridge();
    b.WriteEnable();
    b.PageProgram(0x100, {1, 2, 3, 4});
    auto h = rig.chip->History();
    EXPECT_EQ(h.programmed, 4u);
    EXPECT_EQ(h.unverified, 4u);
    b.Read(0xFE, 4);  // reads 0x100 and 0x101
    h = rig.chip->History();
    EXPECT_EQ(h.unverified, 2u);
    EXPECT_EQ(h.firstUnverified, 0x102u);
    b.Read(0x102, 2);
    EXPECT_EQ(rig.chip->History().unverified, 0u);
    b.WriteEnable();
    b.PageProgram(0x101, {0x00});  // programmed again after its read
    h = rig.chip->History();
    EXPECT_EQ(h.unverified, 1u);
    EXPECT_EQ(h.firstUnverified, 0x101u);
    b.WriteEnable();
    b.Command({0x60});  // erased: nothing programmed is left
    EXPECT_EQ(rig.chip->History().programmed, 0u);
}

// The AT25F512A's pages are 128 bytes: the second half of a 256-byte command lands on the first.
// The AT25F512B's are 256 bytes.
TEST(EmulatedChip, At25f512aPagesAre128BytesAndTheBsAre256) {
    std::vector<uint8_t> data(256);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    for (const char* part : {"AT25F512A", "AT25F512B"}) {
        SCOPED_TRACE(part);
        Rig rig(std::string("part=") + part + " timing=instant");
        rig.chip->SetContents(Blank(rig.chip->Size()));
        BridgeDriver b = rig.bridge();
        b.WriteEnable();
        b.PageProgram(0x200, data);
        std::vector<uint8_t> expected = data;
        if (std::string(part) == "AT25F512A") {
            std::copy(data.begin() + 128, data.end(), expected.begin());
            std::fill(expected.begin() + 128, expected.end(), 0xFF);
        }
        EXPECT_EQ(b.Read(0x200, 256), expected);
    }
}

}  // namespace
