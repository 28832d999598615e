#include "app/vlm270fwupdate_app.h"

#include "console/main_dialog.h"
#include "framework/services.h"
#include "framework/window_system.h"
#include "util/exit_status.h"

namespace {

// How long after its stop at the time limit the program waits for a job, whatever holds it,
// before it ends without it.
constexpr uint64_t kJobEndWaitMs = 10000;

}  // namespace

std::string JoinCommandLineTokens(const std::string& strCommandLine) {
    std::string strJoined;
    const std::string delimiters(kCommandLineDelimiters);
    std::size_t start = strCommandLine.find_first_not_of(delimiters);
    while (start != std::string::npos) {
        std::size_t end = strCommandLine.find_first_of(delimiters, start);
        strJoined += strCommandLine.substr(start, end - start);
        if (end == std::string::npos) break;
        start = strCommandLine.find_first_not_of(delimiters, end);
    }
    return strJoined;
}

CVLM270FWUpdateApp::CVLM270FWUpdateApp() = default;

CVLM270FWUpdateApp::~CVLM270FWUpdateApp() = default;

bool CVLM270FWUpdateApp::InitInstance() {
    framework::InitCommonControlsEx(kCommonControlsSize, kCommonControlsClasses);
    framework::WinApp::InitInstance();
    framework::AfxEnableControlContainer();
    SetRegistryKey(kProfileRegistryKey);

    CVLM270FWUpdateDlg dlg;
    m_pMainWnd = &dlg;
    g_pMainDlg = &dlg;
    dlg.m_strCmdLine += JoinCommandLineTokens(m_lpCmdLine);

    dlg.DoModal();

    // The dialog may only go once no thread of the run can reach it any more.
    if (!dlg.WaitForThreadsToEnd(kJobEndWaitMs)) {
        // A stopped job is stuck (inside the access library, say): end the process without
        // destroying what that thread still uses.
        framework::EndProcessNow(ExitStatusOfRun());
    }
    m_pMainWnd = nullptr;
    return false;
}

int CVLM270FWUpdateApp::ExitInstance() {
    return ExitStatusOfRun();
}
