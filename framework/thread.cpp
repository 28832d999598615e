#include "framework/thread.h"

#include <chrono>
#include <system_error>

#include "framework/clock.h"
#include "framework/services.h"

namespace framework {
namespace {

thread_local ThreadState* t_currentThread = nullptr;

}  // namespace

bool ThreadState::Ended() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bEnded;
}

std::optional<unsigned> ThreadState::ExitCode() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bEnded) return std::nullopt;
    return m_exitCode;
}

bool ThreadState::WaitForEnd(uint64_t timeoutMs) const {
    Clock& clock = ProcessClock();
    uint64_t deadline = clock.NowMs() + timeoutMs;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bEnded) {
        uint64_t now = clock.NowMs();
        if (now >= deadline) return false;
        m_ended.wait_for(lock,
                         std::chrono::microseconds(clock.RealWaitUs((deadline - now) * 1000)));
    }
    return true;
}

void ThreadState::MarkEnded(unsigned exitCode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exitCode = exitCode;
    m_bEnded = true;
    m_ended.notify_all();
}

WinThread::WinThread(ThreadProc proc, void* param, ThreadPriority priority)
    : m_proc(proc), m_param(param), m_handle(std::make_shared<ThreadState>(priority)) {}

void WinThread::Run() {
    ThreadHandle handle = m_handle;  // outlives this object
    t_currentThread = handle.get();
    RequestCurrentThreadPriority(handle->Priority());
    unsigned exitCode = 0;
    try {
        exitCode = m_proc(m_param);
    } catch (...) {
        // An unexpected failure ends the thread with exit code 0 instead of ending the process.
        exitCode = 0;
    }
    delete this;
    t_currentThread = nullptr;
    handle->MarkEnded(exitCode);
}

WinThread* BeginThread(ThreadProc proc, void* param, ThreadPriority priority,
                       ThreadHandle* handle) {
    if (handle) handle->reset();
    const ThreadStartFilter& filter = InstalledServices().threadStartFilter;
    if (filter && !filter(priority)) return nullptr;
    auto* thread = new WinThread(proc, param, priority);
    if (handle) *handle = thread->Handle();
    try {
        std::thread([thread] { thread->Run(); }).detach();
    } catch (const std::system_error&) {
        if (handle) handle->reset();
        delete thread;
        return nullptr;
    }
    return thread;
}

bool CurrentThreadStopRequested() {
    return t_currentThread != nullptr && t_currentThread->StopRequested();
}

}  // namespace framework
