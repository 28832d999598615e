// What the Linux program's options change in a run. The defaults are the run as described: the
// image found in the program's folder, every controller found, nothing done besides the update.
// The program sets them once before the dialog runs; the run only reads them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "flash/flash_part_table.h"
#include "util/controller_info.h"

// What became of one controller's job.
struct ControllerOutcome {
    int32_t nResult = 0;     // 0 when updated, else the failing step's result code
    uint8_t ucAttempts = 0;  // erase-write-compare attempts made
    uint64_t ullWorkMs = 0;  // time spent on its flash once its turn came
    // When it was refused before its erase: the check's word ("image-too-large", ...) and what
    // is wrong in words; empty when it was not.
    std::string strPreflight;
    std::string strProblem;
};

inline constexpr const char* kNoSuchControllerFormat =
    "No 270X controller was found at %s: nothing was written.";

struct RunOptions {
    // The image file to write; empty: the one found in the program's folder.
    std::string strImagePath;
    // The controllers to update, each of which must be found; empty: every controller found.
    std::vector<ControllerAddress> controllers;
    // Called once the image is loaded, with its path and the bytes taken from its file.
    std::function<void(const std::string& strPath, const uint8_t* pImage, uint32_t dwFileBytes)>
        onImageLoaded;
    // Called on the run's worker once the controller walk is over, with the driver loaded:
    // whether a controller was found (the table holds every controller found, before the
    // selection).
    std::function<void(bool bFound)> onControllersFound;
    // Called when the run ends for its image: the path tried (empty when the folder's search
    // found none) and the result: -6 not found, else the load's result code.
    std::function<void(const std::string& strPath, int32_t nResult)> onImageRefused;
    // Called on the run's worker once the image is loaded, before the first job starts and
    // before the run's time limit starts counting: what must be done for every controller first
    // (backups), which must not eat into the time the jobs have.
    std::function<void(uint8_t ucCount)> beforeJobs;
    // Called on a controller's job once its turn to be written has come, before its flash is
    // erased: 0 to go on; any other result code leaves the flash untouched and the controller
    // not updated.
    std::function<int32_t(uint8_t ucTarget, const ControllerInfo& record,
                          const flash::FlashPartInfo& part)>
        beforeErase;
    // Called on a controller's job when it has finished (not when it was stopped at the run's
    // time limit), with its outcome.
    std::function<void(uint8_t ucTarget, const ControllerInfo& record,
                       const ControllerOutcome& outcome)>
        onControllerDone;
};

// Sets the options of the runs to come (before the dialog runs).
void SetRunOptions(RunOptions options);
// The options in force.
const RunOptions& CurrentRunOptions();

// Keeps only the selected controllers in the table, in their order of discovery. False (the
// table unchanged) with the first selected address that was not found in pMissing when one of
// them is not a found controller.
bool SelectControllers(const std::vector<ControllerAddress>& selected, uint8_t& rucCount,
                       ControllerInfo (&controllers)[kMaxControllers], ControllerAddress* pMissing);
