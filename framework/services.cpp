#include "framework/services.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace framework {
namespace {

const Services& NoServices() {
    static const Services s_none;
    return s_none;
}

std::atomic<const Services*> g_installed{nullptr};

}  // namespace

const Services& InstalledServices() {
    const Services* installed = g_installed.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : NoServices();
}

ScopedServices::ScopedServices(Services services)
    : m_services(std::move(services)),
      m_pPrevious(g_installed.exchange(&m_services, std::memory_order_acq_rel)) {}

ScopedServices::~ScopedServices() {
    g_installed.store(m_pPrevious, std::memory_order_release);
}

void EndProcessNow(int status) {
    std::fflush(nullptr);
    const std::function<void(int)>& endProcess = InstalledServices().endProcess;
    if (endProcess) {
        endProcess(status);
        return;
    }
    std::_Exit(status);
}

}  // namespace framework
