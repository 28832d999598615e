#include "util/exit_status.h"

#include <atomic>

namespace {

constexpr int kNoStatus = -1;
std::atomic<int> g_nExitStatus{kNoStatus};

}  // namespace

void RecordExitStatus(ExitStatus status) {
    int expected = kNoStatus;
    g_nExitStatus.compare_exchange_strong(expected, static_cast<int>(status),
                                          std::memory_order_acq_rel);
}

int ExitStatusOfRun() {
    int status = g_nExitStatus.load(std::memory_order_acquire);
    return status == kNoStatus ? static_cast<int>(ExitStatus::kUnexpectedFailure) : status;
}

void ResetExitStatus() {
    g_nExitStatus.store(kNoStatus, std::memory_order_release);
}
