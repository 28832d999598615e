// Fields that a thread's events carry besides their text, where the system's log keeps such
// fields (the journal keeps them; the Windows event log has no place for them). A thread names
// the controller or step it works on for a stretch of its work; events written meanwhile carry
// those fields.
#pragma once

#include <string>
#include <vector>

namespace framework {

struct EventField {
    std::string name;  // upper-case letters, digits and underscores
    std::string value;
};

// The fields the calling thread's events carry now, in the order they were set.
std::vector<EventField> ThreadEventFields();

// Adds a field to the calling thread's events for the object's life. A field of the same name
// set later hides this one until it ends.
class ScopedEventField {
public:
    ScopedEventField(std::string name, std::string value);
    ~ScopedEventField();
    ScopedEventField(const ScopedEventField&) = delete;
    ScopedEventField& operator=(const ScopedEventField&) = delete;

private:
    std::size_t m_index = 0;
};

}  // namespace framework
