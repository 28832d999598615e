// Threads started with a priority, whose thread objects delete themselves when they end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace framework {

enum class ThreadPriority {
    kNormal,
    kHighest,       // the highest normal priority
    kTimeCritical,  // above every normal priority
};

// A thread procedure: its parameter, and the thread's exit code as result.
using ThreadProc = unsigned (*)(void* param);

// What can be known of a thread after its thread object is gone: shared by the thread and anyone
// who keeps its handle.
class ThreadState {
public:
    explicit ThreadState(ThreadPriority priority) : m_priority(priority) {}

    ThreadPriority Priority() const { return m_priority; }
    bool Ended() const;
    // The thread procedure's result, once it has ended.
    std::optional<unsigned> ExitCode() const;
    // Waits up to timeoutMs of the process clock for the thread to end; true when it has ended.
    bool WaitForEnd(uint64_t timeoutMs) const;
    // Asks the thread to stop: code running on it sees CurrentThreadStopRequested().
    void RequestStop() { m_stop.store(true, std::memory_order_release); }
    bool StopRequested() const { return m_stop.load(std::memory_order_acquire); }

    void MarkEnded(unsigned exitCode);  // by the thread itself, as its last step

private:
    ThreadPriority m_priority;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_ended;
    bool m_bEnded = false;
    unsigned m_exitCode = 0;
};

using ThreadHandle = std::shared_ptr<ThreadState>;

// The object of a running thread. It deletes itself when the thread ends: keep its handle, not
// the pointer, to learn later whether it has ended.
class WinThread {
public:
    WinThread(const WinThread&) = delete;
    WinThread& operator=(const WinThread&) = delete;

    const ThreadHandle& Handle() const { return m_handle; }

private:
    friend WinThread* BeginThread(ThreadProc, void*, ThreadPriority, ThreadHandle*);
    WinThread(ThreadProc proc, void* param, ThreadPriority priority);
    ~WinThread() = default;
    void Run();

    ThreadProc m_proc;
    void* m_param;
    ThreadHandle m_handle;
};

// Starts proc(param) on a new thread at that priority (requested where the platform has
// priorities). handle, when given, receives the thread's handle before the thread starts. A
// procedure that fails unexpectedly (throws) ends its thread with exit code 0.
// Returns nullptr (and leaves handle empty) when the thread cannot be started.
WinThread* BeginThread(ThreadProc proc, void* param,
                       ThreadPriority priority = ThreadPriority::kNormal,
                       ThreadHandle* handle = nullptr);

// Whether someone asked the calling thread to stop (false on threads not begun by BeginThread).
bool CurrentThreadStopRequested();

// Requests the calling thread's priority from the platform; false when it refused.
bool RequestCurrentThreadPriority(ThreadPriority priority);

}  // namespace framework
