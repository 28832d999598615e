// The upgrade run on its worker thread, the activity timer and the dialog's close handling.
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "console/main_dialog.h"
#include "console/update_job.h"
#include "flash/spi_protocol.h"
#include "flash/stoppable_vlmio.h"
#include "flash/update_engine.h"
#include "framework/clock.h"
#include "framework/keep_awake.h"
#include "framework/message_box.h"
#include "framework/window_system.h"
#include "pci/vlmio_access.h"
#include "util/event_log.h"
#include "util/exit_status.h"
#include "util/image_file.h"
#include "util/reboot_system.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace {

constexpr unsigned kProgressTimerId = 1;
constexpr unsigned kProgressTimerMs = 150;
constexpr uint64_t kWaitLimitSeconds = 200;
constexpr uint64_t kPollIntervalMs = 300;
constexpr uint64_t kJobStartPauseMs = 100;
// How long the run waits for stopped jobs to end after its time limit.
constexpr uint64_t kStoppedJobWaitMs = 10000;
constexpr uint64_t kThreadPollMs = 10;
constexpr int kQuitExitCode = 18;

constexpr const char* kRunName = "CVLM270FWUpdateDlg::RunFirmwareUpgrade";
constexpr int kLineImageLoadLog = 758;
constexpr int kLineImageLoadMessage = 759;

constexpr const char* kControllerNotReadyText = "270X SATA/PATA Controller is not ready";
constexpr const char* kImageNotFoundText = "Can't Find Firmware file(*.rom) !";
constexpr const char* kImageNotFoundCaption = "Error";
constexpr const char* kImageLoadLogFormat =
    "\r\n%s:%d:   Open Frimware bin file Failed!!strFwFullName[%s], (%d)\n";
constexpr const char* kImageLoadMessageFormat =
    "\r\n%s:%d:Open Frimware bin file Failed!!strFwFullName[%s], (%d)\n";
constexpr const char* kTimeOutText = "Firmware Update Time Out, Fail!!!";
constexpr const char* kHostNotReadyText =
    "Your Host Device is not ready, Firmware Update Failed!!!, Please reboot your PC and try "
    "again!!!";
constexpr const char* kEmulatedRestartText =
    "The emulated PC was power-cycled; this computer was not restarted.";

// The access library's stop switch, when the loaded library is wrapped in one.
flash::CStoppableVlmIo* StopSwitch() {
    return dynamic_cast<flash::CStoppableVlmIo*>(&pci::VlmIo());
}

void FreeImageBuffer() {
    delete[] g_Utility.m_pFWBinBuffer;
    g_Utility.m_pFWBinBuffer = nullptr;
}

}  // namespace

bool CVLM270FWUpdateDlg::RunInProgress() const {
    return m_bWorkerStarted.load(std::memory_order_acquire) &&
           g_bWorkerDone.load(std::memory_order_acquire) == 0;
}

void CVLM270FWUpdateDlg::ShowFailureOnBar() {
    m_OverallProgress.SetBarColor(kBarRed);
    m_OverallProgress.SetPos(kProgressHigh);
}

unsigned FirmwareUpgradeThreadProc(void* pParam) {
    auto* pbWorkerDone = static_cast<std::atomic<uint8_t>*>(pParam);
    CVLM270FWUpdateDlg& dlg = *g_pMainDlg;
    dlg.m_bInitialised.wait(false, std::memory_order_acquire);
    dlg.SetTimer(kProgressTimerId, kProgressTimerMs);
    try {
        dlg.RunFirmwareUpgrade();
    } catch (const std::exception&) {
        // The run ends where it failed; the closing steps still follow.
        RecordExitStatus(ExitStatus::kUnexpectedFailure);
    }
    dlg.KillTimer(kProgressTimerId);
    dlg.FinishWorker();
    pbWorkerDone->store(1, std::memory_order_release);
    if (!dlg.m_bSkipUnload.load(std::memory_order_acquire)) {
        pci::VlmIo().UnloadVlmIODriver();
    }
    dlg.PostClose();
    return 1;
}

