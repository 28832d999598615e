// The emulated PC as the system's access library, for use inside one process (tests, tools).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "emulator/emulated_pc.h"
#include "framework/clock.h"
#include "pci/vlmio_access.h"

namespace vlmio::emu {

class EmulatorVlmIo final : public pci::IVlmIo {
public:
    // Drives an emulated PC that the caller owns: loading always succeeds, unloading writes its
    // flash files back.
    explicit EmulatorVlmIo(EmulatedPc& pc);
    // Reads the machine file at each load (an error goes to standard error and the load
    // returns 0) and writes its flash files through from then on; unloading writes them back
    // and drops the emulated PC. Unlike the shared library, it takes no lock on them.
    EmulatorVlmIo(std::string machineFile, framework::Clock& clock);
    ~EmulatorVlmIo() override;

    uint32_t LoadVlmIODriver() override;
    void UnloadVlmIODriver() override;
    uint32_t PCI_Read_BYTE(uint32_t bus, uint32_t device, uint32_t function,
                           uint32_t offset) override;
    uint32_t PCI_Read_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                            uint32_t offset) override;
    void PCI_Write_Byte(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                        uint32_t value) override;
    void PCI_Write_DWORD(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                         uint32_t value) override;
    bool IsEmulated() override { return true; }
    bool FlashNotSaved() override { return m_bFlashNotSaved.load(std::memory_order_acquire); }

    // The emulated PC being driven, or null while none is loaded.
    std::shared_ptr<EmulatedPc> Pc();

private:
    std::mutex m_mutex;  // guards m_pc; held only to copy or swap it
    std::shared_ptr<EmulatedPc> m_pc;
    EmulatedPc* m_external = nullptr;
    std::string m_machineFile;
    framework::Clock* m_clock = nullptr;
    std::atomic<bool> m_bFlashNotSaved{false};  // set for good by a failed save
};

}  // namespace vlmio::emu
