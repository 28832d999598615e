// The tests' window system: the product's in-memory one, with what only tests need on top: the
// full history of every change and message box (in order, with the time, the thread and the
// button that closed a box) for assertions, control libraries that cannot be loaded, and the
// test's own observer beside the history.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/memory/memory_window_system.h"
#include "framework/services.h"

namespace testsupport {

// When a change or message box was told: its place among all of them, the process clock, and
// the thread that made it.
struct Stamp {
    uint64_t sequence = 0;
    uint64_t timeMs = 0;
    std::thread::id thread;
};

struct ChangeSeen : framework::ChangeRecord, Stamp {};

// A message box as the test saw it, with its answer (0 while it is open).
struct MessageBoxSeen : framework::MessageBoxRecord, Stamp {
    int answer = 0;
};

class TestWindowSystem final : public framework::WindowSystem,
                               private framework::MemoryWindowObserver {
public:
    TestWindowSystem();
    ~TestWindowSystem() override;
    TestWindowSystem(const TestWindowSystem&) = delete;
    TestWindowSystem& operator=(const TestWindowSystem&) = delete;

    // Puts this window system and its message boxes into the services.
    void Provide(framework::Services& services);

    void SetDialogResponder(framework::DialogResponder responder);
    void SetMessageBoxResponder(framework::MessageBoxResponder responder);
    // The test's own observer, told after the history took each change.
    void SetObserver(framework::MemoryWindowObserver* observer);
    // Makes a control library impossible to load (it is loadable by default).
    void SetControlLibraryAvailable(const std::string& name, bool available);

    // What was shown: the latest window made from that template; the changes in order
    // (optionally of one window / control / property); the message boxes in order.
    std::optional<framework::WindowState> FindWindow(int templateId) const;
    std::vector<ChangeSeen> History() const;
    std::vector<ChangeSeen> History(uint64_t windowId, int controlId,
                                    framework::Property property) const;
    std::vector<MessageBoxSeen> MessageBoxes() const;

    int ShowMessageBox(const framework::MessageBoxRequest& request);

    // WindowSystem.
    int RunModal(framework::Dialog& dialog, framework::Dialog* parent) override;
    void PostQuit(int exitCode) override;
    bool LoadControlLibrary(const std::string& name) override;
    bool InitCommonControls(uint32_t size, uint32_t classes) override;
    int GetSystemMetrics(int index) override;

private:
    void OnChange(const framework::ChangeRecord& change) override;
    void OnMessageBox(const framework::MessageBoxRecord& box) override;
    Stamp Next();  // m_mutex held

    framework::MemoryWindowSystem m_windows;
    mutable std::mutex m_mutex;
    uint64_t m_nextSequence = 1;
    std::vector<ChangeSeen> m_history;
    std::vector<MessageBoxSeen> m_messageBoxes;
    std::map<std::thread::id, std::size_t> m_openBoxes;  // per thread: its box being answered
    std::set<std::string> m_unavailableLibraries;
    framework::MessageBoxResponder m_messageBoxResponder;
    framework::MemoryWindowObserver* m_observer = nullptr;
};

}  // namespace testsupport
