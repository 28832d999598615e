#include "pci/access_library.h"

#include <utility>

namespace pci {
namespace {

constexpr const char* kMessagePrefix = "The access library ";

// Resolves one entry into the pointer; false when the library lacks it.
template <typename Fn>
bool Resolve(const framework::SharedLibrary& library, const char* name, Fn& entry) {
    void* symbol = library.Entry(name);
    if (symbol == nullptr) return false;
    entry = reinterpret_cast<Fn>(symbol);
    return true;
}

}  // namespace

LoadedVlmIo::LoadedVlmIo(std::unique_ptr<framework::SharedLibrary> library,
                         const VlmIoEntries& entries)
    : m_entries(entries),
      m_bEmulated(entries.pfnIsEmulated != nullptr && entries.pfnIsEmulated() == 1),
      m_library(std::move(library)) {}

uint32_t LoadedVlmIo::LoadVlmIODriver() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.pfnLoad();
}

void LoadedVlmIo::UnloadVlmIODriver() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.pfnUnload();
}

bool LoadedVlmIo::FlashNotSaved() {
    if (m_entries.pfnFlashNotSaved == nullptr) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.pfnFlashNotSaved() != 0;
}

int LoadedVlmIo::AccessError(uint32_t bus, uint32_t device, uint32_t function) {
    if (m_entries.pfnAccessError == nullptr) return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_entries.pfnAccessError(bus, device, function));
}

int LoadedVlmIo::WritesRefused() {
    if (m_entries.pfnWritesRefused == nullptr) return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_entries.pfnWritesRefused());
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

bool LoadAccessLibrary(const std::string& strFolder, std::unique_ptr<LoadedVlmIo>& library,
                       std::string& strError) {
    library.reset();
    std::unique_ptr<framework::SharedLibrary> file;
    if (!framework::LoadLibraryFromFolder(strFolder, kAccessLibraryFileName, file, strError)) {
        strError = kMessagePrefix + strError;
        return false;
    }
    VlmIoEntries entries;
    const char* missing = nullptr;  // the first entry the library lacks
    auto require = [&](const char* name, auto& entry) {
        if (missing == nullptr && !Resolve(*file, name, entry)) missing = name;
    };
    require(VLMIO_ENTRY_LOAD, entries.pfnLoad);
    require(VLMIO_ENTRY_UNLOAD, entries.pfnUnload);
    require(VLMIO_ENTRY_READ_BYTE, entries.pfnReadByte);
    require(VLMIO_ENTRY_READ_DWORD, entries.pfnReadDword);
    require(VLMIO_ENTRY_WRITE_BYTE, entries.pfnWriteByte);
    require(VLMIO_ENTRY_WRITE_DWORD, entries.pfnWriteDword);
    if (missing != nullptr) {
        strError = kMessagePrefix + file->Path() + " has no entry " + missing + ".";
        return false;
    }
    Resolve(*file, VLMIO_ENTRY_IS_EMULATED, entries.pfnIsEmulated);         // optional
    Resolve(*file, VLMIO_ENTRY_FLASH_NOT_SAVED, entries.pfnFlashNotSaved);  // optional
    Resolve(*file, VLMIO_ENTRY_ACCESS_ERROR, entries.pfnAccessError);       // optional
    Resolve(*file, VLMIO_ENTRY_WRITES_REFUSED, entries.pfnWritesRefused);   // optional
    library = std::make_unique<LoadedVlmIo>(std::move(file), entries);
    return true;
}

}  // namespace pci
