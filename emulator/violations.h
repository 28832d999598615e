// Misuse of a bridge or a flash chip by the host, as the emulated PC records it.
#pragma once

#include <cstdint>
#include <string>

namespace vlmio::emu {

enum class ViolationKind : uint8_t {
    kBridgeBusy,           // a bridge register written, or the data register read, mid-transfer
    kRegisterWidth,        // the data register not accessed as a dword, or the control
                           // register not as a byte
    kChipBusy,             // a command other than the status read sent to a busy chip
    kNoWriteEnable,        // a program or erase without the write-enable latch
    kPageCrossed,          // a page program whose data runs past the end of its page
    kAaiMisuse,            // auto-address-increment commands out of their order
    kStatusWriteDisabled,  // a status write without the enable the chip needs
    kRejectedCommand,      // a program, erase or status write the chip does not take: cut short
                           // before the bytes it needs, or not one of its commands
};
inline constexpr int kViolationKindCount = 8;

// The kind's name as records show it, e.g. "chip-busy".
const char* ViolationName(ViolationKind kind);

struct Violation {
    ViolationKind kind;
    uint8_t bus;
    uint8_t device;
    uint8_t function;
    uint64_t access;     // the access's number since the emulated PC was loaded, from 1
    std::string detail;  // what was sent, e.g. "command 0x04 while the chip is busy"
};

// One record line, e.g. "02:00.0 access 1234: chip-busy: command 0x04 while the chip is busy".
std::string FormatViolation(const Violation& v);

}  // namespace vlmio::emu
