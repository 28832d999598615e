#include "emulator/emulator_vlmio.h"

#include <cstdio>
#include <string>

namespace vlmio::emu {
namespace {
constexpr uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr uint32_t kByteAllOnes = 0xFFu;
}  // namespace

EmulatorVlmIo::EmulatorVlmIo(EmulatedPc& pc) : m_external(&pc) {}

EmulatorVlmIo::EmulatorVlmIo(std::string machineFile, framework::Clock& clock)
    : m_machineFile(std::move(machineFile)), m_clock(&clock) {}

EmulatorVlmIo::~EmulatorVlmIo() = default;

uint32_t EmulatorVlmIo::LoadVlmIODriver() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pc) return 1;  // already loaded: keep its state
    if (m_external != nullptr) {
        // Shared without ownership: the caller keeps the emulated PC alive.
        m_pc = std::shared_ptr<EmulatedPc>(m_external, [](EmulatedPc*) {});
        return 1;
    }
    std::string error;
    std::unique_ptr<EmulatedPc> pc = EmulatedPc::FromFile(m_machineFile, *m_clock, &error);
    if (!pc) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 0;
    }
    if (!pc->StartWriteThrough(&error)) {
        std::fputs(error.c_str(), stderr);
        return 0;
    }
    m_pc = std::move(pc);
    return 1;
}

void EmulatorVlmIo::UnloadVlmIODriver() {
    std::shared_ptr<EmulatedPc> pc;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        pc = std::move(m_pc);
        m_pc.reset();
    }
    // An owned emulated PC is destroyed with the last reference, which saves again.
    std::string error;
    if (pc && !pc->SaveFlashFiles(&error)) {
        m_bFlashNotSaved.store(true, std::memory_order_release);
        std::fputs(error.c_str(), stderr);
    }
}

std::shared_ptr<EmulatedPc> EmulatorVlmIo::Pc() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pc;
}

uint32_t EmulatorVlmIo::PCI_Read_BYTE(uint32_t bus, uint32_t device, uint32_t function,
                                      uint32_t offset) {
    std::shared_ptr<EmulatedPc> pc = Pc();
    return pc ? pc->ReadByte(bus, device, function, offset) : kByteAllOnes;
}

uint32_t EmulatorVlmIo::PCI_Read_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                       uint32_t offset) {
    std::shared_ptr<EmulatedPc> pc = Pc();
    return pc ? pc->ReadDword(bus, device, function, offset) : kAllOnes;
}

void EmulatorVlmIo::PCI_Write_Byte(uint32_t bus, uint32_t device, uint32_t function,
                                   uint32_t offset, uint32_t value) {
    std::shared_ptr<EmulatedPc> pc = Pc();
    if (pc) pc->WriteByte(bus, device, function, offset, value);
}

void EmulatorVlmIo::PCI_Write_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                    uint32_t offset, uint32_t value) {
    std::shared_ptr<EmulatedPc> pc = Pc();
    if (pc) pc->WriteDword(bus, device, function, offset, value);
}

}  // namespace vlmio::emu
