// Keeps the computer from sleeping or shutting down on its own while flashes are written, and the
// program from being stopped from its terminal meanwhile.
#pragma once

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

// The platform's back end (Windows: the thread's execution state; Linux: logind's inhibitor lock,
// or a systemd-inhibit child where no system bus answers). Hold and release it on one thread that
// lasts as long as the hold: both platforms tie it to the thread that took it.
KeepAwakeBackend& PlatformKeepAwake();
// The back end in use: the installed services' one, else the platform's.
KeepAwakeBackend& CurrentKeepAwake();

// Holds the computer awake from Hold (or construction with hold = true) until Release or
// destruction; terminal stops wait as long, also where the platform cannot hold it awake.
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
    bool m_bStopsHeld = false;
};

}  // namespace framework
