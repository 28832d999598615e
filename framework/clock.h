// The one clock every sleep and every time reading goes through.
#pragma once

#include <atomic>
#include <cstdint>

namespace framework {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic microseconds since the clock started (the process start, for the real one).
    virtual uint64_t NowUs() = 0;
    // Blocks the calling thread for that long (a virtual clock moves on instead).
    virtual void SleepUs(uint64_t us) = 0;
    // Time that passed in modelled hardware (one register access, say): a virtual clock moves
    // on by it, a real clock has already spent it and does nothing.
    virtual void Elapse(uint64_t us) { (void)us; }

    // The process clock: monotonic milliseconds since the process started.
    uint64_t NowMs() { return NowUs() / 1000; }
    // Monotonic whole seconds, for limits counted in seconds.
    uint64_t NowSeconds() { return NowUs() / 1000000; }
    void SleepMs(uint64_t ms) { SleepUs(ms * 1000); }
};

// Real monotonic time, counted from the construction of the clock.
class SteadyClock final : public Clock {
public:
    SteadyClock();
    uint64_t NowUs() override;
    void SleepUs(uint64_t us) override;

private:
    int64_t m_startNs;
};

// Deterministic time for tests: it moves only on sleeps, Elapse and Advance. Thread-safe.
class VirtualClock final : public Clock {
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
class ScaledClock final : public Clock {
public:
    explicit ScaledClock(uint32_t factor);
    uint64_t NowUs() override;
    void SleepUs(uint64_t us) override;
    uint32_t Factor() const { return m_factor; }

private:
    SteadyClock m_real;
    uint32_t m_factor;
};

// The clock of the process: the installed services' clock, else a SteadyClock.
Clock& ProcessClock();

}  // namespace framework
