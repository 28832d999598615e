#include "util/event_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "framework/platform.h"

CEventLog* g_pEventLog = nullptr;

namespace {
constexpr std::size_t kPathBufferBytes = 520;
constexpr std::size_t kPathRequestBytes = 518;
constexpr uint16_t kCategoryNone = 0;
}  // namespace

CEventStep::CEventStep(const char* pszStep, int32_t nResult)
    : m_step(kEventFieldStep, pszStep), m_result(kEventFieldResult, std::to_string(nResult)) {}

CEventLog::CEventLog(framework::EventLogBackend& backend) : m_pBackend(&backend) {}

bool CEventLog::Open() {
    if (m_hEventSource != 0) {
        m_pBackend->CloseSource(m_hEventSource);
        m_hEventSource = 0;
    }
    if (m_pszSourceName == nullptr) {
        m_pszSourceName = new (std::nothrow) char[kEventSourceNameBytes];
    }
    if (m_pszSourceName != nullptr) {
        std::memset(m_pszSourceName, 0, kEventSourceNameBytes);
        std::strncpy(m_pszSourceName, kEventSourceName, kEventSourceNameBytes - 2);
        if (RegisterSource(m_pszSourceName)) {
            m_hEventSource = m_pBackend->OpenSource(m_pszSourceName);
        }
    }
    return m_hEventSource != 0;
}

bool CEventLog::RegisterSource(const char* pszSourceName) {
    if (pszSourceName == nullptr || pszSourceName[0] == '\0') return false;
    std::string keyPath = std::string(kEventLogKeyPrefix) + pszSourceName;

    // The message file lies beside the program.
    char modulePath[kPathBufferBytes] = {};
    framework::GetModulePath(modulePath, kPathRequestBytes + 1);
    const char separator = framework::PathSeparator();
    const std::size_t last = framework::FindLastPathSeparator(modulePath);
    if (last != std::string::npos) modulePath[last] = '\0';
    std::string messageFile = std::string(modulePath) + separator + kEventMessageFileName;

    return m_pBackend->WriteSourceRegistration(keyPath, messageFile, kEventTypesSupported);
}

bool CEventLog::Report(uint16_t wType, const char* pszText) {
    if (m_hEventSource == 0 || pszText == nullptr) return false;
    std::vector<uint8_t> sid = GetCurrentUserSid(*m_pBackend);
    return m_pBackend->Report(m_hEventSource, wType, kCategoryNone, kDiagnosticEventId,
                              sid.empty() ? nullptr : &sid, pszText);
}

void CreateEventLog() {
    CEventLog* log = new (std::nothrow) CEventLog(framework::CurrentEventLog());
    if (log == nullptr) {
        g_pEventLog = nullptr;
        return;
    }
    log->Open();
    g_pEventLog = log;
}

std::vector<uint8_t> GetCurrentUserSid(framework::EventLogBackend& backend) {
    std::vector<uint8_t> sid;
    if (!backend.CurrentUserSid(sid)) sid.clear();
    return sid;
}

void EventLogPrintf(uint16_t wType, const char* pszFormat, ...) {
    char line[kDiagnosticLineBytes] = {};
    va_list args;
    va_start(args, pszFormat);
    // vsnprintf never writes past the buffer: a longer line is cut to 1,023 characters.
    std::vsnprintf(line, sizeof line, pszFormat, args);
    va_end(args);
    if (g_pEventLog != nullptr) g_pEventLog->Report(wType, line);
}
