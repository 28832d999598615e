// The Windows program's entry point: its services (the Win32 window system and message boxes),
// then the program with the command line after the program name.
#include "framework/win32/win32_headers.h"

#include "app/program_entry.h"
#include "framework/services.h"
#include "framework/win32/win32_window_system.h"
#include "res/dialog_templates.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // The program's services: the platform's, with Win32 windows and message boxes and the
    // program's resources.
    static framework::Win32WindowSystem windowSystem;
    static framework::ScopedServices services(
        {.windowSystem = &windowSystem,
         .messageBoxes = &framework::Win32WindowSystem::ShowMessageBox,
         .resources = &res::Resources()});
    return RunVlm270FWUpdate(commandLine != nullptr ? commandLine : "");
}
