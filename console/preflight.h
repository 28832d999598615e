// The conditions a controller must meet before its flash is erased, checked in one place for the
// update's jobs and for the administrator's dry run, so that the dry run ends with the status
// the update would end with. Each condition is one row of a table (preflight.cpp); the first
// that fails gives the controller's verdict.
#pragma once

#include <cstdint>
#include <string>

#include "flash/flash_part_table.h"
#include "util/controller_info.h"
#include "util/option_rom.h"

// The conditions, in the order the update meets them.
enum class PreflightCondition : uint8_t {
    kImageOpens,          // the image passes the update's path check (it exists, read and write)
    kImageForController,  // an image of its option ROM names this controller (when checked)
    kPartIdentified,      // a row of the flash part table knows the controller's flash
    kImageFits,           // what the update writes of the image fits in that flash
    kBackupTaken,         // its backup, when one was asked for, was made whole
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
    std::string strForced;            // what a forced condition found wrong (it passed anyway)

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
    // The image's option ROM when the program checks it (the Linux program); null: no check.
    const optionrom::RomCheck* pRom = nullptr;
    // A condition that may be forced (the image made for the controller) passes, with
    // strForced saying what was wrong.
    bool bForce = false;
};

// Why a loaded image is refused as a whole: "<path> is not a well-formed option ROM: <reason>".
std::string MalformedImageText(const std::string& strPath, const optionrom::RomCheck& rom);
// What refuses a controller the image is not made for, before the reason.
inline constexpr const char* kCannotBeUpdated = "cannot be updated: ";
// What says that --force let a refusal pass, after the refusal.
inline constexpr const char* kForcedSuffix = "; --force writes it anyway";

// Checks the conditions of that stage (kAll: every condition but the backup's) in their order.
PreflightVerdict CheckBeforeErase(const PreflightFacts& facts, PreflightStage stage);

// The verdict of a backup that was asked for: nResult 0 when it was made whole, else its
// result code, with what went wrong.
PreflightVerdict BackupVerdict(int32_t nResult, const std::string& strProblem);
