// The built-in table of supported SPI flash parts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace flash {

// One row of the flash part table; copied and passed by value.
struct FlashPartInfo {
    uint8_t ucIdOpcode;           // identification command
    uint8_t ucIdMode;             // 0: opcode alone; 3: opcode and three zero bytes
    uint8_t ucChipEraseOpcode;    // sent by ChipErase
    uint8_t ucSectionUnits;       // write/verify section size in 64 KiB units
    uint16_t usCapacity4K;        // listed capacity in 4 KiB units (not read by any operation)
    uint8_t ucSectorEraseOpcode;  // not read by any operation
    uint8_t ucReserved;           // 0x16 in every row
    uint8_t ucManufacturerId;     // first identification byte
    uint8_t ucDeviceId;           // second identification byte
    uint8_t ucCapacityId;         // third identification byte; kAnyCapacityId matches any
    char szVendor[255];
    char szPartName[255];
};

inline constexpr std::size_t kFlashPartCount = 47;
inline constexpr uint8_t kIdModeOpcodeOnly = 0;
inline constexpr uint8_t kIdModeThreeZeroBytes = 3;
inline constexpr uint8_t kAnyCapacityId = 0xFF;
inline constexpr uint8_t kUnidentifiedOpcode = 0xFF;  // ucIdOpcode of the "not identified" row
inline constexpr uint8_t kPartReservedByte = 0x16;
inline constexpr uint32_t kSectionUnitBytes = 0x10000;
inline constexpr uint16_t kCommonPageBytes = 256;
inline constexpr uint32_t kCapacityUnitBytes = 4096;  // the capacity column's unit

// The table in its search order: the first row that matches wins.
extern const std::array<FlashPartInfo, kFlashPartCount> g_FlashParts;

// The row that stands for a flash that was not identified: every byte 0xFF.
FlashPartInfo UnidentifiedFlashPart();
bool IsIdentified(const FlashPartInfo& part);
// True when the identification bytes read (b0 first) match the row.
bool MatchesId(const FlashPartInfo& part, uint8_t b0, uint8_t b1, uint8_t b2);

// What writing a part needs beyond its row. Most parts take the common commands with 256-byte
// pages; the exceptions are listed by identification bytes in one table (flash_part_table.cpp).
struct FlashPartTraits {
    bool bAaiProgram = false;         // programmed by auto-address-increment, a byte at a time
    bool bEnableWriteStatus = false;  // status register made writable by 0x50, not write enable
    uint16_t usPageSize = kCommonPageBytes;  // page-program size in bytes
    // Non-zero when the part's erase opcode erases one block of this many bytes at the address
    // sent with it (the part has no chip erase): the chip is erased block by block.
    uint32_t ulEraseBlockBytes = 0;
    // The part's size in bytes when its capacity column is wrong for it (0: the column holds).
    uint32_t dwSizeBytes = 0;
};

// The traits of an identified row.
FlashPartTraits TraitsOf(const FlashPartInfo& part);

// The size of an identified part's flash in bytes: the density its name gives, which is the
// capacity column except where the part's traits correct it.
uint32_t FlashSizeBytes(const FlashPartInfo& part);

// Row number of the part spelt exactly so, or -1.
int FindFlashPartByName(const char* name);

}  // namespace flash
