#include "flash/spi_protocol.h"

#include "flash/job_progress.h"
#include "framework/thread.h"
#include "util/result_codes.h"

namespace flash {
namespace {

constexpr uint32_t kByteBits = 8;
constexpr uint32_t kByteMask = 0xFF;
constexpr uint32_t kAllOnes = 0xFFFFFFFF;      // what a read of a function not on the bus gives
constexpr uint32_t kIdBytesMask = 0x00FFFFFF;  // three identification bytes
constexpr uint32_t kIdModeTransferBytes = 4;   // opcode and three zero bytes

// The count low bytes of a data-register value.
uint32_t LowBytes(uint32_t value, uint32_t count) {
    return count >= kMaxTransferBytes ? value : value & ((1u << (count * kByteBits)) - 1u);
}

// Stores the count low bytes of value at pOut, first byte on the wire first.
void StoreBytes(uint32_t value, uint32_t count, uint8_t* pOut) {
    for (uint32_t i = 0; i < count; ++i) {
        pOut[i] = static_cast<uint8_t>((value >> (i * kByteBits)) & kByteMask);
    }
}

// Packs count bytes from pData into a data-register value, first byte in bits 0-7.
uint32_t PackBytes(const uint8_t* pData, uint32_t count) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; ++i)
        value |= static_cast<uint32_t>(pData[i]) << (i * kByteBits);
    return value;
}

bool ValidCount(uint32_t count) {
    return count >= 1 && count <= kMaxTransferBytes;
}

// A time limit counted in milliseconds from its start. It has passed only once more than its
// length has gone by on the clock's millisecond count, so it lasts at least that long whatever
// the fraction of a millisecond it started at.
class Limit {
public:
    Limit(framework::Clock& clock, uint64_t ms)
        : m_clock(clock), m_startMs(clock.NowMs()), m_ms(ms) {}
    bool Passed() const { return m_clock.NowMs() - m_startMs > m_ms; }

private:
    framework::Clock& m_clock;
    uint64_t m_startMs;
    uint64_t m_ms;
};

// The controller that the calling thread's job found gone (KeyOf; 0: none): its control
// register and its identifiers read all ones, as a function no longer on the bus does. Every wait
// and poll on it then fails at once instead of running to its limit, until the next attempt.
thread_local uint32_t t_dwVanished = 0;

uint32_t KeyOf(const ControllerInfo& record) {
    return ((static_cast<uint32_t>(record.ucBus) << 8) |
            (static_cast<uint32_t>(record.ucDevice) << 3) | record.ucFunction) +
           1;
}

}  // namespace

bool CSPICtl::Stopped() {
    return framework::CurrentThreadStopRequested();
}

bool CSPICtl::Vanished(const ControllerInfo& record) {
    return t_dwVanished == KeyOf(record);
}

void CSPICtl::ForgetVanished() {
    t_dwVanished = 0;
}

CSPICtl::CSPICtl(pci::IVlmIo* pIo, framework::Clock* pClock) : m_pIo(pIo), m_pClock(pClock) {}

CSPICtl::~CSPICtl() = default;

uint8_t CSPICtl::ReadControl(const ControllerInfo& record) {
    return static_cast<uint8_t>(Io().PCI_Read_BYTE(record.ucBus, record.ucDevice, record.ucFunction,
                                                   pci::kSpiControlRegister) &
                                kByteMask);
}

void CSPICtl::WriteControl(const ControllerInfo& record, uint8_t value) {
    Io().PCI_Write_Byte(record.ucBus, record.ucDevice, record.ucFunction, pci::kSpiControlRegister,
                        value);
}

uint32_t CSPICtl::ReadDataRegister(const ControllerInfo& record) {
    return Io().PCI_Read_DWORD(record.ucBus, record.ucDevice, record.ucFunction,
                               pci::kSpiDataRegister);
}

void CSPICtl::WriteDataRegister(const ControllerInfo& record, uint32_t value) {
    Io().PCI_Write_DWORD(record.ucBus, record.ucDevice, record.ucFunction, pci::kSpiDataRegister,
                         value);
}

// Reads the control register until its busy bit is clear, for at least the bridge limit.
// A control register that reads all ones may be a function that has left the bus: its
// identifiers then read all ones too, and the wait fails at once.
int32_t CSPICtl::WaitReady(const ControllerInfo& record) {
    if (Vanished(record)) return kResultTransferError;
    const Limit limit(GetClock(), kBridgeLimitMs);
    for (;;) {
        const uint8_t control = ReadControl(record);
        if ((control & kControlBusy) == 0) return kResultSuccess;
        if (control == kByteMask &&
            Io().PCI_Read_DWORD(record.ucBus, record.ucDevice, record.ucFunction,
                                pci::kPciIdOffset) == kAllOnes) {
            t_dwVanished = KeyOf(record);
            return kResultTransferError;
        }
        if (limit.Passed() || Stopped()) return kResultTransferError;
    }
}

