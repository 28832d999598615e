// The update engine end to end on the emulated PC: every modelled part, and the faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "event_capture.h"
#include "fake_bridge.h"
#include "flash/flash_part_table.h"
#include "flash/update_engine.h"
#include "tests/support/emulated_rig.h"
#include "tests/support/test_clocks.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace {

using Lines = std::vector<std::string>;

constexpr uint32_t k64K = 0x10000;
constexpr uint32_t k96K = 0x18000;
constexpr uint32_t k128K = 0x20000;

// One diagnostic line of the engine, as the event log receives it.
std::string Line(int number, const char* what, int target, int retry) {
    char text[160];
    const char* sep = std::string(what) == "Compare_Section" ? "," : ", ";
    std::snprintf(text, sizeof text,
                  "\r\nCInterctl::Update_Firmware:%d: ucTargetNumber[%d]%s%s Fail!!, ucRetry[%d] ",
                  number, target, sep, what, retry);
    return text;
}
Lines ThreeTimes(int number, const char* what, int target) {
    return {Line(number, what, target, 0), Line(number, what, target, 1),
            Line(number, what, target, 2)};
}
std::string ReadMemoryLine(int retry) {
    return "\r\nCInterctl::Compare_Section:1756: Read_Memory Fail, retry[" + std::to_string(retry) +
           "]\n";
}

// An image buffer as the program holds it: 128 KiB, the image from offset 0, zeros after.
std::vector<uint8_t> ImageBuffer(uint32_t length) {
    std::vector<uint8_t> buffer(kImageBufferBytes, 0);
    for (uint32_t i = 0; i < length; ++i) {
        buffer[i] = static_cast<uint8_t>((i * 7 + (i >> 8) * 13 + 1) & 0xFF);
    }
    return buffer;
}

// The emulated PC, the SPI layer and the engine; a refused machine file fails the test.
// Unless a test looks at the misuse itself (faulty hardware, the described behaviour on the
// mended rows), the engine may misuse nothing.
struct Bench : testsupport::EngineRig {
    explicit Bench(const std::string& text) : EngineRig(text) {
        if (!machine.Ok()) ADD_FAILURE() << machine.Error();
    }
    ~Bench() {
        if (!misuseLookedAt) {
            EXPECT_EQ(machine.Violations(), std::vector<std::string>{});
        }
    }
    bool misuseLookedAt = false;
};

// What the flash must hold after an update: the written extent (whole sections, the last one
// reaching into the buffer's zero tail) from the buffer, erased bytes after it.
std::vector<uint8_t> Expected(const std::vector<uint8_t>& buffer, uint32_t length,
                              const flash::FlashPartInfo& part, std::size_t flashSize) {
    const uint32_t section = part.ucSectionUnits * flash::kSectionUnitBytes;
    uint32_t extent = 0;
    for (uint32_t offset = 0; offset < length; offset += section) {
        extent = offset + std::min(section, length);
    }
    std::vector<uint8_t> expected(flashSize, 0xFF);
    for (uint32_t i = 0; i < extent && i < flashSize; ++i) expected[i] = buffer[i];
    return expected;
}

// The misuse an update of the part causes, by kind and what was sent: none, but for the
// M45PE10, which has no status register: the unprotect before its erase and the one before its
// section each send a status write that it rejects.
std::vector<std::string> NamedMisuse(const std::string& chip) {
    if (chip != "M45PE10") return {};
    const std::string rejected = "rejected-command: status write 0x01: the chip has none";
    return {rejected, rejected};
}

// The violation lines without the controller and access that start them.
std::vector<std::string> Kinds(const std::vector<std::string>& lines) {
    std::vector<std::string> kinds;
    for (const std::string& line : lines) kinds.push_back(line.substr(line.find(": ") + 2));
    return kinds;
}

