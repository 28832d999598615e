// The PCI configuration access library, loaded at start from the program's own folder.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "framework/library_loader.h"
#include "pci/vlmio.h"
#include "pci/vlmio_access.h"

namespace pci {

// The library's entries, as resolved from the loaded file.
struct VlmIoEntries {
    uint32_t(VLMIO_CALL* pfnLoad)(void) = nullptr;
    void(VLMIO_CALL* pfnUnload)(void) = nullptr;
    uint32_t(VLMIO_CALL* pfnReadByte)(uint32_t, uint32_t, uint32_t, uint32_t) = nullptr;
    uint32_t(VLMIO_CALL* pfnReadDword)(uint32_t, uint32_t, uint32_t, uint32_t) = nullptr;
    void(VLMIO_CALL* pfnWriteByte)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) = nullptr;
    void(VLMIO_CALL* pfnWriteDword)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) = nullptr;
    uint32_t(VLMIO_CALL* pfnIsEmulated)(void) = nullptr;     // optional: only the emulated PC
    uint32_t(VLMIO_CALL* pfnFlashNotSaved)(void) = nullptr;  // optional: only the emulated PC
    uint32_t(VLMIO_CALL* pfnAccessError)(uint32_t, uint32_t, uint32_t) = nullptr;  // optional
    uint32_t(VLMIO_CALL* pfnWritesRefused)(void) = nullptr;                        // optional
};

// The loaded access library as the system calls it. Each call is made whole, one at a time,
// whatever the library itself guarantees.
class LoadedVlmIo final : public IVlmIo {
public:
    // Asks the library once whether it is the emulated PC; the answer holds for its life.
    LoadedVlmIo(std::unique_ptr<framework::SharedLibrary> library, const VlmIoEntries& entries);
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
    // The answer given at loading: never waits for a call inside the library.
    bool IsEmulated() override { return m_bEmulated; }
    // Asks the library, when it has the entry (the emulated PC).
    bool FlashNotSaved() override;
    // Ask the library, when it has the entries (the Linux hardware library).
    int AccessError(uint32_t bus, uint32_t device, uint32_t function) override;
    int WritesRefused() override;

    // The file it was loaded from.
    const std::string& Path() const { return m_library->Path(); }

private:
    std::mutex m_mutex;
    VlmIoEntries m_entries;
    bool m_bEmulated;
    std::unique_ptr<framework::SharedLibrary> m_library;  // closed last, after every call
};

// The access library's file name on this platform ("libvlmio.so", "vlmiodll.dll").
inline constexpr const char* kAccessLibraryFileName = VLMIO_LIBRARY_FILE;

// Opens the access library of the folder by its full path and resolves its entries. False,
// with a message naming the file or the missing entry in strError, when the file is missing,
// may be changed by others than its owner, cannot be loaded, or lacks one of the six entries.
// Never loads anything from elsewhere.
bool LoadAccessLibrary(const std::string& strFolder, std::unique_ptr<LoadedVlmIo>& library,
                       std::string& strError);

}  // namespace pci