void CVLM270FWUpdateDlg::FinishWorker() {
    try {
        if (m_bSilent) return;
        const int nResult = m_ReBoot.DoModal();
        if (nResult != framework::kIdOkCommand || !m_ReBoot.RestartNow()) return;
        SetWindowPos(framework::kHwndNoTopmost, 0, 0, 0, 0, kHideWindowFlags);
        if (m_bSkipUnload.load(std::memory_order_acquire)) {
            // A stopped job is still inside the access library: it cannot be asked anything.
            RebootSystem();
            return;
        }
        pci::IVlmIo& io = pci::VlmIo();
        if (io.IsEmulated()) {
            // The emulated PC stands in for this computer: it is power-cycled (it saves its
            // flash and reloads it), and the real machine is left alone.
            io.UnloadVlmIODriver();
            io.LoadVlmIODriver();
            framework::AfxMessageBox(kEmulatedRestartText,
                                     framework::kMbOk | framework::kMbIconInformation);
        } else {
            RebootSystem();
        }
    } catch (const std::exception&) {
        RecordExitStatus(ExitStatus::kUnexpectedFailure);
    }
}

bool CVLM270FWUpdateDlg::RunFirmwareUpgrade() {
    for (auto& result : m_ucResult) result.store(kResultNotUpdated, std::memory_order_release);

    if (g_Interctl.ScanControllers() != 0) {
        KillTimer(kProgressTimerId);
        SetWindowPos(framework::kHwndNoTopmost, 0, 0, 0, 0, kHideWindowFlags);
        ShowFailureOnBar();
        RecordExitStatus(ExitStatus::kControllerNotReady);
        framework::AfxMessageBox(kControllerNotReadyText);
        return false;
    }
    const uint8_t ucCount = g_Utility.m_ucControllerCount;

    const std::string strName = LocateFWBinFile(g_Utility.m_szModuleDir);
    if (strName.empty()) {
        ShowFailureOnBar();
        RecordExitStatus(ExitStatus::kImageNotFound);
        framework::MessageBox(kImageNotFoundText, kImageNotFoundCaption,
                              framework::kMbOk | framework::kMbIconError, true);
        return false;
    }
    const std::string strFwFullName = FWFullName(g_Utility.m_szModuleDir, strName);

    auto* pBuffer = new (std::nothrow) uint8_t[kImageBufferBytes]();
    int32_t nLoad = kResultInsufficientMemory;
    if (pBuffer != nullptr) {
        g_Utility.m_pFWBinBuffer = pBuffer;
        nLoad = g_Utility.bOpenFWBinFile(strFwFullName, pBuffer);
    }
    if (nLoad != kResultSuccess) {
        FreeImageBuffer();
        EventLogPrintf(kEventTypeError, kImageLoadLogFormat, kRunName, kLineImageLoadLog,
                       strFwFullName.c_str(), nLoad);
        char szMessage[kDiagnosticLineBytes] = {};
        std::snprintf(szMessage, sizeof szMessage, kImageLoadMessageFormat, kRunName,
                      kLineImageLoadMessage, strFwFullName.c_str(), nLoad);
        ShowFailureOnBar();
        RecordExitStatus(ExitStatus::kImageLoadFailed);
        framework::AfxMessageBox(szMessage);
        return false;
    }

    ShowControllers(ucCount);

    // The computer stays awake from the first job start to the end of the run.
    framework::KeepAwake keepAwake;
    for (uint8_t i = 0; i < ucCount; ++i) {
        UpdateJob& job = g_UpdateJobs[i];
        job.strFwFullName = strFwFullName;
        job.ucTargetNumber = i;
        job.ucStatus.store(kJobRunning, std::memory_order_release);
        // In silent mode the window is never shown, also not by this change.
        const unsigned flags =
            m_bSilent ? (kJobStartWindowFlags & ~framework::kSwpShowWindow) : kJobStartWindowFlags;
        SetWindowPos(framework::kHwndNoTopmost, 0, 0, 0, 0, flags);
        keepAwake.Hold();
        if (!StartJob(i, strFwFullName)) {
            // A job that never started is a controller not updated.
            m_ucResult[i].store(kResultNotUpdated, std::memory_order_release);
            job.ucStatus.store(kJobFinished, std::memory_order_release);
        }
        framework::ProcessClock().SleepMs(kJobStartPauseMs);
    }

    if (!WaitForJobs(ucCount)) {
        TimeOutEnding(ucCount);
        return false;
    }

    uint8_t ucUpdated = 0;
    for (uint8_t i = 0; i < ucCount; ++i) {
        if (m_ucResult[i].load(std::memory_order_acquire) == kResultUpdated) ++ucUpdated;
    }
    bool bResult = false;
    if (ucUpdated == ucCount) {
        g_Utility.m_bAllUpdated.store(1, std::memory_order_release);
        RecordExitStatus(ExitStatus::kAllUpdated);
        bResult = true;
    } else {
        KillTimer(kProgressTimerId);
        RecordExitStatus(ExitStatus::kHostNotReady);
        framework::AfxMessageBox(kHostNotReadyText);
        ShowFailureOnBar();
    }
    FreeImageBuffer();
    m_OverallProgress.SetPos(kProgressHigh);
    return bResult;
}

