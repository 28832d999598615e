// Diagnostic lines: printf-style error events in the system's event log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/event_fields.h"
#include "framework/event_log_backend.h"

inline constexpr const char* kEventSourceName = "VLMT 270X MP Tool";
inline constexpr const char* kEventLogKeyPrefix =
    "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\";
inline constexpr const char* kEventMessageFileName = "XEventMessage.dll";
inline constexpr uint32_t kEventTypesSupported = 31;  // error, warning, information, audits
inline constexpr uint32_t kDiagnosticEventId = 0x20000001;
inline constexpr uint16_t kEventTypeError = 1;
inline constexpr std::size_t kEventSourceNameBytes = 520;
inline constexpr std::size_t kDiagnosticLineBytes = 1024;

// Names of the fields that diagnostic lines carry where the event log keeps fields (the journal).
inline constexpr const char* kEventFieldController = "VLM270_CONTROLLER";  // "0000:02:00.0"
inline constexpr const char* kEventFieldPart = "VLM270_PART";              // "MXIC:[MX25L...]"
inline constexpr const char* kEventFieldStep = "VLM270_STEP";              // "chip-erase", ...
inline constexpr const char* kEventFieldResult = "VLM270_RESULT";          // result code, "-2"

// The step that failed and the result code it ended with, carried as fields by the diagnostic
// lines that the calling thread writes while this lives.
class CEventStep {
public:
    CEventStep(const char* pszStep, int32_t nResult);

private:
    framework::ScopedEventField m_step;
    framework::ScopedEventField m_result;
};

// The event-log reporter: one per process, never destroyed.
class CEventLog {
public:
    // Uses the given back end (the platform's event log unless a test gives another).
    explicit CEventLog(framework::EventLogBackend& backend);
    CEventLog(const CEventLog&) = delete;
    CEventLog& operator=(const CEventLog&) = delete;

    // (Re)opens the event source; true when a source handle is held afterwards.
    bool Open();
    // Writes the source's registration; true when its key could be created or opened.
    bool RegisterSource(const char* pszSourceName);
    // Writes one event with the text; false when nothing was written.
    bool Report(uint16_t wType, const char* pszText);

private:
    uintptr_t m_hEventSource = 0;
    char* m_pszSourceName = nullptr;  // 520-byte buffer, allocated by the first Open
    framework::EventLogBackend* m_pBackend;
};

// The reporter; null when it could not be created (diagnostic lines are then dropped).
extern CEventLog* g_pEventLog;

// Creates the process's reporter on the installed event log and opens it (start-up).
void CreateEventLog();

// A copy of the calling thread's user identifier; empty when it cannot be had.
std::vector<uint8_t> GetCurrentUserSid(framework::EventLogBackend& backend);

// Formats one diagnostic line (at most 1,023 characters; longer ones are cut) and reports it.
// Callable from any thread.
void EventLogPrintf(uint16_t wType, const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
