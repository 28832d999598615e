#include "framework/keep_awake.h"

#include "framework/services.h"

namespace framework {

KeepAwakeBackend& CurrentKeepAwake() {
    KeepAwakeBackend* installed = InstalledServices().keepAwake;
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
