// The Windows program's entry point: the Win32 window system and message boxes, then the
// application object with the command line after the program name.
#include "framework/win32/win32_headers.h"

#include "framework/message_box.h"
#include "framework/win32/win32_window_system.h"
#include "framework/win_app.h"

namespace {

constexpr int kExitUnexpectedFailure = 8;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    static framework::Win32WindowSystem windowSystem;
    windowSystem.Install();
    framework::WinApp* app = framework::AfxGetApp();
    if (app == nullptr) {
        framework::MessageBox("The program has no application object.", std::string(),
                              framework::kMbOk | framework::kMbIconError);
        return kExitUnexpectedFailure;
    }
    return framework::RunApplication(*app, commandLine != nullptr ? commandLine : "");
}
