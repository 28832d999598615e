// Shared pieces of the dialog-layer tests: an installed in-memory window system and a dialog
// whose handlers are set by each test and that logs every handler call.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/window_system.h"
#include "tests/support/test_services.h"
#include "tests/support/test_window_system.h"

namespace framework_test {

using namespace framework;
using testsupport::MessageBoxSeen;

// A fresh window system installed with the test's services (on that clock when given); quit
// requests are forgotten around it.
class ScopedWindowSystem {
public:
    explicit ScopedWindowSystem(Clock* clock = nullptr) : m_services(ServicesOf(clock, system)) {}
    testsupport::TestWindowSystem system;

private:
    static pci::Services ServicesOf(Clock* clock, testsupport::TestWindowSystem& windows) {
        pci::Services services;
        services.platform.clock = clock;
        windows.Provide(services.platform);
        return services;
    }
    testsupport::ScopedTestServices m_services;
};

class TestDialog : public Dialog {
public:
    explicit TestDialog(int templateId, Dialog* parent = nullptr) : Dialog(templateId, parent) {}

    std::function<bool(TestDialog&)> onInit;
    std::function<void(TestDialog&, unsigned)> onTimer;
    std::function<void(TestDialog&)> onClose;
    std::function<void(TestDialog&, int)> onCommand;
    std::function<void(TestDialog&, unsigned)> onSysCommand;
    std::function<void(TestDialog&)> onPaint;
    std::function<void(TestDialog&, WindowPos&)> onPosChanging;

    bool OnInitDialog() override {
        Log("init");
        bool focus = Dialog::OnInitDialog();
        return onInit ? onInit(*this) : focus;
    }
    void OnTimer(unsigned id) override {
        Log("timer " + std::to_string(id));
        if (onTimer) onTimer(*this, id);
    }
    void OnClose() override {
        Log("close");
        if (onClose) {
            onClose(*this);
        } else {
            Dialog::OnClose();
        }
    }
    void OnCommand(int id) override {
        Log("command " + std::to_string(id));
        if (onCommand) onCommand(*this, id);
        Dialog::OnCommand(id);
    }
    void OnOK() override {
        Log("ok");
        Dialog::OnOK();
    }
    void OnCancel() override {
        Log("cancel");
        Dialog::OnCancel();
    }
    void OnSysCommand(unsigned id, intptr_t lParam) override {
        Log("syscommand " + std::to_string(id));
        if (onSysCommand) {
            onSysCommand(*this, id);
        } else {
            Dialog::OnSysCommand(id, lParam);
        }
    }
    void OnPaint() override {
        Log("paint");
        if (onPaint) onPaint(*this);
    }
    Icon OnQueryDragIcon() override { return 128; }
    void OnWindowPosChanging(WindowPos& pos) override {
        if (onPosChanging) onPosChanging(*this, pos);
    }

    void Log(const std::string& entry) {
        std::lock_guard<std::mutex> lock(m_logMutex);
        m_log.push_back(entry);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(m_logMutex);
        return m_log;
    }

private:
    std::mutex m_logMutex;
    std::vector<std::string> m_log;
};

// A responder that plays the given actions one after the other, then presses Escape.
inline DialogResponder Script(std::vector<UserAction> actions) {
    auto state = std::make_shared<std::pair<std::mutex, std::size_t>>();
    return [actions, state](const WindowState&) {
        std::lock_guard<std::mutex> lock(state->first);
        if (state->second < actions.size()) return actions[state->second++];
        return UserAction::Escape();
    };
}

}  // namespace framework_test
