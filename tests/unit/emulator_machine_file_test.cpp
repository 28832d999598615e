// The machine file: what it accepts, and a clear error for every bad line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "pci/controller_ids.h"
#include "tests/support/test_clocks.h"
#include "tests/unit/emulator_test_util.h"

namespace {

using testsupport::VirtualClock;
using vlmio::emu::EmulatedPc;

TEST(MachineFile, AcceptsTheWholeGrammar) {
    VirtualClock clock;
    std::string error;
    auto pc = EmulatedPc::FromText(
        "\n"
        "   # a comment line\n"
        "controller\t00:02.0  part=AT25F512A(B)  member=0x3 size=131072 timing=datasheet\r\n"
        "controller 0:3.1 part=45 size=0x10000 timing=instant fault=slow:0 fault=flaky-read:5\n"
        "controller ff:1f.7 part=none fault=stuck-busy\n"
        "controller 10:00.0 part=unknown:ab:1:2:3 fault=stuck-byte:0x10=0x20 "
        "fault=stuck-byte:17=3 fault=erase-fails fault=write-protect fault=unplug-after:100\n"
        "device 00:00.0 1022:1480 # host bridge\n",
        "m.conf", "", clock, &error);
    ASSERT_NE(pc, nullptr) << error;
    EXPECT_EQ(pc->ControllerCount(), 4u);
    EXPECT_EQ(pc->ReadDword(0, 2, 0, 0), ControllerIdKey(g_ControllerIds[2]));
    EXPECT_EQ(pc->Chip(0, 2, 0)->Size(), 131072u);
    // part= by the spelling of the updater's table, by a row number in its order, and by the
    // catalogue's own name.
    EXPECT_STREQ(pc->Chip(0, 2, 0)->PartName(), "AT25F512A");
    EXPECT_STREQ(pc->Chip(0, 3, 1)->PartName(), "SST25VF512X");
    auto b =
        EmulatedPc::FromText("controller 01:00.0 part=AT25F512B\n", "m.conf", "", clock, &error);
    ASSERT_NE(b, nullptr) << error;
    EXPECT_STREQ(b->Chip(1, 0, 0)->PartName(), "AT25F512B");
    EXPECT_EQ(pc->Chip(0xFF, 0x1F, 7), nullptr);
    EXPECT_EQ(pc->ReadDword(0, 0, 0, 0), 0x14801022u);

    auto empty = EmulatedPc::FromText("# nothing here\n", "m.conf", "", clock, &error);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->ControllerCount(), 0u);
}

