// The SPI bridge of a 270X controller: flash commands carried over its data and control
// registers in PCI configuration space.
#pragma once

#include <cstdint>

#include "flash/flash_part_table.h"
#include "framework/clock.h"
#include "pci/vlmio_access.h"
#include "util/controller_info.h"

namespace flash {

// Control register, reading: set while a transfer runs.
inline constexpr uint8_t kControlBusy = 0x20;
// Control register, writing: a transfer is kControlTransferStart | count, plus kControlSend
// when the data register's low bytes go out; the end-of-command bit stays clear in a transfer.
inline constexpr uint8_t kControlTransferStart = 0x20;
inline constexpr uint8_t kControlSend = 0x08;
inline constexpr uint8_t kControlTransferMask = 0xEF;
inline constexpr uint8_t kControlEndOfCommand = 0x10;  // chip select released
inline constexpr uint32_t kMaxTransferBytes = 4;

// Flash commands.
inline constexpr uint8_t kOpWriteStatus = 0x01;
inline constexpr uint8_t kOpPageProgram = 0x02;
inline constexpr uint8_t kOpRead = 0x03;
inline constexpr uint8_t kOpWriteDisable = 0x04;
inline constexpr uint8_t kOpReadStatus = 0x05;
inline constexpr uint8_t kOpWriteEnable = 0x06;
inline constexpr uint8_t kOpEnableWriteStatus = 0x50;
inline constexpr uint8_t kOpAaiProgram = 0xAF;

// Flash status register bits.
inline constexpr uint8_t kStatusBusy = 0x01;
inline constexpr uint8_t kStatusWriteEnableLatch = 0x02;

// Limits, in milliseconds of the process clock counted from the wait's start (a limit lasts at
// least that long), and the auto-increment busy poll's bound.
inline constexpr uint64_t kBridgeLimitMs = 1000;
inline constexpr uint64_t kStatusPollLimitMs = 5000;
// How long an erase that still reports itself busy when the status poll's limit is reached is
// waited for, as long as the chip keeps answering. The typical whole-chip erase of the larger
// parts is already as long as the status poll (EN25LF40: 5 s); their worst case is several times
// that. A chip left erasing ignores the commands that follow: the write disable, and the blank
// check's reads, whose idle line reads as erased flash.
inline constexpr uint64_t kEraseLimitMs = 30000;
// What the bridge reads when no chip drives the line.
inline constexpr uint8_t kIdleLineByte = 0xFF;
inline constexpr uint32_t kAaiBusyPollMaxReads = 1000;

// The blank check covers the first 64 KiB in blocks of 256 bytes.
inline constexpr uint32_t kBlankCheckBytes = 0x10000;
inline constexpr uint32_t kBlankCheckBlockBytes = 256;
inline constexpr uint8_t kErasedByte = 0xFF;

// The control value that starts a transfer of count bytes (1-4), sending or receiving.
constexpr uint8_t TransferValue(uint32_t count, bool send) {
    return static_cast<uint8_t>(((count + (send ? kControlSend : 0u)) & kControlTransferMask) |
                                kControlTransferStart);
}

// An opcode followed by a 24-bit address, most significant byte first, as one data-register
// value (first byte on the wire in bits 0-7).
constexpr uint32_t OpcodeWithAddress(uint8_t opcode, uint32_t address) {
    return opcode | (((address >> 16) & 0xFFu) << 8) | (((address >> 8) & 0xFFu) << 16) |
           ((address & 0xFFu) << 24);
}

class CSPICtl {
public:
    // A null library or clock means the process-wide one, looked up at each call.
    explicit CSPICtl(pci::IVlmIo* pIo = nullptr, framework::Clock* pClock = nullptr);
    virtual ~CSPICtl();
    CSPICtl(const CSPICtl&) = delete;
    CSPICtl& operator=(const CSPICtl&) = delete;

    // Every wait and poll below ends at once on a thread whose stop was requested (a job stopped
    // at the run's time limit): a wait then fails as if its limit had passed.

    // Primitives. Results: 0, -2 the bridge stayed busy, -4 a count outside 1-4.
    // Waits until the bridge's busy bit reads clear, for at least and about the bridge limit.
    int32_t WaitReady(const ControllerInfo& record);
    // Receives count bytes into *pdwOut (other bytes zero); does not end the command.
    int32_t ReadData(const ControllerInfo& record, uint32_t count, uint32_t* pdwOut);
    // Sends the count low bytes of dwValue; does not end the command.
    int32_t WriteData(const ControllerInfo& record, uint32_t dwValue, uint32_t count);

    // Status polls; callers ignore their outcome. A status read that fails counts as busy and
    // as latch not set, so the polls go on until their limits.
    // Polls while the flash reports busy, for at most the status poll limit.
    void WaitWhileBusy(const ControllerInfo& record);
    // Polls until the flash reports its write-enable latch set, for at most the same limit.
    void WaitWriteEnable(const ControllerInfo& record);

    // Ends the current flash command (releases the chip select).
    void EndCommand(const ControllerInfo& record) { WriteControl(record, kControlEndOfCommand); }

