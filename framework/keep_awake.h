// Keeps the computer from sleeping or shutting down on its own while flashes are written.
#pragma once

#include <atomic>
#include <cstdint>

namespace framework {

// The platform's way of holding the computer awake.
class KeepAwakeBackend {
public:
    virtual ~KeepAwakeBackend() = default;
    // Starts holding the computer awake; false when the platform offers no way to.
    virtual bool Begin() = 0;
    // Stops holding it (only after a Begin that returned true).
    virtual void End() = 0;
};

// The platform's back end (Windows: the thread's execution state; Linux: a systemd-inhibit
// child where systemd-inhibit exists).
KeepAwakeBackend& PlatformKeepAwake();
// The back end the scoped object uses: the platform's unless a test installed another one
// (nullptr restores the platform's). Set it before the thread that holds it starts.
void SetKeepAwakeBackend(KeepAwakeBackend* backend);
KeepAwakeBackend& CurrentKeepAwake();

// Holds the computer awake from Hold (or construction with hold = true) until destruction.
class KeepAwake {
public:
    explicit KeepAwake(bool hold = false) {
        if (hold) Hold();
    }
    ~KeepAwake() { Release(); }
    KeepAwake(const KeepAwake&) = delete;
    KeepAwake& operator=(const KeepAwake&) = delete;

    // Starts holding (once); true while held.
    bool Hold();
    void Release();
    bool Held() const { return m_pHeldBy != nullptr; }

private:
    KeepAwakeBackend* m_pHeldBy = nullptr;
};

// The in-memory back end: it only counts, for tests.
class RecordingKeepAwake final : public KeepAwakeBackend {
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

}  // namespace framework