int32_t CSPICtl::ReadData(const ControllerInfo& record, uint32_t count, uint32_t* pdwOut) {
    if (WaitReady(record) != kResultSuccess) return kResultTransferError;
    if (!ValidCount(count)) return kResultInvalidParameter;
    WriteControl(record, TransferValue(count, false));
    if (WaitReady(record) != kResultSuccess) return kResultTransferError;
    *pdwOut = LowBytes(ReadDataRegister(record), count);
    return kResultSuccess;
}

int32_t CSPICtl::WriteData(const ControllerInfo& record, uint32_t dwValue, uint32_t count) {
    if (WaitReady(record) != kResultSuccess) return kResultTransferError;
    if (!ValidCount(count)) return kResultInvalidParameter;
    WriteDataRegister(record, dwValue);
    WriteControl(record, TransferValue(count, true));
    return WaitReady(record);
}

bool CSPICtl::SendWhenReady(const ControllerInfo& record, uint32_t dwValue, uint32_t count) {
    if (WaitReady(record) != kResultSuccess) return false;
    WriteDataRegister(record, dwValue);
    WriteControl(record, TransferValue(count, true));
    WaitReady(record);
    return true;
}

int32_t CSPICtl::ReceiveWhenReady(const ControllerInfo& record, uint32_t count,
                                  uint32_t* pdwValue) {
    if (WaitReady(record) != kResultSuccess) return kResultTransferError;
    WriteControl(record, TransferValue(count, false));
    if (WaitReady(record) != kResultSuccess) return kResultTransferError;
    *pdwValue = ReadDataRegister(record);
    return kResultSuccess;
}

// One status read inside the polls. A failed wait abandons the command where it stands.
bool CSPICtl::PollStatus(const ControllerInfo& record, uint8_t* pucStatus) {
    if (WaitReady(record) != kResultSuccess) return false;
    WriteDataRegister(record, kOpReadStatus);
    WriteControl(record, TransferValue(1, true));
    if (WaitReady(record) != kResultSuccess) return false;
    if (WaitReady(record) != kResultSuccess) return false;
    WriteControl(record, TransferValue(1, false));
    if (WaitReady(record) != kResultSuccess) return false;
    *pucStatus = static_cast<uint8_t>(ReadDataRegister(record) & kByteMask);
    EndCommand(record);
    return true;
}

// The first status read of a poll, through the primitives; the command is ended only when
// both the opcode and the status byte went through.
bool CSPICtl::FirstStatus(const ControllerInfo& record, uint8_t* pucStatus) {
    if (WriteData(record, kOpReadStatus, 1) != kResultSuccess) return false;
    uint32_t value = 0;
    if (ReadData(record, 1, &value) != kResultSuccess) return false;
    EndCommand(record);
    *pucStatus = static_cast<uint8_t>(value);
    return true;
}

template <typename KeepPolling>
void CSPICtl::PollWhile(const ControllerInfo& record, KeepPolling keepPolling, uint8_t* pucLast,
                        bool* pbRead) {
    uint8_t status = 0;
    bool ok = FirstStatus(record, &status);
    const Limit limit(GetClock(), kStatusPollLimitMs);
    while (!ok || keepPolling(status)) {
        if (limit.Passed() || Stopped() || Vanished(record)) break;
        ok = PollStatus(record, &status);
    }
    if (ok) NoteStatus(status);  // the evidence a failure that follows is told with
    if (pucLast != nullptr) *pucLast = status;
    if (pbRead != nullptr) *pbRead = ok;
}

// A chip that answers busy when the status poll gives up is still erasing: it is polled on
// while it answers busy, so that nothing is sent to it before the erase ends. A chip that
// stops answering (a status read that fails, or the idle line's 0xFF that no chip drives) is
// not waited for longer than the status poll.
void CSPICtl::WaitEraseDone(const ControllerInfo& record) {
    uint8_t status = 0;
    bool read = false;
    PollWhile(
        record, [](uint8_t s) { return (s & kStatusBusy) != 0; }, &status, &read);
    auto stillErasing = [&] { return read && status != kIdleLineByte && (status & kStatusBusy); };
    const Limit limit(GetClock(), kEraseLimitMs);
    while (stillErasing()) {
        if (limit.Passed() || Stopped() || Vanished(record)) return;
        read = PollStatus(record, &status);
    }
}

