#include "tests/support/memory_event_log.h"

namespace testsupport {
namespace {
constexpr uintptr_t kMemorySourceHandle = 1;
}  // namespace

bool MemoryEventLog::WriteSourceRegistration(const std::string& key, const std::string& file,
                                             uint32_t types) {
    if (m_failRegistration) return false;
    keyPath = key;
    messageFile = file;
    typesSupported = types;
    return true;
}

uintptr_t MemoryEventLog::OpenSource(const std::string& name) {
    sourceName = name;
    return kMemorySourceHandle;
}

void MemoryEventLog::CloseSource(uintptr_t) {}

bool MemoryEventLog::Report(uintptr_t handle, uint16_t type, uint16_t category, uint32_t eventId,
                            const std::vector<uint8_t>* userSid, const char* text) {
    if (handle == 0) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back({type, category, eventId, userSid != nullptr, text});
    return true;
}

bool MemoryEventLog::CurrentUserSid(std::vector<uint8_t>& sid) {
    sid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // a fixed identifier for tests
    return true;
}

std::vector<MemoryEvent> MemoryEventLog::Events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<std::string> MemoryEventLog::Lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (const MemoryEvent& e : m_events) lines.push_back(e.text);
    return lines;
}

void MemoryEventLog::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.clear();
}

}  // namespace testsupport
