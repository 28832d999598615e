// The platform services the program runs on, chosen in one place: each program installs its set
// once at start, each test its own for the test's life. A member left empty is the platform's
// own service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "framework/message_box.h"
#include "framework/thread.h"

namespace framework {

class Clock;
class WindowSystem;
class KeepAwakeBackend;
class RestartBackend;
class EventLogBackend;
struct ResourceTable;

// Where working memory comes from: null means none could be had; what it returns is released
// with delete[].
using WorkingMemoryAllocator = uint8_t* (*)(std::size_t bytes);
// Decides whether a thread start succeeds.
using ThreadStartFilter = std::function<bool(ThreadPriority)>;

struct Services {
    Clock* clock = nullptr;                // the process clock (empty: real monotonic time)
    WindowSystem* windowSystem = nullptr;  // dialogs (empty: none can be created)
    MessageBoxHandler messageBoxes = {};   // empty: "CAPTION: TEXT" on standard error
    NoticeHandler notices = {};            // empty: standard error (Linux), nowhere (Windows)
    KeepAwakeBackend* keepAwake = nullptr;
    RestartBackend* restart = nullptr;
    EventLogBackend* eventLog = nullptr;
    WorkingMemoryAllocator allocateWorkingMemory = nullptr;  // empty: new[]
    ThreadStartFilter threadStartFilter = {};                // empty: every start succeeds
    const ResourceTable* resources = nullptr;  // the program's dialogs, strings, icons
    // Ends the process at once with that status, without destroying anything a thread that
    // cannot be waited for may still use (empty: the process's immediate end).
    std::function<void(int status)> endProcess = {};
};

// Ends the process at once with that status: output flushed, no static object destroyed.
// Returns only where the installed services end the process another way (tests).
void EndProcessNow(int status);

// The services installed now (all empty until something is installed).
const Services& InstalledServices();

// Installs a copy of the services for its own life, then puts back those it replaced. Install
// them before any thread that uses them starts, and end the scope after every such thread has
// ended. Scopes nest: an inner one may change a service for part of a test.
class ScopedServices {
public:
    explicit ScopedServices(Services services);
    ~ScopedServices();
    ScopedServices(const ScopedServices&) = delete;
    ScopedServices& operator=(const ScopedServices&) = delete;

private:
    Services m_services;
    const Services* m_pPrevious;
};

}  // namespace framework
