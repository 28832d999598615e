// The upgrade run on its worker thread, its endings, the activity timer and the dialog's close
// handling.
#include "console/upgrade_run.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <iterator>
#include <new>
#include <string>

#include "console/main_dialog.h"
#include "console/run_options.h"
#include "console/update_job.h"
#include "flash/spi_protocol.h"
#include "flash/stoppable_vlmio.h"
#include "flash/update_engine.h"
#include "framework/clock.h"
#include "framework/message_box.h"
#include "framework/platform.h"
#include "framework/window_system.h"
#include "pci/vlmio_access.h"
#include "util/event_log.h"
#include "util/exit_status.h"
#include "util/image_file.h"
#include "util/reboot_system.h"
#include "util/result_codes.h"
#include "util/utility.h"

std::atomic<uint8_t> g_bWorkerDone{0};

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
constexpr const char* kStepImageLoad = "image-load";

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
constexpr const char* kEmulatedNotPowerCycledText =
    "A stopped job is still inside the emulated PC's library: the emulated PC was not "
    "power-cycled, and this computer was not restarted.";
// After the time-out's message, per stopped controller whose flash write had begun.
constexpr const char* kPartlyWrittenFormat =
    "flash of %04x:%02x:%02x.%x may be partly written: run the update again";
constexpr unsigned kPciDomain = 0;

// The access library's stop switch, when the loaded library is wrapped in one.
flash::CStoppableVlmIo* StopSwitch() {
    return dynamic_cast<flash::CStoppableVlmIo*>(&pci::VlmIo());
}

// When an ending turns the activity bar red (and full): before its message, after it, or never.
enum class BarRed { kNever, kBeforeMessage, kAfterMessage };

// Steps an ending may take besides its bar and message.
constexpr unsigned kStopTimer = 1u << 0;
constexpr unsigned kHideWindow = 1u << 1;
constexpr unsigned kBoxOwnedByMainWindow = 1u << 2;
constexpr unsigned kBarFullLast = 1u << 3;
constexpr unsigned kEndingBoxType = framework::kMbOk | framework::kMbIconExclamation;

// What one ending shows, one row per ending in the order of RunEnding. EndRun takes the steps
// in this order: timer stopped, window hidden, bar red before the message, exit status,
// message, bar red after it, bar set full.
struct EndingSteps {
    RunEnding ending;
    ExitStatus status;
    BarRed barRed;
    unsigned uSteps;              // kStopTimer, kHideWindow, kBoxOwnedByMainWindow, kBarFullLast
    const char* pszMessage;       // none when null; the image-load ending's is a format
    const char* pszCaption = "";  // empty: the application's name
    unsigned uBoxType = kEndingBoxType;
};

constexpr EndingSteps kEndingSteps[] = {
    {RunEnding::kControllerNotReady, ExitStatus::kControllerNotReady, BarRed::kBeforeMessage,
     kStopTimer | kHideWindow, kControllerNotReadyText},
    {RunEnding::kImageNotFound, ExitStatus::kImageNotFound, BarRed::kBeforeMessage,
     kBoxOwnedByMainWindow, kImageNotFoundText, kImageNotFoundCaption,
     framework::kMbOk | framework::kMbIconError},
    {RunEnding::kImageLoadFailed, ExitStatus::kImageLoadFailed, BarRed::kBeforeMessage, 0,
     kImageLoadMessageFormat},
    {RunEnding::kTimeOut, ExitStatus::kTimeOut, BarRed::kAfterMessage, kStopTimer, kTimeOutText},
    {RunEnding::kHostNotReady, ExitStatus::kHostNotReady, BarRed::kAfterMessage,
     kStopTimer | kBarFullLast, kHostNotReadyText},
    {RunEnding::kAllUpdated, ExitStatus::kAllUpdated, BarRed::kNever, kBarFullLast, nullptr},
};

