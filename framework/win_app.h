// The application object: one per program, initialised by the platform's entry point.
#pragma once

#include <string>

namespace framework {

class Dialog;

class WinApp {
public:
    WinApp();
    virtual ~WinApp();
    WinApp(const WinApp&) = delete;
    WinApp& operator=(const WinApp&) = delete;

    // Called once at start. True keeps the application running; the dialog-based program does
    // all its work inside it and returns false.
    virtual bool InitInstance() { return true; }
    // Called when the application ends; its result is the process exit status. By default the
    // code of the quit request (0 when there was none).
    virtual int ExitInstance();

    // The registry key of the profile settings: the program keeps no profile settings, so
    // nothing is read or written under it.
    void SetRegistryKey(const std::string& key) { (void)key; }

    Dialog* m_pMainWnd = nullptr;
    std::string m_lpCmdLine;  // the command line after the program name
};

// The process's application object (the last one constructed), or nullptr.
WinApp* AfxGetApp();
// Enables hosting of embedded controls: nothing to do for the dialogs of this program.
void AfxEnableControlContainer();

// The platform's entry point runs the application: sets its command line, calls InitInstance,
// then ExitInstance, and returns the exit status.
int RunApplication(WinApp& app, const std::string& commandLine);

}  // namespace framework
