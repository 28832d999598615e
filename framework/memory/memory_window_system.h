// The in-memory window system: dialogs run a real message loop on the thread that shows them,
// every window and control keeps its state and tells an observer of each change, and a
// responder plays the user: it answers modal dialogs and message boxes. The terminal front end
// observes it and answers by asking a person; tests build their recording back end on it.
//
// Its parts, one file each: the windows' and controls' state with the change notices
// (memory_windows.cpp), the modal loop with its timers and posted messages (modal_loop.cpp),
// message boxes (memory_message_boxes.cpp) and the applying of a user's actions
// (user_action.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/memory/user_action.h"
#include "framework/memory/window_state.h"
#include "framework/message_box.h"
#include "framework/window_system.h"

namespace framework {

class MemoryDialogHost;

class MemoryWindowSystem final : public WindowSystem {
public:
    MemoryWindowSystem();
    ~MemoryWindowSystem() override;
    MemoryWindowSystem(const MemoryWindowSystem&) = delete;
    MemoryWindowSystem& operator=(const MemoryWindowSystem&) = delete;

    void SetDialogResponder(DialogResponder responder);
    void SetMessageBoxResponder(MessageBoxResponder responder);
    void SetObserver(MemoryWindowObserver* observer);

    // The latest window made from that template (alive or not).
    std::optional<WindowState> FindWindow(int templateId) const;

    // A message box: the observer is told, then the responder answers (OK when there is none).
    // The services' message boxes come here where this window system shows them.
    int ShowMessageBox(const MessageBoxRequest& request);

    // WindowSystem.
    int RunModal(Dialog& dialog, Dialog* parent) override;
    void PostQuit(int exitCode) override;
    bool LoadControlLibrary(const std::string& name) override;
    bool InitCommonControls(uint32_t size, uint32_t classes) override;
    int GetSystemMetrics(int index) override;

private:
    friend class MemoryDialogHost;
    struct Window;
    struct ThreadQueue;
    struct Message {
        uint64_t windowId;
        unsigned message;
        uintptr_t wParam;
        intptr_t lParam;
    };

    // The windows' state (memory_windows.cpp).
    // Makes the dialog's window from its template on the calling thread's queue; one that
    // cannot be made is kept as not alive, with the reason recorded.
    Window& MakeWindow(Dialog& dialog, Dialog* parent);
    std::shared_ptr<DialogHost> MakeHost(const Window& window);
    // Hides the window, drops its timers and messages and records its end.
    void EndWindow(Window& window, int result);
    Window* FindLive(uint64_t windowId);  // m_mutex held
    // Appends a change to the notices and wakes the window's thread. m_mutex held.
    void Record(Window& window, int controlId, Property property, int64_t value, int64_t value2 = 0,
                std::string text = std::string());
    void NotifyObserver();                             // m_notifyMutex held, m_mutex not
    WindowState Snapshot(const Window& window) const;  // m_mutex held

    // The modal loop (modal_loop.cpp).
    std::shared_ptr<ThreadQueue> QueueOf(std::thread::id thread);  // m_mutex held
    int Loop(Window& window, Dialog& dialog, ThreadQueue& queue);
    bool DispatchOne(ThreadQueue& queue);
    void Idle(Window& window, Dialog& dialog, ThreadQueue& queue);
    void WaitForActivity(Window& window, ThreadQueue& queue, uint64_t generation, uint64_t waitMs);

    // The user's actions (user_action.cpp).
    void Apply(Window& window, Dialog& dialog, const UserAction& action);

    mutable std::mutex m_mutex;
    std::recursive_mutex m_notifyMutex;  // keeps observer calls in the order of the changes
    uint64_t m_nextWindowId = 1;
    std::vector<std::unique_ptr<Window>> m_windows;
    std::map<std::thread::id, std::shared_ptr<ThreadQueue>> m_queues;
    std::vector<ChangeRecord> m_pendingNotices;
    std::set<std::string> m_registeredClasses;
    DialogResponder m_dialogResponder;
    MessageBoxResponder m_messageBoxResponder;
    MemoryWindowObserver* m_observer = nullptr;
};

}  // namespace framework
