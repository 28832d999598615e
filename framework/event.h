// A manual-reset event: once set, every wait returns at once until it is reset.
#pragma once

#include <condition_variable>
#include <mutex>

namespace framework {

class Event {
public:
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Sets the event and wakes every thread waiting on it.
    void Set();
    // Clears the event: waits that start from now on block until the next Set.
    void Reset();
    // Blocks until the event is set.
    void Wait();
    bool IsSet() const;

private:
    // The state is read and changed only under the mutex, so a Set that comes between a
    // waiter's test and its sleep still wakes it.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bSet = false;
};

}  // namespace framework
