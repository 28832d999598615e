// The emulated PC behind the access library: 270X controllers with their SPI bridge and flash
// chip, other PCI functions, and injectable faults, described by a machine file.
//
// Machine file, one item a line, '#' starts a comment, tokens separated by blanks:
//   controller BB:DD.F part=PART [member=N] [flash=FILE] [size=BYTES]
//              [timing=datasheet|instant] [fault=FAULT]...
//   device     BB:DD.F VVVV:DDDD
// The full grammar is described in machine_file.cpp, the registers and the bridge's faults in
// emulated_pc.cpp, the chips and their faults in flash_chip_model.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator/chip_catalogue.h"
#include "emulator/violations.h"
#include "framework/clock.h"

namespace vlmio::emu {

class FlashChip;

// One register access, as the access log records it.
struct RegisterAccess {
    uint8_t bus;
    uint8_t device;
    uint8_t function;
    uint8_t offset;
    uint8_t width;  // 1 or 4 bytes
    bool write;
    uint32_t value;  // the value written, or the value the read returned
};

// The access log's line for one access, e.g. "R 03:00.1 f4 1 00000020" (read or write, bus,
// device, function, offset, width, value; hex).
std::string FormatAccess(const RegisterAccess& access);

// Modelled time of one configuration register access.
inline constexpr uint64_t kRegisterAccessUs = 2;

// The longest machine file read: a few hundred lines are all a PC can hold.
inline constexpr std::size_t kMaxMachineFileBytes = 1024 * 1024;

class EmulatedPc {
public:
    // Reads a machine file: a regular file of at most kMaxMachineFileBytes (a folder, pipe or
    // device is refused without being read). On any error returns null and sets *error to
    // "FILE:LINE: what is wrong" ("FILE: what is wrong" for the file as a whole); nothing is
    // half-loaded.
    static std::unique_ptr<EmulatedPc> FromFile(const std::string& path, framework::Clock& clock,
                                                std::string* error);
    // The text of a machine file, read as FromFile reads it; false with *error set.
    static bool ReadMachineFile(const std::string& path, std::string* text, std::string* error);
    // The same from text; relative flash= paths are taken from baseDir, and errors name
    // fileName.
    static std::unique_ptr<EmulatedPc> FromText(const std::string& text,
                                                const std::string& fileName,
                                                const std::string& baseDir, framework::Clock& clock,
                                                std::string* error);
    // Writes every flash= file back.
    ~EmulatedPc();
    EmulatedPc(const EmulatedPc&) = delete;
    EmulatedPc& operator=(const EmulatedPc&) = delete;

    // The four register accesses of the access library. Serialised: each is complete by itself.
    // Absent functions read all ones and ignore writes.
    uint32_t ReadByte(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset);
    uint32_t ReadDword(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset);
    void WriteByte(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                   uint32_t value);
    void WriteDword(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                    uint32_t value);

    // Writes every flash= file back now (also done by the destructor): a new file beside it,
    // FILE.tmp, renamed over it. False when a file could not be written (that file keeps its
    // earlier contents), with a line "FILE: why" for each added to *error. A FILE.tmp that
    // exists already is never touched: that file's save fails.
    bool SaveFlashFiles(std::string* error = nullptr);
    // From now on every command that changes a chip's array writes the change to its flash=
    // file as the command ends (chip select released), so that a process killed at any point
    // leaves in the file what the chip holds. A missing or shorter file is written whole first.
    // False when a file cannot be opened for writing, with a line "FILE: why" added to *error.
    bool StartWriteThrough(std::string* error);
    // Power cycle: every chip and bridge back to its power-up state, flash contents kept.
    void PowerCycle();

    // Every access from now on is passed to the observer (null: none). Set it before threads
    // access the PC.
    void SetAccessObserver(std::function<void(const RegisterAccess&)> observer);
    // Every access from now on is appended to this file, one FormatAccess line each.
    bool SetAccessLogFile(const std::string& path);

    // Misuse of the bridges and chips by the host, in the order it happened.
    std::vector<Violation> Violations() const;
    void ClearViolations();
    // Every violation from now on is also appended to this file, one FormatViolation line each.
    bool SetViolationLogFile(const std::string& path);

    // Inspection for tests.
    // The flash chip of the controller at that address, or null.
    FlashChip* Chip(uint32_t bus, uint32_t device, uint32_t function);
    std::size_t ControllerCount() const;
    uint64_t AccessCount() const;

private:
    struct Impl;
    explicit EmulatedPc(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// A modelled SPI flash chip, fed byte by byte by its bridge.
class FlashChip {
public:
    virtual ~FlashChip() = default;
    // The flash array.
    virtual const std::vector<uint8_t>& Contents() const = 0;
    virtual void SetContents(const std::vector<uint8_t>& bytes) = 0;
    virtual std::size_t Size() const = 0;
    virtual std::size_t PageSize() const = 0;
    virtual uint8_t Status() const = 0;  // the status register as the chip would answer it
    virtual bool WriteEnabled() const = 0;
    // Whether chip select is held: a command is being received.
    virtual bool Selected() const = 0;
    // The catalogue's name of the chip ("unknown" for part=unknown:...).
    virtual const char* PartName() const = 0;
    // The chip's row of the catalogue (sized as the machine file says).
    virtual const ChipDatasheet& Datasheet() const = 0;

    // Which bytes were programmed, and whether each was read after its last program (an erase
    // forgets what it erased).
    struct ByteHistory {
        std::size_t programmed = 0;  // bytes programmed and not erased since
        std::size_t unverified = 0;  // of those, bytes not read since their last program
        uint32_t firstUnverified = 0;
    };
    virtual ByteHistory History() const = 0;
    virtual void ClearHistory() = 0;
};

}  // namespace vlmio::emu