bool CVLM270FWUpdateDlg::StartJob(uint8_t ucIndex, const std::string& strFwFullName) {
    (void)strFwFullName;
    m_pJobThread[ucIndex] =
        framework::BeginThread(UpdateJobThreadProc, &g_UpdateJobs[ucIndex],
                               framework::ThreadPriority::kTimeCritical, &m_hJobThread[ucIndex]);
    return m_pJobThread[ucIndex] != nullptr;
}

bool CVLM270FWUpdateDlg::WaitForJobs(uint8_t ucCount) {
    framework::Clock& clock = framework::ProcessClock();
    uint64_t ullElapsed = 0;
    const uint64_t ullStart = clock.NowSeconds();
    for (;;) {
        if (ullElapsed > kWaitLimitSeconds) return false;
        bool bAllFinished = true;
        for (uint8_t i = 0; i < ucCount; ++i) {
            if (g_UpdateJobs[i].ucStatus.load(std::memory_order_acquire) != kJobFinished) {
                bAllFinished = false;
            }
        }
        if (bAllFinished) return true;
        ullElapsed = clock.NowSeconds() - ullStart;
        clock.SleepMs(kPollIntervalMs);
    }
}

void CVLM270FWUpdateDlg::TimeOutEnding(uint8_t ucCount) {
    // Unfinished jobs are stopped where they are: their controllers get no further register
    // access, so each job fails fast, records not updated and leaves its bar.
    flash::CStoppableVlmIo* pSwitch = StopSwitch();
    for (uint8_t i = 0; i < ucCount; ++i) {
        if (g_UpdateJobs[i].ucStatus.load(std::memory_order_acquire) == kJobFinished) continue;
        const framework::ThreadHandle& handle = m_hJobThread[i];
        if (handle && !handle->Ended()) {
            const ControllerInfo& record = g_Utility.m_Controllers[i];
            if (pSwitch) pSwitch->StopController(record.ucBus, record.ucDevice, record.ucFunction);
            handle->RequestStop();
        }
        m_pJobThread[i] = nullptr;  // never touched again: it deletes itself
    }
    const bool bAllEnded = WaitForJobThreads(kStoppedJobWaitMs);
    if (!bAllEnded && (pSwitch == nullptr || pSwitch->CallsInside() != 0)) {
        // A job is still inside the access library: unloading it now could pull the library
        // from under that call.
        m_bSkipUnload.store(true, std::memory_order_release);
    }
    if (bAllEnded) FreeImageBuffer();
    KillTimer(kProgressTimerId);
    RecordExitStatus(ExitStatus::kTimeOut);
    framework::AfxMessageBox(kTimeOutText);
    ShowFailureOnBar();
}

