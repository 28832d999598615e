// The system's log on Linux: the systemd journal where it runs (each record with fields of its
// own), else syslog (the message alone). Every record carries the program's identifier, so that
// "journalctl -t vlm270fwupdate" finds them all.
#pragma once

#include <string>
#include <vector>

#include "framework/event_fields.h"

namespace framework {

// The identifier of every record (SYSLOG_IDENTIFIER, or syslog's ident).
inline constexpr const char* kSystemLogIdentifier = "vlm270fwupdate";
// The field that names the event source ("VLMT 270X MP Tool") in every record of the program.
inline constexpr const char* kFieldEventSource = "VLM270_EVENT_SOURCE";
// syslog priorities.
inline constexpr int kLogPriorityError = 3;
inline constexpr int kLogPriorityWarning = 4;
inline constexpr int kLogPriorityNotice = 5;
inline constexpr int kLogPriorityInfo = 6;

// Writes one record: its message, priority and fields (names of upper-case letters, digits and
// underscores). Where no journal runs, syslog gets the message alone. Callable from any thread.
void WriteSystemLog(int priority, const std::string& message,
                    const std::vector<EventField>& fields);

// Whether the journal takes records on this machine (its socket is there).
bool JournalAvailable();

}  // namespace framework
