#include "framework/clock.h"

#include <chrono>
#include <thread>

#include "framework/services.h"

namespace framework {
namespace {

int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

SteadyClock::SteadyClock() : m_startNs(SteadyNs()) {}

uint64_t SteadyClock::NowUs() {
    return static_cast<uint64_t>((SteadyNs() - m_startNs) / 1000);
}

void SteadyClock::SleepUs(uint64_t us) {
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

namespace {
// Built on first use so that static objects of other translation units may read it.
SteadyClock& RealProcessClock() {
    static SteadyClock clock;
    return clock;
}
}  // namespace

Clock& ProcessClock() {
    Clock* installed = InstalledServices().clock;
    return installed != nullptr ? *installed : RealProcessClock();
}

}  // namespace framework
