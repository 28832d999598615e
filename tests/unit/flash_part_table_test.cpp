// Self-checks of the flash part table's consistency.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>

#include "emulator/flash_chip_model.h"
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

TEST(FlashPartTable, RowsKeepTheirPlaces) {
    struct Expect {
        std::size_t row;
        const char* vendor;
        const char* part;
        uint8_t idOpcode, mfr, dev, cap, chipErase, sectionUnits;
        uint16_t capacity4K;
    };
    const Expect rows[] = {
        {0, "MXIC", "MX25L(V)512(C)", 0x9F, 0xC2, 0x20, 0x10, 0x60, 1, 16},
        {2, "MXIC", "MX25L5121E", 0x9F, 0xC2, 0x22, 0x10, 0x60, 1, 16},
        {16, "Sanyo", "LE25FU406B", 0x9F, 0x62, 0x1E, 0x62, 0xC7, 1, 128},
        {19, "Giga Device", "GD25Q40", 0x9F, 0xC8, 0x40, 0x13, 0x60, 1, 128},
        {25, "NUMONYX", "M25PE10", 0x9F, 0x20, 0x80, 0x11, 0xC7, 16, 32},
        {27, "NUMONYX", "M45PE10", 0x9F, 0x20, 0x40, 0x11, 0xD8, 16, 32},
        {32, "ATMEL", "AT25F512A(B)", 0x15, 0x1F, 0x65, 0xFF, 0x62, 8, 16},
        {34, "PFLASH", "PM25LV512A", 0xAB, 0x9D, 0x7B, 0x7F, 0xC7, 1, 16},
        {40, "PFLASH", "Pm25LD040", 0x90, 0x9D, 0x7E, 0x7F, 0x60, 1, 128},
        {45, "SST", "SST25VF512X", 0x90, 0xBF, 0x48, 0xBF, 0x60, 1, 128},
        {46, "SST", "SST25VF010A", 0x90, 0xBF, 0x49, 0xBF, 0x60, 1, 32},
    };
    for (const Expect& e : rows) {
        const flash::FlashPartInfo& r = g_FlashParts[e.row];
        SCOPED_TRACE(e.part);
        EXPECT_STREQ(r.szVendor, e.vendor);
        EXPECT_STREQ(r.szPartName, e.part);
        EXPECT_EQ(std::make_tuple(r.ucIdOpcode, r.ucManufacturerId, r.ucDeviceId, r.ucCapacityId,
                                  r.ucChipEraseOpcode, r.ucSectionUnits),
                  std::make_tuple(e.idOpcode, e.mfr, e.dev, e.cap, e.chipErase, e.sectionUnits));
        EXPECT_EQ(r.usCapacity4K, e.capacity4K);
    }
}

TEST(FlashPartTable, TraitsAndIdentification) {
    // The exceptions to 256-byte pages programmed with the common commands, by row.
    struct Exception {
        std::size_t row;
        bool aai;
        bool enableWriteStatus;
        uint16_t pageSize;
    };
    const Exception exceptions[] = {
        {2, false, false, 32},  // MX25L5121E
        {3, false, false, 32},  // MX25L1021E
        {45, true, true, 256},  // SST25VF512X
        {46, true, true, 256},  // SST25VF010A
    };
    for (std::size_t i = 0; i < g_FlashParts.size(); ++i) {
        Exception expected{i, false, false, 256};
        for (const Exception& e : exceptions) {
            if (e.row == i) expected = e;
        }
        const flash::FlashPartTraits traits = flash::TraitsOf(g_FlashParts[i]);
        SCOPED_TRACE(g_FlashParts[i].szPartName);
        EXPECT_EQ(traits.bAaiProgram, expected.aai);
        EXPECT_EQ(traits.bEnableWriteStatus, expected.enableWriteStatus);
        EXPECT_EQ(traits.usPageSize, expected.pageSize);
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
    // The emulated chips take their sizes from the parts' names (datasheets), not from the
    // table: every part's size must agree with them, also where the capacity column is wrong.
    const auto& models = vlmio::emu::ChipModels();
    for (std::size_t i = 0; i < g_FlashParts.size(); ++i) {
        SCOPED_TRACE(g_FlashParts[i].szPartName);
        EXPECT_EQ(flash::FlashSizeBytes(g_FlashParts[i]), models[i].sizeBytes);
        const bool columnWrong = i == 17 || i == 18 || i == 45;
        EXPECT_EQ(flash::FlashSizeBytes(g_FlashParts[i]) != g_FlashParts[i].usCapacity4K * 4096u,
                  columnWrong);
    }
    // The size trait leaves the SST25VF512X's way of programming as it was.
    EXPECT_TRUE(flash::TraitsOf(g_FlashParts[45]).bAaiProgram);
    EXPECT_EQ(flash::FlashSizeBytes(flash::UnidentifiedFlashPart()), 0u);
}

}  // namespace
