#include "emulator/flash_chip_model.h"

#include <algorithm>
#include <cstdio>

namespace vlmio::emu {
namespace {

// Commands every modelled chip takes.
constexpr uint8_t kOpWriteStatus = 0x01;
constexpr uint8_t kOpPageProgram = 0x02;
constexpr uint8_t kOpRead = 0x03;
constexpr uint8_t kOpWriteDisable = 0x04;
constexpr uint8_t kOpReadStatus = 0x05;
constexpr uint8_t kOpWriteEnable = 0x06;
constexpr uint8_t kOpEnableWriteStatus = 0x50;
constexpr uint8_t kOpAaiProgram = 0xAF;

// Opcodes that program, erase or write the status register on some serial flash; one of these
// that a chip does not take is a write the host meant and the chip dropped.
constexpr uint8_t kWriteOpcodes[] = {0x01, 0x02, 0x0A, 0x20, 0x52, 0x60, 0x62,
                                     0xAD, 0xAF, 0xC7, 0xD7, 0xD8, 0xDB};

constexpr uint8_t kStatusBusy = 0x01;
constexpr uint8_t kStatusWriteEnable = 0x02;
constexpr uint8_t kStatusRegisterProtect = 0x80;
constexpr uint32_t kAddressBytes = 3;
constexpr uint8_t kIdleLine = 0xFF;  // what the chip drives while it has nothing to say
constexpr uint8_t kErased = 0xFF;

bool IsWriteOpcode(uint8_t opcode) {
    return std::find(std::begin(kWriteOpcodes), std::end(kWriteOpcodes), opcode) !=
           std::end(kWriteOpcodes);
}

std::string Hex(uint32_t value, int digits = 2) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

}  // namespace

ChipConfig ChipConfigFor(const ChipDatasheet& datasheet, uint32_t sizeOverride,
                         bool instantTiming) {
    ChipConfig c;
    c.datasheet = datasheet;
    if (sizeOverride != 0) c.datasheet.sizeBytes = sizeOverride;
    c.instantTiming = instantTiming;
    return c;
}

ChipConfig ChipConfigForUnknown(uint8_t opcode, const std::array<uint8_t, 3>& bytes,
                                uint32_t sizeOverride, bool instantTiming) {
    constexpr uint8_t kMakerDevice = 0x90;
    constexpr uint8_t kSignature = 0xAB;
    constexpr uint32_t kPageUs = 1500;
    constexpr uint32_t kSectorUs = 100000;
    constexpr uint32_t kChipUs = 1000000;
    ChipDatasheet datasheet{};
    datasheet.name = "unknown";
    datasheet.maker = "unknown";
    // The identification commands that take an address get one here too.
    const uint8_t lead = (opcode == kMakerDevice || opcode == kSignature) ? kAddressBytes : 0;
    datasheet.ids[0] = IdAnswer{opcode, lead, 3, false, {bytes[0], bytes[1], bytes[2], 0}};
    datasheet.sizeBytes = kUnknownChipSize;
    datasheet.pageBytes = 256;
    datasheet.erases[0] = EraseCommand{0x20, 4096, kSectorUs};
    datasheet.erases[1] = EraseCommand{0x60, kWholeChip, kChipUs};
    datasheet.protectionBits = 0x1C;
    datasheet.statusWrite = StatusWrite::kAfterWriteEnable;
    datasheet.pageProgramUs = kPageUs;
    return ChipConfigFor(datasheet, sizeOverride, instantTiming);
}

SpiFlashChip::SpiFlashChip(ChipConfig config, framework::Clock& clock)
    : m_config(std::move(config)),
      m_clock(clock),
      m_array(m_config.datasheet.sizeBytes, kErased),
      m_lastProgram(m_config.datasheet.sizeBytes, 0),
      m_lastRead(m_config.datasheet.sizeBytes, 0),
      m_addressMask(m_config.datasheet.sizeBytes - 1),
      m_pageBuffer(m_config.datasheet.pageBytes, kErased) {
    PowerUp();
}

void SpiFlashChip::PowerUp() {
    const bool protectedAtStart = m_config.datasheet.powerUpProtected || m_config.writeProtect;
    m_status = protectedAtStart ? m_config.datasheet.protectionBits : 0;
    m_writeEnabled = false;
    m_statusWriteEnabled = false;
    m_aai = false;
    m_aaiAddress = 0;
    m_busyUntilUs = 0;
    m_selected = false;
    m_ignored = false;
    m_count = 0;
}

void SpiFlashChip::SetContents(const std::vector<uint8_t>& bytes) {
    std::fill(m_array.begin(), m_array.end(), kErased);
    std::copy_n(bytes.begin(), std::min(bytes.size(), m_array.size()), m_array.begin());
    NoteChanged(0, static_cast<uint32_t>(m_array.size()));
}

FlashChip::ByteHistory SpiFlashChip::History() const {
    ByteHistory h;
    for (std::size_t i = 0; i < m_array.size(); ++i) {
        if (m_lastProgram[i] == 0) continue;
        ++h.programmed;
        if (m_lastRead[i] > m_lastProgram[i]) continue;
        if (h.unverified == 0) h.firstUnverified = static_cast<uint32_t>(i);
        ++h.unverified;
    }
    return h;
}

void SpiFlashChip::ClearHistory() {
    std::fill(m_lastProgram.begin(), m_lastProgram.end(), 0);
    std::fill(m_lastRead.begin(), m_lastRead.end(), 0);
}

bool SpiFlashChip::Busy() const {
    if (m_busyUntilUs == 0) return false;
    if (m_clock.NowUs() < m_busyUntilUs) return true;
    m_busyUntilUs = 0;
    return false;
}

bool SpiFlashChip::Protected() const {
    return m_config.writeProtect || (m_status & m_config.datasheet.protectionBits) != 0;
}

uint8_t SpiFlashChip::Status() const {
    uint8_t status = m_status;
    if (m_writeEnabled) status |= kStatusWriteEnable;
    if (Busy()) status |= kStatusBusy;
    return status;
}

void SpiFlashChip::Note(ViolationKind kind, std::string detail) {
    m_pending.push_back({kind, std::move(detail)});
}

uint8_t SpiFlashChip::ReadCell(uint32_t address) {
    address &= m_addressMask;
    m_lastRead[address] = m_readSequence;
    if (!m_config.stuckBytes.empty()) {
        for (const auto& [stuckAddress, value] : m_config.stuckBytes) {
            if (stuckAddress == address) return value;
        }
    }
    return m_array[address];
}

uint8_t SpiFlashChip::Exchange(uint8_t mosi) {
    if (!m_selected) {
        m_selected = true;
        m_count = 0;
    }
    if (m_count == 0) {
        m_count = 1;
        m_opcode = mosi;
        m_address = 0;
        m_dataCount = 0;
        m_ignored = false;
        m_id = nullptr;
        switch (mosi) {
            case kOpReadStatus:
                m_kind = Kind::kStatusRead;
                return kIdleLine;  // taken even while busy
            case kOpRead:
                m_kind = Kind::kRead;
                m_readSequence = ++m_sequence;
                break;
            case kOpWriteStatus:
                m_kind = Kind::kStatusWrite;
                break;
            case kOpPageProgram:
                m_kind = Kind::kProgram;
                break;
            case kOpAaiProgram:
                m_kind = m_config.datasheet.aai ? Kind::kAai : Kind::kOther;
                break;
            default:
                m_id = m_config.datasheet.Id(mosi);
                m_kind = m_id != nullptr ? Kind::kId : Kind::kOther;
                break;
        }
        // A busy chip answers only the status command; inside an auto-address-increment run only
        // the run's own commands and the status command are taken.
        if (Busy()) {
            m_ignored = true;
            Note(ViolationKind::kChipBusy, "command " + Hex(mosi) + " while the chip is busy");
        } else if (m_aai && mosi != kOpAaiProgram && mosi != kOpWriteDisable) {
            m_ignored = true;
            Note(ViolationKind::kAaiMisuse,
                 "command " + Hex(mosi) + " inside an auto-address-increment run");
        }
        return kIdleLine;
    }
    const uint32_t index = m_count;  // position of this byte after the opcode, from 1
    if (m_count < UINT32_MAX) ++m_count;
    if (m_ignored) return kIdleLine;
    return CommandByte(index, mosi);
}

// Takes byte `index` (1 = the first byte after the opcode) of the current command and returns
// the chip's byte for it.
uint8_t SpiFlashChip::CommandByte(uint32_t index, uint8_t mosi) {
    const bool addressByte = index <= kAddressBytes;
    if (addressByte) m_address = ((m_address << 8) | mosi) & 0xFFFFFF;
    switch (m_kind) {
        case Kind::kStatusRead:
            return Status();
        case Kind::kRead:
            return addressByte ? kIdleLine : ReadCell(m_address + (index - kAddressBytes - 1));
        case Kind::kId: {
            if (index <= m_id->leadBytes) return kIdleLine;
            const uint32_t k = index - m_id->leadBytes - 1;
            if (k < m_id->length) return m_id->bytes[k];
            return m_id->repeats ? m_id->bytes[k % m_id->length] : kIdleLine;
        }
        case Kind::kStatusWrite:
            if (index == 1) m_statusValue = mosi;
            return kIdleLine;
        case Kind::kProgram:
            if (!addressByte) {
                if (m_dataCount == 0) m_firstData = mosi;
                // Bytes past the end of the page wrap to its start; a later byte replaces an
                // earlier.
                const uint32_t pageSize = m_config.datasheet.pageBytes;
                m_pageBuffer[(m_address % pageSize + m_dataCount) % pageSize] = mosi;
                ++m_dataCount;
            }
            return kIdleLine;
        case Kind::kAai:
            if (m_aai ? index == 1 : index == kAddressBytes + 1) m_firstData = mosi;
            return kIdleLine;
        case Kind::kOther:
            break;
    }
    return kIdleLine;
}

void SpiFlashChip::Release() {
    if (m_selected && !m_ignored && m_count > 0) Complete();
    m_selected = false;
    m_ignored = false;
    m_count = 0;
}

void SpiFlashChip::StartBusy(uint32_t us) {
    if (!m_config.instantTiming) m_busyUntilUs = m_clock.NowUs() + us;
}

void SpiFlashChip::Program(uint32_t address, uint8_t data) {
    address &= m_addressMask;
    m_array[address] &= data;
    m_lastProgram[address] = m_sequence;
    NoteChanged(address, address + 1);
}

void SpiFlashChip::Erase(uint32_t first, uint32_t count) {
    if (m_config.eraseFails) return;
    const uint32_t size = static_cast<uint32_t>(m_array.size());
    first %= size;
    count = std::min(count, size - first);
    std::fill_n(m_array.begin() + first, count, kErased);
    NoteChanged(first, first + count);
    // Erased bytes hold nothing that was programmed any more.
    std::fill_n(m_lastProgram.begin() + first, count, 0);
}

// Chip select released after a command that was not ignored: it takes effect if complete.
void SpiFlashChip::Complete() {
    const uint32_t afterOpcode = m_count - 1;
    const bool statusWriteEnabled = m_statusWriteEnabled;
    m_statusWriteEnabled = false;  // 0x50 enables only the command that follows it

    switch (m_opcode) {
        case kOpReadStatus:
        case kOpRead:
            m_statusWriteEnabled = statusWriteEnabled;
            return;
        case kOpWriteEnable:
            m_writeEnabled = true;
            return;
        case kOpWriteDisable:
            m_writeEnabled = false;
            m_aai = false;
            return;
        case kOpEnableWriteStatus:
            if (m_config.datasheet.statusWrite == StatusWrite::kAfterWriteEnableOrEwsr ||
                m_config.datasheet.statusWrite == StatusWrite::kAfterEwsr) {
                m_statusWriteEnabled = true;
            }
            return;
        case kOpWriteStatus:
            CompleteStatusWrite(afterOpcode, statusWriteEnabled);
            return;
        case kOpPageProgram:
            CompleteProgram();
            return;
        default:
            break;
    }
    if (m_kind == Kind::kAai) {
        CompleteAai(afterOpcode);
        return;
    }
    if (const EraseCommand* erase = m_config.datasheet.Erase(m_opcode)) {
        CompleteErase(*erase, afterOpcode);
        return;
    }
    if (IsWriteOpcode(m_opcode) && m_kind != Kind::kId) {
        Note(ViolationKind::kRejectedCommand, Hex(m_opcode) + " is not a command of this chip");
    }
}

void SpiFlashChip::CompleteStatusWrite(uint32_t afterOpcode, bool statusWriteEnabled) {
    const StatusWrite how = m_config.datasheet.statusWrite;
    if (how == StatusWrite::kNone) {
        Note(ViolationKind::kRejectedCommand, "status write 0x01: the chip has none");
        return;
    }
    if (afterOpcode != 1) {
        Note(ViolationKind::kRejectedCommand,
             "status write ended after " + std::to_string(afterOpcode) + " bytes, not 1");
        return;
    }
    bool enabled = false;
    const char* without = "";
    switch (how) {
        case StatusWrite::kAfterWriteEnable:
            enabled = m_writeEnabled;
            without = "status write without write enable";
            break;
        case StatusWrite::kAfterWriteEnableOrEwsr:
            enabled = m_writeEnabled || statusWriteEnabled;
            without = "status write without write enable or 0x50 right before";
            break;
        case StatusWrite::kAfterEwsr:
            enabled = statusWriteEnabled;
            without = "status write without 0x50 right before";
            break;
        case StatusWrite::kNone:
            break;
    }
    if (!enabled) {
        Note(ViolationKind::kStatusWriteDisabled, without);
        return;
    }
    if (!m_config.writeProtect) {
        const ChipDatasheet& ds = m_config.datasheet;
        m_status = m_statusValue & (ds.protectionBits | ds.tbBit | kStatusRegisterProtect);
    }
    m_writeEnabled = false;
}

void SpiFlashChip::CompleteProgram() {
    const uint32_t pageSize = m_config.datasheet.pageBytes;
    if (m_dataCount == 0) {
        Note(ViolationKind::kRejectedCommand, "page program ended without data");
        return;
    }
    if (!m_writeEnabled) {
        Note(ViolationKind::kNoWriteEnable, "page program at " + Hex(m_address, 6));
        return;
    }
    if (m_address % pageSize + m_dataCount > pageSize) {
        Note(ViolationKind::kPageCrossed,
             std::to_string(m_dataCount) + " bytes at " + Hex(m_address, 6) +
                 " run past the end of the chip's " + std::to_string(pageSize) + "-byte page");
    }
    m_writeEnabled = false;
    if (Protected()) return;
    ++m_sequence;
    if (pageSize == 1) {
        // Byte program: the first data byte only.
        Program(m_address, m_firstData);
    } else {
        // The positions the command carried: from its address on, wrapping inside the page.
        const uint32_t pageStart = m_address / pageSize * pageSize;
        const uint32_t first = m_address % pageSize;
        for (uint32_t i = 0; i < std::min(m_dataCount, pageSize); ++i) {
            const uint32_t at = (first + i) % pageSize;
            Program(pageStart + at, m_pageBuffer[at]);
        }
    }
    const uint32_t bytes = std::min(m_dataCount, pageSize);
    StartBusy(m_config.datasheet.pageProgramUs + m_config.datasheet.perByteUs * bytes);
}

void SpiFlashChip::CompleteAai(uint32_t afterOpcode) {
    if (m_aai) {
        if (afterOpcode != 1) {
            Note(ViolationKind::kAaiMisuse, "auto-address-increment command with " +
                                                std::to_string(afterOpcode) +
                                                " bytes inside a run, not 1");
            return;
        }
        ++m_sequence;
        Program(m_aaiAddress, m_firstData);
        m_aaiAddress = (m_aaiAddress + 1) % static_cast<uint32_t>(m_array.size());
        StartBusy(m_config.datasheet.aaiByteUs);
        return;
    }
    if (afterOpcode != kAddressBytes + 1) {
        Note(ViolationKind::kAaiMisuse, "auto-address-increment command with " +
                                            std::to_string(afterOpcode) +
                                            " bytes outside a run, not an address and a byte");
        return;
    }
    if (!m_writeEnabled) {
        Note(ViolationKind::kNoWriteEnable,
             "auto-address-increment program at " + Hex(m_address, 6));
        return;
    }
    if (Protected()) {
        m_writeEnabled = false;
        return;
    }
    // The latch stays set for the whole run, until write disable.
    m_aai = true;
    ++m_sequence;
    Program(m_address, m_firstData);
    m_aaiAddress = (m_address + 1) % static_cast<uint32_t>(m_array.size());
    StartBusy(m_config.datasheet.aaiByteUs);
}

void SpiFlashChip::CompleteErase(const EraseCommand& erase, uint32_t afterOpcode) {
    const bool addressed = erase.bytes != kWholeChip;
    const uint32_t needed = addressed ? kAddressBytes : 0;
    if (afterOpcode != needed) {
        Note(ViolationKind::kRejectedCommand,
             "erase " + Hex(m_opcode) + " ended after " + std::to_string(afterOpcode) +
                 " bytes; it takes " + (addressed ? "an address" : "none"));
        return;
    }
    if (!m_writeEnabled) {
        Note(ViolationKind::kNoWriteEnable, "erase " + Hex(m_opcode));
        return;
    }
    m_writeEnabled = false;
    if (Protected()) return;
    if (addressed) {
        Erase(m_address / erase.bytes * erase.bytes, erase.bytes);
    } else {
        Erase(0, static_cast<uint32_t>(m_array.size()));
    }
    StartBusy(erase.typicalUs);
}

}  // namespace vlmio::emu
