// The in-memory window system's own records of its windows and threads, shared by its parts.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "framework/memory/memory_window_system.h"

namespace framework {

// What happens on one thread: its posted messages and quit request.
struct MemoryWindowSystem::ThreadQueue {
    std::deque<Message> messages;
    bool quit = false;
    uint64_t generation = 0;  // moves on whenever something happens to the thread's windows
    std::condition_variable cv;
};

struct MemoryWindowSystem::Window {
    struct Timer {
        unsigned periodMs;
        uint64_t dueMs;
    };
    WindowState state;
    Dialog* dialog = nullptr;
    std::shared_ptr<ThreadQueue> queue;
    std::recursive_mutex handlerMutex;  // held while another thread runs one of its handlers
    std::map<unsigned, Timer> timers;
    bool ended = false;
    int endResult = 0;
    bool needsPaint = false;
    bool shownOnIdle = false;
    bool painting = false;
};

}  // namespace framework
