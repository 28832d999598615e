#include "framework/win_app.h"

#include <atomic>

#include "framework/window_system.h"

namespace framework {
namespace {

std::atomic<WinApp*> g_app{nullptr};

}  // namespace

WinApp::WinApp() {
    g_app.store(this, std::memory_order_release);
}

WinApp::~WinApp() {
    WinApp* self = this;
    g_app.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

int WinApp::ExitInstance() {
    return QuitExitCode();
}

WinApp* AfxGetApp() {
    return g_app.load(std::memory_order_acquire);
}

void AfxEnableControlContainer() {}

int RunApplication(WinApp& app, const std::string& commandLine) {
    app.m_lpCmdLine = commandLine;
    app.InitInstance();
    return app.ExitInstance();
}

}  // namespace framework