int32_t CSPICtl::SettleChip(const ControllerInfo& record, uint64_t ullBusyLimitMs) {
    if (WaitReady(record) != kResultSuccess) return kResultTransferError;
    EndCommand(record);
    // A chip that answers busy is still erasing or programming what an earlier run sent: it
    // would ignore the write disable. The idle line's 0xFF (no chip) is not waited for.
    uint8_t status = 0;
    bool read = FirstStatus(record, &status);
    auto busy = [&] { return read && status != kIdleLineByte && (status & kStatusBusy) != 0; };
    const Limit limit(GetClock(), ullBusyLimitMs);
    while (busy()) {
        if (limit.Passed() || Stopped() || Vanished(record)) break;
        read = PollStatus(record, &status);
    }
    if (busy()) return kResultSuccess;  // still at work: it would ignore the write disable
    return WriteDisable(record);
}

void CSPICtl::WaitWhileBusy(const ControllerInfo& record) {
    PollWhile(record, [](uint8_t status) { return (status & kStatusBusy) != 0; });
}

void CSPICtl::WaitWriteEnable(const ControllerInfo& record) {
    PollWhile(record, [](uint8_t status) { return (status & kStatusWriteEnableLatch) == 0; });
}

void CSPICtl::AaiBusyPoll(const ControllerInfo& record) {
    uint8_t status = 0;
    for (uint32_t reads = 0; reads < kAaiBusyPollMaxReads && !Stopped() && !Vanished(record);
         ++reads) {
        if (PollStatus(record, &status) && (status & kStatusBusy) == 0) return;
    }
}

int32_t CSPICtl::WriteDisable(const ControllerInfo& record) {
    const int32_t result = WriteData(record, kOpWriteDisable, 1);
    EndCommand(record);
    return result;
}

int32_t CSPICtl::WriteStatusZero(const ControllerInfo& record) {
    if (WaitReady(record) != kResultSuccess) {
        EndCommand(record);
        return kResultTransferError;
    }
    constexpr uint8_t kStatusValue = 0x00;
    WriteDataRegister(record, kOpWriteStatus | (static_cast<uint32_t>(kStatusValue) << kByteBits));
    WriteControl(record, TransferValue(2, true));
    const int32_t result = WaitReady(record);
    EndCommand(record);
    return result;
}

void CSPICtl::Unprotect(const ControllerInfo& record, const FlashPartInfo& part) {
    if (TraitsOf(part).bEnableWriteStatus) {
        WriteData(record, kOpEnableWriteStatus, 1);
        EndCommand(record);
    } else {
        WriteData(record, kOpWriteEnable, 1);
        EndCommand(record);
        WaitWriteEnable(record);
    }
    WriteStatusZero(record);
    WaitWhileBusy(record);
}

// One erase command under write enable, then the busy poll: the chip erase, or the erase of the
// block at dwAddress when bWithAddress. 0, or -2 when the bridge refused the write enable or the
// erase command.
int32_t CSPICtl::EraseCommand(const ControllerInfo& record, uint8_t ucOpcode, bool bWithAddress,
                              uint32_t dwAddress) {
    int32_t result = WriteData(record, kOpWriteEnable, 1);
    EndCommand(record);
    if (result < 0) return result;
    WaitWriteEnable(record);
    result = bWithAddress
                 ? WriteData(record, OpcodeWithAddress(ucOpcode, dwAddress), kMaxTransferBytes)
                 : WriteData(record, ucOpcode, 1);
    EndCommand(record);
    if (result < 0) return result;
    WaitEraseDone(record);
    return kResultSuccess;
}

// A part whose erase opcode takes an address has no chip erase: each of its blocks is erased
// with its address, polled as the chip erase is.
int32_t CSPICtl::ChipErase(const ControllerInfo& record, const FlashPartInfo& part) {
    Unprotect(record, part);
    const uint32_t dwBlock = TraitsOf(part).ulEraseBlockBytes;
    if (dwBlock == 0) {
        const int32_t result = EraseCommand(record, part.ucChipEraseOpcode, false, 0);
        if (result < 0) return result;
    } else {
        const uint32_t dwChip = FlashSizeBytes(part);
        for (uint32_t dwAddress = 0; dwAddress < dwChip; dwAddress += dwBlock) {
            const int32_t result = EraseCommand(record, part.ucChipEraseOpcode, true, dwAddress);
            if (result < 0) return result;
        }
    }
    WriteData(record, kOpWriteDisable, 1);
    EndCommand(record);
    return kResultSuccess;
}

