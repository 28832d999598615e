// Self-checks of the flash part table's consistency.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <set>
#include <string>

#include "emulator/chip_catalogue.h"
#include "flash/flash_part_table.h"

namespace {

using flash::g_FlashParts;

TEST(FlashPartTable, EveryRowIsWellFormed) {
    for (std::size_t i = 0; i < g_FlashParts.size(); ++i) {
        const flash::FlashPartInfo& row = g_FlashParts[i];
        SCOPED_TRACE("row " + std::to_string(i) + " " + row.szPartName);
        EXPECT_NE(row.ucIdOpcode, flash::kUnidentifiedOpcode);
        EXPECT_TRUE(row.ucIdMode == 0 || row.ucIdMode == 3);
        EXPECT_TRUE(row.ucSectionUnits == 1 || row.ucSectionUnits == 8 || row.ucSectionUnits == 16);
        EXPECT_EQ(row.ucReserved, 0x16);
        EXPECT_GT(std::strlen(row.szVendor), 0u);
        EXPECT_GT(std::strlen(row.szPartName), 0u);
        // Mode 3 goes with the commands that take an address; mode 0 with the others.
        EXPECT_EQ(row.ucIdMode == 3, row.ucIdOpcode == 0x90 || row.ucIdOpcode == 0xAB);
    }
}

TEST(FlashPartTable, NoRowIsShadowedByAnEarlierOne) {
    // A row whose command and bytes an earlier row already matches could never be found.
    for (std::size_t i = 0; i < g_FlashParts.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const flash::FlashPartInfo& a = g_FlashParts[j];
            const flash::FlashPartInfo& b = g_FlashParts[i];
            bool sameCommand = a.ucIdOpcode == b.ucIdOpcode && a.ucIdMode == b.ucIdMode;
            uint8_t cap = b.ucCapacityId == flash::kAnyCapacityId ? 0x00 : b.ucCapacityId;
            EXPECT_FALSE(sameCommand && flash::MatchesId(a, b.ucManufacturerId, b.ucDeviceId, cap))
                << b.szPartName << " is shadowed by " << a.szPartName;
        }
    }
}

TEST(FlashPartTable, NamesAreUniqueAndFoundByName) {
    std::set<std::string> names;
    for (std::size_t i = 0; i < g_FlashParts.size(); ++i) {
        EXPECT_TRUE(names.insert(g_FlashParts[i].szPartName).second);
        EXPECT_EQ(flash::FindFlashPartByName(g_FlashParts[i].szPartName), static_cast<int>(i));
    }
    EXPECT_EQ(flash::FindFlashPartByName("AT25F512A"), -1);
}

