#include "flash/job_progress.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <shared_mutex>

#include "flash/update_engine.h"
#include "util/result_codes.h"

namespace flash {
namespace {

// The status register's block-protect bits (BP0-BP2): set, they keep erase and program out.
constexpr uint8_t kBlockProtectBits = 0x1C;

// One controller's record. The counters are atomics, read by a front end while the job writes
// them; the evidence and the cause are under the record's lock.
struct Record {
    std::atomic<JobStep> step{JobStep::kNone};
    std::atomic<uint8_t> attempt{0};
    std::atomic<uint32_t> imageLength{0};
    std::atomic<uint32_t> blankTotal{0};
    std::atomic<uint32_t> blankDone{0};
    std::atomic<uint32_t> written{0};
    std::atomic<uint32_t> verified{0};
    std::atomic<bool> eraseBegun{false};
    uint32_t stepsEntered = 0;  // steps entered in this attempt, one bit each; the job's alone

    std::mutex lock;
    FailureCause evidence;  // what the current attempt has seen so far
    FailureCause cause;     // the last failure's cause
};

std::array<Record, kMaxControllers> g_records;
std::atomic<uint64_t> g_generation{0};
// The observer, called under a shared hold of its lock: setting it waits for the calls under
// way, so that nobody is called once it was replaced.
std::shared_mutex g_observerLock;
JobStepObserver g_observer;
thread_local int t_target = -1;

Record* Current() {
    return t_target >= 0 ? &g_records[static_cast<std::size_t>(t_target)] : nullptr;
}

Record* RecordOf(uint8_t ucTarget) {
    return ucTarget < kMaxControllers ? &g_records[ucTarget] : nullptr;
}

void Changed() {
    g_generation.fetch_add(1, std::memory_order_acq_rel);
}

void Notify(uint8_t ucTarget) {
    std::shared_lock<std::shared_mutex> hold(g_observerLock);
    if (g_observer) g_observer(ucTarget, SnapshotOf(ucTarget));
}

std::string Hex(const char* format, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string StatusText(const FailureCause& c) {
    std::string text = "status register " + Hex("0x%02x", c.ucStatus);
    if ((c.ucStatus & kBlockProtectBits) != 0) text += " (block-protect bits set)";
    return text;
}

std::string AtText(const FailureCause& c) {
    return c.bHasAddress ? " at " + Hex("0x%06x", c.dwAddress) : std::string();
}

// Whether two failures are the same as far as a person can tell.
bool SameFailure(const FailureCause& a, const FailureCause& b) {
    return a.step == b.step && a.nResult == b.nResult && a.bHasAddress == b.bHasAddress &&
           a.dwAddress == b.dwAddress && a.bHasBytes == b.bHasBytes &&
           a.ucExpected == b.ucExpected && a.ucActual == b.ucActual && a.bVanished == b.bVanished;
}

}  // namespace

const char* JobStepName(JobStep step) {
    switch (step) {
        case JobStep::kNone:
            return "identify";
        case JobStep::kWaiting:
            return "waiting";
        case JobStep::kBackup:
            return "backup";
        case JobStep::kErase:
            return "erase";
        case JobStep::kBlankCheck:
            return "blank check";
        case JobStep::kWrite:
            return "write";
        case JobStep::kVerify:
            return "verify";
        case JobStep::kUpdated:
            return "updated";
        case JobStep::kFailed:
            return "FAILED";
    }
    return "";
}

std::string CauseText(const FailureCause& c) {
    std::string text;
    if (!c.strText.empty()) return c.strText;
    if (c.step == JobStep::kNone) return text;
    if (c.bVanished) {
        text = std::string(JobStepName(c.step)) +
               " failed: the controller stopped answering (it reads all ones)";
    } else {
        switch (c.step) {
            case JobStep::kErase:
                text = "erase failed: the bridge stayed busy";
                break;
            case JobStep::kBlankCheck:
                if (c.bHasBytes) {
                    text = "erase did not take: ";
                    if (c.bHasStatus) text += StatusText(c) + "; ";
                    text += "blank check read " + Hex("0x%02x", c.ucActual) + AtText(c);
                } else {
                    text = "blank check could not read the flash" + AtText(c) +
                           ": the bridge stayed busy";
                }
                break;
            case JobStep::kWrite:
                text = "write enable was not accepted" + AtText(c);
                if (c.bHasStatus) text += ": " + StatusText(c);
                break;
            case JobStep::kVerify:
                if (c.bHasBytes) {
                    text = "written data differs" + AtText(c) + " (wrote " +
                           Hex("0x%02x", c.ucExpected) + ", read " + Hex("0x%02x", c.ucActual) +
                           ")";
                } else {
                    text = "written data could not be read back" + AtText(c) +
                           ": the bridge stayed busy";
                }
                break;
            default:
                text = std::string(JobStepName(c.step)) + " failed: " + GetResultString(c.nResult);
                break;
        }
    }
    if (c.ucAttempt > 1 && c.ucSameOnAttempts == c.ucAttempt) {
        text += " on all " + std::to_string(c.ucAttempt) + " attempts";
    } else if (c.ucAttempt > 0) {
        text +=
            " on attempt " + std::to_string(c.ucAttempt) + " of " + std::to_string(kUpdateAttempts);
    }
    return text;
}

JobSnapshot SnapshotOf(uint8_t ucTarget) {
    JobSnapshot s;
    Record* r = RecordOf(ucTarget);
    if (r == nullptr) return s;
    s.step = r->step.load(std::memory_order_acquire);
    s.ucAttempt = r->attempt.load(std::memory_order_acquire);
    s.bEraseBegun = r->eraseBegun.load(std::memory_order_acquire);
    const uint32_t image = r->imageLength.load(std::memory_order_acquire);
    const uint32_t blankTotal = r->blankTotal.load(std::memory_order_acquire);
    const uint32_t blank = r->blankDone.load(std::memory_order_acquire);
    const uint32_t written = r->written.load(std::memory_order_acquire);
    const uint32_t verified = r->verified.load(std::memory_order_acquire);
    switch (s.step) {
        case JobStep::kBlankCheck:
            s.dwStepDone = blank;
            s.dwStepTotal = blankTotal;
            break;
        case JobStep::kWrite:
            s.dwStepDone = written;
            s.dwStepTotal = image;
            break;
        case JobStep::kVerify:
        case JobStep::kUpdated:
            s.dwStepDone = verified;
            s.dwStepTotal = image;
            break;
        default:
            break;
    }
    s.dwAttemptDone = blank + written + verified;
    s.dwAttemptTotal = blankTotal + 2 * image;
    return s;
}

FailureCause CauseOf(uint8_t ucTarget) {
    Record* r = RecordOf(ucTarget);
    if (r == nullptr) return {};
    std::lock_guard<std::mutex> guard(r->lock);
    return r->cause;
}

bool AnyEraseBegun() {
    return std::any_of(g_records.begin(), g_records.end(), [](const Record& r) {
        return r.eraseBegun.load(std::memory_order_acquire);
    });
}

uint64_t ProgressGeneration() {
    return g_generation.load(std::memory_order_acquire);
}

void SetJobStepObserver(JobStepObserver observer) {
    std::unique_lock<std::shared_mutex> hold(g_observerLock);
    g_observer = std::move(observer);
}

void ResetJobProgress() {
    for (Record& r : g_records) {
        r.step.store(JobStep::kNone, std::memory_order_release);
        r.attempt.store(0, std::memory_order_release);
        r.imageLength.store(0, std::memory_order_release);
        r.blankTotal.store(0, std::memory_order_release);
        r.blankDone.store(0, std::memory_order_release);
        r.written.store(0, std::memory_order_release);
        r.verified.store(0, std::memory_order_release);
        r.eraseBegun.store(false, std::memory_order_release);
        r.stepsEntered = 0;
        std::lock_guard<std::mutex> guard(r.lock);
        r.evidence = FailureCause{};
        r.cause = FailureCause{};
    }
    Changed();
}

void EnterJobStep(uint8_t ucTarget, JobStep step) {
    Record* r = RecordOf(ucTarget);
    if (r == nullptr) return;
    r->step.store(step, std::memory_order_release);
    Changed();
    Notify(ucTarget);
}

void TellCause(uint8_t ucTarget, const std::string& strText) {
    Record* r = RecordOf(ucTarget);
    if (r == nullptr) return;
    std::lock_guard<std::mutex> guard(r->lock);
    r->cause = FailureCause{};
    r->cause.strText = strText;
}

void FinishJob(uint8_t ucTarget, bool bUpdated) {
    Record* r = RecordOf(ucTarget);
    if (r == nullptr) return;
    r->step.store(bUpdated ? JobStep::kUpdated : JobStep::kFailed, std::memory_order_release);
    Changed();
    Notify(ucTarget);
}

ScopedJobProgress::ScopedJobProgress(uint8_t ucTarget, uint32_t dwImageLength,
                                     uint32_t dwBlankCheckBytes) {
    Record* r = RecordOf(ucTarget);
    if (r == nullptr) return;
    t_target = ucTarget;
    r->imageLength.store(dwImageLength, std::memory_order_release);
    r->blankTotal.store(dwBlankCheckBytes, std::memory_order_release);
    Changed();
}

ScopedJobProgress::~ScopedJobProgress() {
    t_target = -1;
}

void BeginAttempt(uint8_t ucAttempt) {
    Record* r = Current();
    if (r == nullptr) return;
    r->blankDone.store(0, std::memory_order_release);
    r->written.store(0, std::memory_order_release);
    r->verified.store(0, std::memory_order_release);
    r->attempt.store(ucAttempt, std::memory_order_release);
    r->stepsEntered = 0;
    {
        std::lock_guard<std::mutex> guard(r->lock);
        r->evidence = FailureCause{};
        r->evidence.ucAttempt = ucAttempt;
    }
    Changed();
}

void BeginStep(JobStep step) {
    Record* r = Current();
    if (r == nullptr) return;
    if (step == JobStep::kErase) r->eraseBegun.store(true, std::memory_order_release);
    const bool bFirst = (r->stepsEntered & (1u << static_cast<unsigned>(step))) == 0;
    r->stepsEntered |= 1u << static_cast<unsigned>(step);
    if (r->step.load(std::memory_order_acquire) == step) return;
    r->step.store(step, std::memory_order_release);
    Changed();
    // One notice per step and attempt: a write and its verify alternate section by section.
    if (bFirst) Notify(static_cast<uint8_t>(t_target));
}

void StepBytesDone(uint32_t dwDone) {
    Record* r = Current();
    if (r == nullptr) return;
    std::atomic<uint32_t>* counter = nullptr;
    uint32_t total = 0;
    switch (r->step.load(std::memory_order_acquire)) {
        case JobStep::kBlankCheck:
            counter = &r->blankDone;
            total = r->blankTotal.load(std::memory_order_acquire);
            break;
        case JobStep::kWrite:
            counter = &r->written;
            total = r->imageLength.load(std::memory_order_acquire);
            break;
        case JobStep::kVerify:
            counter = &r->verified;
            total = r->imageLength.load(std::memory_order_acquire);
            break;
        default:
            return;
    }
    const uint32_t done = std::min(dwDone, total);
    if (done <= counter->load(std::memory_order_acquire)) return;
    counter->store(done, std::memory_order_release);
    Changed();
}

void NoteStatus(uint8_t ucStatus) {
    Record* r = Current();
    if (r == nullptr) return;
    std::lock_guard<std::mutex> guard(r->lock);
    r->evidence.bHasStatus = true;
    r->evidence.ucStatus = ucStatus;
}

void NoteMismatch(uint32_t dwAddress, uint8_t ucExpected, uint8_t ucActual) {
    Record* r = Current();
    if (r == nullptr) return;
    std::lock_guard<std::mutex> guard(r->lock);
    r->evidence.bHasAddress = true;
    r->evidence.dwAddress = dwAddress;
    r->evidence.bHasBytes = true;
    r->evidence.ucExpected = ucExpected;
    r->evidence.ucActual = ucActual;
}

void NoteAddress(uint32_t dwAddress) {
    Record* r = Current();
    if (r == nullptr) return;
    std::lock_guard<std::mutex> guard(r->lock);
    r->evidence.bHasAddress = true;
    r->evidence.dwAddress = dwAddress;
    r->evidence.bHasBytes = false;
}

void FailAttempt(int32_t nResult, bool bVanished) {
    Record* r = Current();
    if (r == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(r->lock);
        FailureCause c = r->evidence;
        c.step = r->step.load(std::memory_order_acquire);
        c.nResult = nResult;
        c.bVanished = bVanished;
        c.ucSameOnAttempts = SameFailure(c, r->cause) && r->cause.ucAttempt + 1 == c.ucAttempt
                                 ? static_cast<uint8_t>(r->cause.ucSameOnAttempts + 1)
                                 : 1;
        r->cause = c;
    }
    Changed();
}

}  // namespace flash
