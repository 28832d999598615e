// On real hardware a configuration access is the unit of cost. A whole update on the emulated
// PC, with instant timing (every wait is answered at its first read, every status poll at its
// first status read), makes exactly the accesses that the bridge protocol's procedures imply:
// counted here by kind (control register read and written, data register read and written)
// and compared with the count worked out below, procedure by procedure, from the protocol.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "emulator/emulated_pc.h"
#include "flash/flash_part_table.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "tests/support/emulated_rig.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace {

constexpr uint32_t k64K = 0x10000;
constexpr uint32_t k128K = 0x20000;
constexpr uint8_t kControlOffset = 0xF4;
constexpr uint8_t kDataOffset = 0xF0;

// Register accesses by kind.
struct Tally {
    uint64_t controlReads = 0;
    uint64_t controlWrites = 0;
    uint64_t dataReads = 0;
    uint64_t dataWrites = 0;

    Tally operator+(const Tally& o) const {
        return {controlReads + o.controlReads, controlWrites + o.controlWrites,
                dataReads + o.dataReads, dataWrites + o.dataWrites};
    }
    Tally operator*(uint64_t n) const {
        return {controlReads * n, controlWrites * n, dataReads * n, dataWrites * n};
    }
    bool operator==(const Tally&) const = default;
    uint64_t Total() const { return controlReads + controlWrites + dataReads + dataWrites; }
};

std::ostream& operator<<(std::ostream& out, const Tally& t) {
    return out << t.Total() << " (control read " << t.controlReads << ", written "
               << t.controlWrites << "; data read " << t.dataReads << ", written " << t.dataWrites
               << ")";
}

// The protocol's procedures, as counts.

constexpr Tally kWait{1, 0, 0, 0};     // one read of the control register, answered ready
constexpr Tally kControl{0, 1, 0, 0};  // a transfer start or the end of a command
constexpr Tally kDataIn{0, 0, 1, 0};
constexpr Tally kDataOut{0, 0, 0, 1};
constexpr Tally kEnd = kControl;

// A transfer sending the data register's low bytes: wait, data, start, wait.
const Tally kSend = kWait + kDataOut + kControl + kWait;
// A transfer receiving into the data register: wait, start, wait, data.
const Tally kReceive = kWait + kControl + kWait + kDataIn;
const Tally kWriteData = kSend;  // the primitive: the same four accesses
const Tally kReadData = kReceive;

// One status read inside the polls: opcode out (wait, data, start, wait), a second wait, the
// status byte in (start, wait, data), end of command.
const Tally kStatusRead =
    kWait + kDataOut + kControl + kWait + kWait + kControl + kWait + kDataIn + kEnd;
// The polls' first status read (write data, read data, end); instant: the only one.
const Tally kFirstStatus = kWriteData + kReadData + kEnd;
const Tally kWaitWhileBusy = kFirstStatus;
const Tally kWaitWriteEnable = kFirstStatus;

const Tally kWriteDisable = kWriteData + kEnd;
const Tally kWriteStatusZero = kWait + kDataOut + kControl + kWait + kEnd;
// Write enable as a command of its own: opcode out, end.
const Tally kWriteEnable = kWriteData + kEnd;

// The status register made writable (by its own command, or by write enable and a wait for the
// latch), cleared, and waited for.
Tally Unprotect(const flash::FlashPartTraits& traits) {
    const Tally enable =
        traits.bEnableWriteStatus ? kWriteData + kEnd : kWriteData + kEnd + kWaitWriteEnable;
    return enable + kWriteStatusZero + kWaitWhileBusy;
}

Tally ChipErase(const flash::FlashPartTraits& traits) {
    return Unprotect(traits) + kWriteEnable + kWaitWriteEnable + (kWriteData + kEnd) +
           kWaitWhileBusy + (kWriteData + kEnd);
}

// Command and address out, four bytes a transfer in, a remainder of 2-3 bytes as one transfer
// and of 1 byte by the read primitive, end.
Tally ReadMemory(uint32_t count) {
    const uint32_t remainder = count % 4;
    Tally t = kSend + kReceive * (count / 4);
    if (remainder == 1) t = t + kReadData;
    if (remainder > 1) t = t + kReceive;
    return t + kEnd;
}

Tally BlankCheck() {
    return ReadMemory(256) * (0x10000 / 256);
}

// Command and address out, four data bytes a transfer, a remainder likewise, end.
Tally PageProgram(uint32_t count) {
    const uint32_t remainder = count % 4;
    Tally t = kSend + kSend * (count / 4);
    if (remainder == 1) t = t + kWriteData;
    if (remainder > 1) t = t + kSend;
    return t + kEnd;
}

// Command, address and first byte, end; then for every further byte a busy poll (one status
// read) and the opcode with the byte, end; a last busy poll and end.
Tally AaiProgram(uint32_t count) {
    const Tally first = kSend + kWriteData + kEnd;
    const Tally further = kStatusRead + kSend + kEnd;
    return first + further * (count - 1) + kStatusRead + kEnd;
}

