// The update lock on Windows: a named mutex in the Global\ namespace, which exists while a process
// holds a handle to it.
#include "framework/win32/win32_headers.h"

#include <cstdio>

#include "framework/update_lock.h"

namespace framework {
namespace {

constexpr const char* kMachineMutexName = "Global\\vlm270fwupdate";
// An emulated machine's mutex is named after its folder's hash (a name holds no backslash).
constexpr uint32_t kFnvOffset = 2166136261u;
constexpr uint32_t kFnvPrime = 16777619u;

uint32_t FolderHash(const std::string& folder) {
    uint32_t hash = kFnvOffset;
    for (char c : folder) {
        hash ^= static_cast<unsigned char>(c);
        hash *= kFnvPrime;
    }
    return hash;
}

}  // namespace

UpdateLock::~UpdateLock() {
    Release();
}

void UpdateLock::Release() {
    if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

UpdateLockResult UpdateLock::Take(const std::string& scope) {
    Release();
    m_name = kMachineMutexName;
    if (!scope.empty()) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "-%08x", static_cast<unsigned>(FolderHash(scope)));
        m_name += suffix;
    }
    HANDLE mutex = CreateMutexA(nullptr, FALSE, m_name.c_str());
    if (mutex == nullptr) {
        // A mutex made by another user's process exists but may not be opened.
        return GetLastError() == ERROR_ACCESS_DENIED ? UpdateLockResult::kHeldElsewhere
                                                     : UpdateLockResult::kUnavailable;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return UpdateLockResult::kHeldElsewhere;
    }
    m_handle = reinterpret_cast<intptr_t>(mutex);
    return UpdateLockResult::kTaken;
}

}  // namespace framework
