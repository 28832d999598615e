#include "console/preflight.h"

#include <iterator>

#include "flash/update_engine.h"
#include "util/exit_status.h"
#include "util/image_file.h"
#include "util/result_codes.h"

namespace {

// One condition: when it is checked, whether it holds, and what the verdict says when not.
struct ConditionRow {
    PreflightCondition condition;
    PreflightStage stage;
    const char* pszReason;
    int32_t nResultCode;
    bool (*holds)(const PreflightFacts&);
    std::string (*describe)(const PreflightFacts&);
};

bool ImageOpens(const PreflightFacts& f) {
    return bCheckFilePath(f.bShowMessages, f.strImagePath);
}

std::string ImageNotOpenable(const PreflightFacts& f) {
    return f.strImagePath + " cannot be opened for reading and writing, as the update opens it";
}

bool PartIdentified(const PreflightFacts& f) {
    return flash::IsIdentified(f.part);
}

std::string PartNotIdentified(const PreflightFacts&) {
    return "its flash part is not in the table";
}

bool ImageFits(const PreflightFacts& f) {
    return flash::ImageFitsFlash(f.part, f.dwImageLength);
}

std::string ImageTooLarge(const PreflightFacts& f) {
    return "the update writes " + std::to_string(flash::WrittenExtent(f.part, f.dwImageLength)) +
           " bytes, more than its flash holds (" + std::to_string(flash::FlashSizeBytes(f.part)) +
           " bytes)";
}

constexpr ConditionRow kConditions[] = {
    {PreflightCondition::kImageOpens, PreflightStage::kImage, "image-not-openable",
     kResultEntityNotFound, ImageOpens, ImageNotOpenable},
    {PreflightCondition::kPartIdentified, PreflightStage::kFlash, "part-not-identified",
     kResultDataNotMatch, PartIdentified, PartNotIdentified},
    {PreflightCondition::kImageFits, PreflightStage::kFlash, "image-too-large",
     kResultInvalidParameter, ImageFits, ImageTooLarge},
};

constexpr bool RowsInConditionOrder() {
    for (std::size_t i = 0; i < std::size(kConditions); ++i) {
        if (static_cast<std::size_t>(kConditions[i].condition) != i) return false;
    }
    return true;
}
static_assert(RowsInConditionOrder(), "one row per condition, in the update's order");

constexpr const char* kBackupFailedReason = "backup-failed";

}  // namespace

int PreflightVerdict::PredictedStatus() const {
    return static_cast<int>(bCanUpdate ? ExitStatus::kAllUpdated : ExitStatus::kHostNotReady);
}

PreflightVerdict CheckBeforeErase(const PreflightFacts& facts, PreflightStage stage) {
    PreflightVerdict verdict;
    for (const ConditionRow& row : kConditions) {
        if (stage != PreflightStage::kAll && row.stage != stage) continue;
        if (row.holds(facts)) continue;
        verdict.bCanUpdate = false;
        verdict.failed = row.condition;
        verdict.nResultCode = row.nResultCode;
        verdict.pszReason = row.pszReason;
        verdict.strText = row.describe(facts);
        break;
    }
    return verdict;
}

PreflightVerdict BackupVerdict(int32_t nResult, const std::string& strProblem) {
    PreflightVerdict verdict;
    if (nResult == kResultSuccess) return verdict;
    verdict.bCanUpdate = false;
    verdict.failed = PreflightCondition::kBackupTaken;
    verdict.nResultCode = nResult;
    verdict.pszReason = kBackupFailedReason;
    verdict.strText = "backup failed: " + strProblem;
    return verdict;
}
