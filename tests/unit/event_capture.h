// Captures the diagnostic lines that the code under test writes to the event log.
#pragma once

#include <string>
#include <vector>

#include "framework/memory/memory_event_log.h"
#include "util/event_log.h"

namespace capture {

// Points the process's reporter at an in-memory log for the life of the object.
class EventCapture {
public:
    EventCapture() : m_saved(g_pEventLog) {
        Reporter();  // opened once
        Backend().Clear();
        g_pEventLog = &Reporter();
    }
    ~EventCapture() { g_pEventLog = m_saved; }
    EventCapture(const EventCapture&) = delete;
    EventCapture& operator=(const EventCapture&) = delete;

    std::vector<std::string> Lines() const { return Backend().Lines(); }
    // Every event so far is an error event.
    bool AllErrors() const {
        for (const auto& e : Backend().Events()) {
            if (e.type != kEventTypeError) return false;
        }
        return true;
    }

private:
    static framework::MemoryEventLog& Backend() {
        static framework::MemoryEventLog backend;
        return backend;
    }
    // Like the program's reporter, it lives until the process ends.
    static CEventLog& Reporter() {
        static CEventLog log(Backend());
        static const bool opened = log.Open();
        (void)opened;
        return log;
    }

    CEventLog* m_saved;
};

}  // namespace capture
