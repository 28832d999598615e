#include "app/program_entry.h"

#include <memory>

#include "app/vlm270fwupdate_app.h"
#include "flash/stoppable_vlmio.h"
#include "framework/message_box.h"
#include "framework/update_lock.h"
#include "framework/win_app.h"
#include "pci/access_library.h"
#include "pci/services.h"
#include "util/exit_status.h"
#include "util/utility.h"

namespace {

constexpr const char* kAnotherUpdateText =
    "Not started: another update is in progress on this computer. Run the update again once it "
    "has ended.";
constexpr const char* kNoUpdateLockText = "Not started: the update lock could not be taken: ";
constexpr const char* kLockNotOwnedText = "Not started: the update lock ";
constexpr const char* kLockNotOwnedFix =
    " belongs to another user, who could keep every update away. Remove it and run the update "
    "again (\"sudo rm ";
constexpr const char* kFlashNotSavedText =
    "The emulated PC could not write all its flash files back: they may not hold what this run "
    "wrote, and the run has failed.";

}  // namespace

int RunWithAccessLibrary(const std::function<int()>& fnRun) {
    if (g_Utility.m_bModulePathTooLong) {
        framework::AfxMessageBox(kModulePathTooLongText,
                                 framework::kMbOk | framework::kMbIconError);
        return static_cast<int>(ExitStatus::kUnexpectedFailure);
    }
    std::unique_ptr<pci::LoadedVlmIo> library;
    std::string strError;
    if (!pci::LoadAccessLibrary(g_Utility.m_szModuleDir, library, strError)) {
        framework::AfxMessageBox(strError, framework::kMbOk | framework::kMbIconError);
        return static_cast<int>(ExitStatus::kAccessUnavailable);
    }
    // One update at a time: the lock is held until every thread of the run has ended (or the
    // process has). An emulated PC has a lock of its own, kept in its folder.
    framework::UpdateLock updateLock;
    switch (updateLock.Take(library->IsEmulated() ? g_Utility.m_szModuleDir : std::string())) {
        case framework::UpdateLockResult::kTaken:
            break;
        case framework::UpdateLockResult::kHeldElsewhere:
            framework::AfxMessageBox(kAnotherUpdateText,
                                     framework::kMbOk | framework::kMbIconExclamation);
            return static_cast<int>(ExitStatus::kAnotherUpdate);
        case framework::UpdateLockResult::kNotOwned:
            framework::AfxMessageBox(kLockNotOwnedText + updateLock.Name() + kLockNotOwnedFix +
                                         updateLock.Name() + "\")",
                                     framework::kMbOk | framework::kMbIconError);
            return static_cast<int>(ExitStatus::kAccessUnavailable);
        case framework::UpdateLockResult::kUnavailable:
            framework::AfxMessageBox(kNoUpdateLockText + updateLock.Name(),
                                     framework::kMbOk | framework::kMbIconError);
            return static_cast<int>(ExitStatus::kUnexpectedFailure);
    }
    // The jobs reach the library through a switch that can cut a stopped job off it.
    auto* pSwitch = new flash::CStoppableVlmIo(*library);
    int nStatus = 0;
    {
        // The run's services: the platform's as the program installed them, and the library.
        pci::ScopedServices services({framework::InstalledServices(), pSwitch});
        nStatus = fnRun();
    }
    // Every thread of the run has ended by now (the application waits for them): the library
    // can be closed.
    delete pSwitch;
    // The emulated PC saves its flash files when the run unloads it: a run whose flash could
    // not be saved cannot be told a success.
    if (library->FlashNotSaved() && nStatus == static_cast<int>(ExitStatus::kAllUpdated)) {
        framework::AfxMessageBox(kFlashNotSavedText, framework::kMbOk | framework::kMbIconError);
        nStatus = static_cast<int>(ExitStatus::kUnexpectedFailure);
    }
    library.reset();
    return nStatus;
}

int RunVlm270FWUpdate(const std::string& strCommandLine) {
    return RunWithAccessLibrary(
        [&strCommandLine] { return framework::RunApplication(theApp, strCommandLine); });
}
