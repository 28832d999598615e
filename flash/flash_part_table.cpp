#include "flash/flash_part_table.h"

#include <cstring>

namespace flash {
namespace {

constexpr FlashPartInfo Part(const char* vendor, const char* name, uint8_t idOpcode, uint8_t idMode,
                             uint8_t mfr, uint8_t device, uint8_t capacityId, uint8_t chipErase,
                             uint8_t sectionUnits, uint16_t capacity4K, uint8_t sectorErase) {
    FlashPartInfo row{};
    row.ucIdOpcode = idOpcode;
    row.ucIdMode = idMode;
    row.ucChipEraseOpcode = chipErase;
    row.ucSectionUnits = sectionUnits;
    row.usCapacity4K = capacity4K;
    row.ucSectorEraseOpcode = sectorErase;
    row.ucReserved = kPartReservedByte;
    row.ucManufacturerId = mfr;
    row.ucDeviceId = device;
    row.ucCapacityId = capacityId;
    for (std::size_t i = 0; vendor[i] != '\0'; ++i) row.szVendor[i] = vendor[i];
    for (std::size_t i = 0; name[i] != '\0'; ++i) row.szPartName[i] = name[i];
    return row;
}

// One table per flash maker, in the order the search tries them.
// Columns: vendor, part, id command, id mode, id bytes (3), chip erase, section units,
// capacity in 4 KiB, sector erase.
constexpr FlashPartInfo kMxic[] = {
    Part("MXIC", "MX25L(V)512(C)", 0x9F, 0, 0xC2, 0x20, 0x10, 0x60, 1, 16, 0x20),
    Part("MXIC", "MX25L100(2)5C/1006E", 0x9F, 0, 0xC2, 0x20, 0x11, 0x60, 1, 32, 0x20),
    Part("MXIC", "MX25L5121E", 0x9F, 0, 0xC2, 0x22, 0x10, 0x60, 1, 16, 0x20),
    Part("MXIC", "MX25L1021E", 0x9F, 0, 0xC2, 0x22, 0x11, 0x60, 1, 32, 0x20),
    Part("MXIC", "MX25L2006E", 0x9F, 0, 0xC2, 0x20, 0x12, 0x60, 1, 64, 0x20),
    Part("MXIC", "MX25x4006E", 0x9F, 0, 0xC2, 0x20, 0x13, 0x60, 1, 128, 0x20),
    Part("MXIC", "MX25U4035", 0x9F, 0, 0xC2, 0x25, 0x33, 0x60, 1, 128, 0x20),
    Part("MXIC", "MX25U8035", 0x9F, 0, 0xC2, 0x25, 0x34, 0x60, 1, 256, 0x20),
};
constexpr FlashPartInfo kWinbond[] = {
    Part("WinBond", "W25Q20BW", 0x9F, 0, 0xEF, 0x50, 0x12, 0x60, 1, 64, 0x20),
    Part("WinBond", "W25Q40BW", 0x9F, 0, 0xEF, 0x50, 0x13, 0x60, 1, 128, 0x20),
    Part("WinBond", "W25X05CL", 0x9F, 0, 0xEF, 0x30, 0x10, 0x60, 1, 16, 0x20),
    Part("WinBond", "W25X10B(C)L(V)", 0x9F, 0, 0xEF, 0x30, 0x11, 0x60, 1, 32, 0x20),
    Part("WinBond", "W25X20B(C)L(V)", 0x9F, 0, 0xEF, 0x30, 0x12, 0x60, 1, 64, 0x20),
    Part("WinBond", "W25X40B(C)L(V)", 0x9F, 0, 0xEF, 0x30, 0x13, 0x60, 1, 128, 0x20),
    Part("WinBond", "W25Q40BL(V)", 0x9F, 0, 0xEF, 0x40, 0x13, 0x60, 1, 128, 0x20),
};
constexpr FlashPartInfo kSanyo[] = {
    Part("Sanyo", "LE25FU206A", 0x9F, 0, 0x62, 0x06, 0x12, 0xC7, 1, 64, 0xD8),
    Part("Sanyo", "LE25FU406B", 0x9F, 0, 0x62, 0x1E, 0x62, 0xC7, 1, 128, 0xD8),
};
constexpr FlashPartInfo kEsmt[] = {
    Part("ESMT", "F25L01PA", 0x9F, 0, 0x8C, 0x30, 0x11, 0x60, 1, 128, 0x20),
    Part("ESMT", "F25L05PA", 0x9F, 0, 0x8C, 0x30, 0x10, 0x60, 1, 128, 0x20),
};
constexpr FlashPartInfo kGigaDevice[] = {
    Part("Giga Device", "GD25Q40", 0x9F, 0, 0xC8, 0x40, 0x13, 0x60, 1, 128, 0x20),
    Part("Giga Device", "GD25Q20", 0x9F, 0, 0xC8, 0x40, 0x12, 0x60, 1, 64, 0x20),
    Part("Giga Device", "GD25Q10", 0x9F, 0, 0xC8, 0x40, 0x11, 0x60, 1, 32, 0x20),
    Part("Giga Device", "GD25Q512", 0x9F, 0, 0xC8, 0x40, 0x10, 0x60, 1, 16, 0x20),
};
constexpr FlashPartInfo kNumonyx[] = {
    Part("NUMONYX", "M25P05A", 0x9F, 0, 0x20, 0x20, 0x10, 0xC7, 8, 16, 0xD8),
    Part("NUMONYX", "M25P10A", 0x9F, 0, 0x20, 0x20, 0x11, 0xC7, 8, 32, 0xD8),
    Part("NUMONYX", "M25PE10", 0x9F, 0, 0x20, 0x80, 0x11, 0xC7, 16, 32, 0xD8),
    Part("NUMONYX", "M25PE20", 0x9F, 0, 0x20, 0x80, 0x12, 0xC7, 16, 64, 0xD8),
    Part("NUMONYX", "M45PE10", 0x9F, 0, 0x20, 0x40, 0x11, 0xD8, 16, 32, 0xD8),
};
constexpr FlashPartInfo kEon[] = {
    Part("EON", "EN25xF05", 0x9F, 0, 0x1C, 0x31, 0x10, 0xC7, 1, 16, 0x20),
    Part("EON", "EN25(L)F10", 0x9F, 0, 0x1C, 0x31, 0x11, 0xC7, 1, 32, 0x20),
    Part("EON", "EN25S10", 0x9F, 0, 0x1C, 0x38, 0x11, 0xC7, 1, 32, 0x20),
    Part("EON", "EN25F40", 0x9F, 0, 0x1C, 0x31, 0x13, 0xC7, 1, 128, 0x20),
};
constexpr FlashPartInfo kAtmel[] = {
    Part("ATMEL", "AT25F512A(B)", 0x15, 0, 0x1F, 0x65, 0xFF, 0x62, 8, 16, 0x52),
    Part("ATMEL", "AT25FS010", 0x15, 0, 0x1F, 0x66, 0xFF, 0x60, 1, 32, 0x20),
};
constexpr FlashPartInfo kPflash[] = {
    Part("PFLASH", "PM25LV512A", 0xAB, 3, 0x9D, 0x7B, 0x7F, 0xC7, 1, 16, 0xD7),
    Part("PFLASH", "PM25LV010A", 0xAB, 3, 0x9D, 0x7C, 0x7F, 0xC7, 1, 32, 0xD7),
    Part("PFLASH", "PM25LD512C", 0x90, 3, 0x9D, 0x05, 0x7F, 0x60, 1, 16, 0xD7),
    Part("PFLASH", "PM25LD010x", 0x90, 3, 0x9D, 0x10, 0x7F, 0x60, 1, 32, 0xD7),
    Part("PFLASH", "PM25L(W)D020C", 0x90, 3, 0x9D, 0x11, 0x7F, 0x60, 1, 64, 0xD7),
    Part("PFLASH", "Pm25WD040", 0x90, 3, 0x9D, 0x12, 0x7F, 0x60, 1, 128, 0xD7),
    Part("PFLASH", "Pm25LD040", 0x90, 3, 0x9D, 0x7E, 0x7F, 0x60, 1, 128, 0xD7),
};
constexpr FlashPartInfo kAmic[] = {
    Part("AMIC", "A25L512", 0x9F, 0, 0x37, 0x30, 0x10, 0xC7, 1, 16, 0x20),
    Part("AMIC", "A25L010", 0x9F, 0, 0x37, 0x30, 0x11, 0xC7, 1, 32, 0x20),
    Part("AMIC", "A25L020", 0x9F, 0, 0x37, 0x30, 0x12, 0xC7, 1, 64, 0x20),
    Part("AMIC", "A25L040", 0x9F, 0, 0x37, 0x30, 0x13, 0xC7, 1, 128, 0x20),
};
constexpr FlashPartInfo kSst[] = {
    Part("SST", "SST25VF512X", 0x90, 3, 0xBF, 0x48, 0xBF, 0x60, 1, 128, 0x20),
    Part("SST", "SST25VF010A", 0x90, 3, 0xBF, 0x49, 0xBF, 0x60, 1, 32, 0x20),
};

// A part whose identification bytes match (kAnyIdByte matches every value) has these traits
// instead of the common ones. The first rule that matches wins.
constexpr int16_t kAnyIdByte = -1;
struct TraitsRule {
    int16_t manufacturerId;
    int16_t deviceId;
    int16_t capacityId;
    FlashPartTraits traits;
};
constexpr uint16_t kSmallPageBytes = 32;
constexpr uint16_t kAt25f512aPageBytes = 128;
constexpr uint32_t kM45pe10SectorBytes = 0x10000;
constexpr uint32_t k512Kbit = 64 * 1024;
constexpr uint32_t k1Mbit = 128 * 1024;
constexpr TraitsRule kTraitsRules[] = {
    {0xC2, 0x22, 0x10, {.usPageSize = kSmallPageBytes}},  // MX25L5121E
    {0xC2, 0x22, 0x11, {.usPageSize = kSmallPageBytes}},  // MX25L1021E
    // AT25F512A(B): the A's pages are 128 bytes (256-byte commands would wrap onto the first
    // half of each page); the B, with 256-byte pages, takes 128-byte commands as well.
    {0x1F, 0x65, kAnyIdByte, {.usPageSize = kAt25f512aPageBytes}},
    // M45PE10: 0xD8 erases the 64 KiB sector at its address; there is no chip erase.
    {0x20, 0x40, 0x11, {.ulEraseBlockBytes = kM45pe10SectorBytes}},
    // Parts whose capacity column overstates them: their names give the density.
    {0x8C, 0x30, 0x11, {.dwSizeBytes = k1Mbit}},    // F25L01PA
    {0x8C, 0x30, 0x10, {.dwSizeBytes = k512Kbit}},  // F25L05PA
    {0xBF,
     0x48,
     0xBF,
     {.bAaiProgram = true, .bEnableWriteStatus = true, .dwSizeBytes = k512Kbit}},  // SST25VF512X
    // SST25VF010A
    {0xBF, kAnyIdByte, kAnyIdByte, {.bAaiProgram = true, .bEnableWriteStatus = true}},
};

bool RuleByteMatches(int16_t rule, uint8_t id) {
    return rule == kAnyIdByte || rule == id;
}

// Joins the makers' tables in search order.
template <std::size_t... N>
constexpr std::array<FlashPartInfo, (N + ...)> Join(const FlashPartInfo (&... tables)[N]) {
    std::array<FlashPartInfo, (N + ...)> all{};
    std::size_t at = 0;
    (([&] {
         for (const FlashPartInfo& row : tables) all[at++] = row;
     }()),
     ...);
    return all;
}

}  // namespace

constexpr std::array<FlashPartInfo, kFlashPartCount> kAllParts =
    Join(kMxic, kWinbond, kSanyo, kEsmt, kGigaDevice, kNumonyx, kEon, kAtmel, kPflash, kAmic, kSst);
const std::array<FlashPartInfo, kFlashPartCount> g_FlashParts = kAllParts;

FlashPartInfo UnidentifiedFlashPart() {
    FlashPartInfo row;
    std::memset(&row, 0xFF, sizeof row);
    return row;
}

bool IsIdentified(const FlashPartInfo& part) {
    return part.ucIdOpcode != kUnidentifiedOpcode;
}

bool MatchesId(const FlashPartInfo& part, uint8_t b0, uint8_t b1, uint8_t b2) {
    return b0 == part.ucManufacturerId && b1 == part.ucDeviceId &&
           (part.ucCapacityId == kAnyCapacityId || b2 == part.ucCapacityId);
}

FlashPartTraits TraitsOf(const FlashPartInfo& part) {
    for (const TraitsRule& rule : kTraitsRules) {
        if (RuleByteMatches(rule.manufacturerId, part.ucManufacturerId) &&
            RuleByteMatches(rule.deviceId, part.ucDeviceId) &&
            RuleByteMatches(rule.capacityId, part.ucCapacityId)) {
            return rule.traits;
        }
    }
    return FlashPartTraits{};
}

uint32_t FlashSizeBytes(const FlashPartInfo& part) {
    if (!IsIdentified(part)) return 0;
    const FlashPartTraits traits = TraitsOf(part);
    return traits.dwSizeBytes != 0 ? traits.dwSizeBytes : part.usCapacity4K * kCapacityUnitBytes;
}

int FindFlashPartByName(const char* name) {
    for (std::size_t i = 0; i < g_FlashParts.size(); ++i) {
        if (std::strcmp(g_FlashParts[i].szPartName, name) == 0) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace flash
