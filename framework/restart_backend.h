// The operating system's services for restarting the computer, as the restart uses them.
#pragma once

#include <cstdint>

namespace framework {

inline constexpr uint32_t kTokenAdjustPrivileges = 0x0020;
inline constexpr uint32_t kTokenQuery = 0x0008;
inline constexpr uint32_t kSePrivilegeEnabled = 0x00000002;
inline constexpr uint32_t kErrorNotAllAssigned = 1300;
inline constexpr uint32_t kEwxReboot = 0x00000002;
inline constexpr uint32_t kEwxForce = 0x00000004;
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

class RestartBackend {
public:
    virtual ~RestartBackend() = default;
    // Opens the current process's access token with the desired access; false on failure.
    virtual bool OpenProcessToken(uint32_t desiredAccess, uintptr_t& token) = 0;
    // Looks up a privilege's identifier on the local system; false on failure.
    virtual bool LookupPrivilegeValue(const char* privilegeName, PrivilegeLuid& luid) = 0;
    // Adjusts the token's privileges (no previous state asked for); false on failure. May
    // succeed and still set the last error (not all assigned).
    virtual bool AdjustTokenPrivileges(uintptr_t token, bool disableAll,
                                       const TokenPrivilege& newState) = 0;
    // The calling thread's last error code.
    virtual uint32_t GetLastError() = 0;
    // Asks the system to restart with those flags and reason; true when it accepted.
    virtual bool ExitWindowsEx(uint32_t flags, uint32_t reason) = 0;
    // Closes a token that OpenProcessToken gave.
    virtual void CloseToken(uintptr_t token) = 0;
};

// The platform's restart services.
RestartBackend& PlatformRestartBackend();

}  // namespace framework
