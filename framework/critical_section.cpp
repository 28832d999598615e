#include "framework/critical_section.h"

namespace framework {

bool CriticalSection::Initialize(uint32_t spinCount) {
    bool expected = false;
    if (!m_bInitialized.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
        return false;
    }
    m_dwSpinCount.store(spinCount, std::memory_order_release);
    return true;
}

void CriticalSection::Delete() {
    m_bInitialized.store(false, std::memory_order_release);
}

bool CriticalSection::Enter() {
    if (!IsInitialized()) return false;
    m_mutex.lock();
    return true;
}

bool CriticalSection::TryEnter() {
    return IsInitialized() && m_mutex.try_lock();
}

void CriticalSection::Leave() {
    m_mutex.unlock();
}

}  // namespace framework
