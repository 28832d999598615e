// The updater's part table and controller identifiers against the emulator's own copies, which
// were written from the datasheets: every difference between the two is listed here, so that a
// change on either side that opens a new one (or closes a listed one) fails.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "emulator/chip_catalogue.h"
#include "emulator/member_ids.h"
#include "flash/flash_part_table.h"
#include "pci/controller_ids.h"

namespace {

using flash::g_FlashParts;
using vlmio::emu::ChipDatasheet;

constexpr uint8_t kIdModeWithAddress = 3;
constexpr uint8_t kWildcard = 0xFF;

// The first three bytes a chip answers to its identification command.
std::array<uint8_t, 3> FirstThree(const vlmio::emu::IdAnswer& id) {
    std::array<uint8_t, 3> b{};
    for (uint32_t k = 0; k < b.size(); ++k) {
        if (k < id.length) {
            b[k] = id.bytes[k];
        } else {
            b[k] = id.repeats ? id.bytes[k % id.length] : kWildcard;  // the line idles high
        }
    }
    return b;
}

// How a table row and a chip it stands for differ, one "ROW FIELD: what" line per difference.
std::vector<std::string> Differences(std::size_t row, const flash::FlashPartInfo& part,
                                     const ChipDatasheet& chip) {
    std::vector<std::string> out;
    auto differ = [&](const std::string& field, const std::string& what) {
        out.push_back(std::to_string(row) + " " + chip.name + " " + field + ": " + what);
    };
    const flash::FlashPartTraits traits = flash::TraitsOf(part);

    const std::string name = part.szPartName;
    if (name != chip.name && (chip.alias == nullptr || name != chip.alias)) {
        differ("name", "the table spells it " + name);
    }
    const vlmio::emu::IdAnswer* id = chip.Id(part.ucIdOpcode);
    if (id == nullptr) {
        differ("identification", "no answer to the table's command");
    } else {
        const std::array<uint8_t, 3> b = FirstThree(*id);
        const bool withAddress = part.ucIdMode == kIdModeWithAddress;
        if ((id->leadBytes != 0) != withAddress || !flash::MatchesId(part, b[0], b[1], b[2])) {
            differ("identification", "the chip's answer does not match the table's bytes");
        }
    }
    // The erase: a whole-chip erase, or the block erase the part's traits erase block by block.
    const vlmio::emu::EraseCommand* erase = chip.Erase(part.ucChipEraseOpcode);
    const uint32_t block = traits.ulEraseBlockBytes;
    if (erase == nullptr) {
        differ("chip erase", "the chip has no such command");
    } else if (erase->bytes != (block == 0 ? vlmio::emu::kWholeChip : block)) {
        differ("chip erase", "the command erases another extent than the updater expects");
    }
    const vlmio::emu::EraseCommand* sector = chip.Erase(part.ucSectorEraseOpcode);
    if (sector == nullptr || sector->bytes == vlmio::emu::kWholeChip) {
        differ("sector erase", "the chip has no such block erase");
    }
    if (traits.bAaiProgram != chip.aai) differ("programming", "auto-increment or not");
    if (!chip.aai && (traits.usPageSize > chip.pageBytes || chip.pageBytes % traits.usPageSize)) {
        differ("page", "the updater's commands would cross the chip's pages");
    }
    using vlmio::emu::StatusWrite;
    const bool takesEwsr = chip.statusWrite == StatusWrite::kAfterWriteEnableOrEwsr ||
                           chip.statusWrite == StatusWrite::kAfterEwsr;
    if (chip.statusWrite == StatusWrite::kNone) {
        differ("status write", "the chip has none; the unprotect's status write is rejected");
    } else if (traits.bEnableWriteStatus && !takesEwsr) {
        differ("status write", "the chip does not take 0x50");
    } else if (!traits.bEnableWriteStatus && chip.statusWrite == StatusWrite::kAfterEwsr) {
        differ("status write",
               "the chip takes it only after 0x50, which the updater does not send");
    }
    if (flash::FlashSizeBytes(part) != chip.sizeBytes) {
        differ("size", "the updater's size for the part is not the chip's size");
    }
    return out;
}

TEST(PartTableAgainstCatalogue, ControllerIdentifiersAgree) {
    ASSERT_EQ(kControllerIdCount, vlmio::emu::kMemberDeviceIds.size());
    for (std::size_t member = 1; member <= vlmio::emu::kMemberDeviceIds.size(); ++member) {
        SCOPED_TRACE(member);
        EXPECT_EQ(ControllerIdKey(g_ControllerIds[member - 1]), vlmio::emu::MemberIdWord(member));
    }
}

// Every row of the updater's table against the chip the catalogue models for it (and, for the
// AT25F512A(B) row, the B variant too). The differences below are the intended ones: the chips
// behave as their datasheets say, and the tests of the updater show what it then does.
TEST(PartTableAgainstCatalogue, DifferencesAreTheListedOnes) {
    const std::set<std::string> intended = {
        // The M45PE10 has no status register to write: the unprotect before each erase and each
        // section sends a status write that the chip rejects, harmlessly.
        "27 M45PE10 status write: the chip has none; the unprotect's status write is rejected",
        // The AT25F512B answers the AT25F512A's identification and takes the row's 0x62 chip
        // erase and its 0x52 sector erase; its 256-byte pages take the row's 128-byte commands.
        "32 AT25F512B name: the table spells it AT25F512A(B)",
    };
    std::set<std::string> found;
    for (std::size_t row = 0; row < g_FlashParts.size(); ++row) {
        const ChipDatasheet* chip = vlmio::emu::ChipOfTableRow(row);
        ASSERT_NE(chip, nullptr) << row;
        for (const std::string& d : Differences(row, g_FlashParts[row], *chip)) found.insert(d);
    }
    const std::size_t kAt25f512Row = 32;
    const ChipDatasheet* b = vlmio::emu::FindChip("AT25F512B");
    ASSERT_NE(b, nullptr);
    for (const std::string& d : Differences(kAt25f512Row, g_FlashParts[kAt25f512Row], *b)) {
        found.insert(d);
    }
    EXPECT_EQ(found, intended);
}

// part=N keeps naming the Nth row of the updater's table, and every chip of the catalogue is
// found by its name.
TEST(PartTableAgainstCatalogue, RowNumbersAndNamesResolve) {
    EXPECT_EQ(vlmio::emu::ChipOfTableRow(vlmio::emu::kTableRowCount), nullptr);
    std::set<std::string> names;
    for (const ChipDatasheet* chip : vlmio::emu::Catalogue()) {
        EXPECT_TRUE(names.insert(chip->name).second) << chip->name;
        EXPECT_EQ(vlmio::emu::FindChip(chip->name), chip);
    }
    EXPECT_EQ(names.size(), vlmio::emu::kTableRowCount + 1);  // and the AT25F512B
    EXPECT_STREQ(vlmio::emu::FindChip("AT25F512A(B)")->name, "AT25F512A");
    EXPECT_STREQ(vlmio::emu::ChipOfTableRow(32)->name, "AT25F512A");
    EXPECT_EQ(vlmio::emu::FindChip("AT25F512"), nullptr);
}

}  // namespace
