#include "util/reboot_system.h"

namespace {

constexpr uint32_t kNoError = 0;
constexpr uint32_t kShutdownReasonNone = 0;

framework::RestartBackend* g_backend = nullptr;

}  // namespace

bool RebootSystem(framework::RestartBackend& backend) {
    uintptr_t hToken = 0;
    if (!backend.OpenProcessToken(framework::kTokenAdjustPrivileges | framework::kTokenQuery,
                                  hToken)) {
        return false;
    }

    framework::TokenPrivilege tkp;
    // The lookup's own outcome is not tested: a failed one leaves the adjustment to fail.
    backend.LookupPrivilegeValue(framework::kShutdownPrivilegeName, tkp.luid);
    tkp.privilegeCount = 1;
    tkp.attributes = framework::kSePrivilegeEnabled;

    backend.AdjustTokenPrivileges(hToken, false, tkp);
    // The last error covers both a failed adjustment and a privilege not held (1300).
    if (backend.GetLastError() != kNoError) {
        backend.CloseToken(hToken);
        return false;
    }
    backend.CloseToken(hToken);
    return backend.ExitWindowsEx(framework::kEwxReboot | framework::kEwxForce, kShutdownReasonNone);
}

bool RebootSystem() {
    return RebootSystem(g_backend != nullptr ? *g_backend : framework::PlatformRestartBackend());
}

void SetRestartBackend(framework::RestartBackend* backend) {
    g_backend = backend;
}
