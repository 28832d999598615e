#include "console/update_job.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include "console/main_dialog.h"
#include "console/preflight.h"
#include "console/run_options.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "framework/clock.h"
#include "framework/event_fields.h"
#include "framework/thread.h"
#include "util/event_log.h"
#include "util/image_file.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace {

// Job bar positions.
constexpr int kBarStart = 0;
constexpr int kBarFileChecked = 10;
constexpr int kBarIdentified = 12;
constexpr int kBarWritten = 25;
constexpr int kBarSettled = 33;
constexpr int kBarHalf = 50;
constexpr int kBarDone = 100;
// How long a bar rests at 25 after a write and at 50 before its colour is set.
constexpr uint64_t kBarPauseMs = 500;

void SetResult(CVLM270FWUpdateDlg& dlg, uint8_t t, uint8_t ucResult) {
    dlg.m_ucResult[t].store(ucResult, std::memory_order_release);
}

// True once the run has stopped this job at its time limit: it then touches nothing more.
bool Stopped() {
    return framework::CurrentThreadStopRequested();
}

}  // namespace

unsigned UpdateJobThreadProc(void* pParam) {
    auto* pJob = static_cast<UpdateJob*>(pParam);
    CVLM270FWUpdateDlg& dlg = *g_pMainDlg;
    const uint8_t t = pJob->ucTargetNumber;
    framework::ProgressCtrl& bar = dlg.m_JobProgress[t];

    int32_t result = kResultSuccess;
    dlg.m_Outcome[t] = ControllerOutcome{};
    try {
        // The lines this job writes name its controller.
        framework::ScopedEventField controller(kEventFieldController,
                                               ControllerAddressText(g_Utility.m_Controllers[t]));
        std::string strPath = pJob->strFwFullName;
        bar.SetPos(kBarStart);
        result = UpdateController(t, strPath);
    } catch (const std::exception&) {
        // An unexpected failure counts as not updated; the job still finishes.
        SetResult(dlg, t, kResultNotUpdated);
        result = kResultInvalidParameter;
    }
    const unsigned uUpdated = result == kResultSuccess ? 1u : 0u;
    if (Stopped()) {
        // Stopped at the time limit: not updated, and the bar stays where it was.
        SetResult(dlg, t, kResultNotUpdated);
        return 0;
    }
    bar.SetPos(kBarHalf);
    framework::ProcessClock().SleepMs(kBarPauseMs);
    bar.SetBarColor(uUpdated ? kBarBlue : kBarRed);
    bar.SetPos(kBarDone);
    dlg.m_Outcome[t].nResult = result;
    if (const auto& done = CurrentRunOptions().onControllerDone) {
        try {
            done(t, g_Utility.m_Controllers[t], dlg.m_Outcome[t]);
        } catch (const std::exception&) {
            // A report that cannot be made changes nothing about the controller.
        }
    }
    pJob->ucStatus.store(kJobFinished, std::memory_order_release);
    return uUpdated;
}

int32_t UpdateController(uint8_t ucTargetNumber, std::string strFWFilePath) {
    CVLM270FWUpdateDlg& dlg = *g_pMainDlg;
    const uint8_t t = ucTargetNumber;
    framework::ProgressCtrl& bar = dlg.m_JobProgress[t];
    ControllerInfo& record = g_Utility.m_Controllers[t];

    // The conditions checked before anything is erased, as the dry run checks them.
    PreflightFacts facts;
    facts.strImagePath = strFWFilePath;
    facts.dwImageLength = g_Utility.m_dwFWBinSize;
    facts.record = record;
    facts.bShowMessages = true;
    const PreflightVerdict image = CheckBeforeErase(facts, PreflightStage::kImage);
    if (!image.bCanUpdate) {
        SetResult(dlg, t, kResultNotUpdated);
        dlg.m_Outcome[t].strPreflight = image.pszReason;
        dlg.m_Outcome[t].strProblem = image.strText;
        return image.nResultCode;
    }
    bar.SetPos(kBarFileChecked);

    flash::FlashPartInfo part{};
    {
        framework::CriticalSection::Lock identify(dlg.m_csIdentify);
        if (!identify.Owns() || Stopped()) {
            SetResult(dlg, t, kResultNotUpdated);
            return kResultTimedOut;
        }
        part = g_SPICtl.QueryFlashPart(record);
        facts.part = part;
        const PreflightVerdict flashVerdict = CheckBeforeErase(facts, PreflightStage::kFlash);
        if (!flashVerdict.bCanUpdate) {
            SetResult(dlg, t, kResultNotUpdated);
            dlg.m_Outcome[t].strPreflight = flashVerdict.pszReason;
            dlg.m_Outcome[t].strProblem = flashVerdict.strText;
            return flashVerdict.nResultCode;
        }
        std::copy(std::begin(part.szVendor), std::end(part.szVendor), std::begin(record.szVendor));
        std::copy(std::begin(part.szPartName), std::end(part.szPartName),
                  std::begin(record.szPartName));
        bar.SetPos(kBarIdentified);
        dlg.ShowControllers(g_Utility.m_ucControllerCount);
    }

    // The lines written from here on name the controller's flash part too.
    framework::ScopedEventField partField(kEventFieldPart, FlashPartText(record));
    framework::CriticalSection::Lock write(dlg.m_csWrite);
    if (!write.Owns() || Stopped()) {
        // The run was stopped (or has ended) while this job waited: nothing is written.
        SetResult(dlg, t, kResultNotUpdated);
        return kResultTimedOut;
    }
    framework::Clock& clock = framework::ProcessClock();
    const uint64_t ullTurnStart = clock.NowMs();
    ControllerOutcome& outcome = dlg.m_Outcome[t];
    if (const auto& beforeErase = CurrentRunOptions().beforeErase) {
        // Whatever must happen before the erase (a backup) decides whether it happens at all.
        const int32_t nBefore = beforeErase(t, record, part);
        outcome.ullWorkMs = clock.NowMs() - ullTurnStart;
        if (nBefore != kResultSuccess || Stopped()) {
            SetResult(dlg, t, kResultNotUpdated);
            return nBefore != kResultSuccess ? nBefore : kResultTimedOut;
        }
    }
    dlg.MarkFlashWriteBegun(t);
    const int32_t result =
        g_Interctl.Update_Firmware(t, record, part, g_Utility.m_pFWBinBuffer.get(),
                                   g_Utility.m_dwFWBinSize, &outcome.ucAttempts);
    outcome.ullWorkMs = clock.NowMs() - ullTurnStart;
    if (Stopped()) {
        SetResult(dlg, t, kResultNotUpdated);
        return result == kResultSuccess ? kResultTimedOut : result;
    }
    if (result == kResultSuccess) {
        bar.SetPos(kBarWritten);
        framework::ProcessClock().SleepMs(kBarPauseMs);
        bar.SetPos(kBarSettled);
        bar.SetPos(kBarHalf);
        SetResult(dlg, t, kResultUpdated);
    } else {
        SetResult(dlg, t, kResultNotUpdated);
    }
    return result;
}
