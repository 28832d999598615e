// The in-memory modal loop: each dialog's loop runs on the thread that shows it and handles that
// thread's posted messages, due timers (on the process clock) and paints, then asks the
// responder what the user does.
#include <chrono>
#include <string>
#include <utility>

#include "framework/clock.h"
#include "framework/dialog.h"
#include "framework/memory/memory_window_internal.h"
#include "framework/memory/memory_window_system.h"

namespace framework {

void MemoryWindowSystem::SetDialogResponder(DialogResponder responder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dialogResponder = std::move(responder);
}

std::shared_ptr<MemoryWindowSystem::ThreadQueue> MemoryWindowSystem::QueueOf(
    std::thread::id thread) {
    auto& queue = m_queues[thread];
    if (!queue) queue = std::make_shared<ThreadQueue>();
    return queue;
}

int MemoryWindowSystem::RunModal(Dialog& dialog, Dialog* parent) {
    Window& window = MakeWindow(dialog, parent);
    if (!window.state.alive) return kDialogFailed;

    dialog.AttachHost(MakeHost(window));
    dialog.OnInitDialog();
    int result = dialog.DataExchangeFailed() ? kDialogFailed : Loop(window, dialog, *window.queue);
    EndWindow(window, result);
    dialog.DetachHost();
    return result;
}

int MemoryWindowSystem::Loop(Window& window, Dialog& dialog, ThreadQueue& queue) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (window.ended) return window.endResult;
            if (queue.quit) return kDialogFailed;
        }
        if (DispatchOne(queue)) continue;
        Idle(window, dialog, queue);
    }
}

// Handles one posted message, else one due timer, else one paint, of any window of the queue's
// thread. False when there was nothing to do.
bool MemoryWindowSystem::DispatchOne(ThreadQueue& queue) {
    Dialog* target = nullptr;
    enum class What { kMessage, kTimer, kPaint } what = What::kMessage;
    Message message{};
    unsigned timerId = 0;
    Window* paintWindow = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (!queue.messages.empty() && !target) {
            message = queue.messages.front();
            queue.messages.pop_front();
            if (Window* w = FindLive(message.windowId)) target = w->dialog;
        }
        if (!target) {
            uint64_t now = ProcessClock().NowMs();
            Window* due = nullptr;
            uint64_t earliest = UINT64_MAX;
            for (const auto& w : m_windows) {
                if (!w->state.alive || w->queue.get() != &queue) continue;
                for (auto& [id, timer] : w->timers) {
                    if (timer.dueMs <= now && timer.dueMs < earliest) {
                        earliest = timer.dueMs;
                        due = w.get();
                        timerId = id;
                    }
                }
            }
            if (due) {
                due->timers[timerId].dueMs = now + due->timers[timerId].periodMs;
                target = due->dialog;
                what = What::kTimer;
            }
        }
        if (!target) {
            for (const auto& w : m_windows) {
                if (w->state.alive && w->queue.get() == &queue && w->needsPaint) {
                    w->needsPaint = false;
                    w->painting = true;
                    w->state.lastPaint.clear();
                    paintWindow = w.get();
                    target = w->dialog;
                    what = What::kPaint;
                    break;
                }
            }
        }
    }
    if (!target) return false;
    switch (what) {
        case What::kMessage:
            if (message.message == kWmClose) {
                target->OnClose();
            } else if (message.message == kWmCommand) {
                target->OnCommand(static_cast<int>(message.wParam & 0xFFFF));
            } else {
                target->OnSysCommand(static_cast<unsigned>(message.wParam), message.lParam);
            }
            break;
        case What::kTimer:
            target->OnTimer(timerId);
            break;
        case What::kPaint: {
            target->OnPaint();
            std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                paintWindow->painting = false;
                bool drewIcon = false;
                std::string where;
                for (const IconDrawing& d : paintWindow->state.lastPaint) {
                    if (d.icon == 0) continue;
                    drewIcon = true;
                    where = std::to_string(d.x) + "," + std::to_string(d.y);
                }
                if (paintWindow->state.alive) {
                    Record(*paintWindow, 0, Property::kPainted, 0, drewIcon ? 1 : 0, where);
                }
            }
            NotifyObserver();
            break;
        }
    }
    return true;
}

// Nothing is queued: the window is shown the first time, then the user is asked what to do.
void MemoryWindowSystem::Idle(Window& window, Dialog& dialog, ThreadQueue& queue) {
    DialogResponder responder;
    WindowState snapshot;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!window.shownOnIdle) {
            window.shownOnIdle = true;
            if (!window.state.visible) {
                // Shown outside the lock: the position filter may run.
                generation = UINT64_MAX;
            }
        }
        if (generation != UINT64_MAX) {
            responder = m_dialogResponder;
            snapshot = Snapshot(window);
            generation = queue.generation;
        }
    }
    if (generation == UINT64_MAX) {
        dialog.ShowWindow(kSwShowNormal);
        return;
    }
    UserAction action = responder ? responder(snapshot) : UserAction::Wait();
    if (action.kind != UserAction::Kind::kWait) {
        Apply(window, dialog, action);
        return;
    }

    WaitForActivity(window, queue, generation, action.waitMs);
}

// Waits until something happens on the queue's thread (a message, a change, a quit, a due timer
// or paint) or until waitMs of the process clock have passed (0: no limit).
void MemoryWindowSystem::WaitForActivity(Window& window, ThreadQueue& queue, uint64_t generation,
                                         uint64_t waitMs) {
    Clock& clock = ProcessClock();
    uint64_t deadline = waitMs ? clock.NowMs() + waitMs : 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (queue.generation != generation || !queue.messages.empty() || queue.quit ||
            window.ended) {
            return;
        }
        uint64_t now = clock.NowMs();
        uint64_t until = deadline;
        for (const auto& w : m_windows) {
            if (!w->state.alive || w->queue.get() != &queue) continue;
            if (w->needsPaint) return;
            for (const auto& entry : w->timers) {
                if (until == 0 || entry.second.dueMs < until) until = entry.second.dueMs;
            }
        }
        if (until != 0 && now >= until) return;
        if (until == 0) {
            queue.cv.wait(lock);
        } else {
            queue.cv.wait_for(lock,
                              std::chrono::microseconds(clock.RealWaitUs((until - now) * 1000)));
        }
    }
}

void MemoryWindowSystem::PostQuit(int exitCode) {
    (void)exitCode;  // the process keeps the first code; here it only ends the loops
    std::lock_guard<std::mutex> lock(m_mutex);
    auto queue = QueueOf(std::this_thread::get_id());
    queue->quit = true;
    ++queue->generation;
    queue->cv.notify_all();
}

}  // namespace framework
