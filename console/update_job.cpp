#include "console/update_job.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <optional>

#include "console/main_dialog.h"
#include "console/preflight.h"
#include "console/run_options.h"
#include "flash/job_progress.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "framework/clock.h"
#include "framework/event_fields.h"
#include "framework/message_box.h"
#include "framework/thread.h"
#include "pci/vlmio_access.h"
#include "util/access_refusal.h"
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
// The line naming an access the computer refused.
constexpr const char* kJobName = "UpdateJobThreadProc";
constexpr int kLineRefusedAccess = 1410;
constexpr const char* kStepConfigAccess = "config-access";

void SetResult(CVLM270FWUpdateDlg& dlg, uint8_t t, uint8_t ucResult) {
    dlg.m_ucResult[t].store(ucResult, std::memory_order_release);
}

// The image check's words about a controller: "<address> <text><end>" in a message and, without
// the end, in the event log.
constexpr const char* kImageCheckFunction = "UpdateController";
constexpr const char* kStepImageCheck = "image-check";
constexpr const char* kWrongImageEnd = ". Its flash was left as it was; it is not updated.";

void SayImageCheck(const ControllerInfo& record, const std::string& strText,
                   const std::string& strEnd, int32_t nResult) {
    const std::string line = ControllerAddressText(record) + " " + strText;
    {
        CEventStep step(kStepImageCheck, nResult);
        EventLogPrintf(kEventTypeError, "\r\n%s:%d: %s", kImageCheckFunction, __LINE__,
                       (nResult == kResultSuccess ? line + kForcedSuffix : line).c_str());
    }
    framework::AfxMessageBox(line + strEnd, framework::kMbOk | framework::kMbIconExclamation);
}

// True once the run has stopped this job at its time limit: it then touches nothing more.
bool Stopped() {
    return framework::CurrentThreadStopRequested();
}

// Causes told outside the engine.
constexpr const char* kBeforeEraseFailedCause = "no backup could be made: the flash was not erased";
constexpr const char* kUnexpectedFailureCause = "an unexpected failure ended its update";

// The cause of a job stopped at the run's time limit: where it was, and what that leaves.
void TellStopped(uint8_t t) {
    const flash::JobSnapshot s = flash::SnapshotOf(t);
    std::string text = "stopped at the run's time limit ";
    switch (s.step) {
        case flash::JobStep::kNone:
            text += "before its turn";
            break;
        case flash::JobStep::kWaiting:
            text += "while it waited for another controller's write";
            break;
        default:
            text += std::string("during its ") + flash::JobStepName(s.step);
            break;
    }
    if (s.ucAttempt > 0) {
        text += " on attempt " + std::to_string(s.ucAttempt) + " of " +
                std::to_string(flash::kUpdateAttempts);
    }
    text += s.bEraseBegun ? ": its flash may be erased or partly written" : ": nothing was written";
    flash::TellCause(t, text);
    flash::FinishJob(t, false);
}

// A controller not updated because the computer refused one of its accesses (a write refused
// by the kernel, a function removed): the refusal is named in the event log and its outcome,
// beside the step that failed.
void NameRefusedAccess(uint8_t t, ControllerOutcome& outcome) {
    const ControllerInfo& record = g_Utility.m_Controllers[t];
    outcome.nAccessError =
        pci::VlmIo().AccessError(record.ucBus, record.ucDevice, record.ucFunction);
    if (outcome.nAccessError == 0) return;
    framework::ScopedEventField controller(kEventFieldController, ControllerAddressText(record));
    CEventStep step(kStepConfigAccess, kResultTransferError);
    EventLogPrintf(kEventTypeError, "\r\n%s:%d: ucTargetNumber[%d], %s ", kJobName,
                   kLineRefusedAccess, t, RefusedAccessProblem(outcome.nAccessError).c_str());
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
        flash::TellCause(t, kUnexpectedFailureCause);
        result = kResultInvalidParameter;
    }
    const unsigned uUpdated = result == kResultSuccess ? 1u : 0u;
    if (Stopped()) {
        // Stopped at the time limit: not updated, and the bar stays where it was.
        SetResult(dlg, t, kResultNotUpdated);
        TellStopped(t);
        return 0;
    }
    if (!uUpdated) NameRefusedAccess(t, dlg.m_Outcome[t]);
    bar.SetPos(kBarHalf);
    framework::ProcessClock().SleepMs(kBarPauseMs);
    if (!uUpdated) {
        // The cause the job recorded (or the result code's words), and the computer's refusal of
        // an access, when there was one.
        std::string cause = flash::CauseText(flash::CauseOf(t));
        if (cause.empty()) cause = GetResultString(result);
        if (dlg.m_Outcome[t].nAccessError != 0) {
            cause += ", " + RefusedAccessProblem(dlg.m_Outcome[t].nAccessError);
        }
        flash::TellCause(t, cause);
    }
    flash::FinishJob(t, uUpdated != 0);
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
    facts.pRom = dlg.ImageRom();
    facts.bForce = CurrentRunOptions().bForce;
    const PreflightVerdict image = CheckBeforeErase(facts, PreflightStage::kImage);
    if (!image.bCanUpdate) {
        SetResult(dlg, t, kResultNotUpdated);
        dlg.m_Outcome[t].strPreflight = image.pszReason;
        dlg.m_Outcome[t].strProblem = image.strText;
        flash::TellCause(t, image.strText);
        if (image.failed == PreflightCondition::kImageForController) {
            dlg.m_Outcome[t].strProblem = kCannotBeUpdated + image.strText;
            SayImageCheck(record, kCannotBeUpdated + image.strText, kWrongImageEnd,
                          image.nResultCode);
        }
        return image.nResultCode;
    }
    if (!image.strForced.empty()) {
        dlg.m_Outcome[t].strForced = image.strForced;
        SayImageCheck(record, kCannotBeUpdated + image.strForced, std::string(kForcedSuffix) + ".",
                      kResultSuccess);
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
            flash::TellCause(t, flashVerdict.strText);
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
    // One flash is written at a time: a controller that finds another being written waits,
    // and says so.
    std::optional<framework::CriticalSection::Lock> write;
    if (dlg.m_csWrite.TryEnter()) {
        write.emplace(dlg.m_csWrite, std::adopt_lock);
    } else {
        flash::EnterJobStep(t, flash::JobStep::kWaiting);
        write.emplace(dlg.m_csWrite);
    }
    if (!write->Owns() || Stopped()) {
        // The run was stopped (or has ended) while this job waited: nothing is written.
        SetResult(dlg, t, kResultNotUpdated);
        return kResultTimedOut;
    }
    framework::Clock& clock = framework::ProcessClock();
    const uint64_t ullTurnStart = clock.NowMs();
    ControllerOutcome& outcome = dlg.m_Outcome[t];
    if (const auto& beforeErase = CurrentRunOptions().beforeErase) {
        // Whatever must happen before the erase (a backup) decides whether it happens at all.
        flash::EnterJobStep(t, flash::JobStep::kBackup);
        const int32_t nBefore = beforeErase(t, record, part);
        outcome.ullWorkMs = clock.NowMs() - ullTurnStart;
        if (nBefore != kResultSuccess || Stopped()) {
            SetResult(dlg, t, kResultNotUpdated);
            if (nBefore != kResultSuccess) flash::TellCause(t, kBeforeEraseFailedCause);
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
