// The modelled SPI flash chips: per-part model data and the byte-by-byte command state machine
// that the bridge feeds.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "emulator/emulated_pc.h"
#include "flash/flash_part_table.h"
#include "framework/clock.h"

namespace vlmio::emu {

// Busy times of one family of parts, in microseconds.
struct ChipTiming {
    uint32_t pageProgramUs;  // one page-program command, fixed part
    uint32_t perByteUs;      // one page-program command, per data byte
    uint32_t byteProgramUs;  // one byte (byte program and auto-address-increment program)
    uint32_t eraseUs;        // one chip erase (and one sector erase)
};

// What the model needs to know about a part besides its row of the part table.
struct ChipModelData {
    uint32_t sizeBytes;    // the density in the part's name
    uint8_t timingFamily;  // see TimingOf
};

// Model data of every row of the part table, in row order.
const std::array<ChipModelData, flash::kFlashPartCount>& ChipModels();
// The timing families (index 0 is the default for parts with no known figure).
const ChipTiming& TimingOf(uint8_t family);
inline constexpr uint8_t kDefaultTimingFamily = 0;

// Array size and page size of a part=unknown:... chip.
inline constexpr uint32_t kUnknownChipSize = 128 * 1024;
inline constexpr uint32_t kUnknownChipPageSize = 256;

// Identification byte answered for a wildcard (0xFF) byte of a row.
inline constexpr uint8_t kWildcardIdAnswer = 0x00;

// Everything that makes one chip: built by the machine-file parser.
struct ChipConfig {
    int partRow = -1;  // row of the part table, or -1 for part=unknown:...
    uint8_t idOpcode = 0;
    uint8_t idLeadBytes = 0;  // address bytes before the identification bytes come out
    std::array<uint8_t, 3> idBytes{};
    uint8_t chipEraseOpcode = 0;
    uint8_t sectorEraseOpcode = 0;  // 0: none
    bool aaiFamily = false;         // powers up protected, 0x50 status-write enable, 0xAF program
    uint32_t sizeBytes = 0;
    uint32_t pageSize = 0;
    ChipTiming timing{};
    // Faults of the array and status register.
    bool eraseFails = false;
    bool writeProtect = false;
    std::vector<std::pair<uint32_t, uint8_t>> stuckBytes;  // address, value read
};

// The chip configuration for a row of the part table (size 0: the part's own size).
ChipConfig ChipConfigForRow(int row, uint32_t sizeOverride, bool instantTiming);
// The chip configuration for part=unknown:OP:B0:B1:B2.
ChipConfig ChipConfigForUnknown(uint8_t opcode, const std::array<uint8_t, 3>& bytes,
                                uint32_t sizeOverride, bool instantTiming);
// Bytes an erase command with an address clears, for a sector-erase opcode (0: not one).
uint32_t SectorSizeOfOpcode(uint8_t opcode);

// One SPI flash chip. Bytes arrive one at a time while chip select is held; a command takes
// effect only when chip select is released with all the bytes it needs. Not thread-safe: the
// emulated PC serialises every access.
//
// Status register: bit 0 busy, bit 1 write-enable latch, bits 2-4 block protection, bit 7
// status-register protect (stored, with no effect: the write-protect pin is never asserted).
// Any protection bit set protects the whole array. The latch is needed by program, erase and
// status write and is cleared by each of them, also when protection refused it. Parts of the
// 0xBF maker power up with all protection bits set; they accept a status write after 0x50 or
// after 0x06 (as the real parts do), program one byte with 0x02 and a run of bytes with
// auto-address-increment 0xAF (first command: opcode, address, one byte; then opcode and one
// byte each; the latch stays set until write disable 0x04 ends the run). While busy a chip
// answers only the status command; it ignores every other command, including reads, whose
// bytes then read 0xFF. Only the chip's own identification command answers (its three bytes,
// repeated); other identification opcodes read 0xFF.
class SpiFlashChip final : public FlashChip {
public:
    SpiFlashChip(ChipConfig config, framework::Clock& clock);

    // One byte on the wire: takes the host's byte, returns the chip's. Selects the chip if it
    // was not selected.
    uint8_t Exchange(uint8_t mosi);
    // Chip select released: a complete command takes effect.
    void Release();
    // Back to the power-up state; the array is kept.
    void PowerUp();

    const std::vector<uint8_t>& Contents() const override { return m_array; }
    void SetContents(const std::vector<uint8_t>& bytes) override;
    std::size_t Size() const override { return m_array.size(); }
    std::size_t PageSize() const override { return m_config.pageSize; }
    uint8_t Status() const override;
    bool WriteEnabled() const override { return m_writeEnabled; }
    int PartRow() const override { return m_config.partRow; }
    bool Busy() const;

private:
    uint8_t ReadCell(uint32_t address) const;
    uint8_t CommandByte(uint32_t index, uint8_t mosi);
    void Complete();
    void StartBusy(uint32_t us);
    bool Protected() const { return (m_status & kProtectionBits) != 0; }
    bool IsEraseOpcode(uint8_t opcode) const;
    void Erase(uint32_t first, uint32_t count);

    static constexpr uint8_t kProtectionBits = 0x1C;
    static constexpr uint8_t kWritableStatusBits = 0x9C;

    ChipConfig m_config;
    framework::Clock& m_clock;
    std::vector<uint8_t> m_array;
    uint8_t m_status = 0;  // stored bits only (protection bits, bit 7)
    bool m_writeEnabled = false;
    bool m_statusWriteEnabled = false;  // after 0x50, until the next command
    bool m_aai = false;                 // inside an auto-address-increment run
    uint32_t m_aaiAddress = 0;
    uint64_t m_busyUntilUs = 0;

    // The command being received.
    bool m_selected = false;
    bool m_ignored = false;
    uint8_t m_opcode = 0;
    uint32_t m_count = 0;  // bytes received, the opcode included
    uint32_t m_address = 0;
    uint32_t m_dataCount = 0;
    uint8_t m_statusValue = 0;
    uint8_t m_firstData = 0;
    std::vector<uint8_t> m_pageBuffer;  // page-program data by position in the page
};

}  // namespace vlmio::emu