bool CVLM270FWUpdateDlg::WaitForJobThreads(uint64_t ullLimitMs) {
    framework::Clock& clock = framework::ProcessClock();
    const uint64_t ullDeadline = clock.NowMs() + ullLimitMs;
    for (;;) {
        bool bAllEnded = true;
        for (const framework::ThreadHandle& handle : m_hJobThread) {
            if (handle && !handle->Ended()) bAllEnded = false;
        }
        if (bAllEnded) return true;
        if (clock.NowMs() >= ullDeadline) return false;
        clock.SleepMs(kThreadPollMs);
    }
}

bool CVLM270FWUpdateDlg::ThreadsStillRunning() const {
    if (m_hWorkerThread && !m_hWorkerThread->Ended()) return true;
    for (const framework::ThreadHandle& handle : m_hJobThread) {
        if (handle && !handle->Ended()) return true;
    }
    return false;
}

bool CVLM270FWUpdateDlg::WaitForThreadsToEnd(uint64_t ullStuckLimitMs) {
    // The worker always ends once its run is over.
    if (m_hWorkerThread) {
        while (!m_hWorkerThread->WaitForEnd(kWorkerWaitSliceMs)) {
        }
    }
    // A stopped job only meets no-op register accesses and ends once its waits have run out;
    // only a call that stays inside the access library can keep it for good.
    framework::Clock& clock = framework::ProcessClock();
    flash::CStoppableVlmIo* pSwitch = StopSwitch();
    uint64_t ullStuckSince = clock.NowMs();
    for (;;) {
        bool bAllEnded = true;
        for (const framework::ThreadHandle& handle : m_hJobThread) {
            if (handle && !handle->Ended()) bAllEnded = false;
        }
        if (bAllEnded) break;
        const uint64_t ullNow = clock.NowMs();
        if (pSwitch != nullptr && pSwitch->CallsInside() == 0) ullStuckSince = ullNow;
        if (ullNow - ullStuckSince >= ullStuckLimitMs) return false;
        clock.SleepMs(kThreadPollMs);
    }
    // The image buffer is freed here when a stopped job still used it as the run ended.
    FreeImageBuffer();
    return true;
}

void CVLM270FWUpdateDlg::OnTimer(unsigned id) {
    framework::Dialog::OnTimer(id);
    int nPos = m_OverallProgress.GetPos();
    nPos = nPos < kProgressHigh ? nPos + 1 : kProgressLow;
    m_OverallProgress.SetPos(nPos);
    if (g_bWorkerDone.load(std::memory_order_acquire) == 1) PostClose();
}

void CVLM270FWUpdateDlg::OnClose() {
    CloseHandler();
}

void CVLM270FWUpdateDlg::OnCancel() {
    CloseHandler();
}

void CVLM270FWUpdateDlg::OnOK() {
    // Enter would end the dialog at once: while the run writes, it waits like a close does.
    if (RunInProgress()) {
        m_bCloseDeferred.store(true, std::memory_order_release);
        return;
    }
    framework::Dialog::OnOK();
}

void CVLM270FWUpdateDlg::CloseHandler() {
    if (RunInProgress()) {
        // No flash write is cut short: the worker closes the dialog itself once it is done.
        m_bCloseDeferred.store(true, std::memory_order_release);
        return;
    }
    try {
        if (m_csWrite.IsInitialized()) m_csWrite.Delete();
        if (m_csIdentify.IsInitialized()) m_csIdentify.Delete();
        framework::PostQuitMessage(kQuitExitCode);
    } catch (const std::exception&) {
        RecordExitStatus(ExitStatus::kUnexpectedFailure);
    }
    framework::Dialog::OnCancel();
}
