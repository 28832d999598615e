// The Win32 window system: real dialogs built from the dialog templates, real controls, real
// message boxes. Controls may be changed from any thread: a change made on the window's own thread
// is applied at once; one made elsewhere is queued and posted to the window's thread, so a
// worker never waits for the window's thread to answer (only a rich-text stream started from
// another thread waits, since its reader lives on that thread).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/dialog_template.h"
#include "framework/message_box.h"
#include "framework/window_system.h"

namespace framework {

class Win32WindowSystem final : public WindowSystem {
public:
    Win32WindowSystem() = default;
    Win32WindowSystem(const Win32WindowSystem&) = delete;
    Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

    int RunModal(Dialog& dialog, Dialog* parent) override;
    void PostQuit(int exitCode) override;
    bool LoadControlLibrary(const std::string& name) override;
    bool InitCommonControls(uint32_t size, uint32_t classes) override;
    int GetSystemMetrics(int index) override;

    // Shows a real message box; the main window owns it when the request says so. The program's
    // services name it as their message boxes.
    static int ShowMessageBox(const MessageBoxRequest& request);
};

// The in-memory form of a dialog template as the dialog manager takes it (DLGTEMPLATEEX with its
// items), with the control styles a child window needs. Centred on the screen.
std::vector<uint8_t> BuildDialogTemplate(const DialogTemplate& dialogTemplate);

}  // namespace framework
