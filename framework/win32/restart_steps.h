// The steps of a Windows restart, written over a table of the system calls they make so that
// they can be followed without Windows: the process token opened to adjust its privileges, the
// shutdown privilege looked up and enabled, the last error read (a privilege not held leaves
// 1300), then a forced restart. Api is a class with the calls below; the Windows program
// instantiates it with the real ones, a test with recording ones.
#pragma once

#include <cstdint>

namespace framework::win32 {

inline constexpr uint32_t kTokenAdjustPrivileges = 0x0020;
inline constexpr uint32_t kTokenQuery = 0x0008;
inline constexpr uint32_t kSePrivilegeEnabled = 0x00000002;
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorNotAllAssigned = 1300;
inline constexpr uint32_t kEwxReboot = 0x00000002;
inline constexpr uint32_t kEwxForce = 0x00000004;
inline constexpr uint32_t kShutdownReasonNone = 0;
inline constexpr const char* kShutdownPrivilegeName = "SeShutdownPrivilege";

// A locally unique identifier of a privilege.
struct PrivilegeLuid {
    uint32_t lowPart = 0;
    int32_t highPart = 0;
};

// A set of one privilege with its attributes.
struct TokenPrivilege {
    uint32_t privilegeCount = 1;
    PrivilegeLuid luid;
    uint32_t attributes = 0;
};

// Api provides:
//   bool OpenProcessToken(uint32_t desiredAccess, uintptr_t& token);
//   bool LookupPrivilegeValue(const char* privilegeName, PrivilegeLuid& luid);
//   bool AdjustTokenPrivileges(uintptr_t token, bool disableAll, const TokenPrivilege& newState);
//   uint32_t GetLastError();
//   bool ExitWindowsEx(uint32_t flags, uint32_t reason);
//   void CloseToken(uintptr_t token);
// True when the system accepted the restart.
template <typename Api>
bool RestartWithShutdownPrivilege(Api& api) {
    uintptr_t hToken = 0;
    if (!api.OpenProcessToken(kTokenAdjustPrivileges | kTokenQuery, hToken)) return false;

    TokenPrivilege tkp;
    // The lookup's own outcome is not tested: a failed one leaves the adjustment to fail.
    api.LookupPrivilegeValue(kShutdownPrivilegeName, tkp.luid);
    tkp.privilegeCount = 1;
    tkp.attributes = kSePrivilegeEnabled;

    api.AdjustTokenPrivileges(hToken, false, tkp);
    // The last error covers both a failed adjustment and a privilege not held (1300).
    if (api.GetLastError() != kErrorSuccess) {
        api.CloseToken(hToken);
        return false;
    }
    api.CloseToken(hToken);
    return api.ExitWindowsEx(kEwxReboot | kEwxForce, kShutdownReasonNone);
}

}  // namespace framework::win32
