// The Windows program's entry point: the Win32 window system and message boxes, then the
// program with the command line after the program name.
#include "framework/win32/win32_headers.h"

#include "app/program_entry.h"
#include "framework/win32/win32_window_system.h"
#include "res/dialog_templates.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    static framework::Win32WindowSystem windowSystem;
    framework::SetResources(&res::Resources());
    windowSystem.Install();
    return RunVlm270FWUpdate(commandLine != nullptr ? commandLine : "");
}
