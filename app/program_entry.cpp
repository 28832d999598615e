#include "app/program_entry.h"

#include <memory>

#include "app/static_objects.h"
#include "app/vlm270fwupdate_app.h"
#include "flash/stoppable_vlmio.h"
#include "framework/library_loader.h"
#include "framework/message_box.h"
#include "framework/win_app.h"
#include "util/exit_status.h"
#include "util/utility.h"

int RunVlm270FWUpdate(const std::string& strCommandLine) {
    if (g_Utility.m_bModulePathTooLong) {
        framework::AfxMessageBox(kModulePathTooLongText, framework::kMbOk | framework::kMbIconError);
        return static_cast<int>(ExitStatus::kUnexpectedFailure);
    }
    std::unique_ptr<framework::LoadedVlmIo> library;
    std::string strError;
    if (!framework::LoadAccessLibrary(g_Utility.m_szModuleDir, library, strError)) {
        framework::AfxMessageBox(strError, framework::kMbOk | framework::kMbIconError);
        return static_cast<int>(ExitStatus::kAccessUnavailable);
    }
    // The jobs reach the library through a switch that can cut a stopped job off it.
    auto* pSwitch = new flash::CStoppableVlmIo(*library);
    flash::SetVlmIo(pSwitch);
    const int nStatus = framework::RunApplication(theApp, strCommandLine);
    // Every thread of the run has ended by now (the application waits for them): the library
    // can be closed.
    flash::SetVlmIo(nullptr);
    delete pSwitch;
    library.reset();
    return nStatus;
}
