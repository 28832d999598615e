#include "pci/vlmio_access.h"

namespace pci {
namespace {

// Stands in while no library is installed: nothing answers.
class AbsentVlmIo final : public IVlmIo {
public:
    uint32_t LoadVlmIODriver() override { return 0; }
    void UnloadVlmIODriver() override {}
    uint32_t PCI_Read_BYTE(uint32_t, uint32_t, uint32_t, uint32_t) override { return 0xFF; }
    uint32_t PCI_Read_DWORD(uint32_t, uint32_t, uint32_t, uint32_t) override { return 0xFFFFFFFFu; }
    void PCI_Write_Byte(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override {}
    void PCI_Write_DWORD(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override {}
};

AbsentVlmIo g_absent;
IVlmIo* g_installed = nullptr;

}  // namespace

IVlmIo& VlmIo() {
    return g_installed != nullptr ? *g_installed : g_absent;
}

void SetVlmIo(IVlmIo* io) {
    g_installed = io;
}

}  // namespace pci
