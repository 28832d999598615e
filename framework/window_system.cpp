#include "framework/window_system.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "framework/dialog_template.h"
#include "framework/services.h"

namespace framework {
namespace {

constexpr int64_t kNoQuit = INT64_MIN;
std::atomic<int64_t> g_quitExitCode{kNoQuit};  // the first quit request's code

// Stands in while no window system is installed: no window can be made.
class NoWindowSystem final : public WindowSystem {
public:
    int RunModal(Dialog&, Dialog*) override { return kDialogFailed; }
    void PostQuit(int) override {}
    bool LoadControlLibrary(const std::string&) override { return false; }
    bool InitCommonControls(uint32_t, uint32_t) override { return false; }
    int GetSystemMetrics(int) override { return 0; }
};

}  // namespace

WindowSystem& CurrentWindowSystem() {
    if (WindowSystem* installed = InstalledServices().windowSystem) return *installed;
    static NoWindowSystem s_none;
    return s_none;
}

void PostQuitMessage(int exitCode) {
    int64_t expected = kNoQuit;
    g_quitExitCode.compare_exchange_strong(expected, exitCode, std::memory_order_acq_rel);
    CurrentWindowSystem().PostQuit(exitCode);
}

bool QuitRequested() {
    return g_quitExitCode.load(std::memory_order_acquire) != kNoQuit;
}

int QuitExitCode() {
    int64_t code = g_quitExitCode.load(std::memory_order_acquire);
    return code == kNoQuit ? 0 : static_cast<int>(code);
}

void ResetQuitRequest() {
    g_quitExitCode.store(kNoQuit, std::memory_order_release);
}

std::string LoadString(int stringId) {
    return std::string(FindResourceString(stringId));
}

Icon LoadIcon(int iconId) {
    return HasIconResource(iconId) ? static_cast<Icon>(iconId) : 0;
}

int GetSystemMetrics(int index) {
    return CurrentWindowSystem().GetSystemMetrics(index);
}

bool InitCommonControlsEx(uint32_t size, uint32_t classes) {
    return CurrentWindowSystem().InitCommonControls(size, classes);
}

bool LoadControlLibrary(const std::string& name) {
    return CurrentWindowSystem().LoadControlLibrary(name);
}

}  // namespace framework
