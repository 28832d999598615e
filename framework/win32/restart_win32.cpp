// Restarting Windows: the shutdown privilege in the process token, then a forced restart.
#include "framework/win32/win32_headers.h"

#include "framework/restart_backend.h"

namespace framework {
namespace {

class Win32RestartBackend final : public RestartBackend {
public:
    bool OpenProcessToken(uint32_t desiredAccess, uintptr_t& token) override {
        HANDLE handle = nullptr;
        if (!::OpenProcessToken(GetCurrentProcess(), desiredAccess, &handle)) return false;
        token = reinterpret_cast<uintptr_t>(handle);
        return true;
    }

    bool LookupPrivilegeValue(const char* privilegeName, PrivilegeLuid& luid) override {
        LUID value{};
        if (!::LookupPrivilegeValueA(nullptr, privilegeName, &value)) return false;
        luid.lowPart = value.LowPart;
        luid.highPart = value.HighPart;
        return true;
    }

    bool AdjustTokenPrivileges(uintptr_t token, bool disableAll,
                               const TokenPrivilege& newState) override {
        TOKEN_PRIVILEGES tkp{};
        tkp.PrivilegeCount = newState.privilegeCount;
        tkp.Privileges[0].Luid.LowPart = newState.luid.lowPart;
        tkp.Privileges[0].Luid.HighPart = newState.luid.highPart;
        tkp.Privileges[0].Attributes = newState.attributes;
        return ::AdjustTokenPrivileges(reinterpret_cast<HANDLE>(token), disableAll ? TRUE : FALSE,
                                       &tkp, 0, nullptr, nullptr) != 0;
    }

    uint32_t GetLastError() override { return ::GetLastError(); }

    bool ExitWindowsEx(uint32_t flags, uint32_t reason) override {
        return ::ExitWindowsEx(flags, reason) != 0;
    }

    void CloseToken(uintptr_t token) override { CloseHandle(reinterpret_cast<HANDLE>(token)); }
};

}  // namespace

RestartBackend& PlatformRestartBackend() {
    static Win32RestartBackend backend;
    return backend;
}

}  // namespace framework