int32_t CSPICtl::ReadId(const ControllerInfo& record, uint8_t ucOpcode, uint8_t ucMode,
                        uint32_t* pdwOut) {
    const uint32_t count = ucMode == kIdModeThreeZeroBytes ? kIdModeTransferBytes : 1;
    int32_t result = WriteData(record, ucOpcode, count);
    if (result == kResultSuccess) {
        uint32_t value = 0;
        result = ReceiveWhenReady(record, 3, &value);
        if (result == kResultSuccess) *pdwOut = value & kIdBytesMask;
    }
    // The command is ended whatever happened, so the chip is never left selected.
    EndCommand(record);
    return result;
}

int32_t CSPICtl::Read_Memory(const ControllerInfo& record, uint32_t dwAddress, uint32_t count,
                             uint8_t* pOut) {
    if (WaitReady(record) != kResultSuccess) {
        EndCommand(record);
        return kResultTransferError;
    }
    WriteDataRegister(record, OpcodeWithAddress(kOpRead, dwAddress));
    WriteControl(record, TransferValue(kMaxTransferBytes, true));
    if (WaitReady(record) != kResultSuccess) {
        EndCommand(record);
        return kResultTransferError;
    }
    uint32_t position = 0;
    while (count - position >= kMaxTransferBytes) {
        uint32_t value = 0;
        if (ReceiveWhenReady(record, kMaxTransferBytes, &value) != kResultSuccess) {
            EndCommand(record);
            return kResultTransferError;
        }
        StoreBytes(value, kMaxTransferBytes, pOut + position);
        position += kMaxTransferBytes;
    }
    const uint32_t remainder = count - position;
    if (remainder > 0) {
        uint32_t value = 0;
        // A remainder that could not be read is reported: nothing counts as read unless it was.
        const int32_t result = remainder == 1 ? ReadData(record, 1, &value)
                                              : ReceiveWhenReady(record, remainder, &value);
        if (result != kResultSuccess) {
            EndCommand(record);
            return kResultTransferError;
        }
        StoreBytes(value, remainder, pOut + position);
    }
    EndCommand(record);
    return kResultSuccess;
}

int32_t CSPICtl::BlankCheck(const ControllerInfo& record) {
    uint8_t block[kBlankCheckBlockBytes];
    for (uint32_t address = 0; address < kBlankCheckBytes; address += kBlankCheckBlockBytes) {
        if (Stopped() || Vanished(record)) return kResultTransferError;
        const int32_t result = Read_Memory(record, address, kBlankCheckBlockBytes, block);
        if (result < 0) {
            NoteAddress(address);
            return result;
        }
        for (uint32_t i = 0; i < kBlankCheckBlockBytes; ++i) {
            if (block[i] != kErasedByte) {
                NoteMismatch(address + i, kErasedByte, block[i]);
                return kResultDataNotMatch;
            }
        }
        StepBytesDone(address + kBlankCheckBlockBytes);
    }
    return kResultSuccess;
}

int32_t CSPICtl::PageProgram(const ControllerInfo& record, uint32_t dwAddress, const uint8_t* pData,
                             uint32_t count) {
    if (count == 0) return kResultSuccess;
    // When the command itself could not go out, its data must not either: the chip would take
    // the first data byte for a command.
    if (SendWhenReady(record, OpcodeWithAddress(kOpPageProgram, dwAddress), kMaxTransferBytes)) {
        uint32_t position = 0;
        for (; count - position >= kMaxTransferBytes; position += kMaxTransferBytes) {
            SendWhenReady(record, PackBytes(pData + position, kMaxTransferBytes),
                          kMaxTransferBytes);
        }
        const uint32_t remainder = count - position;
        if (remainder == 1) {
            WriteData(record, pData[position], 1);
        } else if (remainder > 1) {
            SendWhenReady(record, PackBytes(pData + position, remainder), remainder);
        }
    }
    EndCommand(record);
    return kResultSuccess;
}

int32_t CSPICtl::AaiProgram(const ControllerInfo& record, uint32_t dwAddress, const uint8_t* pData,
                            uint32_t count) {
    if (count == 0) return kResultSuccess;
    // The first byte goes only behind its command, never as a command of its own.
    if (SendWhenReady(record, OpcodeWithAddress(kOpAaiProgram, dwAddress), kMaxTransferBytes)) {
        WriteData(record, pData[0], 1);
    }
    EndCommand(record);
    for (uint32_t i = 1; i < count && !Stopped() && !Vanished(record); ++i) {
        AaiBusyPoll(record);
        SendWhenReady(record, kOpAaiProgram | (static_cast<uint32_t>(pData[i]) << kByteBits), 2);
        EndCommand(record);
    }
    AaiBusyPoll(record);
    EndCommand(record);
    return kResultSuccess;
}

}  // namespace flash
