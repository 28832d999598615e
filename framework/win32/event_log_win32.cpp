// The Windows event log: the source's registration under HKEY_LOCAL_MACHINE, event sources and
// error events carrying the writing thread's user.
#include "framework/win32/win32_headers.h"

#include "framework/event_log_backend.h"

namespace framework {
namespace {

constexpr DWORD kFirstTokenUserGuess = 122;  // enough for a token user of usual length
constexpr WORD kOneString = 1;
constexpr DWORD kNoBinaryData = 0;

// A heap copy of the user identifier held by the token, or null. The caller frees it with
// HeapFree on the process heap.
PSID CopyTokenUserSid(HANDLE token) {
    HANDLE heap = GetProcessHeap();
    DWORD size = kFirstTokenUserGuess;
    auto* user = static_cast<TOKEN_USER*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, size));
    if (user == nullptr) return nullptr;
    DWORD needed = 0;
    if (!GetTokenInformation(token, TokenUser, user, size, &needed)) {
        // A longer identifier: ask again with the size the system named.
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
            HeapFree(heap, 0, user);
            return nullptr;
        }
        HeapFree(heap, 0, user);
        size = needed;
        user = static_cast<TOKEN_USER*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, size));
        if (user == nullptr || !GetTokenInformation(token, TokenUser, user, size, &needed)) {
            if (user != nullptr) HeapFree(heap, 0, user);
            return nullptr;
        }
    }
    PSID copy = nullptr;
    if (IsValidSid(user->User.Sid)) {
        DWORD sidLength = GetLengthSid(user->User.Sid);
        copy = HeapAlloc(heap, HEAP_ZERO_MEMORY, sidLength);
        if (copy != nullptr && !CopySid(sidLength, copy, user->User.Sid)) {
            HeapFree(heap, 0, copy);
            copy = nullptr;
        }
    }
    HeapFree(heap, 0, user);
    return copy;
}

class Win32EventLog final : public EventLogBackend {
public:
    bool WriteSourceRegistration(const std::string& keyPath, const std::string& messageFile,
                                 uint32_t typesSupported) override {
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition) != ERROR_SUCCESS) {
            return false;
        }
        // The text is stored with its terminating zero.
        RegSetValueExA(key, "EventMessageFile", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(messageFile.c_str()),
                       static_cast<DWORD>(messageFile.size() + 1));
        DWORD types = typesSupported;
        RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                       sizeof types);
        RegCloseKey(key);
        return true;
    }

    uintptr_t OpenSource(const std::string& sourceName) override {
        return reinterpret_cast<uintptr_t>(RegisterEventSourceA(nullptr, sourceName.c_str()));
    }

    void CloseSource(uintptr_t handle) override {
        if (handle != 0) DeregisterEventSource(reinterpret_cast<HANDLE>(handle));
    }

    bool Report(uintptr_t handle, uint16_t type, uint16_t category, uint32_t eventId,
                const std::vector<uint8_t>* userSid, const char* text) override {
        if (handle == 0 || text == nullptr) return false;
        const char* strings[kOneString] = {text};
        PSID sid = userSid != nullptr && !userSid->empty() ? const_cast<uint8_t*>(userSid->data())
                                                           : nullptr;
        return ReportEventA(reinterpret_cast<HANDLE>(handle), type, category, eventId, sid,
                            kOneString, kNoBinaryData, strings, nullptr) != 0;
    }

    bool CurrentUserSid(std::vector<uint8_t>& sid) override {
        sid.clear();
        HANDLE token = nullptr;
        // The thread's own token while it impersonates, else the process's.
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
            if (GetLastError() != ERROR_NO_TOKEN) return false;
            if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
        }
        PSID copy = CopyTokenUserSid(token);
        CloseHandle(token);
        if (copy == nullptr) return false;
        const auto* bytes = static_cast<const uint8_t*>(copy);
        sid.assign(bytes, bytes + GetLengthSid(copy));
        HeapFree(GetProcessHeap(), 0, copy);
        return true;
    }
};

}  // namespace

EventLogBackend& PlatformEventLog() {
    static Win32EventLog log;
    return log;
}

}  // namespace framework
