#include "pci/services.h"

#include <atomic>
#include <utility>

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
std::atomic<IVlmIo*> g_installed{nullptr};

}  // namespace

IVlmIo& VlmIo() {
    IVlmIo* installed = g_installed.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : g_absent;
}

Services InstalledServices() {
    return Services{framework::InstalledServices(), g_installed.load(std::memory_order_acquire)};
}

ScopedServices::ScopedServices(Services services)
    : m_platform(std::move(services.platform)),
      m_pPreviousVlmIo(g_installed.exchange(services.vlmIo, std::memory_order_acq_rel)) {}

ScopedServices::~ScopedServices() {
    g_installed.store(m_pPreviousVlmIo, std::memory_order_release);
}

}  // namespace pci
