#include "flash/stoppable_vlmio.h"

namespace flash {

void CStoppableVlmIo::StopController(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction) {
    const uint32_t key = Key(ucBus, ucDevice, ucFunction);
    std::lock_guard<std::mutex> lock(m_stopMutex);
    for (auto& slot : m_stopped) {
        if (slot.load(std::memory_order_acquire) == key) return;
    }
    for (auto& slot : m_stopped) {
        if (slot.load(std::memory_order_acquire) == 0) {
            slot.store(key, std::memory_order_release);
            return;
        }
    }
}

bool CStoppableVlmIo::IsStopped(uint32_t bus, uint32_t device, uint32_t function) const {
    if (bus > 0xFF || device > 0x1F || function > 0x7) return false;
    const uint32_t key = Key(bus, device, function);
    for (const auto& slot : m_stopped) {
        if (slot.load(std::memory_order_acquire) == key) return true;
    }
    return false;
}

void CStoppableVlmIo::ClearStops() {
    std::lock_guard<std::mutex> lock(m_stopMutex);
    for (auto& slot : m_stopped) slot.store(0, std::memory_order_release);
}

uint32_t CStoppableVlmIo::LoadVlmIODriver() {
    Inside inside(m_dwCallsInside);
    return m_inner.LoadVlmIODriver();
}

void CStoppableVlmIo::UnloadVlmIODriver() {
    Inside inside(m_dwCallsInside);
    m_inner.UnloadVlmIODriver();
}

uint32_t CStoppableVlmIo::PCI_Read_BYTE(uint32_t bus, uint32_t device, uint32_t function,
                                        uint32_t offset) {
    if (IsStopped(bus, device, function)) return kStoppedRead;
    Inside inside(m_dwCallsInside);
    return m_inner.PCI_Read_BYTE(bus, device, function, offset);
}

uint32_t CStoppableVlmIo::PCI_Read_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                         uint32_t offset) {
    if (IsStopped(bus, device, function)) return kStoppedRead;
    Inside inside(m_dwCallsInside);
    return m_inner.PCI_Read_DWORD(bus, device, function, offset);
}

void CStoppableVlmIo::PCI_Write_Byte(uint32_t bus, uint32_t device, uint32_t function,
                                     uint32_t offset, uint32_t value) {
    if (IsStopped(bus, device, function)) return;
    Inside inside(m_dwCallsInside);
    m_inner.PCI_Write_Byte(bus, device, function, offset, value);
}

void CStoppableVlmIo::PCI_Write_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                      uint32_t offset, uint32_t value) {
    if (IsStopped(bus, device, function)) return;
    Inside inside(m_dwCallsInside);
    m_inner.PCI_Write_DWORD(bus, device, function, offset, value);
}

bool CStoppableVlmIo::IsEmulated() {
    Inside inside(m_dwCallsInside);
    return m_inner.IsEmulated();
}

int CStoppableVlmIo::AccessError(uint32_t bus, uint32_t device, uint32_t function) {
    Inside inside(m_dwCallsInside);
    return m_inner.AccessError(bus, device, function);
}

int CStoppableVlmIo::WritesRefused() {
    Inside inside(m_dwCallsInside);
    return m_inner.WritesRefused();
}

}  // namespace flash
