// The upgrade run: the worker thread that finds the controllers, loads the image, runs one
// update job per controller, and ends the run in one of its endings. The run's steps are
// members of the main dialog (main_dialog.h) and are defined in upgrade_run.cpp.
#pragma once

#include <atomic>
#include <cstdint>

// How a run ends: one of the five failure endings, or success. Each has its own message, bar
// and exit status, all shown by the main dialog's EndRun.
enum class RunEnding {
    kControllerNotReady,  // no 270X controller found
    kImageNotFound,       // neither search found an image file
    kImageLoadFailed,     // the image could not be loaded into the image buffer
    kTimeOut,             // a job was still unfinished at the run's time limit
    kHostNotReady,        // every job finished, and at least one controller was not updated
    kAllUpdated,          // every controller was updated
};

// The run's worker: 0 while it runs, 1 once it has made its closing steps.
extern std::atomic<uint8_t> g_bWorkerDone;

// The worker thread's procedure: the run, its ending and the closing steps (restart prompt,
// driver unload, close request). Parameter the address of g_bWorkerDone; returns 1.
unsigned FirmwareUpgradeThreadProc(void* pParam);
