// Clocks for tests: deterministic time, and real time run faster.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/clock.h"

namespace testsupport {

// Deterministic time: it moves only on sleeps, Elapse and Advance. Thread-safe. A wait on it
// polls (see framework::Clock::RealWaitUs).
class VirtualClock final : public framework::Clock {
public:
    explicit VirtualClock(uint64_t startUs = 0) : m_nowUs(startUs) {}
    uint64_t NowUs() override { return m_nowUs.load(std::memory_order_acquire); }
    void SleepUs(uint64_t us) override { Advance(us); }
    void Elapse(uint64_t us) override { Advance(us); }
    void Advance(uint64_t us) { m_nowUs.fetch_add(us, std::memory_order_acq_rel); }

private:
    std::atomic<uint64_t> m_nowUs;
};

// Real time run faster by a factor: every duration is divided by it. For multi-threaded tests
// whose limits must be reached without waiting them out in full.
class ScaledClock final : public framework::Clock {
public:
    explicit ScaledClock(uint32_t factor) : m_factor(factor == 0 ? 1 : factor) {}
    uint64_t NowUs() override { return m_real.NowUs() * m_factor; }
    void SleepUs(uint64_t us) override { m_real.SleepUs(us / m_factor); }
    uint64_t RealWaitUs(uint64_t us) override { return us / m_factor + 1; }
    uint32_t Factor() const { return m_factor; }

private:
    framework::SteadyClock m_real;
    uint32_t m_factor;
};

}  // namespace testsupport
