// One controller's update, on a job thread of its own: check the image file, identify the
// flash part, show it, write the flash under the dialog's write lock, paint the job bar.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "util/controller_info.h"

inline constexpr uint8_t kJobRunning = 0;
inline constexpr uint8_t kJobFinished = 1;

struct UpdateJob {
    std::string strFwFullName;   // full path of the image, set by the run before the job starts
    uint8_t ucTargetNumber = 0;  // controller index 0-3
    std::atomic<uint8_t> ucStatus{kJobRunning};  // kJobFinished as the job's very last step
};

// The four jobs, element i for controller i.
extern UpdateJob g_UpdateJobs[kMaxControllers];

// The job thread's procedure: parameter the address of one UpdateJob; 1 when the controller
// was updated, else 0.
unsigned UpdateJobThreadProc(void* pParam);

// Checks, identifies and updates controller ucTargetNumber: 0, or a negative result code
// (-3 when its flash part is not identified).
int32_t UpdateController(uint8_t ucTargetNumber, std::string strFWFilePath);
