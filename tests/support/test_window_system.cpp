#include "tests/support/test_window_system.h"

#include <cctype>
#include <utility>

#include "framework/clock.h"

namespace testsupport {
namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TestWindowSystem::TestWindowSystem() {
    m_windows.SetObserver(this);
    m_windows.SetMessageBoxResponder([this](const framework::MessageBoxRecord& box) {
        framework::MessageBoxResponder responder;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            responder = m_messageBoxResponder;
        }
        int answer = responder ? responder(box) : framework::kIdOk;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto open = m_openBoxes.find(std::this_thread::get_id());
        if (open != m_openBoxes.end()) {
            m_messageBoxes[open->second].answer = answer;
            m_openBoxes.erase(open);
        }
        return answer;
    });
}

TestWindowSystem::~TestWindowSystem() {
    m_windows.SetObserver(nullptr);
}

void TestWindowSystem::Provide(framework::Services& services) {
    services.windowSystem = this;
    services.messageBoxes = [this](const framework::MessageBoxRequest& request) {
        return ShowMessageBox(request);
    };
}

void TestWindowSystem::SetDialogResponder(framework::DialogResponder responder) {
    m_windows.SetDialogResponder(std::move(responder));
}

void TestWindowSystem::SetMessageBoxResponder(framework::MessageBoxResponder responder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messageBoxResponder = std::move(responder);
}

void TestWindowSystem::SetObserver(framework::MemoryWindowObserver* observer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = observer;
}

void TestWindowSystem::SetControlLibraryAvailable(const std::string& name, bool available) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (available) {
        m_unavailableLibraries.erase(Upper(name));
    } else {
        m_unavailableLibraries.insert(Upper(name));
    }
}

std::optional<framework::WindowState> TestWindowSystem::FindWindow(int templateId) const {
    return m_windows.FindWindow(templateId);
}

std::vector<ChangeSeen> TestWindowSystem::History() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_history;
}

std::vector<ChangeSeen> TestWindowSystem::History(uint64_t windowId, int controlId,
                                                  framework::Property property) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<ChangeSeen> selected;
    for (const ChangeSeen& r : m_history) {
        if (r.windowId == windowId && r.controlId == controlId && r.property == property) {
            selected.push_back(r);
        }
    }
    return selected;
}

std::vector<MessageBoxSeen> TestWindowSystem::MessageBoxes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messageBoxes;
}

int TestWindowSystem::ShowMessageBox(const framework::MessageBoxRequest& request) {
    return m_windows.ShowMessageBox(request);
}

int TestWindowSystem::RunModal(framework::Dialog& dialog, framework::Dialog* parent) {
    return m_windows.RunModal(dialog, parent);
}

void TestWindowSystem::PostQuit(int exitCode) {
    m_windows.PostQuit(exitCode);
}

bool TestWindowSystem::LoadControlLibrary(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_unavailableLibraries.count(Upper(name))) return false;
    }
    return m_windows.LoadControlLibrary(name);
}

bool TestWindowSystem::InitCommonControls(uint32_t size, uint32_t classes) {
    return m_windows.InitCommonControls(size, classes);
}

int TestWindowSystem::GetSystemMetrics(int index) {
    return m_windows.GetSystemMetrics(index);
}

// Both notices come in order, on the thread that made the change or raised the box (the window
// system holds its notice order while it calls): they are stamped as they come.
Stamp TestWindowSystem::Next() {
    return Stamp{m_nextSequence++, framework::ProcessClock().NowMs(), std::this_thread::get_id()};
}

void TestWindowSystem::OnChange(const framework::ChangeRecord& change) {
    framework::MemoryWindowObserver* observer = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ChangeSeen seen;
        static_cast<framework::ChangeRecord&>(seen) = change;
        static_cast<Stamp&>(seen) = Next();
        m_history.push_back(std::move(seen));
        observer = m_observer;
    }
    if (observer) observer->OnChange(change);
}

void TestWindowSystem::OnMessageBox(const framework::MessageBoxRecord& box) {
    framework::MemoryWindowObserver* observer = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        MessageBoxSeen seen;
        static_cast<framework::MessageBoxRecord&>(seen) = box;
        static_cast<Stamp&>(seen) = Next();
        m_openBoxes[seen.thread] = m_messageBoxes.size();
        m_messageBoxes.push_back(std::move(seen));
        observer = m_observer;
    }
    if (observer) observer->OnMessageBox(box);
}

}  // namespace testsupport
