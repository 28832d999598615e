#include "framework/library_loader.h"

#include <utility>

namespace framework {

LoadedVlmIo::LoadedVlmIo(std::unique_ptr<LibraryHandle> handle, const VlmIoEntries& entries,
                         std::string path)
    : m_entries(entries), m_strPath(std::move(path)), m_handle(std::move(handle)) {}

uint32_t LoadedVlmIo::LoadVlmIODriver() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.pfnLoad();
}

void LoadedVlmIo::UnloadVlmIODriver() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.pfnUnload();
}

uint32_t LoadedVlmIo::PCI_Read_BYTE(uint32_t bus, uint32_t device, uint32_t function,
                                    uint32_t offset) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.pfnReadByte(bus, device, function, offset);
}

uint32_t LoadedVlmIo::PCI_Read_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                     uint32_t offset) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.pfnReadDword(bus, device, function, offset);
}

void LoadedVlmIo::PCI_Write_Byte(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                                 uint32_t value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.pfnWriteByte(bus, device, function, offset, value);
}

void LoadedVlmIo::PCI_Write_DWORD(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                                  uint32_t value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.pfnWriteDword(bus, device, function, offset, value);
}

bool LoadedVlmIo::IsEmulated() {
    if (m_entries.pfnIsEmulated == nullptr) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.pfnIsEmulated() == 1;
}

}  // namespace framework
