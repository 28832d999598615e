// The window system behind the dialog layer: one interface, implemented in memory (the terminal
// front end and the tests) and by Win32. The portable Dialog calls only this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/window_types.h"

namespace framework {

class Dialog;

// Reads the next piece of a stream into buffer (at most capacity bytes); returns the count read,
// 0 at the end.
using StreamReader = std::function<std::size_t(char* buffer, std::size_t capacity)>;

// The window of one dialog while it exists. Every operation may be called from any thread;
// changes are applied in the order they are made. After the window is gone each operation does
// nothing and reports failure (false, 0 or an empty text).
class DialogHost {
public:
    virtual ~DialogHost() = default;

    // Ends the modal loop with that result, once the current message is handled.
    virtual void EndDialog(int result) = 0;

    // The window itself.
    virtual bool SetWindowText(const std::string& text) = 0;
    virtual std::string GetWindowText() = 0;
    // Returns whether the window was visible before.
    virtual bool ShowWindow(int showCommand) = 0;
    // The change passes through the dialog's window-position-changing handler unless the flags
    // hold kSwpNoSendChanging. Called from another thread, the in-memory window runs the handler
    // on the calling thread, while the dialog cannot end under it.
    virtual bool SetWindowPos(intptr_t insertAfter, int x, int y, int cx, int cy,
                              unsigned flags) = 0;
    virtual bool IsWindowVisible() = 0;
    virtual bool IsIconic() = 0;
    virtual Rect GetClientRect() = 0;
    // Returns the icon that was set before.
    virtual Icon SetIcon(Icon icon, bool big) = 0;
    virtual bool HasSystemMenu() = 0;
    virtual bool AppendSystemMenu(unsigned flags, unsigned id, const std::string& text) = 0;
    // Queues a message for the window's own thread (kWmClose, kWmCommand, kWmSysCommand).
    virtual bool PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) = 0;
    // Timers fire on the window's own thread, measured on the process clock.
    virtual unsigned SetTimer(unsigned id, unsigned elapseMs) = 0;
    virtual bool KillTimer(unsigned id) = 0;

    // Painting, inside the paint handler.
    virtual void EraseIconBackground() = 0;
    virtual void DrawIcon(int x, int y, Icon icon) = 0;

    // Controls by id.
    virtual bool HasControl(int id) = 0;
    virtual bool SetControlText(int id, const std::string& text) = 0;
    virtual std::string GetControlText(int id) = 0;
    virtual bool ShowControl(int id, bool show) = 0;
    virtual bool EnableControl(int id, bool enable) = 0;
    virtual bool IsControlVisible(int id) = 0;
    virtual bool IsControlEnabled(int id) = 0;
    virtual bool SetCheck(int id, int state) = 0;
    virtual int GetCheck(int id) = 0;
    virtual bool SetProgressRange(int id, int low, int high) = 0;
    // Each returns the value before the change.
    virtual int SetProgressStep(int id, int step) = 0;
    virtual int SetProgressPos(int id, int pos) = 0;
    virtual int GetProgressPos(int id) = 0;
    virtual Colour SetProgressBarColour(int id, Colour colour) = 0;
    // Replaces a rich-text pane's contents with the Rich Text Format document the reader yields.
    virtual bool StreamInRtf(int id, const StreamReader& reader) = 0;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Creates the dialog's window from its template, lets the dialog initialise it and runs its
    // modal loop on the calling thread. Returns the result given to EndDialog, kDialogFailed when
    // the window cannot be created, or kDialogFailed when a quit request ended the loop first.
    virtual int RunModal(Dialog& dialog, Dialog* parent) = 0;
    // A quit request for the calling thread: it ends the modal loop running on it, and any that
    // starts on it later.
    virtual void PostQuit(int exitCode) = 0;
    // Loads a library of control classes (the rich-text one); false when it cannot be loaded.
    virtual bool LoadControlLibrary(const std::string& name) = 0;
    // Registers the common control classes of that set.
    virtual bool InitCommonControls(uint32_t size, uint32_t classes) = 0;
    virtual int GetSystemMetrics(int index) = 0;
};

// The window system in use: the installed services' one, else one that can make no window.
WindowSystem& CurrentWindowSystem();

// Posts a quit request to the calling thread's loop and keeps the first exit code given.
void PostQuitMessage(int exitCode);
bool QuitRequested();
int QuitExitCode();  // 0 until a quit request was made
// Forgets the kept quit request (tests that run several programs in one process).
void ResetQuitRequest();

// Resources.
std::string LoadString(int stringId);  // empty when there is none
Icon LoadIcon(int iconId);             // 0 when there is none
int GetSystemMetrics(int index);
// Registers the common control classes (structure size and class set as the system takes them).
bool InitCommonControlsEx(uint32_t size, uint32_t classes);
bool LoadControlLibrary(const std::string& name);

}  // namespace framework