// After a successful update every programmed byte of the written extent was read back after its
// last program, and nothing else was programmed.
void ExpectEveryWrittenByteReadBack(const vlmio::emu::FlashChip& chip, std::size_t extent) {
    const vlmio::emu::FlashChip::ByteHistory h = chip.History();
    EXPECT_EQ(h.programmed, std::min(extent, chip.Size()));
    EXPECT_EQ(h.unverified, 0u) << "first unverified byte at " << h.firstUnverified;
}

// The extent an update writes: whole sections, the last one reaching into the zero tail.
uint32_t ExpectedExtent(const flash::FlashPartInfo& part, uint32_t length) {
    const uint32_t section = part.ucSectionUnits * flash::kSectionUnitBytes;
    uint32_t extent = 0;
    for (uint32_t offset = 0; offset < length; offset += section) {
        extent = offset + std::min(section, length);
    }
    return extent;
}

class EveryPart : public ::testing::TestWithParam<int> {};

// Each modelled part is found, identified and updated with every image size it can hold: the
// flash then holds the image byte for byte, every byte written was read back after it was
// written, and the host misused nothing.
TEST_P(EveryPart, UpdatedByteForByte) {
    const int row = GetParam();
    const flash::FlashPartInfo& expectedPart = flash::g_FlashParts[row];
    capture::EventCapture events;
    for (uint32_t length : {k64K, k96K, k128K}) {
        SCOPED_TRACE(std::string(expectedPart.szPartName) + " image " + std::to_string(length));
        Bench bench("controller 02:03.1 part=" + std::to_string(row) + " timing=instant\n");
        ASSERT_TRUE(bench.Ok());
        ASSERT_EQ(bench.engine->ScanControllers(), kResultSuccess);
        ASSERT_EQ(bench.count, 1);
        const std::size_t flashSize = bench.Flash().size();
        if (length > k64K && flashSize < k128K) continue;  // the image does not fit this part
        const flash::FlashPartInfo part = bench.spi->QueryFlashPart(bench.records[0]);
        ASSERT_EQ(std::memcmp(&part, &expectedPart, sizeof part), 0) << part.szPartName;
        EXPECT_EQ(bench.records[0].usPageSize, flash::TraitsOf(expectedPart).usPageSize);

        const std::vector<uint8_t> buffer = ImageBuffer(length);
        const int32_t result =
            bench.engine->Update_Firmware(1, bench.records[0], part, buffer.data(), length);
        EXPECT_EQ(result, kResultSuccess);
        EXPECT_TRUE(bench.Flash() == Expected(buffer, length, part, flashSize));
        EXPECT_EQ(events.Lines(), Lines{});
        const vlmio::emu::FlashChip& chip = *bench.machine.pc->Chip(2, 3, 1);
        ExpectEveryWrittenByteReadBack(chip, ExpectedExtent(part, length));
        EXPECT_EQ(Kinds(bench.machine.Violations()), NamedMisuse(chip.PartName()));
        bench.misuseLookedAt = true;
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, EveryPart,
                         ::testing::Range(0, static_cast<int>(flash::kFlashPartCount)));

// Runs one update of a 64 KiB or larger image on a controller with the given machine line
// options; the part is given, not identified, so that faults of the bridge reach the engine.
struct UpdateOutcome {
    int32_t result;
    Lines lines;
    bool flashIsImage;
    uint8_t attempts = 0;
    uint64_t elapsedMs = 0;  // on the rig's clock
};
UpdateOutcome UpdateWith(const std::string& options, int row, uint32_t length, uint8_t target = 2) {
    capture::EventCapture events;
    Bench bench("controller 01:00.0 part=" + std::to_string(row) + " timing=instant " + options +
                "\n");
    bench.misuseLookedAt = true;  // faulty hardware
    if (!bench.Ok()) return {1, {}, false, 0};
    ControllerInfo record{};
    record.ucBus = 1;
    record.usPageSize = flash::TraitsOf(flash::g_FlashParts[row]).usPageSize;
    const std::vector<uint8_t> buffer = ImageBuffer(length);
    const flash::FlashPartInfo& part = flash::g_FlashParts[row];
    uint8_t attempts = 0xEE;
    const uint64_t startMs = bench.clock.NowMs();
    const int32_t result =
        bench.engine->Update_Firmware(target, record, part, buffer.data(), length, &attempts);
    const uint64_t elapsedMs = bench.clock.NowMs() - startMs;
    const auto& flash = bench.machine.pc->Chip(1, 0, 0)->Contents();
    const bool same = flash == Expected(buffer, length, part, flash.size());
    // Never a success while the flash differs from the image.
    EXPECT_TRUE(result != kResultSuccess || same) << options;
    EXPECT_TRUE(events.AllErrors());
    return {result, events.Lines(), same, attempts, elapsedMs};
}

TEST(EngineFaults, BridgeAndChipFaults) {
    constexpr int kMx1Mbit = 1;    // MX25L100(2)5C/1006E, 128 KiB, section of 64 KiB
    constexpr int kSst1Mbit = 46;  // SST25VF010A
    struct Case {
        const char* options;
        int row;
        uint32_t length;
        int32_t result;
        Lines lines;
    };
    const Lines blank = ThreeTimes(1317, "BlankCheck", 2);
    const Lines compare = ThreeTimes(1349, "Compare_Section", 2);
    const Case cases[] = {
        // A bridge that is always busy: the write enable before the erase is never accepted.
        {"fault=stuck-busy fault=slow:1", kMx1Mbit, k64K, kResultTransferError,
         ThreeTimes(1302, "ChipErase", 2)},
        {"fault=erase-fails", kMx1Mbit, k64K, kResultDataNotMatch, blank},
        {"fault=erase-fails", kSst1Mbit, k64K, kResultDataNotMatch, blank},
        {"fault=write-protect", kMx1Mbit, k64K, kResultDataNotMatch, blank},
        {"fault=write-protect", kSst1Mbit, k64K, kResultDataNotMatch, blank},
        {"fault=stuck-byte:0x1234=0x00", kMx1Mbit, k128K, kResultDataNotMatch, blank},
        // Beyond the blank-checked 64 KiB only the read-back finds it.
        {"fault=stuck-byte:0x18000=0x00", kMx1Mbit, k128K, kResultDataNotMatch, compare},
        {"fault=stuck-byte:0x18000=0x00", kSst1Mbit, k128K, kResultDataNotMatch, compare},
        // A wrong byte now and then is read again: no line, the update succeeds.
        {"fault=flaky-read:40000", kMx1Mbit, k128K, kResultSuccess, {}},
        {"fault=flaky-read:40000", kSst1Mbit, k128K, kResultSuccess, {}},
        // Unplugged while writing: the write enable of the next page is not accepted, then
        // each attempt's erase fails.
        {"fault=unplug-after:100000 fault=slow:1",
         kMx1Mbit,
         k64K,
         kResultTransferError,
         {Line(1340, "Write_Section", 2, 0), Line(1302, "ChipErase", 2, 1),
          Line(1302, "ChipErase", 2, 2)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " row " + std::to_string(c.row));
        const UpdateOutcome run = UpdateWith(c.options, c.row, c.length);
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(run.lines, c.lines);
        EXPECT_TRUE(c.result != kResultSuccess || run.flashIsImage);
        EXPECT_EQ(run.attempts, c.result == kResultSuccess ? 1 : 3) << "attempts counted";
    }
}

// A controller that leaves the bus in the middle of its update (its registers and identifiers
// read all ones from then on) fails each attempt at once, whatever its flash's family, instead of
// waiting out every limit of every step (about half a minute an attempt); never a success.
TEST(EngineFaults, AControllerThatLeavesTheBusFailsEachAttemptAtOnce) {
    struct Case {
        int row;
        uint32_t unplugAfter;
    } cases[] = {
        {1, 20000},    // 256-byte pages: in the blank check
        {1, 100000},   // in the writing
        {1, 200000},   // in the read-back
        {46, 20000},   // SST byte programming: in the blank check
        {46, 100000},  // in the writing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("row " + std::to_string(c.row) + " unplugged after " +
                     std::to_string(c.unplugAfter));
        const UpdateOutcome clean = UpdateWith("", c.row, k64K);
        const UpdateOutcome run =
            UpdateWith("fault=unplug-after:" + std::to_string(c.unplugAfter), c.row, k64K);
        EXPECT_NE(run.result, kResultSuccess);
        EXPECT_EQ(run.attempts, 3);
        // No longer than an update that succeeds, plus the pause after one erase.
        EXPECT_LE(run.elapsedMs, clean.elapsedMs + flash::kAfterEraseWaitMs) << clean.elapsedMs;
    }
}

// Unknown and absent parts are never identified, and the engine refuses such a row.
TEST(EngineFaults, UnidentifiedPartsAreNeverWritten) {
    for (const char* part : {"none", "unknown:9F:AA:BB:CC"}) {
        SCOPED_TRACE(part);
        capture::EventCapture events;
        Bench bench(std::string("controller 00:1f.7 part=") + part + " timing=instant\n");
        ASSERT_TRUE(bench.Ok());
        ASSERT_EQ(bench.engine->ScanControllers(), kResultSuccess);
        EXPECT_EQ(bench.records[0].ucDevice, 0x1F);
        EXPECT_EQ(bench.records[0].ucFunction, 7);
        const flash::FlashPartInfo found = bench.spi->QueryFlashPart(bench.records[0]);
        EXPECT_FALSE(flash::IsIdentified(found));
        const std::vector<uint8_t> before = bench.Flash();
        const uint64_t accesses = bench.machine.Accesses();
        const std::vector<uint8_t> buffer = ImageBuffer(k64K);
        uint8_t attempts = 0xEE;
        EXPECT_EQ(bench.engine->Update_Firmware(0, bench.records[0], found, buffer.data(), k64K,
                                                &attempts),
                  kResultInvalidParameter);
        EXPECT_EQ(attempts, 0) << "a refused part makes no attempt";
        EXPECT_EQ(bench.machine.Accesses(), accesses) << "nothing was sent";
        EXPECT_EQ(bench.Flash(), before);
        EXPECT_EQ(events.Lines(), Lines{});
    }
}

// Parameters that cannot be written are refused before the flash is erased.
TEST(EngineFaults, RefusedBeforeErasing) {
    Bench bench("controller 01:00.0 part=1 timing=instant\n");
    ASSERT_TRUE(bench.Ok());
    ControllerInfo record{};
    record.ucBus = 1;
    record.usPageSize = 256;
    const std::vector<uint8_t> buffer = ImageBuffer(k128K);
    std::vector<uint8_t> halves = ImageBuffer(k64K);
    std::copy(halves.begin(), halves.begin() + k64K, halves.begin() + k64K);
    flash::FlashPartInfo noSections = flash::g_FlashParts[1];
    noSections.ucSectionUnits = 0;
    ControllerInfo noPageSize = record;
    noPageSize.usPageSize = 0;
    struct Case {
        const ControllerInfo* record;
        flash::FlashPartInfo part;
        const uint8_t* image;
        uint32_t length;
    };
    const Case cases[] = {
        {&record, flash::g_FlashParts[1], buffer.data(), k128K + 1},  // past the buffer's end
        {&record, flash::g_FlashParts[1], nullptr, k64K},
        {&record, noSections, buffer.data(), k64K},
        {&noPageSize, flash::g_FlashParts[1], buffer.data(), k64K},
        // Larger than the 64 KiB part's flash: a later section would wrap onto the first, so
        // the flash is never erased for it (zero padding or equal halves alike).
        {&record, flash::g_FlashParts[0], buffer.data(), k128K},
        {&record, flash::g_FlashParts[0], buffer.data(), k64K + 1},
        {&record, flash::g_FlashParts[0], halves.data(), k128K},
    };
    const std::vector<uint8_t> before = bench.Flash();
    for (const Case& c : cases) {
        EXPECT_EQ(bench.engine->Update_Firmware(0, *c.record, c.part, c.image, c.length),
                  kResultInvalidParameter);
    }
    EXPECT_EQ(bench.machine.Accesses(), 0u);
    EXPECT_EQ(bench.Flash(), before);
    // The section routines refuse a section past the buffer, or no page size, themselves.
    EXPECT_EQ(
        bench.engine->Write_Section(noPageSize, flash::g_FlashParts[1], buffer.data(), 0, 256),
        kResultInvalidParameter);
    EXPECT_EQ(
        bench.engine->Write_Section(record, flash::g_FlashParts[1], buffer.data(), k64K, k64K + 1),
        kResultInvalidParameter);
    EXPECT_EQ(bench.engine->Compare_Section(buffer.data(), record, k128K, 8),
              kResultInvalidParameter);
    EXPECT_EQ(bench.engine->Write_Section(record, flash::g_FlashParts[1], buffer.data(), 0, 0),
              kResultSuccess);
    EXPECT_EQ(bench.machine.Accesses(), 0u);
}

// An empty image: erased and blank-checked, nothing written, success; an SST part's sections
// go by auto-address-increment, a 32-byte-page part's in 32-byte pages.
TEST(EngineUpdate, EmptyImageLeavesTheFlashErased) {
    capture::EventCapture events;
    Bench bench("controller 01:00.0 part=1 timing=instant\n");
    ASSERT_TRUE(bench.Ok());
    ControllerInfo record{};
    record.ucBus = 1;
    record.usPageSize = 256;
    const std::vector<uint8_t> buffer = ImageBuffer(0);
    EXPECT_EQ(bench.engine->Update_Firmware(0, record, flash::g_FlashParts[1], buffer.data(), 0),
              kResultSuccess);
    EXPECT_EQ(bench.Flash(), std::vector<uint8_t>(bench.Flash().size(), 0xFF));
    EXPECT_EQ(events.Lines(), Lines{});
}

// One controller's identification may run while another controller is written: each touches
// only its own controller and its own record's page size.
TEST(EngineUpdate, IdentificationBesideAnUpdate) {
    capture::EventCapture events;
    Bench bench(
        "controller 01:00.0 part=1 timing=instant\ncontroller 02:00.0 part=2 timing=instant\n");
    ASSERT_TRUE(bench.Ok());
    ASSERT_EQ(bench.engine->ScanControllers(), kResultSuccess);
    ASSERT_EQ(bench.count, 2);
    const flash::FlashPartInfo part = bench.spi->QueryFlashPart(bench.records[0]);
    const std::vector<uint8_t> buffer = ImageBuffer(k64K);
    int identified = 0;
    std::thread identifier([&] {
        for (int i = 0; i < 20; ++i) {
            const flash::FlashPartInfo other = bench.spi->QueryFlashPart(bench.records[1]);
            identified += std::string(other.szPartName) == "MX25L5121E" ? 1 : 0;
        }
    });
    const int32_t result =
        bench.engine->Update_Firmware(0, bench.records[0], part, buffer.data(), k64K);
    identifier.join();
    EXPECT_EQ(result, kResultSuccess);
    EXPECT_EQ(identified, 20);
    EXPECT_EQ(bench.records[0].usPageSize, 256);
    EXPECT_EQ(bench.records[1].usPageSize, 32);
    EXPECT_EQ(bench.Flash(0), Expected(buffer, k64K, part, bench.Flash(0).size()));
}

// A chunk that cannot be read counts as differing, even where the image holds zeros (what the
// cleared read buffer holds): nothing counts as verified unless it was read.
TEST(EngineCompare, UnreadableChunkIsAMismatch) {
    capture::EventCapture events;
    testsupport::VirtualClock clock;
    fake::FakeBridge bridge(clock, 1000);
    bridge.control = [] { return uint32_t{flash::kControlBusy}; };
    bridge.recordControlReads = false;
    flash::CSPICtl spi(&bridge, &clock);
    uint8_t count = 0;
    ControllerInfo records[kMaxControllers] = {};
    flash::CInterctl engine(count, records, spi);
    const std::vector<uint8_t> zeros(kImageBufferBytes, 0);
    EXPECT_EQ(engine.Compare_Section(zeros.data(), records[0], 0, 16), kResultDataNotMatch);
    Lines expected;
    for (int compare = 0; compare < 3; ++compare) {
        for (int retry = 0; retry < 3; ++retry) expected.push_back(ReadMemoryLine(retry));
    }
    EXPECT_EQ(events.Lines(), expected);
}

// The two rows whose chips the updater could not update as described, each written now the way
// its chip needs; and, on the same modelled chips, what the described behaviour did.
class MendedRows : public ::testing::Test {
protected:
    static constexpr int kM45pe10 = 27;
    static constexpr int kAt25f512 = 32;

    // Updates the controller at 01:00.0 with the given row and page size; the part row is
    // given, not identified.
    UpdateOutcome Run(const std::string& part, const flash::FlashPartInfo& row, uint16_t pageSize,
                      std::vector<std::string>* violations) {
        capture::EventCapture events;
        Bench bench("controller 01:00.0 part=" + part + " timing=instant\n");
        bench.misuseLookedAt = true;
        if (!bench.Ok()) return {1, {}, false};
        ControllerInfo record{};
        record.ucBus = 1;
        record.usPageSize = pageSize;
        const std::vector<uint8_t> buffer = ImageBuffer(k64K);
        const int32_t result = bench.engine->Update_Firmware(0, record, row, buffer.data(), k64K);
        const std::vector<uint8_t> flash = bench.machine.Flash(1, 0, 0);
        *violations = Kinds(bench.machine.Violations());
        // Whether the option ROM's signature (0x55 0xAA) is gone from the flash.
        romGone = flash[0] != 0x55 || flash[1] != 0xAA;
        return {result, events.Lines(),
                std::equal(buffer.begin(), buffer.begin() + k64K, flash.begin())};
    }
    bool romGone = false;
};

// The M45PE10 has no chip erase: each of its two 64 KiB sectors is erased with its address
// under its own write enable, polled as the chip erase is, then the write disable follows.
TEST_F(MendedRows, M45pe10IsErasedSectorBySector) {
    Bench bench("controller 01:00.0 part=M45PE10 timing=instant\n");
    ASSERT_TRUE(bench.Ok());
    bench.misuseLookedAt = true;  // the unprotect's status write, shown below
    ControllerInfo record{};
    record.ucBus = 1;
    std::vector<std::string> commands;  // the first byte of each command, with its address
    std::string current;
    bench.machine.pc->SetAccessObserver([&](const vlmio::emu::RegisterAccess& a) {
        if (a.write && a.offset == 0xF0) {
            const uint8_t opcode = a.value & 0xFF;
            if (current.empty() && opcode != 0x05) {
                char text[16];
                std::snprintf(text, sizeof text, opcode == 0xD8 ? "D8 %06X" : "%02X",
                              opcode == 0xD8 ? (a.value >> 8 & 0xFF) << 16 |
                                                   (a.value >> 16 & 0xFF) << 8 | a.value >> 24
                                             : opcode);
                current = text;
            } else if (current.empty()) {
                current = "poll";
            }
        }
        if (a.write && a.offset == 0xF4 && a.value == 0x10 && !current.empty()) {
            if (commands.empty() || current != "poll" || commands.back() != "poll")
                commands.push_back(current);
            current.clear();
        }
    });
    EXPECT_EQ(bench.spi->ChipErase(record, flash::g_FlashParts[kM45pe10]), kResultSuccess);
    const std::vector<std::string> expected = {
        // The unprotect as described: write enable, the status write the chip rejects.
        "06", "poll", "01", "poll",
        // Each sector: write enable, its poll, the sector erase with its address, the busy poll.
        "06", "poll", "D8 000000", "poll", "06", "poll", "D8 010000", "poll",
        // Write disable.
        "04"};
    EXPECT_EQ(commands, expected);
    EXPECT_EQ(bench.machine.Flash(1, 0, 0), std::vector<uint8_t>(0x20000, 0xFF));
}

// The described erase sends 0xD8 alone: the chip rejects it, nothing is erased, the blank
// check fails on every attempt and the update fails with the old contents still there.
TEST_F(MendedRows, TheDescribedEraseNeverErasesTheM45pe10) {
    flash::FlashPartInfo described = flash::g_FlashParts[kM45pe10];
    described.ucDeviceId = 0x41;  // a row without the sector-by-sector trait
    std::vector<std::string> violations;
    const UpdateOutcome run = Run("M45PE10", described, 256, &violations);
    EXPECT_EQ(run.result, kResultDataNotMatch);
    EXPECT_EQ(run.lines, ThreeTimes(1317, "BlankCheck", 0));
    EXPECT_FALSE(run.flashIsImage);
    EXPECT_FALSE(romGone);
    const std::string noStatus = "rejected-command: status write 0x01: the chip has none";
    const std::string loneD8 =
        "rejected-command: erase 0xD8 ended after 0 bytes; it takes an address";
    EXPECT_EQ(violations,
              (std::vector<std::string>{noStatus, loneD8, noStatus, loneD8, noStatus, loneD8}));
}

// Written in 256-byte pages, as the described page size had it, the AT25F512A's 128-byte pages
// wrap: each page's second half lands on its first, the read-back fails on every attempt, and
// the erased flash is left with neither the old option ROM nor the new one.
TEST_F(MendedRows, TheDescribedPageSizeWipesTheAt25f512a) {
    std::vector<std::string> violations;
    const UpdateOutcome run = Run("AT25F512A", flash::g_FlashParts[kAt25f512], 256, &violations);
    EXPECT_EQ(run.result, kResultDataNotMatch);
    EXPECT_EQ(run.lines, ThreeTimes(1349, "Compare_Section", 0));
    EXPECT_FALSE(run.flashIsImage);
    EXPECT_TRUE(romGone);
    ASSERT_FALSE(violations.empty());
    EXPECT_EQ(violations.front(),
              "page-crossed: 256 bytes at 0x000000 run past the end of the chip's 128-byte page");
    // With the part's own page size, the same update succeeds without misuse.
    const UpdateOutcome mended =
        Run("AT25F512A", flash::g_FlashParts[kAt25f512],
            flash::TraitsOf(flash::g_FlashParts[kAt25f512]).usPageSize, &violations);
    EXPECT_EQ(mended.result, kResultSuccess);
    EXPECT_TRUE(mended.flashIsImage);
    EXPECT_EQ(violations, std::vector<std::string>{});
}

// The AT25F512B identifies as the same row, takes its 0x62 chip erase and, with its 256-byte
// pages, the row's 128-byte page commands: the row updates it without misuse.
TEST_F(MendedRows, TheAt25f512bTakesTheRowsEraseAnd128BytePages) {
    std::vector<std::string> violations;
    const uint16_t pageSize = flash::TraitsOf(flash::g_FlashParts[kAt25f512]).usPageSize;
    ASSERT_EQ(pageSize, 128);
    const UpdateOutcome run =
        Run("AT25F512B", flash::g_FlashParts[kAt25f512], pageSize, &violations);
    EXPECT_EQ(run.result, kResultSuccess);
    EXPECT_EQ(run.lines, Lines{});
    EXPECT_TRUE(run.flashIsImage);
    EXPECT_EQ(violations, std::vector<std::string>{});
}

}  // namespace
