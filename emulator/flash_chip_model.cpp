#include "emulator/flash_chip_model.h"

#include <algorithm>

namespace vlmio::emu {
namespace {

constexpr uint32_t KiB = 1024;
constexpr uint32_t MiB = 1024 * KiB;

// Common serial-flash commands.
constexpr uint8_t kOpWriteStatus = 0x01;
constexpr uint8_t kOpPageProgram = 0x02;
constexpr uint8_t kOpRead = 0x03;
constexpr uint8_t kOpWriteDisable = 0x04;
constexpr uint8_t kOpReadStatus = 0x05;
constexpr uint8_t kOpWriteEnable = 0x06;
constexpr uint8_t kOpEnableWriteStatus = 0x50;
constexpr uint8_t kOpAaiProgram = 0xAF;

constexpr uint8_t kStatusBusy = 0x01;
constexpr uint8_t kStatusWriteEnable = 0x02;
constexpr uint32_t kAddressBytes = 3;
constexpr uint8_t kIdleLine = 0xFF;  // what the chip drives while it has nothing to say
constexpr uint8_t kModeWithAddress = 3;

// Timing families: typical figures from public datasheets; family 0 where none is known.
enum : uint8_t {
    kTimingDefault,
    kTimingMacronix,
    kTimingSanyo,
    kTimingEsmt,
    kTimingM25P,
    kTimingM45PE,
    kTimingAt25F,
    kTimingPmc,
    kTimingAmic,
    kTimingSst,
    kTimingFamilyCount
};

constexpr ChipTiming kTimings[kTimingFamilyCount] = {
    // page fixed, page per byte, byte program, erase
    {1500, 0, 0, 1000000},  // no figure known: 1.5 ms a page, 1 s an erase
    {1400, 0, 0, 1000000},  // Macronix: page 1.4 ms, erase as one 64 KiB block, 1 s
    {1500, 0, 0, 1000000},  // Sanyo: page 1.5 ms
    {1500, 0, 0, 1000000},  // ESMT: page 1.5 ms, chip erase 1 s
    {1400, 0, 0, 1700000},  // M25P: page 1.4 ms, bulk erase 1.7 s
    {800, 0, 0, 1000000},   // M45PE: page 0.8 ms
    {0, 75, 75, 2000000},   // AT25F512A: 75 us a byte, 1 s per 32 KiB sector
    {2000, 0, 0, 40000},    // PMC: page 2 ms, chip erase 40 ms
    {2000, 0, 0, 1000000},  // AMIC: page 2 ms
    {14, 0, 14, 70000},     // SST: byte 14 us, chip erase 70 ms
};

// Per row of the part table: size (the density in the part's name) and timing family.
constexpr std::array<ChipModelData, flash::kFlashPartCount> kModels = {{
    {64 * KiB, kTimingMacronix},   // 0 MX25L(V)512(C)
    {128 * KiB, kTimingMacronix},  // 1 MX25L100(2)5C/1006E
    {64 * KiB, kTimingMacronix},   // 2 MX25L5121E
    {128 * KiB, kTimingMacronix},  // 3 MX25L1021E
    {256 * KiB, kTimingMacronix},  // 4 MX25L2006E
    {512 * KiB, kTimingMacronix},  // 5 MX25x4006E
    {512 * KiB, kTimingMacronix},  // 6 MX25U4035
    {1 * MiB, kTimingMacronix},    // 7 MX25U8035
    {256 * KiB, kTimingDefault},   // 8 W25Q20BW
    {512 * KiB, kTimingDefault},   // 9 W25Q40BW
    {64 * KiB, kTimingDefault},    // 10 W25X05CL
    {128 * KiB, kTimingDefault},   // 11 W25X10B(C)L(V)
    {256 * KiB, kTimingDefault},   // 12 W25X20B(C)L(V)
    {512 * KiB, kTimingDefault},   // 13 W25X40B(C)L(V)
    {512 * KiB, kTimingDefault},   // 14 W25Q40BL(V)
    {256 * KiB, kTimingSanyo},     // 15 LE25FU206A
    {512 * KiB, kTimingSanyo},     // 16 LE25FU406B
    {128 * KiB, kTimingEsmt},      // 17 F25L01PA (1 Mbit)
    {64 * KiB, kTimingEsmt},       // 18 F25L05PA (512 Kbit)
    {512 * KiB, kTimingDefault},   // 19 GD25Q40
    {256 * KiB, kTimingDefault},   // 20 GD25Q20
    {128 * KiB, kTimingDefault},   // 21 GD25Q10
    {64 * KiB, kTimingDefault},    // 22 GD25Q512
    {64 * KiB, kTimingM25P},       // 23 M25P05A
    {128 * KiB, kTimingM25P},      // 24 M25P10A
    {128 * KiB, kTimingDefault},   // 25 M25PE10
    {256 * KiB, kTimingDefault},   // 26 M25PE20
    {128 * KiB, kTimingM45PE},     // 27 M45PE10
    {64 * KiB, kTimingDefault},    // 28 EN25xF05
    {128 * KiB, kTimingDefault},   // 29 EN25(L)F10
    {128 * KiB, kTimingDefault},   // 30 EN25S10
    {512 * KiB, kTimingDefault},   // 31 EN25F40
    {64 * KiB, kTimingAt25F},      // 32 AT25F512A(B)
    {128 * KiB, kTimingDefault},   // 33 AT25FS010
    {64 * KiB, kTimingPmc},        // 34 PM25LV512A
    {128 * KiB, kTimingPmc},       // 35 PM25LV010A
    {64 * KiB, kTimingPmc},        // 36 PM25LD512C
    {128 * KiB, kTimingPmc},       // 37 PM25LD010x
    {256 * KiB, kTimingPmc},       // 38 PM25L(W)D020C
    {512 * KiB, kTimingPmc},       // 39 Pm25WD040
    {512 * KiB, kTimingPmc},       // 40 Pm25LD040
    {64 * KiB, kTimingAmic},       // 41 A25L512
    {128 * KiB, kTimingAmic},      // 42 A25L010
    {256 * KiB, kTimingAmic},      // 43 A25L020
    {512 * KiB, kTimingAmic},      // 44 A25L040
    {64 * KiB, kTimingSst},        // 45 SST25VF512X (512 Kbit)
    {128 * KiB, kTimingSst},       // 46 SST25VF010A
}};

// Sector-erase opcodes and the bytes they clear.
struct SectorErase {
    uint8_t opcode;
    uint32_t bytes;
};
constexpr SectorErase kSectorErases[] = {
    {0x20, 4 * KiB}, {0xD7, 4 * KiB}, {0x52, 32 * KiB}, {0xD8, 64 * KiB}};

constexpr ChipTiming kInstant = {0, 0, 0, 0};

}  // namespace

const std::array<ChipModelData, flash::kFlashPartCount>& ChipModels() {
    return kModels;
}

const ChipTiming& TimingOf(uint8_t family) {
    return kTimings[family < kTimingFamilyCount ? family : uint8_t{kTimingDefault}];
}

uint32_t SectorSizeOfOpcode(uint8_t opcode) {
    for (const SectorErase& e : kSectorErases) {
        if (e.opcode == opcode) return e.bytes;
    }
    return 0;
}

ChipConfig ChipConfigForRow(int row, uint32_t sizeOverride, bool instantTiming) {
    const flash::FlashPartInfo& part = flash::g_FlashParts[static_cast<std::size_t>(row)];
    const ChipModelData& model = kModels[static_cast<std::size_t>(row)];
    ChipConfig c;
    c.partRow = row;
    c.idOpcode = part.ucIdOpcode;
    c.idLeadBytes = part.ucIdMode == kModeWithAddress ? kAddressBytes : 0;
    c.idBytes = {part.ucManufacturerId, part.ucDeviceId, part.ucCapacityId};
    for (uint8_t& b : c.idBytes) {
        if (b == flash::kAnyCapacityId) b = kWildcardIdAnswer;
    }
    // The manufacturer byte is never a wildcard; only the capacity byte may be.
    c.idBytes[0] = part.ucManufacturerId;
    c.chipEraseOpcode = part.ucChipEraseOpcode;
    c.sectorEraseOpcode = part.ucSectorEraseOpcode;
    const flash::FlashPartTraits traits = flash::TraitsOf(part);
    c.aaiFamily = traits.bAaiProgram;
    c.sizeBytes = sizeOverride != 0 ? sizeOverride : model.sizeBytes;
    c.pageSize = traits.usPageSize;
    c.timing = instantTiming ? kInstant : TimingOf(model.timingFamily);
    return c;
}

ChipConfig ChipConfigForUnknown(uint8_t opcode, const std::array<uint8_t, 3>& bytes,
                                uint32_t sizeOverride, bool instantTiming) {
    constexpr uint8_t kUnknownChipErase = 0x60;
    constexpr uint8_t kUnknownSectorErase = 0x20;
    ChipConfig c;
    c.partRow = -1;
    c.idOpcode = opcode;
    // The identification commands that take an address get one here too.
    c.idLeadBytes = (opcode == 0x90 || opcode == 0xAB) ? kAddressBytes : 0;
    c.idBytes = bytes;
    c.chipEraseOpcode = kUnknownChipErase;
    c.sectorEraseOpcode = kUnknownSectorErase;
    c.sizeBytes = sizeOverride != 0 ? sizeOverride : kUnknownChipSize;
    c.pageSize = kUnknownChipPageSize;
    c.timing = instantTiming ? kInstant : TimingOf(kDefaultTimingFamily);
    return c;
}

SpiFlashChip::SpiFlashChip(ChipConfig config, framework::Clock& clock)
    : m_config(std::move(config)),
      m_clock(clock),
      m_array(m_config.sizeBytes, 0xFF),
      m_pageBuffer(m_config.pageSize, 0xFF) {
    PowerUp();
}

void SpiFlashChip::PowerUp() {
    m_status = (m_config.aaiFamily || m_config.writeProtect) ? kProtectionBits : 0;
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
    std::fill(m_array.begin(), m_array.end(), 0xFF);
    std::copy_n(bytes.begin(), std::min(bytes.size(), m_array.size()), m_array.begin());
}

bool SpiFlashChip::Busy() const {
    return m_clock.NowUs() < m_busyUntilUs;
}

uint8_t SpiFlashChip::Status() const {
    uint8_t status = m_status;
    if (m_writeEnabled) status |= kStatusWriteEnable;
    if (Busy()) status |= kStatusBusy;
    return status;
}

uint8_t SpiFlashChip::ReadCell(uint32_t address) const {
    address %= static_cast<uint32_t>(m_array.size());
    for (const auto& [stuckAddress, value] : m_config.stuckBytes) {
        if (stuckAddress == address) return value;
    }
    return m_array[address];
}

bool SpiFlashChip::IsEraseOpcode(uint8_t opcode) const {
    return opcode == m_config.chipEraseOpcode ||
           (m_config.sectorEraseOpcode != 0 && opcode == m_config.sectorEraseOpcode);
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
        std::fill(m_pageBuffer.begin(), m_pageBuffer.end(), 0xFF);
        // A busy chip answers only the status command; inside an auto-address-increment run
        // only the run's own commands and the status command are taken.
        bool aaiCommand = mosi == kOpAaiProgram || mosi == kOpWriteDisable;
        m_ignored =
            (Busy() && mosi != kOpReadStatus) || (m_aai && !aaiCommand && mosi != kOpReadStatus);
        return kIdleLine;
    }
    uint32_t index = m_count;  // position of this byte after the opcode, from 1
    if (m_count < UINT32_MAX) ++m_count;
    if (m_ignored) return kIdleLine;
    return CommandByte(index, mosi);
}