TEST(MachineFile, EveryBadLineIsReportedWithFileAndLine) {
    struct Case {
        const char* line;
        const char* message;  // what the error must say after "bad.conf:2: "
    };
    const Case cases[] = {
        {"controler 01:00.0 part=0", "unknown item 'controler'"},
        {"controller", "missing address"},
        {"controller 01-00.0 part=0", "bad address '01-00.0'"},
        {"controller 01:00 part=0", "bad address '01:00'"},
        {"controller 0g:00.0 part=0", "bad address '0g:00.0'"},
        {"controller 100:00.0 part=0", "bus 100 out of range"},
        {"controller 01:20.0 part=0", "device 20 out of range"},
        {"controller 01:00.8 part=0", "function 8 out of range"},
        {"controller 01:00.0", "missing part="},
        {"controller 01:00.0 part=47", "unknown part '47'"},
        {"controller 01:00.0 part=MX25L512", "unknown part 'MX25L512'"},
        {"controller 01:00.0 part=unknown:9F:1:2", "bad part 'unknown:9F:1:2'"},
        {"controller 01:00.0 part=unknown:9F:1:2:345", "bad part"},
        {"controller 01:00.0 part=unknown:03:1:2:3", "one of the chip's own commands"},
        {"controller 01:00.0 part=0 part=1", "part= given twice"},
        {"controller 01:00.0 part=0 colour=red", "unknown key 'colour'"},
        {"controller 01:00.0 part=0 fast", "unexpected 'fast'"},
        {"controller 01:00.0 part=0 member=0", "member=0 out of range (1-7)"},
        {"controller 01:00.0 part=0 member=8", "member=8 out of range"},
        {"controller 01:00.0 part=0 member=two", "bad number 'two'"},
        {"controller 01:00.0 part=0 size=1000", "must be a power of two"},
        {"controller 01:00.0 part=0 size=0x2000000", "must be a power of two"},
        {"controller 01:00.0 part=0 size=99999999999", "bad number"},
        {"controller 01:00.0 part=0 size=", "size= has no value"},
        {"controller 01:00.0 part=0 timing=fast", "unknown timing 'fast'"},
        {"controller 01:00.0 part=0 fault=melt", "unknown fault 'melt'"},
        {"controller 01:00.0 part=0 fault=flaky-read:0", "out of range"},
        {"controller 01:00.0 part=0 fault=flaky-read", "bad number"},
        {"controller 01:00.0 part=0 fault=slow:x", "bad number 'x'"},
        {"controller 01:00.0 part=0 fault=slow:0.0005", "at most three decimals"},
        {"controller 01:00.0 part=0 fault=slow:1.", "bad number '1.'"},
        {"controller 01:00.0 part=0 fault=slow:.5", "bad number '.5'"},
        {"controller 01:00.0 part=0 fault=slow:60000.001", "60000.001 out of range (0-60000)"},
        {"controller 01:00.0 part=0 fault=stuck-busy:1", "takes no value"},
        {"controller 01:00.0 part=0 fault=stuck-byte:10", "expected stuck-byte:ADDR=VAL"},
        {"controller 01:00.0 part=0 fault=stuck-byte:10=256", "expected stuck-byte:ADDR=VAL"},
        {"controller 01:00.0 part=0 fault=stuck-byte:0x10000=0", "beyond the chip's 65536"},
        {"controller 01:00.0 part=none flash=x.bin", "part=none has no flash chip"},
        {"controller 01:00.0 part=none fault=erase-fails", "part=none has no flash chip"},
        {"controller 00:00.0 part=0", "two items at 00:00.0 (the other on line 1)"},
        {"device 00:00.0 8086:1234", "two items at 00:00.0"},
        {"device 01:00.0", "missing identifier"},
        {"device 01:00.0 8086-1234", "bad identifier '8086-1234'"},
        {"device 01:00.0 808:1234", "bad identifier"},
        {"device 01:00.0 8086:1234 extra", "unexpected 'extra'"},
        // Chips that would need more memory than a test machine should give.
        {"controller 01:00.0 part=0 size=0x1000000\ncontroller 02:00.0 part=0",
         "add up to more than 16777216 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        VirtualClock clock;
        std::string error;
        auto pc = EmulatedPc::FromText(std::string("device 00:00.0 1022:1480\n") + c.line + "\n",
                                       "bad.conf", "", clock, &error);
        EXPECT_EQ(pc, nullptr);
        const std::size_t lines =
            static_cast<std::size_t>(std::count(c.line, c.line + std::strlen(c.line), '\n'));
        EXPECT_EQ(error.rfind("bad.conf:" + std::to_string(2 + lines) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(MachineFile, FlashFilesAreCheckedAtLoad) {
    emu_test::TempDir dir;
    emu_test::WriteFile(dir.File("long.bin"), std::vector<uint8_t>(65537, 0));
    emu_test::WriteFile(dir.File("ok.bin"), std::vector<uint8_t>(16, 0));
    std::filesystem::create_directory(dir.File("folder"));
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"controller 01:00.0 part=0 flash=long.bin\n",
         "holds 65537 bytes, more than the chip's 65536"},
        {"controller 01:00.0 part=0 flash=folder\n", "is not a file"},
        {"controller 01:00.0 part=0 flash=ok.bin\ncontroller 02:00.0 part=0 flash=./ok.bin\n",
         "machine.conf:2: flash=./ok.bin is already the flash of line 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VirtualClock clock;
        std::string error;
        auto pc = EmulatedPc::FromText(c.text, "machine.conf", dir.Path(), clock, &error);
        EXPECT_EQ(pc, nullptr);
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    // A file that is long enough once size= makes the chip bigger.
    VirtualClock clock;
    std::string error;
    auto pc = EmulatedPc::FromText("controller 01:00.0 part=0 size=131072 flash=long.bin\n",
                                   "machine.conf", dir.Path(), clock, &error);
    EXPECT_NE(pc, nullptr) << error;
}

TEST(MachineFile, FromFileNamesTheFileAndFindsFlashBesideIt) {
    emu_test::TempDir dir;
    std::string conf = dir.File("pc.conf");
    emu_test::WriteText(conf, "controller 01:00.0 part=0 flash=chip.bin\n");
    emu_test::WriteFile(dir.File("chip.bin"), {0x12, 0x34});
    VirtualClock clock;
    std::string error;
    auto pc = EmulatedPc::FromFile(conf, clock, &error);
    ASSERT_NE(pc, nullptr) << error;
    EXPECT_EQ(pc->Chip(1, 0, 0)->Contents()[1], 0x34);

    emu_test::WriteText(conf, "controller 01:00.0 part=0\ncontroller 01:00.0 part=0\n");
    EXPECT_EQ(EmulatedPc::FromFile(conf, clock, &error), nullptr);
    EXPECT_EQ(error, conf + ":2: two items at 01:00.0 (the other on line 1)");
    EXPECT_EQ(EmulatedPc::FromFile(dir.File("missing.conf"), clock, &error), nullptr);
    EXPECT_NE(error.find("missing.conf"), std::string::npos);
}

// Only a bounded regular file is a machine file: anything else is refused at once with the
// file's name, never read without bound or waited on.
TEST(MachineFile, OnlyABoundedRegularFileIsRead) {
    emu_test::TempDir dir;
    const std::string folder = dir.File("folder.conf");
    std::filesystem::create_directory(folder);
    const std::string longest = dir.File("longest.conf");
    emu_test::WriteText(longest, std::string(vlmio::emu::kMaxMachineFileBytes, '#'));
    const std::string tooLong = dir.File("too-long.conf");
    emu_test::WriteText(tooLong, std::string(vlmio::emu::kMaxMachineFileBytes + 1, '#'));
    const std::string nul = dir.File("nul.conf");
    const char kNulText[] = "controller 01:00.0 part=0\ncontroller 02:00.0 part=0\0x\n";
    emu_test::WriteText(nul, std::string(kNulText, sizeof kNulText - 1));
    struct Case {
        std::string path;
        std::string error;  // empty: read
    };
    std::vector<Case> cases = {
        {folder, folder + ": not a regular file, so not a machine file"},
        {longest, ""},
        {tooLong, tooLong + ": more than 1048576 bytes, too long for a machine file"},
        {nul, nul + ":2: a NUL byte (a machine file is text)"},
    };
#ifndef _WIN32
    const std::string fifo = dir.File("fifo.conf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // no writer: opening it to read would wait
    cases.push_back({fifo, fifo + ": not a regular file, so not a machine file"});
    cases.push_back({"/dev/zero", "/dev/zero: not a regular file, so not a machine file"});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        VirtualClock clock;
        std::string error;
        auto pc = EmulatedPc::FromFile(c.path, clock, &error);
        EXPECT_EQ(pc == nullptr, !c.error.empty());
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
