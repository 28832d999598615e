#include "framework/event.h"

namespace framework {

void Event::Set() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bSet = true;
    }
    m_changed.notify_all();
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSet = false;
}

void Event::Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_bSet; });
}

bool Event::IsSet() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bSet;
}

}  // namespace framework
