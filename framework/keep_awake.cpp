#include "framework/keep_awake.h"

#include "framework/platform.h"
#include "framework/services.h"

namespace framework {

KeepAwakeBackend& CurrentKeepAwake() {
    KeepAwakeBackend* installed = InstalledServices().keepAwake;
    return installed != nullptr ? *installed : PlatformKeepAwake();
}

bool KeepAwake::Hold() {
    if (!m_bStopsHeld) {
        HoldTerminalStops(true);
        m_bStopsHeld = true;
    }
    if (m_pHeldBy != nullptr) return true;
    KeepAwakeBackend& backend = CurrentKeepAwake();
    if (!backend.Begin()) return false;
    m_pHeldBy = &backend;
    return true;
}

void KeepAwake::Release() {
    if (m_pHeldBy != nullptr) {
        m_pHeldBy->End();
        m_pHeldBy = nullptr;
    }
    // A stop asked for meanwhile happens now, once the computer may sleep again.
    if (m_bStopsHeld) {
        m_bStopsHeld = false;
        HoldTerminalStops(false);
    }
}

}  // namespace framework
