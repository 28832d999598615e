// What a controller's record says while and after the engine updates it on the emulated PC:
// the cause of a failure, with the step and what the flash showed; the steps and bytes of a
// successful update, told once per step and attempt.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/job_progress.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "tests/support/emulated_rig.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace {

constexpr uint32_t kImageBytes = 0x10000;

struct Outcome {
    int32_t result = 1;
    flash::JobSnapshot snapshot;
    std::string cause;
    std::vector<std::string> told;  // the steps the observer was told, "step attempt"
};

// Updates the one controller of the machine with a 64 KiB image, as controller 1 of the run.
Outcome Update(const std::string& machine) {
    flash::ResetJobProgress();
    flash::CSPICtl::ForgetVanished();  // a controller unplugged by an earlier case is back
    Outcome run;
    flash::SetJobStepObserver([&run](uint8_t ucTarget, const flash::JobSnapshot& s) {
        EXPECT_EQ(ucTarget, 1);
        run.told.push_back(std::string(flash::JobStepName(s.step)) + " " +
                           std::to_string(s.ucAttempt));
    });
    testsupport::EngineRig rig(machine);
    if (rig.Ok() && rig.engine->ScanControllers() == 0) {
        ControllerInfo& record = rig.records[0];
        const flash::FlashPartInfo part = rig.spi->QueryFlashPart(record);
        std::vector<uint8_t> image(kImageBufferBytes, 0);
        for (uint32_t i = 0; i < kImageBytes; ++i) image[i] = static_cast<uint8_t>(0x5A ^ i);
        run.result = rig.engine->Update_Firmware(1, record, part, image.data(), kImageBytes);
    }
    flash::SetJobStepObserver(nullptr);
    run.snapshot = flash::SnapshotOf(1);
    run.cause = flash::CauseText(flash::CauseOf(1));
    return run;
}

// Each failure names its step and its evidence; one that repeats says so.
TEST(JobProgress, AFailureNamesItsStepAndWhatTheFlashShowed) {
    struct Case {
        const char* faults;
        int32_t result;
        const char* cause;
    } cases[] = {
        {"fault=erase-fails", kResultDataNotMatch,
         "erase did not take: status register 0x00; blank check read 0x"},
        {"fault=write-protect", kResultDataNotMatch,
         "erase did not take: status register 0x0c (block-protect bits set); blank check read 0x"},
        {"fault=stuck-byte:0x1234=0xff", kResultDataNotMatch,
         "written data differs at 0x001234 (wrote 0x6e, read 0xff) on all 3 attempts"},
        {"fault=unplug-after:3000", kResultTransferError,
         "erase failed: the controller stopped answering (it reads all ones) on attempt 3 of 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        const Outcome run =
            Update(std::string("controller 02:00.0 part=M25P10A timing=instant ") + c.faults);
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(run.cause.rfind(c.cause, 0), 0u) << run.cause;
        EXPECT_EQ(run.snapshot.ucAttempt, flash::kUpdateAttempts);
        EXPECT_TRUE(run.snapshot.bEraseBegun);
    }
    // The blank check's evidence is the first byte that is not erased, and where it is.
    const Outcome erase =
        Update("controller 02:00.0 part=M25P10A timing=instant fault=erase-fails");
    EXPECT_NE(erase.cause.find(" at 0x000000 on all 3 attempts"), std::string::npos) << erase.cause;
}

TEST(JobProgress, AnUpdateIsToldStepByStepWithItsBytes) {
    const Outcome run = Update("controller 02:00.0 part=M25P10A timing=instant");
    ASSERT_EQ(run.result, 0);
    // One notice per step of the attempt, though write and verify alternate section by section.
    EXPECT_EQ(run.told,
              (std::vector<std::string>{"erase 1", "blank check 1", "write 1", "verify 1"}));
    EXPECT_EQ(run.snapshot.step, flash::JobStep::kVerify);
    EXPECT_EQ(run.snapshot.dwStepDone, kImageBytes);
    EXPECT_EQ(run.snapshot.dwStepTotal, kImageBytes);
    EXPECT_EQ(run.snapshot.dwAttemptDone, run.snapshot.dwAttemptTotal);
    EXPECT_EQ(run.snapshot.dwAttemptTotal, flash::kBlankCheckBytes + 2 * kImageBytes);
    EXPECT_EQ(run.cause, "");

    // A failing attempt starts the next one from no bytes, and is told as a new attempt.
    const Outcome again =
        Update("controller 02:00.0 part=M25P10A timing=instant fault=erase-fails");
    EXPECT_EQ(again.told, (std::vector<std::string>{"erase 1", "blank check 1", "erase 2",
                                                    "blank check 2", "erase 3", "blank check 3"}));
    EXPECT_EQ(again.snapshot.dwAttemptDone, 0u);

    flash::ResetJobProgress();
    EXPECT_FALSE(flash::AnyEraseBegun());
    EXPECT_EQ(flash::SnapshotOf(1).ucAttempt, 0);
}

// Causes told in words by the steps around the engine replace what the engine recorded.
TEST(JobProgress, CausesInWords) {
    EXPECT_EQ(flash::CauseText(flash::FailureCause{}), "");

    Update("controller 02:00.0 part=M25P10A timing=instant fault=erase-fails");
    flash::TellCause(1, "stopped at the run's time limit");
    EXPECT_EQ(flash::CauseText(flash::CauseOf(1)), "stopped at the run's time limit");
    flash::FinishJob(1, false);
    EXPECT_EQ(flash::SnapshotOf(1).step, flash::JobStep::kFailed);
    flash::ResetJobProgress();
}

}  // namespace