// Every row of the table, field by field, as the system's description of the part table gives
// it: a changed byte or name in the table fails here.
TEST(FlashPartTable, EveryRowAsDescribed) {
    struct Row {
        const char* vendor;
        const char* part;
        uint8_t idOpcode, idMode, mfr, dev, cap, chipErase, sectionUnits;
        uint16_t capacity4K;
        uint8_t sectorErase;
    };
    const Row rows[] = {
        {"MXIC", "MX25L(V)512(C)", 0x9F, 0, 0xC2, 0x20, 0x10, 0x60, 1, 16, 0x20},       // 0
        {"MXIC", "MX25L100(2)5C/1006E", 0x9F, 0, 0xC2, 0x20, 0x11, 0x60, 1, 32, 0x20},  // 1
        {"MXIC", "MX25L5121E", 0x9F, 0, 0xC2, 0x22, 0x10, 0x60, 1, 16, 0x20},           // 2
        {"MXIC", "MX25L1021E", 0x9F, 0, 0xC2, 0x22, 0x11, 0x60, 1, 32, 0x20},           // 3
        {"MXIC", "MX25L2006E", 0x9F, 0, 0xC2, 0x20, 0x12, 0x60, 1, 64, 0x20},           // 4
        {"MXIC", "MX25x4006E", 0x9F, 0, 0xC2, 0x20, 0x13, 0x60, 1, 128, 0x20},          // 5
        {"MXIC", "MX25U4035", 0x9F, 0, 0xC2, 0x25, 0x33, 0x60, 1, 128, 0x20},           // 6
        {"MXIC", "MX25U8035", 0x9F, 0, 0xC2, 0x25, 0x34, 0x60, 1, 256, 0x20},           // 7
        {"WinBond", "W25Q20BW", 0x9F, 0, 0xEF, 0x50, 0x12, 0x60, 1, 64, 0x20},          // 8
        {"WinBond", "W25Q40BW", 0x9F, 0, 0xEF, 0x50, 0x13, 0x60, 1, 128, 0x20},         // 9
        {"WinBond", "W25X05CL", 0x9F, 0, 0xEF, 0x30, 0x10, 0x60, 1, 16, 0x20},          // 10
        {"WinBond", "W25X10B(C)L(V)", 0x9F, 0, 0xEF, 0x30, 0x11, 0x60, 1, 32, 0x20},    // 11
        {"WinBond", "W25X20B(C)L(V)", 0x9F, 0, 0xEF, 0x30, 0x12, 0x60, 1, 64, 0x20},    // 12
        {"WinBond", "W25X40B(C)L(V)", 0x9F, 0, 0xEF, 0x30, 0x13, 0x60, 1, 128, 0x20},   // 13
        {"WinBond", "W25Q40BL(V)", 0x9F, 0, 0xEF, 0x40, 0x13, 0x60, 1, 128, 0x20},      // 14
        {"Sanyo", "LE25FU206A", 0x9F, 0, 0x62, 0x06, 0x12, 0xC7, 1, 64, 0xD8},          // 15
        {"Sanyo", "LE25FU406B", 0x9F, 0, 0x62, 0x1E, 0x62, 0xC7, 1, 128, 0xD8},         // 16
        {"ESMT", "F25L01PA", 0x9F, 0, 0x8C, 0x30, 0x11, 0x60, 1, 128, 0x20},            // 17
        {"ESMT", "F25L05PA", 0x9F, 0, 0x8C, 0x30, 0x10, 0x60, 1, 128, 0x20},            // 18
        {"Giga Device", "GD25Q40", 0x9F, 0, 0xC8, 0x40, 0x13, 0x60, 1, 128, 0x20},      // 19
        {"Giga Device", "GD25Q20", 0x9F, 0, 0xC8, 0x40, 0x12, 0x60, 1, 64, 0x20},       // 20
        {"Giga Device", "GD25Q10", 0x9F, 0, 0xC8, 0x40, 0x11, 0x60, 1, 32, 0x20},       // 21
        {"Giga Device", "GD25Q512", 0x9F, 0, 0xC8, 0x40, 0x10, 0x60, 1, 16, 0x20},      // 22
        {"NUMONYX", "M25P05A", 0x9F, 0, 0x20, 0x20, 0x10, 0xC7, 8, 16, 0xD8},           // 23
        {"NUMONYX", "M25P10A", 0x9F, 0, 0x20, 0x20, 0x11, 0xC7, 8, 32, 0xD8},           // 24
        {"NUMONYX", "M25PE10", 0x9F, 0, 0x20, 0x80, 0x11, 0xC7, 16, 32, 0xD8},          // 25
        {"NUMONYX", "M25PE20", 0x9F, 0, 0x20, 0x80, 0x12, 0xC7, 16, 64, 0xD8},          // 26
        {"NUMONYX", "M45PE10", 0x9F, 0, 0x20, 0x40, 0x11, 0xD8, 16, 32, 0xD8},          // 27
        {"EON", "EN25xF05", 0x9F, 0, 0x1C, 0x31, 0x10, 0xC7, 1, 16, 0x20},              // 28
        {"EON", "EN25(L)F10", 0x9F, 0, 0x1C, 0x31, 0x11, 0xC7, 1, 32, 0x20},            // 29
        {"EON", "EN25S10", 0x9F, 0, 0x1C, 0x38, 0x11, 0xC7, 1, 32, 0x20},               // 30
        {"EON", "EN25F40", 0x9F, 0, 0x1C, 0x31, 0x13, 0xC7, 1, 128, 0x20},              // 31
        {"ATMEL", "AT25F512A(B)", 0x15, 0, 0x1F, 0x65, 0xFF, 0x62, 8, 16, 0x52},        // 32
        {"ATMEL", "AT25FS010", 0x15, 0, 0x1F, 0x66, 0xFF, 0x60, 1, 32, 0x20},           // 33
        {"PFLASH", "PM25LV512A", 0xAB, 3, 0x9D, 0x7B, 0x7F, 0xC7, 1, 16, 0xD7},         // 34
        {"PFLASH", "PM25LV010A", 0xAB, 3, 0x9D, 0x7C, 0x7F, 0xC7, 1, 32, 0xD7},         // 35
        {"PFLASH", "PM25LD512C", 0x90, 3, 0x9D, 0x05, 0x7F, 0x60, 1, 16, 0xD7},         // 36
        {"PFLASH", "PM25LD010x", 0x90, 3, 0x9D, 0x10, 0x7F, 0x60, 1, 32, 0xD7},         // 37
        {"PFLASH", "PM25L(W)D020C", 0x90, 3, 0x9D, 0x11, 0x7F, 0x60, 1, 64, 0xD7},      // 38
        {"PFLASH", "Pm25WD040", 0x90, 3, 0x9D, 0x12, 0x7F, 0x60, 1, 128, 0xD7},         // 39
        {"PFLASH", "Pm25LD040", 0x90, 3, 0x9D, 0x7E, 0x7F, 0x60, 1, 128, 0xD7},         // 40
        {"AMIC", "A25L512", 0x9F, 0, 0x37, 0x30, 0x10, 0xC7, 1, 16, 0x20},              // 41
        {"AMIC", "A25L010", 0x9F, 0, 0x37, 0x30, 0x11, 0xC7, 1, 32, 0x20},              // 42
        {"AMIC", "A25L020", 0x9F, 0, 0x37, 0x30, 0x12, 0xC7, 1, 64, 0x20},              // 43
        {"AMIC", "A25L040", 0x9F, 0, 0x37, 0x30, 0x13, 0xC7, 1, 128, 0x20},             // 44
        {"SST", "SST25VF512X", 0x90, 3, 0xBF, 0x48, 0xBF, 0x60, 1, 128, 0x20},          // 45
        {"SST", "SST25VF010A", 0x90, 3, 0xBF, 0x49, 0xBF, 0x60, 1, 32, 0x20},           // 46
    };
    ASSERT_EQ(std::size(rows), g_FlashParts.size());
    for (std::size_t i = 0; i < g_FlashParts.size(); ++i) {
        const Row& e = rows[i];
        const flash::FlashPartInfo& r = g_FlashParts[i];
        SCOPED_TRACE("row " + std::to_string(i) + " " + e.part);
        EXPECT_STREQ(r.szVendor, e.vendor);
        EXPECT_STREQ(r.szPartName, e.part);
        EXPECT_EQ(r.ucIdOpcode, e.idOpcode);
        EXPECT_EQ(r.ucIdMode, e.idMode);
        EXPECT_EQ(r.ucManufacturerId, e.mfr);
        EXPECT_EQ(r.ucDeviceId, e.dev);
        EXPECT_EQ(r.ucCapacityId, e.cap);
        EXPECT_EQ(r.ucChipEraseOpcode, e.chipErase);
        EXPECT_EQ(r.ucSectionUnits, e.sectionUnits);
        EXPECT_EQ(r.usCapacity4K, e.capacity4K);
        EXPECT_EQ(r.ucSectorEraseOpcode, e.sectorErase);
        EXPECT_EQ(r.ucReserved, 0x16);
    }
}

