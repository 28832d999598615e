// Restarting Windows: the shutdown privilege in the process token, then a forced restart.
#include "framework/win32/win32_headers.h"

#include "framework/restart_backend.h"
#include "framework/win32/restart_steps.h"

namespace framework {
namespace {

static_assert(win32::kTokenAdjustPrivileges == TOKEN_ADJUST_PRIVILEGES);
static_assert(win32::kTokenQuery == TOKEN_QUERY);
static_assert(win32::kSePrivilegeEnabled == SE_PRIVILEGE_ENABLED);
static_assert(win32::kErrorNotAllAssigned == ERROR_NOT_ALL_ASSIGNED);
static_assert(win32::kEwxReboot == EWX_REBOOT);
static_assert(win32::kEwxForce == EWX_FORCE);

// The system calls the restart steps make.
struct Win32RestartApi {
    bool OpenProcessToken(uint32_t desiredAccess, uintptr_t& token) {
        HANDLE handle = nullptr;
        if (!::OpenProcessToken(GetCurrentProcess(), desiredAccess, &handle)) return false;
        token = reinterpret_cast<uintptr_t>(handle);
        return true;
    }

    bool LookupPrivilegeValue(const char* privilegeName, win32::PrivilegeLuid& luid) {
        LUID value{};
        if (!::LookupPrivilegeValueA(nullptr, privilegeName, &value)) return false;
        luid.lowPart = value.LowPart;
        luid.highPart = value.HighPart;
        return true;
    }

    bool AdjustTokenPrivileges(uintptr_t token, bool disableAll,
                               const win32::TokenPrivilege& newState) {
        TOKEN_PRIVILEGES tkp{};
        tkp.PrivilegeCount = newState.privilegeCount;
        tkp.Privileges[0].Luid.LowPart = newState.luid.lowPart;
        tkp.Privileges[0].Luid.HighPart = newState.luid.highPart;
        tkp.Privileges[0].Attributes = newState.attributes;
        return ::AdjustTokenPrivileges(reinterpret_cast<HANDLE>(token), disableAll ? TRUE : FALSE,
                                       &tkp, 0, nullptr, nullptr) != 0;
    }

    uint32_t GetLastError() { return ::GetLastError(); }

    bool ExitWindowsEx(uint32_t flags, uint32_t reason) {
        return ::ExitWindowsEx(flags, reason) != 0;
    }

    void CloseToken(uintptr_t token) { CloseHandle(reinterpret_cast<HANDLE>(token)); }
};

class Win32Restart final : public RestartBackend {
public:
    bool RestartNow() override {
        Win32RestartApi api;
        return win32::RestartWithShutdownPrivilege(api);
    }
};

}  // namespace

RestartBackend& PlatformRestart() {
    static Win32Restart restart;
    return restart;
}

}  // namespace framework
