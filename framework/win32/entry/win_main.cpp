// The Windows program's entry point: the Win32 window system and message boxes, then the
// program with the command line after the program name.
#include "framework/win32/win32_headers.h"

#include <string>

#include "framework/message_box.h"
#include "framework/win32/win32_window_system.h"

#if __has_include("app/program_entry.h")
#include "app/program_entry.h"
#define VLM_HAS_APPLICATION 1
#endif

namespace {

constexpr int kExitUnexpectedFailure = 8;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    static framework::Win32WindowSystem windowSystem;
    windowSystem.Install();
#ifdef VLM_HAS_APPLICATION
    return RunVlm270FWUpdate(commandLine != nullptr ? commandLine : "");
#else
    (void)commandLine;
    framework::MessageBox("This build has no application.", std::string(),
                          framework::kMbOk | framework::kMbIconError);
    return kExitUnexpectedFailure;
#endif
}
