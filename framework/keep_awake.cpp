#include "framework/keep_awake.h"

namespace framework {
namespace {

std::atomic<KeepAwakeBackend*> g_keepAwake{nullptr};

}  // namespace

void SetKeepAwakeBackend(KeepAwakeBackend* backend) {
    g_keepAwake.store(backend, std::memory_order_release);
}

KeepAwakeBackend& CurrentKeepAwake() {
    KeepAwakeBackend* installed = g_keepAwake.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : PlatformKeepAwake();
}

bool KeepAwake::Hold() {
    if (m_pHeldBy != nullptr) return true;
    KeepAwakeBackend& backend = CurrentKeepAwake();
    if (!backend.Begin()) return false;
    m_pHeldBy = &backend;
    return true;
}

void KeepAwake::Release() {
    if (m_pHeldBy == nullptr) return;
    m_pHeldBy->End();
    m_pHeldBy = nullptr;
}

}  // namespace framework
