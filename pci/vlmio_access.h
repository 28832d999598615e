// The PCI configuration access library as the rest of the system calls it.
#pragma once

#include <cstdint>

namespace pci {

// Configuration-space offsets the system uses.
inline constexpr uint32_t kPciIdOffset = 0x00;         // vendor id low half, device id high half
inline constexpr uint32_t kSpiDataRegister = 0xF0;     // 32-bit SPI bridge data register
inline constexpr uint32_t kSpiControlRegister = 0xF4;  // 8-bit SPI bridge control register

// The six entries of the access library, plus whether it is the emulated PC.
// Every call is complete by itself; implementations serialise register accesses.
class IVlmIo {
public:
    virtual ~IVlmIo() = default;
    virtual uint32_t LoadVlmIODriver() = 0;
    virtual void UnloadVlmIODriver() = 0;
    virtual uint32_t PCI_Read_BYTE(uint32_t bus, uint32_t device, uint32_t function,
                                   uint32_t offset) = 0;
    virtual uint32_t PCI_Read_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                    uint32_t offset) = 0;
    virtual void PCI_Write_Byte(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                                uint32_t value) = 0;
    virtual void PCI_Write_DWORD(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                                 uint32_t value) = 0;
    // True only for the emulated PC (the library exports VlmIoIsEmulated returning 1). Answers
    // at once, also while another call is inside the library.
    virtual bool IsEmulated() { return false; }
    // True once the emulated PC could not write one of its flash files back (the file may not
    // hold what the run wrote); always false for a real library.
    virtual bool FlashNotSaved() { return false; }
    // The errno of the first access to that function since the load that the system refused,
    // 0 when none was or the library does not tell.
    virtual int AccessError(uint32_t /*bus*/, uint32_t /*device*/, uint32_t /*function*/) {
        return 0;
    }
    // Non-zero, the errno every configuration write would get, when the kernel refuses them all
    // (its lockdown); 0 when it does not, or the library does not tell. Needs no load.
    virtual int WritesRefused() { return 0; }
};

// The process-wide access library: the installed services' one (pci/services.h), the one the
// program loaded or a test's. Until one is installed, every read returns all ones and writes go
// nowhere.
IVlmIo& VlmIo();

}  // namespace pci
