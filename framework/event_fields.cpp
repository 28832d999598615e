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
using Slots = std::vector<Slot>;

// Made by a thread's first field and deleted when its last field ends, so that the thread-local
// variable itself has nothing to destroy when the thread ends: the MinGW-w64 runtime runs the
// destructors of thread-local objects after it has freed their storage, and a vector destroyed
// there frees whatever pointer the freed block holds by then (the heap of a Windows run was
// corrupted that way, one run in about ten).
thread_local Slots* t_slots = nullptr;

}  // namespace

std::vector<EventField> ThreadEventFields() {
    std::vector<EventField> fields;
    if (t_slots == nullptr) return fields;
    for (const Slot& slot : *t_slots) {
        if (!slot.live) continue;
        // A later field of the same name hides an earlier one.
        auto same = [&](const EventField& f) { return f.name == slot.field.name; };
        auto earlier = std::find_if(fields.begin(), fields.end(), same);
        if (earlier != fields.end()) fields.erase(earlier);
        fields.push_back(slot.field);
    }
    return fields;
}

ScopedEventField::ScopedEventField(std::string name, std::string value) {
    if (t_slots == nullptr) t_slots = new Slots();
    m_index = t_slots->size();
    t_slots->push_back(Slot{EventField{std::move(name), std::move(value)}, true});
}

ScopedEventField::~ScopedEventField() {
    if (t_slots == nullptr) return;
    Slots& slots = *t_slots;
    if (m_index < slots.size()) slots[m_index].live = false;
    while (!slots.empty() && !slots.back().live) slots.pop_back();
    if (slots.empty()) {
        delete t_slots;
        t_slots = nullptr;
    }
}

}  // namespace framework
