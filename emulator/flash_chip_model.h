// A modelled SPI flash chip: the byte-by-byte command state machine that the bridge feeds,
// driven by the chip's row of the emulator's catalogue.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "emulator/chip_catalogue.h"
#include "emulator/emulated_pc.h"
#include "emulator/violations.h"
#include "framework/clock.h"

namespace vlmio::emu {

// Everything that makes one chip: built by the machine-file parser.
struct ChipConfig {
    ChipDatasheet datasheet{};  // a copy: a part=unknown chip and size= change it
    bool instantTiming = false;
    // Faults of the array and status register.
    bool eraseFails = false;
    bool writeProtect = false;
    std::vector<std::pair<uint32_t, uint8_t>> stuckBytes;  // address, value read
};

// The chip of a catalogue row (size 0: the chip's own size).
ChipConfig ChipConfigFor(const ChipDatasheet& datasheet, uint32_t sizeOverride, bool instantTiming);
// A chip that answers identification opcode `opcode` with `bytes` (after three address bytes
// for 0x90 and 0xAB) and otherwise takes the common commands: 128 KiB unless sized, 256-byte
// pages, 0x20 4 KiB sectors, 0x60 chip erase.
ChipConfig ChipConfigForUnknown(uint8_t opcode, const std::array<uint8_t, 3>& bytes,
                                uint32_t sizeOverride, bool instantTiming);
inline constexpr uint32_t kUnknownChipSize = 128 * 1024;

// Misuse a chip saw, waiting for the emulated PC to record it with its controller and access.
struct ChipViolation {
    ViolationKind kind;
    std::string detail;
};

// One SPI flash chip. Bytes arrive one at a time while chip select is held; a command takes
// effect only when chip select is released with exactly the bytes it needs (a write command
// released elsewhere is rejected, as the datasheets say). Not thread-safe: the emulated PC
// serialises every access.
//
// Status register: bit 0 busy, bit 1 write-enable latch, the chip's block-protection bits, its
// top/bottom bit if it has one (stored, protecting nothing by itself), bit 7 status-register
// protect (stored, with no effect: the write-protect pin is never asserted). Any block-protection
// bit set protects the whole array. The latch is needed by program, erase and status
// write and is cleared by each of them, also when protection refused it. While busy a chip
// answers only the status command; it ignores every other command, reads included, whose bytes
// then read 0xFF (the line idles high). An identification command answers as the catalogue says;
// any other unknown opcode leaves the line idle.
//
// Every misuse is noted (PendingViolations): a command to a busy chip, a program or erase without
// the latch, a page program running past its page, auto-address-increment commands out of
// order, a status write without its enable, a program, erase or status write the chip does not
// have (it takes only the commands of its catalogue row).
//
// For tests, the chip keeps per byte the sequence number of its last program and of its last
// read (0: never), so that a test can tell whether every programmed byte was read back after it
// was programmed.
class SpiFlashChip final : public FlashChip {
public:
    SpiFlashChip(ChipConfig config, framework::Clock& clock);

    // One byte on the wire: takes the host's byte, returns the chip's. Selects the chip if it
    // was not selected.
    uint8_t Exchange(uint8_t mosi);
    // Chip select released: a complete command takes effect.
    void Release();
    // Back to the power-up state; the array and the byte history are kept.
    void PowerUp();
    // Misuse seen since the last call, for the emulated PC to record.
    std::vector<ChipViolation>& PendingViolations() { return m_pending; }
    // The span of the array changed (programmed, erased or set) since the last call, as
    // [first, end); empty when nothing changed. Cleared by the call.
    std::pair<uint32_t, uint32_t> TakeChangedSpan() {
        const std::pair<uint32_t, uint32_t> span{m_changedFirst, m_changedEnd};
        m_changedFirst = UINT32_MAX;
        m_changedEnd = 0;
        return span.first < span.second ? span : std::pair<uint32_t, uint32_t>{0, 0};
    }

    const std::vector<uint8_t>& Contents() const override { return m_array; }
    void SetContents(const std::vector<uint8_t>& bytes) override;
    std::size_t Size() const override { return m_array.size(); }
    std::size_t PageSize() const override { return m_config.datasheet.pageBytes; }
    uint8_t Status() const override;
    bool WriteEnabled() const override { return m_writeEnabled; }
    const char* PartName() const override { return m_config.datasheet.name; }
    const ChipDatasheet& Datasheet() const override { return m_config.datasheet; }
    ByteHistory History() const override;
    void ClearHistory() override;
    bool Busy() const;

private:
    uint8_t ReadCell(uint32_t address);
    uint8_t CommandByte(uint32_t index, uint8_t mosi);
    void Complete();
    void CompleteProgram();
    void CompleteAai(uint32_t afterOpcode);
    void CompleteErase(const EraseCommand& erase, uint32_t afterOpcode);
    void CompleteStatusWrite(uint32_t afterOpcode, bool statusWriteEnabled);
    void Program(uint32_t address, uint8_t data);
    void StartBusy(uint32_t us);
    bool Protected() const;
    void Erase(uint32_t first, uint32_t count);
    void Note(ViolationKind kind, std::string detail);
    void NoteChanged(uint32_t first, uint32_t end) {
        m_changedFirst = std::min(m_changedFirst, first);
        m_changedEnd = std::max(m_changedEnd, end);
    }

    ChipConfig m_config;
    framework::Clock& m_clock;
    std::vector<uint8_t> m_array;
    std::vector<uint32_t> m_lastProgram;  // per byte: sequence number of its last program
    std::vector<uint32_t> m_lastRead;     // per byte: sequence number of its last read
    uint32_t m_sequence = 0;
    uint32_t m_changedFirst = UINT32_MAX;  // the span changed since TakeChangedSpan
    uint32_t m_changedEnd = 0;
    uint32_t m_addressMask;  // sizes are powers of two: addresses wrap at the chip's size
    std::vector<ChipViolation> m_pending;
    uint8_t m_status = 0;  // stored bits only (protection bits, bit 7)
    bool m_writeEnabled = false;
    bool m_statusWriteEnabled = false;  // after 0x50, until the next command
    bool m_aai = false;                 // inside an auto-address-increment run
    uint32_t m_aaiAddress = 0;
    // Busy until this time of the clock; 0 once the clock was seen past it (no need to read the
    // clock again until the next busy time).
    mutable uint64_t m_busyUntilUs = 0;

    // The command being received.
    bool m_selected = false;
    bool m_ignored = false;
    uint8_t m_opcode = 0;
    uint32_t m_count = 0;  // bytes received, the opcode included
    uint32_t m_address = 0;
    uint32_t m_dataCount = 0;
    uint32_t m_readSequence = 0;  // the sequence number of the read being received
    uint8_t m_statusValue = 0;
    uint8_t m_firstData = 0;
    std::vector<uint8_t> m_pageBuffer;  // page-program data by position in the page
    // What the command being received is, decided at its opcode.
    enum class Kind : uint8_t { kStatusRead, kRead, kId, kStatusWrite, kProgram, kAai, kOther };
    Kind m_kind = Kind::kOther;
    const IdAnswer* m_id = nullptr;  // the answer of a kId command
};

}  // namespace vlmio::emu
