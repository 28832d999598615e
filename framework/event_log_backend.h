// The operating system's event log, as the event-log reporter uses it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace framework {

class EventLogBackend {
public:
    virtual ~EventLogBackend() = default;
    // Makes the event source known to the system's log, where the log needs that: on Windows it
    // creates or opens the source's registration key and writes its two values (false when the
    // key could not be created or opened; the values' own outcome is not reported). A log that
    // takes records from any program has nothing to do and succeeds.
    virtual bool WriteSourceRegistration(const std::string& keyPath, const std::string& messageFile,
                                         uint32_t typesSupported) = 0;
    // Opens the event source; 0 when it cannot be opened.
    virtual uintptr_t OpenSource(const std::string& sourceName) = 0;
    virtual void CloseSource(uintptr_t handle) = 0;
    // Writes one event with one string and no binary data; the system's success flag.
    virtual bool Report(uintptr_t handle, uint16_t type, uint16_t category, uint32_t eventId,
                        const std::vector<uint8_t>* userSid, const char* text) = 0;
    // The calling thread's user identifier to record with an event (Windows: thread token, else
    // process token); false when there is none to pass (a log that records the user itself).
    virtual bool CurrentUserSid(std::vector<uint8_t>& sid) = 0;
};

// The platform's event log (the Windows event log; on Linux the systemd journal, else syslog).
EventLogBackend& PlatformEventLog();
// The event log in use: the installed services' one, else the platform's.
EventLogBackend& CurrentEventLog();

}  // namespace framework
