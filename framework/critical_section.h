// A lock that must be initialised before use and deleted after, shaped as the system uses it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace framework {

class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    // Readies the lock; the spin count is kept but has no effect. False when already initialised.
    bool Initialize(uint32_t spinCount);
    // Retires the lock; harmless when it was never initialised or is already deleted.
    void Delete();
    // Takes the lock; false (and nothing is taken) when it is not initialised.
    bool Enter();
    // Takes the lock only when nobody holds it; false (nothing taken) otherwise.
    bool TryEnter();
    void Leave();
    bool IsInitialized() const { return m_bInitialized.load(std::memory_order_acquire); }
    uint32_t SpinCount() const { return m_dwSpinCount.load(std::memory_order_acquire); }

    // Holds the lock for a scope.
    class Lock {
    public:
        explicit Lock(CriticalSection& section) : m_section(section), m_bOwns(section.Enter()) {}
        // Takes over a lock this thread already holds (after TryEnter).
        Lock(CriticalSection& section, std::adopt_lock_t) : m_section(section), m_bOwns(true) {}
        ~Lock() {
            if (m_bOwns) m_section.Leave();
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        bool Owns() const { return m_bOwns; }

    private:
        CriticalSection& m_section;
        bool m_bOwns;
    };

private:
    std::mutex m_mutex;
    std::atomic<bool> m_bInitialized{false};
    std::atomic<uint32_t> m_dwSpinCount{0};
};

}  // namespace framework