TEST(FlashPartTable, TraitsAndIdentification) {
    // The exceptions to 256-byte pages programmed with the common commands, by row.
    struct Exception {
        std::size_t row;
        bool aai;
        bool enableWriteStatus;
        uint16_t pageSize;
        uint32_t eraseBlock;
    };
    const Exception exceptions[] = {
        {2, false, false, 32, 0},          // MX25L5121E
        {3, false, false, 32, 0},          // MX25L1021E
        {27, false, false, 256, 0x10000},  // M45PE10: 0xD8 erases a 64 KiB sector
        {32, false, false, 128, 0},        // AT25F512A(B)
        {45, true, true, 256, 0},          // SST25VF512X
        {46, true, true, 256, 0},          // SST25VF010A
    };
    for (std::size_t i = 0; i < g_FlashParts.size(); ++i) {
        Exception expected{i, false, false, 256, 0};
        for (const Exception& e : exceptions) {
            if (e.row == i) expected = e;
        }
        const flash::FlashPartTraits traits = flash::TraitsOf(g_FlashParts[i]);
        SCOPED_TRACE(g_FlashParts[i].szPartName);
        EXPECT_EQ(traits.bAaiProgram, expected.aai);
        EXPECT_EQ(traits.bEnableWriteStatus, expected.enableWriteStatus);
        EXPECT_EQ(traits.usPageSize, expected.pageSize);
        EXPECT_EQ(traits.ulEraseBlockBytes, expected.eraseBlock);
    }
    // Traits follow the identification bytes, not the row's place: a part answering like the
    // small-page parts but with another capacity byte keeps the common page.
    flash::FlashPartInfo sibling = g_FlashParts[3];
    sibling.ucCapacityId = 0x12;
    EXPECT_EQ(flash::TraitsOf(sibling).usPageSize, 256);
    flash::FlashPartInfo otherDevice = g_FlashParts[45];
    otherDevice.ucDeviceId = 0x8E;
    EXPECT_TRUE(flash::TraitsOf(otherDevice).bAaiProgram);
    flash::FlashPartInfo none = flash::UnidentifiedFlashPart();
    EXPECT_FALSE(flash::IsIdentified(none));
    const auto* bytes = reinterpret_cast<const uint8_t*>(&none);
    for (std::size_t i = 0; i < sizeof none; ++i) ASSERT_EQ(bytes[i], 0xFF);
    EXPECT_TRUE(flash::MatchesId(g_FlashParts[32], 0x1F, 0x65, 0x00));
    EXPECT_TRUE(flash::MatchesId(g_FlashParts[32], 0x1F, 0x65, 0xAB));
    EXPECT_FALSE(flash::MatchesId(g_FlashParts[32], 0x1F, 0x66, 0xAB));
    EXPECT_FALSE(flash::MatchesId(g_FlashParts[0], 0xC2, 0x20, 0x11));
}

TEST(FlashPartTable, SizeIsTheDensityInThePartsName) {
    // The emulated chips take their sizes from the datasheets, not from the table: every
    // part's size must agree with them, also where the capacity column is wrong.
    for (std::size_t i = 0; i < g_FlashParts.size(); ++i) {
        SCOPED_TRACE(g_FlashParts[i].szPartName);
        const vlmio::emu::ChipDatasheet* chip = vlmio::emu::ChipOfTableRow(i);
        ASSERT_NE(chip, nullptr);
        EXPECT_EQ(flash::FlashSizeBytes(g_FlashParts[i]), chip->sizeBytes);
        const bool columnWrong = i == 17 || i == 18 || i == 45;
        EXPECT_EQ(flash::FlashSizeBytes(g_FlashParts[i]) != g_FlashParts[i].usCapacity4K * 4096u,
                  columnWrong);
    }
    // The size trait leaves the SST25VF512X's way of programming as it was.
    EXPECT_TRUE(flash::TraitsOf(g_FlashParts[45]).bAaiProgram);
    EXPECT_EQ(flash::FlashSizeBytes(flash::UnidentifiedFlashPart()), 0u);
}

}  // namespace