    // Commands; each ends with the end-of-command value unless said otherwise.
    int32_t WriteDisable(const ControllerInfo& record);
    // Writes 0x00 to the flash's status register (clears its protection bits).
    int32_t WriteStatusZero(const ControllerInfo& record);
    // Makes the status register writable and clears it; outcome not looked at.
    void Unprotect(const ControllerInfo& record, const FlashPartInfo& part);
    // Erases the whole flash with the part's command (block by block on a part whose erase
    // command takes an address): 0 or -2.
    int32_t ChipErase(const ControllerInfo& record, const FlashPartInfo& part);
    // Sends an identification command; *pdwOut gets three bytes, the first received in bits 0-7.
    int32_t ReadId(const ControllerInfo& record, uint8_t ucOpcode, uint8_t ucMode,
                   uint32_t* pdwOut);
    // Reads count bytes from the flash at dwAddress into pOut: 0 or -2 (nothing stored from a
    // transfer whose wait failed counts as read).
    int32_t Read_Memory(const ControllerInfo& record, uint32_t dwAddress, uint32_t count,
                        uint8_t* pOut);
    // Checks that the first 64 KiB read 0xFF: 0, -2 a read failed, -3 a byte is not erased.
    int32_t BlankCheck(const ControllerInfo& record);
    // Programs count bytes within one page; always 0 (bad writes show at read-back).
    int32_t PageProgram(const ControllerInfo& record, uint32_t dwAddress, const uint8_t* pData,
                        uint32_t count);
    // Programs count bytes by auto-address-increment; always 0. The caller sets write enable
    // before and sends write disable after.
    int32_t AaiProgram(const ControllerInfo& record, uint32_t dwAddress, const uint8_t* pData,
                       uint32_t count);

    // Leaves the chip as a new run expects it, whatever an earlier run left open (a run killed
    // between a command's transfers leaves the chip selected, an erase running, the write-enable
    // latch set or an auto-address-increment run open): ends the open command, waits while the
    // chip answers busy (up to the status poll and erase limits), then sends write disable. 0,
    // or -2 when the bridge stayed busy. Every controller's first flash command of a run comes
    // after it.
    int32_t SettleChip(const ControllerInfo& record) {
        return SettleChip(record, kStatusPollLimitMs + kEraseLimitMs);
    }
    // The same for a job that was stopped where it stood: its closing end of command and write
    // disable go out whenever the controller still answers. A chip still busy after the status
    // poll's limit gets no write disable (it would ignore it; its latch clears when it is done).
    void CloseAfterStop(const ControllerInfo& record) { SettleChip(record, kStatusPollLimitMs); }

    // Identification: tries every row of the part table in order and returns the first that
    // matches, or the all-0xFF row. A match sets the record's page size. A read that fails
    // stops the search with the all-0xFF row (the flash counts as not identified). The chip is
    // settled first (SettleChip), so a command left open by an earlier run is never joined to
    // the first identification command.
    FlashPartInfo QueryFlashPart(ControllerInfo& record);

    // Whether the calling thread was asked to stop: then every further step fails at once.
    static bool Stopped();
    // Whether a wait of the calling thread found that controller gone from the bus (its control
    // register and identifiers read all ones): then every further wait and poll on it fails at
    // once. ForgetVanished lets the next attempt look again.
    static bool Vanished(const ControllerInfo& record);
    static void ForgetVanished();

    // The library and clock in use now.
    pci::IVlmIo& Io() const { return m_pIo != nullptr ? *m_pIo : pci::VlmIo(); }
    framework::Clock& GetClock() const {
        return m_pClock != nullptr ? *m_pClock : framework::ProcessClock();
    }

private:
    uint8_t ReadControl(const ControllerInfo& record);
    void WriteControl(const ControllerInfo& record, uint8_t value);
    uint32_t ReadDataRegister(const ControllerInfo& record);
    void WriteDataRegister(const ControllerInfo& record, uint32_t value);
    // Sends the count low bytes of dwValue as one transfer once the bridge is ready, then
    // waits for it. False when the bridge stayed busy and nothing was written.
    bool SendWhenReady(const ControllerInfo& record, uint32_t dwValue, uint32_t count);
    // Receives count bytes as one transfer: 0 with *pdwValue, or -2 when a wait failed.
    int32_t ReceiveWhenReady(const ControllerInfo& record, uint32_t count, uint32_t* pdwValue);
    // One status read as the polls make it; false when a wait failed (*pucStatus unchanged).
    bool PollStatus(const ControllerInfo& record, uint8_t* pucStatus);
    // The first status read of a poll: true with *pucStatus on success.
    bool FirstStatus(const ControllerInfo& record, uint8_t* pucStatus);
    // Polls while pred(status) holds or the read failed, for at most the status poll limit.
    // When given, *pbRead tells whether the last status read went through and *pucLast is the
    // status it read.
    template <typename KeepPolling>
    void PollWhile(const ControllerInfo& record, KeepPolling keepPolling,
                   uint8_t* pucLast = nullptr, bool* pbRead = nullptr);
    // The busy poll after an erase command: the status poll, then, while the chip still answers
    // busy, up to kEraseLimitMs more.
    void WaitEraseDone(const ControllerInfo& record);
    // SettleChip, waiting for a busy chip at most ullBusyLimitMs.
    int32_t SettleChip(const ControllerInfo& record, uint64_t ullBusyLimitMs);
    // The auto-increment busy poll: 1 to kAaiBusyPollMaxReads status reads.
    void AaiBusyPoll(const ControllerInfo& record);
    // Write enable, one erase command (with an address when bWithAddress), the busy poll.
    int32_t EraseCommand(const ControllerInfo& record, uint8_t ucOpcode, bool bWithAddress,
                         uint32_t dwAddress);

    pci::IVlmIo* m_pIo;
    framework::Clock* m_pClock;
};

}  // namespace flash

// The SPI layer, on the process-wide access library and clock (built with the other
// process-wide objects, in their order).
extern flash::CSPICtl g_SPICtl;
