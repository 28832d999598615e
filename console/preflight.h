// The conditions a controller must meet before its flash is erased, checked in one place for the
// update's jobs and for the administrator's dry run, so that the dry run ends with the status
// the update would end with. Each condition is one row of a table (preflight.cpp); the first
// that fails gives the controller's verdict.
#pragma once

#include <cstdint>
#include <string>

#include "flash/flash_part_table.h"
#include "util/controller_info.h"

// The conditions, in the order the update meets them.
enum class PreflightCondition : uint8_t {
    kImageOpens,      // the image passes the update's path check (it exists, read and write)
    kPartIdentified,  // a row of the flash part table knows the controller's flash
    kImageFits,       // what the update writes of the image fits in that flash
    kBackupTaken,     // its backup, when one was asked for, was made whole
};

// When a condition is checked: before the controller's flash part is known, or once it is.
enum class PreflightStage : uint8_t { kImage, kFlash, kAll };

// What the check decided for one controller.
struct PreflightVerdict {
    bool bCanUpdate = true;
    PreflightCondition failed = PreflightCondition::kImageOpens;  // when !bCanUpdate
    int32_t nResultCode = 0;          // the result code the controller's job ends with (0: ready)
    const char* pszReason = "ready";  // a stable word for scripts: "image-not-openable", ...
    std::string strText;              // what is wrong, in words (empty when ready)

    // The exit status the update would end with for this controller alone: 0 or 5.
    int PredictedStatus() const;
};

// What the check looks at.
struct PreflightFacts {
    std::string strImagePath;     // the image's full path
    uint32_t dwImageLength = 0;   // the image's length as the engine takes it
    ControllerInfo record{};      // the controller (its address)
    flash::FlashPartInfo part{};  // its flash part as identified (the all-0xFF row if not)
    bool bShowMessages = false;   // the update's path check shows its message box
};

// Checks the conditions of that stage (kAll: every condition but the backup's) in their order.
PreflightVerdict CheckBeforeErase(const PreflightFacts& facts, PreflightStage stage);

// The verdict of a backup that was asked for: nResult 0 when it was made whole, else its
// result code, with what went wrong.
PreflightVerdict BackupVerdict(int32_t nResult, const std::string& strProblem);