// Takes byte `index` (1 = the first byte after the opcode) of the current command and returns
// the chip's byte for it.
uint8_t SpiFlashChip::CommandByte(uint32_t index, uint8_t mosi) {
    bool addressByte = index <= kAddressBytes;
    if (addressByte) m_address = ((m_address << 8) | mosi) & 0xFFFFFF;

    if (m_opcode == kOpReadStatus) return Status();
    if (m_opcode == kOpRead) {
        return addressByte ? kIdleLine : ReadCell(m_address + (index - kAddressBytes - 1));
    }
    if (m_opcode == m_config.idOpcode) {
        if (index <= m_config.idLeadBytes) return kIdleLine;
        return m_config.idBytes[(index - m_config.idLeadBytes - 1) % m_config.idBytes.size()];
    }
    if (m_opcode == kOpWriteStatus && index == 1) m_statusValue = mosi;
    if (m_opcode == kOpPageProgram && !addressByte) {
        if (m_dataCount == 0) m_firstData = mosi;
        // Bytes past the end of the page wrap to its start; a later byte replaces an earlier.
        uint32_t pageSize = m_config.pageSize;
        m_pageBuffer[(m_address % pageSize + m_dataCount) % pageSize] = mosi;
        ++m_dataCount;
    }
    if (m_opcode == kOpAaiProgram && m_config.aaiFamily) {
        bool dataByte = m_aai ? index == 1 : index == kAddressBytes + 1;
        if (dataByte) {
            m_firstData = mosi;
            ++m_dataCount;
        }
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
    m_busyUntilUs = m_clock.NowUs() + us;
}

void SpiFlashChip::Erase(uint32_t first, uint32_t count) {
    if (m_config.eraseFails) return;
    uint32_t size = static_cast<uint32_t>(m_array.size());
    first %= size;
    count = std::min(count, size - first);
    std::fill_n(m_array.begin() + first, count, 0xFF);
}

// Chip select released after a command that was not ignored: it takes effect if complete.
void SpiFlashChip::Complete() {
    uint32_t afterOpcode = m_count - 1;
    bool statusWriteEnable = m_statusWriteEnabled;
    m_statusWriteEnabled = false;  // 0x50 enables only the command that follows it

    switch (m_opcode) {
        case kOpReadStatus:
        case kOpRead:
            m_statusWriteEnabled = statusWriteEnable;
            return;
        case kOpWriteEnable:
            m_writeEnabled = true;
            return;
        case kOpWriteDisable:
            m_writeEnabled = false;
            m_aai = false;
            return;
        case kOpEnableWriteStatus:
            if (m_config.aaiFamily) m_statusWriteEnabled = true;
            return;
        case kOpWriteStatus:
            if (afterOpcode < 1) return;
            if (!m_writeEnabled && !(m_config.aaiFamily && statusWriteEnable)) return;
            if (!m_config.writeProtect) {
                m_status = m_statusValue & kWritableStatusBits;
            }
            m_writeEnabled = false;
            return;
        case kOpPageProgram:
            if (afterOpcode < kAddressBytes + 1 || !m_writeEnabled) return;
            m_writeEnabled = false;
            if (Protected()) return;
            if (m_config.aaiFamily) {
                // Byte program: the first data byte only.
                m_array[m_address % m_array.size()] &= m_firstData;
                StartBusy(m_config.timing.byteProgramUs);
            } else {
                uint32_t size = static_cast<uint32_t>(m_array.size());
                uint32_t pageSize = m_config.pageSize;
                uint32_t pageStart = (m_address % size) / pageSize * pageSize;
                for (uint32_t i = 0; i < pageSize; ++i) {
                    m_array[(pageStart + i) % size] &= m_pageBuffer[i];
                }
                uint32_t bytes = std::min(m_dataCount, pageSize);
                StartBusy(m_config.timing.pageProgramUs + m_config.timing.perByteUs * bytes);
            }
            return;
        case kOpAaiProgram:
            if (!m_config.aaiFamily) return;
            if (m_aai) {
                if (afterOpcode < 1) return;
                m_array[m_aaiAddress % m_array.size()] &= m_firstData;
                m_aaiAddress = (m_aaiAddress + 1) % static_cast<uint32_t>(m_array.size());
                StartBusy(m_config.timing.byteProgramUs);
                return;
            }
            if (afterOpcode < kAddressBytes + 1 || !m_writeEnabled) return;
            if (Protected()) {
                m_writeEnabled = false;
                return;
            }
            // The latch stays set for the whole run, until write disable.
            m_aai = true;
            m_array[m_address % m_array.size()] &= m_firstData;
            m_aaiAddress = (m_address + 1) % static_cast<uint32_t>(m_array.size());
            StartBusy(m_config.timing.byteProgramUs);
            return;
        default:
            break;
    }

    if (IsEraseOpcode(m_opcode)) {
        uint32_t sector = SectorSizeOfOpcode(m_opcode);
        // An erase opcode that takes an address is a sector erase, complete only with it.
        if (sector != 0 && afterOpcode < kAddressBytes) return;
        if (!m_writeEnabled) return;
        m_writeEnabled = false;
        if (Protected()) return;
        if (sector != 0) {
            Erase(m_address / sector * sector, sector);
        } else {
            Erase(0, static_cast<uint32_t>(m_array.size()));
        }
        StartBusy(m_config.timing.eraseUs);
    }
}

}  // namespace vlmio::emu
