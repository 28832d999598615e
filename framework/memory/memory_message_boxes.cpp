// Message boxes of the in-memory window system: each is told to the observer in the order of
// the window changes, then answered by the responder on the thread that raised it.
#include <mutex>
#include <utility>

#include "framework/memory/memory_window_system.h"

namespace framework {

void MemoryWindowSystem::SetMessageBoxResponder(MessageBoxResponder responder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messageBoxResponder = std::move(responder);
}

int MemoryWindowSystem::ShowMessageBox(const MessageBoxRequest& request) {
    MessageBoxRecord record;
    MessageBoxResponder responder;
    MemoryWindowObserver* observer = nullptr;
    {
        std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            record.caption = request.caption;
            record.text = request.text;
            record.type = request.type;
            record.ownedByMainWindow = request.ownedByMainWindow;
            responder = m_messageBoxResponder;
            observer = m_observer;
        }
        if (observer) observer->OnMessageBox(record);
    }
    return responder ? responder(record) : kIdOk;
}

}  // namespace framework