constexpr bool RowsInEndingOrder() {
    for (std::size_t i = 0; i < std::size(kEndingSteps); ++i) {
        if (static_cast<std::size_t>(kEndingSteps[i].ending) != i) return false;
    }
    return std::size(kEndingSteps) == static_cast<std::size_t>(RunEnding::kAllUpdated) + 1;
}
static_assert(RowsInEndingOrder(), "one row per ending, in the order of RunEnding");

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
    dlg.m_Initialised.Wait();
    dlg.SetTimer(kProgressTimerId, kProgressTimerMs);
    try {
        dlg.EndRun(dlg.RunFirmwareUpgrade());
    } catch (const std::exception&) {
        // The run ends where it failed; the closing steps still follow.
        RecordExitStatus(ExitStatus::kUnexpectedFailure);
    }
    dlg.m_KeepAwake.Release();
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
            // A stopped job is still inside the access library: it can be neither unloaded nor
            // reloaded. Whether it is the emulated PC was decided before the run.
            if (m_bEmulatedPc) {
                framework::AfxMessageBox(kEmulatedNotPowerCycledText,
                                         framework::kMbOk | framework::kMbIconInformation);
            } else {
                RebootSystem();
            }
            return;
        }
        pci::IVlmIo& io = pci::VlmIo();
        if (m_bEmulatedPc) {
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

RunEnding CVLM270FWUpdateDlg::RunFirmwareUpgrade() {
    for (auto& result : m_ucResult) result.store(kResultNotUpdated, std::memory_order_release);
    for (auto& begun : m_bFlashWriteBegun) begun.store(false, std::memory_order_release);
    for (auto& stopped : m_bJobStopped) stopped.store(false, std::memory_order_release);
    m_ullJobsStoppedAtMs.store(0, std::memory_order_release);

    const bool bFound = g_Interctl.ScanControllers() == 0;
    const RunOptions& options = CurrentRunOptions();
    if (options.onControllersFound) options.onControllersFound(bFound);
    if (!bFound) return RunEnding::kControllerNotReady;
    ControllerAddress missing;
    if (!SelectControllers(options.controllers, g_Utility.m_ucControllerCount,
                           g_Utility.m_Controllers, &missing)) {
        char szMessage[kDiagnosticLineBytes] = {};
        std::snprintf(szMessage, sizeof szMessage, kNoSuchControllerFormat,
                      ControllerAddressText(missing).c_str());
        framework::AfxMessageBox(szMessage, kEndingBoxType);
        return RunEnding::kControllerNotReady;
    }
    const uint8_t ucCount = g_Utility.m_ucControllerCount;

    auto refused = [&options](const std::string& strPath, int32_t nResult) {
        if (options.onImageRefused) options.onImageRefused(strPath, nResult);
    };
    if (!options.strImagePath.empty()) {
        // The image named for this run, loaded by the same rules as one found in the folder.
        if (!framework::PathExists(options.strImagePath)) {
            refused(options.strImagePath, kResultEntityNotFound);
            return RunEnding::kImageNotFound;
        }
        m_strFwFullName = options.strImagePath;
    } else {
        const std::string strName = LocateFWBinFile(g_Utility.m_szModuleDir);
        if (strName.empty()) {
            refused(std::string(), kResultEntityNotFound);
            return RunEnding::kImageNotFound;
        }
        m_strFwFullName = FWFullName(g_Utility.m_szModuleDir, strName);
    }
    if (!LoadImage()) {
        refused(m_strFwFullName, m_nImageLoadResult);
        return RunEnding::kImageLoadFailed;
    }
    if (options.onImageLoaded) {
        options.onImageLoaded(m_strFwFullName, g_Utility.m_pFWBinBuffer.get(),
                              g_Utility.m_dwFWFileBytes);
    }

    if (options.beforeJobs) options.beforeJobs(ucCount);
    ShowControllers(ucCount);

    for (uint8_t i = 0; i < ucCount; ++i) {
        UpdateJob& job = g_UpdateJobs[i];
        job.strFwFullName = m_strFwFullName;
        job.ucTargetNumber = i;
        job.ucStatus.store(kJobRunning, std::memory_order_release);
        // In silent mode the window is never shown, also not by this change.
        const unsigned flags =
            m_bSilent ? (kJobStartWindowFlags & ~framework::kSwpShowWindow) : kJobStartWindowFlags;
        SetWindowPos(framework::kHwndNoTopmost, 0, 0, 0, 0, flags);
        // The computer stays awake from the first job start until the ending is shown.
        m_KeepAwake.Hold();
        if (!StartJob(i)) {
            // A job that never started is a controller not updated.
            m_ucResult[i].store(kResultNotUpdated, std::memory_order_release);
            job.ucStatus.store(kJobFinished, std::memory_order_release);
        }
        framework::ProcessClock().SleepMs(kJobStartPauseMs);
    }

    if (!WaitForJobs(ucCount)) {
        StopUnfinishedJobs(ucCount);
        return RunEnding::kTimeOut;
    }
    for (uint8_t i = 0; i < ucCount; ++i) {
        if (m_ucResult[i].load(std::memory_order_acquire) != kResultUpdated) {
            return RunEnding::kHostNotReady;
        }
    }
    return RunEnding::kAllUpdated;
}

void CVLM270FWUpdateDlg::EndRun(RunEnding ending) {
    const EndingSteps& steps = kEndingSteps[static_cast<std::size_t>(ending)];
    if ((steps.uSteps & kStopTimer) != 0) KillTimer(kProgressTimerId);
    if ((steps.uSteps & kHideWindow) != 0) {
        SetWindowPos(framework::kHwndNoTopmost, 0, 0, 0, 0, kHideWindowFlags);
    }
    if (steps.barRed == BarRed::kBeforeMessage) ShowFailureOnBar();
    if (ending == RunEnding::kAllUpdated) {
        g_Utility.m_bAllUpdated.store(1, std::memory_order_release);
    }
    RecordExitStatus(steps.status);
    if (steps.pszMessage != nullptr) {
        std::string strMessage = steps.pszMessage;
        if (ending == RunEnding::kImageLoadFailed) {
            char szMessage[kDiagnosticLineBytes] = {};
            std::snprintf(szMessage, sizeof szMessage, kImageLoadMessageFormat, kRunName,
                          kLineImageLoadMessage, m_strFwFullName.c_str(), m_nImageLoadResult);
            strMessage = szMessage;
        }
        framework::MessageBox(strMessage, steps.pszCaption, steps.uBoxType,
                              (steps.uSteps & kBoxOwnedByMainWindow) != 0);
    }
    if (ending == RunEnding::kTimeOut) ReportPartlyWrittenFlashes();
    if (steps.barRed == BarRed::kAfterMessage) ShowFailureOnBar();
    if ((steps.uSteps & kBarFullLast) != 0) m_OverallProgress.SetPos(kProgressHigh);
}

bool CVLM270FWUpdateDlg::LoadImage() {
    g_Utility.m_pFWBinBuffer.reset(new (std::nothrow) uint8_t[kImageBufferBytes]());
    m_nImageLoadResult =
        g_Utility.m_pFWBinBuffer == nullptr
            ? kResultInsufficientMemory
            : g_Utility.bOpenFWBinFile(m_strFwFullName, g_Utility.m_pFWBinBuffer.get());
    if (m_nImageLoadResult == kResultSuccess) return true;
    CEventStep step(kStepImageLoad, m_nImageLoadResult);
    EventLogPrintf(kEventTypeError, kImageLoadLogFormat, kRunName, kLineImageLoadLog,
                   m_strFwFullName.c_str(), m_nImageLoadResult);
    return false;
}

bool CVLM270FWUpdateDlg::StartJob(uint8_t ucIndex) {
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

void CVLM270FWUpdateDlg::StopUnfinishedJobs(uint8_t ucCount) {
    // Unfinished jobs are stopped where they are: their controllers get no further register
    // access, so each job fails fast, records not updated and leaves its bar.
    flash::CStoppableVlmIo* pSwitch = StopSwitch();
    // Never 0, so that 0 can mean "no job was stopped".
    const uint64_t ullStoppedAtMs = std::max<uint64_t>(framework::ProcessClock().NowMs(), 1);
    m_ullJobsStoppedAtMs.store(ullStoppedAtMs, std::memory_order_release);
    for (uint8_t i = 0; i < ucCount; ++i) {
        if (g_UpdateJobs[i].ucStatus.load(std::memory_order_acquire) == kJobFinished) continue;
        m_bJobStopped[i].store(true, std::memory_order_release);
        if (JobThreadRunning(i)) {
            const ControllerInfo& record = g_Utility.m_Controllers[i];
            if (pSwitch) pSwitch->StopController(record.ucBus, record.ucDevice, record.ucFunction);
            m_hJobThread[i]->RequestStop();
        }
        m_pJobThread[i] = nullptr;  // never touched again: it deletes itself
    }
    // A stopped job ends at once wherever it is in the engine; the limit is for one blocked
    // elsewhere (inside the access library, or writing a diagnostic line).
    const bool bAllEnded = WaitForJobThreads(ullStoppedAtMs + kStoppedJobWaitMs);
    if (!bAllEnded && (pSwitch == nullptr || pSwitch->CallsInside() != 0)) {
        // A job is still inside the access library: unloading it now could pull the library
        // from under that call.
        m_bSkipUnload.store(true, std::memory_order_release);
    }
}

bool CVLM270FWUpdateDlg::JobThreadRunning(uint8_t ucIndex) const {
    const framework::ThreadHandle& handle = m_hJobThread[ucIndex];
    return handle && !handle->Ended();
}

void CVLM270FWUpdateDlg::ReportPartlyWrittenFlashes() {
    for (uint8_t i = 0; i < kMaxControllers; ++i) {
        if (!m_bJobStopped[i].load(std::memory_order_acquire) ||
            !m_bFlashWriteBegun[i].load(std::memory_order_acquire)) {
            continue;
        }
        const ControllerInfo& record = g_Utility.m_Controllers[i];
        char szLine[kDiagnosticLineBytes] = {};
        std::snprintf(szLine, sizeof szLine, kPartlyWrittenFormat, kPciDomain,
                      static_cast<unsigned>(record.ucBus), static_cast<unsigned>(record.ucDevice),
                      static_cast<unsigned>(record.ucFunction));
        EventLogPrintf(kEventTypeError, "\r\n%s", szLine);
        framework::ShowNotice(szLine);
    }
}

bool CVLM270FWUpdateDlg::WaitForJobThreads(uint64_t ullDeadlineMs) {
    framework::Clock& clock = framework::ProcessClock();
    for (;;) {
        bool bAllEnded = true;
        for (uint8_t i = 0; i < kMaxControllers; ++i) {
            if (JobThreadRunning(i)) bAllEnded = false;
        }
        if (bAllEnded) return true;
        if (clock.NowMs() >= ullDeadlineMs) return false;
        clock.SleepMs(kThreadPollMs);
    }
}

bool CVLM270FWUpdateDlg::WaitForThreadsToEnd(uint64_t ullStoppedLimitMs) {
    // The worker always ends once its run is over.
    if (m_hWorkerThread) {
        while (!m_hWorkerThread->WaitForEnd(kWorkerWaitSliceMs)) {
        }
    }
    // A job that finished ends right after; one stopped at the time limit ends at once wherever
    // it is in the engine. Whatever else holds a stopped job (a call that stays inside the access
    // library, a diagnostic line that cannot be written), the wait ends ullStoppedLimitMs after
    // the stop.
    const uint64_t ullStoppedAtMs = m_ullJobsStoppedAtMs.load(std::memory_order_acquire);
    const uint64_t ullCountedFromMs =
        ullStoppedAtMs != 0 ? ullStoppedAtMs : framework::ProcessClock().NowMs();
    if (!WaitForJobThreads(ullCountedFromMs + ullStoppedLimitMs)) return false;
    // No thread of the run can reach the image buffer any more.
    g_Utility.m_pFWBinBuffer.reset();
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
    if (RunInProgress()) return;
    framework::Dialog::OnOK();
}

void CVLM270FWUpdateDlg::CloseHandler() {
    // No flash write is cut short: the worker closes the dialog itself once it is done.
    if (RunInProgress()) return;
    try {
        if (m_csWrite.IsInitialized()) m_csWrite.Delete();
        if (m_csIdentify.IsInitialized()) m_csIdentify.Delete();
        framework::PostQuitMessage(kQuitExitCode);
    } catch (const std::exception&) {
        RecordExitStatus(ExitStatus::kUnexpectedFailure);
    }
    framework::Dialog::OnCancel();
}
