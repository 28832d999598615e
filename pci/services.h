// The services the system runs on, installed together with one call: the platform's and the PCI
// configuration access library.
#pragma once

#include "framework/services.h"
#include "pci/vlmio_access.h"

namespace pci {

struct Services {
    framework::Services platform = {};
    IVlmIo* vlmIo = nullptr;  // the access library (empty: none, nothing answers)
};

// The services installed now.
Services InstalledServices();

// Installs both for its own life, then puts back those it replaced (see
// framework::ScopedServices).
class ScopedServices {
public:
    explicit ScopedServices(Services services);
    ~ScopedServices();
    ScopedServices(const ScopedServices&) = delete;
    ScopedServices& operator=(const ScopedServices&) = delete;

private:
    framework::ScopedServices m_platform;
    IVlmIo* m_pPreviousVlmIo;
};

}  // namespace pci
