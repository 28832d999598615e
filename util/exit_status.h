// The process exit status: what the run ended with, recorded in one place and returned by the
// program's entry point once the dialog has closed.
#pragma once

#include <cstdint>

enum class ExitStatus : int {
    kAllUpdated = 0,          // every controller was updated
    kControllerNotReady = 1,  // no 270X controller was found
    kImageNotFound = 2,       // no image file beside the program
    kImageLoadFailed = 3,     // the image could not be loaded
    kTimeOut = 4,             // jobs were still unfinished at the run's time limit
    kHostNotReady = 5,        // at least one controller was not updated
    kLicenceNotAccepted = 6,  // the licence was declined (or could not be asked)
    kAccessUnavailable = 7,   // access library missing or refused, driver not loaded
    kUnexpectedFailure = 8,   // anything else, also a program that ended without an outcome
    kAnotherUpdate = 9,       // another update is in progress on this machine: nothing touched
};

// Records the outcome. The first outcome recorded is kept: later ones (a failure while closing
// after an ending, say) never hide it.
void RecordExitStatus(ExitStatus status);
// The recorded outcome as the process exit status; kUnexpectedFailure when none was recorded.
int ExitStatusOfRun();
// Forgets the recorded outcome (tests that run the program several times in one process).
void ResetExitStatus();
