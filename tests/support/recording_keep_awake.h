// A keep-awake back end that only counts what it was asked.
#pragma once

#include <atomic>

#include "framework/keep_awake.h"

namespace testsupport {

class RecordingKeepAwake final : public framework::KeepAwakeBackend {
public:
    bool Begin() override {
        m_nBegins.fetch_add(1, std::memory_order_acq_rel);
        m_bHeld.store(true, std::memory_order_release);
        return true;
    }
    void End() override {
        m_nEnds.fetch_add(1, std::memory_order_acq_rel);
        m_bHeld.store(false, std::memory_order_release);
    }
    int Begins() const { return m_nBegins.load(std::memory_order_acquire); }
    int Ends() const { return m_nEnds.load(std::memory_order_acquire); }
    bool IsHeld() const { return m_bHeld.load(std::memory_order_acquire); }

private:
    std::atomic<int> m_nBegins{0};
    std::atomic<int> m_nEnds{0};
    std::atomic<bool> m_bHeld{false};
};

}  // namespace testsupport
