// Captures the diagnostic lines that the code under test writes to the event log.
#pragma once

#include <string>
#include <vector>

#include "tests/support/memory_event_log.h"
#include "tests/support/test_services.h"
#include "util/event_log.h"

namespace capture {

// Installs the services with an in-memory event log for the life of the object.
class EventCapture {
public:
    EventCapture() : m_services(WithLog()) {}
    EventCapture(const EventCapture&) = delete;
    EventCapture& operator=(const EventCapture&) = delete;

    std::vector<std::string> Lines() const { return m_backend.Lines(); }
    // Every event so far is an error event.
    bool AllErrors() const {
        for (const auto& e : m_backend.Events()) {
            if (e.type != kEventTypeError) return false;
        }
        return true;
    }

private:
    pci::Services WithLog() {
        pci::Services services = testsupport::CurrentServices();
        services.platform.eventLog = &m_backend;
        return services;
    }
    testsupport::MemoryEventLog m_backend;
    testsupport::ScopedTestServices m_services;
};

}  // namespace capture
