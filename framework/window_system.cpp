#include "framework/window_system.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "framework/dialog_template.h"
#include "framework/memory/memory_window_system.h"

namespace framework {
namespace {

std::atomic<WindowSystem*> g_installed{nullptr};
constexpr int64_t kNoQuit = INT64_MIN;
std::atomic<int64_t> g_quitExitCode{kNoQuit};  // the first quit request's code

}  // namespace

WindowSystem& CurrentWindowSystem() {
    if (WindowSystem* installed = g_installed.load(std::memory_order_acquire)) return *installed;
    static MemoryWindowSystem s_default;
    return s_default;
}

void SetWindowSystem(WindowSystem* windowSystem) {
    g_installed.store(windowSystem, std::memory_order_release);
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
