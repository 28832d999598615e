// The one clock every sleep and every time reading goes through.
#pragma once

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
    // How long, in real microseconds, a wait for us of this clock's time blocks before the clock
    // is read again. By default a short poll, for a clock that something else moves.
    virtual uint64_t RealWaitUs(uint64_t us) {
        (void)us;
        return kPollUs;
    }
    static constexpr uint64_t kPollUs = 1000;

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
    uint64_t RealWaitUs(uint64_t us) override { return us; }

private:
    int64_t m_startNs;
};

// The clock of the process: the installed services' clock, else a SteadyClock.
Clock& ProcessClock();

}  // namespace framework
