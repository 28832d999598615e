// What each controller's update is doing as it happens (its step, attempt and bytes done), and
// why a controller was not updated: the step that failed, on which attempt, and what the flash
// showed. The jobs write it, one record per controller; a front end reads it at any time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "util/controller_info.h"

namespace flash {

// The steps of one controller's update, in their order.
enum class JobStep : uint8_t {
    kNone,     // not started, or its flash part being identified
    kWaiting,  // queued behind another controller's write: one flash is written at a time
    kBackup,   // its flash being read for a backup, before the erase
    kErase,
    kBlankCheck,
    kWrite,
    kVerify,
    kUpdated,  // written and verified
    kFailed,   // not updated; its cause says why
};

// The step's name as the front ends print it: "erase", "blank check", "write", "verify", ...
const char* JobStepName(JobStep step);

// One controller's progress as read at one moment.
struct JobSnapshot {
    JobStep step = JobStep::kNone;
    uint8_t ucAttempt = 0;       // 1 to kUpdateAttempts once its erase began, else 0
    uint32_t dwStepDone = 0;     // bytes of the current step done (blank check, write, verify)
    uint32_t dwStepTotal = 0;    // and of the whole step; 0 for a step without bytes
    uint32_t dwAttemptDone = 0;  // bytes of the whole attempt (blank check, write and verify)
    uint32_t dwAttemptTotal = 0;
    bool bEraseBegun = false;  // its flash was erased (or an erase was sent) in this run
};

// Why a controller was not updated: the evidence its failing step left.
struct FailureCause {
    JobStep step = JobStep::kNone;  // the step that failed, kNone when nothing is known
    int32_t nResult = 0;            // the step's result code
    uint8_t ucAttempt = 0;          // the attempt it failed on (0: before any erase)
    uint8_t ucSameOnAttempts = 0;   // how many attempts in a row ended with this same cause
    bool bHasStatus = false;        // the flash's status register as last read before the failure
    uint8_t ucStatus = 0;
    bool bHasAddress = false;  // where the flash first showed what was wrong
    uint32_t dwAddress = 0;
    bool bHasBytes = false;  // what was expected there, and what was read
    uint8_t ucExpected = 0;
    uint8_t ucActual = 0;
    bool bVanished = false;  // the controller stopped answering (reads all ones)
    std::string strText;     // a cause told in words by the step itself (identification, backup)
};

// The cause in words, for the person and the report: "erase did not take: status register 0x1c
// (block-protect bits set); blank check read 0x00 at 0x000000", "written data differs at
// 0x001234 (wrote 0x5a, read 0x00) on all 3 attempts". Empty when nothing is known. (A refusal
// of the kernel is added by the job, which asks the access library for it.)
std::string CauseText(const FailureCause& cause);

// ---- Read by a front end (any thread) ----

JobSnapshot SnapshotOf(uint8_t ucTarget);
FailureCause CauseOf(uint8_t ucTarget);
// Whether any controller's erase began in this run: otherwise no flash was changed.
bool AnyEraseBegun();
// Counts every change of any record, so a front end can tell that something moved.
uint64_t ProgressGeneration();

// Called on the job's thread when a controller enters a step or a new attempt (not on every
// byte), and when it ends updated or failed; the job waits for it. Setting another (or none)
// waits for the calls under way: once it returns, the one before is never called again. Not
// to be set from inside an observer.
using JobStepObserver = std::function<void(uint8_t ucTarget, const JobSnapshot& snapshot)>;
void SetJobStepObserver(JobStepObserver observer);

// ---- Written by the run and its jobs ----

// Empties every record (a new run).
void ResetJobProgress();
// The controller enters a step outside the engine (waiting, backup).
void EnterJobStep(uint8_t ucTarget, JobStep step);
// A cause told in words by a step outside the engine (identification, backup, the time limit):
// it replaces whatever was recorded before.
void TellCause(uint8_t ucTarget, const std::string& strText);
// The controller's job has ended: updated, or failed with the cause recorded so far.
void FinishJob(uint8_t ucTarget, bool bUpdated);

// While one exists on a thread, the engine's and the SPI layer's steps on that thread are
// counted in controller ucTarget's record.
class ScopedJobProgress {
public:
    ScopedJobProgress(uint8_t ucTarget, uint32_t dwImageLength, uint32_t dwBlankCheckBytes);
    ~ScopedJobProgress();
    ScopedJobProgress(const ScopedJobProgress&) = delete;
    ScopedJobProgress& operator=(const ScopedJobProgress&) = delete;
};

// Engine side, on the thread of a ScopedJobProgress (no-ops elsewhere).
void BeginAttempt(uint8_t ucAttempt);
void BeginStep(JobStep step);
// Bytes of the current step done so far (not counted back: a second pass adds nothing).
void StepBytesDone(uint32_t dwDone);
// The status register as a poll last read it.
void NoteStatus(uint8_t ucStatus);
// The first byte that was not as expected, at dwAddress.
void NoteMismatch(uint32_t dwAddress, uint8_t ucExpected, uint8_t ucActual);
// A read or transfer at dwAddress that did not go through.
void NoteAddress(uint32_t dwAddress);
// The attempt failed at its current step with nResult; bVanished when the controller stopped
// answering.
void FailAttempt(int32_t nResult, bool bVanished);

}  // namespace flash
