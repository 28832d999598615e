// The emulated PC's own catalogue of SPI flash chips, written from the makers' datasheets: what
// each chip answers to identification, its size, page, erase commands, programming method,
// power-up protection and typical busy times. One small table per maker (chip_catalogue.cpp,
// where every figure says which datasheet it comes from or that it is an estimate). It is
// independent of the updater's own part table: where the two disagree, the emulated chip does
// what its datasheet says.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vlmio::emu {

// What a chip answers to one identification command.
struct IdAnswer {
    uint8_t opcode = 0;     // 0: an empty slot
    uint8_t leadBytes = 0;  // dummy or address bytes the host sends before the answer
    uint8_t length = 0;     // bytes answered
    bool repeats = false;   // after `length` bytes the answer starts again; else the line idles
    std::array<uint8_t, 4> bytes{};
};

// One erase command of a chip.
struct EraseCommand {
    uint8_t opcode = 0;      // 0: an empty slot
    uint32_t bytes = 0;      // kWholeChip, or the block it erases at the address sent
    uint32_t typicalUs = 0;  // busy time
};
inline constexpr uint32_t kWholeChip = 0;

// How the status register is made writable.
enum class StatusWrite : uint8_t {
    kAfterWriteEnable,        // write enable (0x06) first
    kAfterWriteEnableOrEwsr,  // write enable, or 0x50 right before
    kAfterEwsr,               // 0x50 right before only: write enable does not do
    kNone,                    // the chip has no status-register write
};

inline constexpr std::size_t kMaxIdAnswers = 3;
inline constexpr std::size_t kMaxEraseCommands = 7;

struct ChipDatasheet {
    const char* name;   // as a machine file spells it (part=NAME)
    const char* alias;  // a second spelling machine files may use, or null
    const char* maker;
    std::array<IdAnswer, kMaxIdAnswers> ids;
    uint32_t sizeBytes;
    uint16_t pageBytes;  // bytes one program command takes (1: byte program only)
    std::array<EraseCommand, kMaxEraseCommands> erases;
    bool aai;                // auto-address-increment programming (0xAF)
    uint8_t protectionBits;  // block-protection bits of the status register
    uint8_t tbBit = 0;       // a top/bottom bit the status write stores, protecting nothing
    bool powerUpProtected;   // those bits are set at power-up
    StatusWrite statusWrite;
    uint32_t pageProgramUs;  // one program command: fixed part
    uint32_t perByteUs;      // one program command: per byte
    uint32_t aaiByteUs;      // one auto-address-increment byte

    // The answer to that identification opcode, or null.
    const IdAnswer* Id(uint8_t opcode) const;
    // The erase command of that opcode, or null.
    const EraseCommand* Erase(uint8_t opcode) const;
    // The typical time of the whole-chip erase, or 0 when the chip has none.
    uint32_t ChipEraseUs() const;
};

// Every chip of the catalogue, maker by maker.
std::span<const ChipDatasheet* const> Catalogue();
// The chip spelt so (its name or its alias), or null.
const ChipDatasheet* FindChip(std::string_view name);

// part=N: the Nth part in the order of the updater's part table (the catalogue states that
// order, so machine files may keep naming parts by number), or null past its end.
const ChipDatasheet* ChipOfTableRow(std::size_t row);
inline constexpr std::size_t kTableRowCount = 47;

}  // namespace vlmio::emu
