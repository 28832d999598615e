#include "util/utility.h"

#include <cstring>
#include <exception>

#include "framework/platform.h"

CUtility::CUtility() {
    try {
        SetModulePath(framework::ModulePath());
    } catch (const std::exception&) {
        // Out of memory this early: the folder stays empty and the program goes on.
    }
    ClearControllers();
    m_bAllUpdated.store(0, std::memory_order_release);
}

CUtility::~CUtility() = default;

void CUtility::ClearControllers() {
    m_ucControllerCount = 0;
    for (ControllerInfo& controller : m_Controllers) controller = ControllerInfo{};
}

void CUtility::SetModulePath(const std::string& strPath) {
    std::memset(m_szModulePath, 0, sizeof m_szModulePath);
    std::memset(m_szModuleDir, 0, sizeof m_szModuleDir);
    // A path that does not fit (with its terminator) would name another file once cut: keep
    // neither it nor its folder, and let the program refuse.
    m_bModulePathTooLong = strPath.size() >= sizeof m_szModulePath;
    if (m_bModulePathTooLong) return;
    std::memcpy(m_szModulePath, strPath.data(), strPath.size());
    // The folder is everything before the last separator; a separator byte inside a
    // double-byte character of the path does not count.
    const std::size_t last = framework::FindLastPathSeparator(strPath);
    if (last != std::string::npos) std::memcpy(m_szModuleDir, m_szModulePath, last);
}
