// An event log kept in memory, for tests: the registration and every reported event.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "framework/event_log_backend.h"

namespace testsupport {

struct MemoryEvent {
    uint16_t type;
    uint16_t category;
    uint32_t eventId;
    bool hasUser;
    std::string text;
};

class MemoryEventLog final : public framework::EventLogBackend {
public:
    bool WriteSourceRegistration(const std::string& keyPath, const std::string& messageFile,
                                 uint32_t typesSupported) override;
    uintptr_t OpenSource(const std::string& sourceName) override;
    void CloseSource(uintptr_t handle) override;
    bool Report(uintptr_t handle, uint16_t type, uint16_t category, uint32_t eventId,
                const std::vector<uint8_t>* userSid, const char* text) override;
    bool CurrentUserSid(std::vector<uint8_t>& sid) override;

    // Test controls.
    void FailRegistration(bool fail) { m_failRegistration = fail; }
    std::vector<MemoryEvent> Events() const;
    std::vector<std::string> Lines() const;  // the texts, in order
    void Clear();

    std::string keyPath;
    std::string messageFile;
    uint32_t typesSupported = 0;
    std::string sourceName;

private:
    mutable std::mutex m_mutex;
    std::vector<MemoryEvent> m_events;
    bool m_failRegistration = false;
};

}  // namespace testsupport