Tally WriteSection(const flash::FlashPartTraits& traits, uint32_t length, uint32_t pageSize) {
    if (traits.bAaiProgram) {
        return Unprotect(traits) + kWriteEnable + kWaitWriteEnable + AaiProgram(length) +
               kWriteDisable;
    }
    Tally t = Unprotect(traits);
    for (uint32_t done = 0; done < length; done += pageSize) {
        const uint32_t page = std::min(pageSize, length - done);
        t = t + kWriteEnable + kWaitWriteEnable + PageProgram(page) + kWaitWhileBusy;
    }
    return t + kWriteDisable;
}

// Eight bytes a read, the last chunk holding what remains.
Tally CompareSection(uint32_t length) {
    Tally t;
    for (uint32_t done = 0; done < length; done += 8)
        t = t + ReadMemory(std::min(8u, length - done));
    return t;
}

// Erase, blank check, each section written and compared, then every section but the last
// compared once more (a later section wrapping onto an earlier one is caught so).
Tally UpdateFirmware(const flash::FlashPartInfo& part, uint32_t imageLength, uint32_t pageSize) {
    const flash::FlashPartTraits traits = flash::TraitsOf(part);
    const uint32_t sectionSize = part.ucSectionUnits * flash::kSectionUnitBytes;
    const uint32_t sectionLength = std::min(sectionSize, imageLength);
    const uint32_t sections = (imageLength + sectionSize - 1) / sectionSize;
    return ChipErase(traits) + BlankCheck() +
           (WriteSection(traits, sectionLength, pageSize) + CompareSection(sectionLength)) *
               sections +
           CompareSection(sectionLength) * (sections - 1);
}

// The update on the emulated PC.

struct Case {
    const char* tag;  // the family in the test's name
    const char* family;
    const char* part;
    const char* size;  // size= of the chip, or empty for the part's own
    uint32_t imageLength;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.family << ", " << c.part << ", image " << c.imageLength / 1024 << " KiB";
}

class AccessCount : public ::testing::TestWithParam<Case> {};

TEST_P(AccessCount, IsExactlyWhatTheProtocolImplies) {
    const Case& c = GetParam();
    std::string machine = std::string("controller 01:00.0 part=") + c.part + " timing=instant";
    if (*c.size != '\0') machine += std::string(" size=") + c.size;
    testsupport::EngineRig rig(machine + "\n");
    ASSERT_TRUE(rig.Ok()) << rig.machine.Error();
    ASSERT_EQ(rig.engine->ScanControllers(), kResultSuccess);
    const flash::FlashPartInfo part = rig.spi->QueryFlashPart(rig.records[0]);
    ASSERT_TRUE(flash::IsIdentified(part));
    vlmio::emu::EmulatedPc& pc = *rig.machine.pc;

    Tally made;
    bool other = false;
    pc.SetAccessObserver([&](const vlmio::emu::RegisterAccess& a) {
        if (a.offset == kControlOffset && a.width == 1) {
            ++(a.write ? made.controlWrites : made.controlReads);
        } else if (a.offset == kDataOffset && a.width == 4) {
            ++(a.write ? made.dataWrites : made.dataReads);
        } else {
            other = true;
        }
    });
    std::vector<uint8_t> image(kImageBufferBytes, 0);
    for (uint32_t i = 0; i < c.imageLength; ++i) image[i] = static_cast<uint8_t>(i * 37 + 11);
    ASSERT_EQ(rig.engine->Update_Firmware(0, rig.records[0], part, image.data(), c.imageLength),
              kResultSuccess);
    pc.SetAccessObserver(nullptr);

    const Tally implied = UpdateFirmware(part, c.imageLength, rig.records[0].usPageSize);
    EXPECT_FALSE(other) << "an access to another register";
    EXPECT_LE(made.Total(), implied.Total());
    EXPECT_EQ(made, implied) << "made " << made << ", the protocol implies " << implied;
    RecordProperty("accesses", std::to_string(made.Total()));
    std::printf("%-22s %-16s %3u KiB: %9llu accesses, protocol %9llu\n", c.family, c.part,
                c.imageLength / 1024, static_cast<unsigned long long>(made.Total()),
                static_cast<unsigned long long>(implied.Total()));
}

// One part of each programming family, with each image its flash holds.
// Names such as Aai_128KiB.
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(info.param.tag) + "_" + std::to_string(info.param.imageLength / 1024) +
           "KiB";
}

INSTANTIATE_TEST_SUITE_P(
    Families, AccessCount,
    ::testing::Values(Case{"Pages256", "256-byte pages", "MX25L100(2)5C/1006E", "", k64K},
                      Case{"Pages256", "256-byte pages", "MX25L100(2)5C/1006E", "", k128K},
                      Case{"Pages32", "32-byte pages", "MX25L1021E", "", k64K},
                      Case{"Pages32", "32-byte pages", "MX25L1021E", "", k128K},
                      Case{"Aai", "byte by byte (AAI)", "SST25VF010A", "", k64K},
                      Case{"Aai", "byte by byte (AAI)", "SST25VF010A", "", k128K},
                      Case{"At25f", "AT25F-style", "AT25F512A(B)", "", k64K}),
    CaseName);

}  // namespace
