#include "framework/event_fields.h"

#include <algorithm>

namespace framework {
namespace {

// The calling thread's fields; an ended field stays as an empty slot until the fields set after
// it have ended too, so that each object finds its own slot by index.
struct Slot {
    EventField field;
    bool live = false;
};
thread_local std::vector<Slot> t_slots;

}  // namespace

std::vector<EventField> ThreadEventFields() {
    std::vector<EventField> fields;
    for (const Slot& slot : t_slots) {
        if (!slot.live) continue;
        // A later field of the same name hides an earlier one.
        auto same = [&](const EventField& f) { return f.name == slot.field.name; };
        auto earlier = std::find_if(fields.begin(), fields.end(), same);
        if (earlier != fields.end()) fields.erase(earlier);
        fields.push_back(slot.field);
    }
    return fields;
}

ScopedEventField::ScopedEventField(std::string name, std::string value) : m_index(t_slots.size()) {
    t_slots.push_back(Slot{EventField{std::move(name), std::move(value)}, true});
}

ScopedEventField::~ScopedEventField() {
    if (m_index < t_slots.size()) t_slots[m_index].live = false;
    while (!t_slots.empty() && !t_slots.back().live) t_slots.pop_back();
}

}  // namespace framework
