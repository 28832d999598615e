// The restart prompt after a run: its headline, its two choices, and what a confirmed restart
// does on a real machine's library (the recorded restart) and on the emulated PC.
#include <gtest/gtest.h>

#include "tests/support/program_harness.h"

namespace {

using namespace program_test;

constexpr const char* kGood = "controller 03:00.0 part=M25P10A flash=c.bin timing=instant\n";
constexpr const char* kBad =
    "controller 03:00.0 part=W25X10B(C)L(V) flash=c.bin timing=instant fault=erase-fails\n";

TEST(RestartPrompt, AnswersDecideWhetherTheMachineRestarts) {
    struct Case {
        const char* name;
        std::vector<UserAction> answers;
        int restarts;
    } cases[] = {
        {"Finish at once", {UserAction::Enter()}, 1},
        {"later, then Finish",
         {UserAction::Press(res::IDC_RESTART_LATER), UserAction::Press(framework::kIdOkCommand)},
         0},
        {"later, now, then Finish",
         {UserAction::Press(res::IDC_RESTART_LATER), UserAction::Press(res::IDC_RESTART_NOW),
          UserAction::Press(framework::kIdOkCommand)},
         1},
        {"restart now kept, Escape", {UserAction::Escape()}, 0},
        {"restart now kept, close box", {UserAction::CloseBox()}, 0},
    };
    for (const Case& c : cases) {
        ProgramHarness h(kGood);
        h.library->emulated.store(false);
        h.Script(res::IDD_REBOOT, c.answers);
        EXPECT_EQ(h.Run(), 0) << c.name;
        EXPECT_EQ(h.restart.restarts.load(), c.restarts) << c.name;
        auto prompt = h.Window(res::IDD_REBOOT);
        EXPECT_EQ(prompt.title, "Restart Computer");
        EXPECT_TRUE(prompt.topmost);
        EXPECT_FALSE(prompt.Control(framework::kIdCancelCommand)->visible);
        // The main window is hidden (0x93) after the prompt before a restart, never otherwise.
        uint64_t promptClosed = 0;
        int hides = 0;
        for (const auto& r : h.windows.History()) {
            if (r.templateId == res::IDD_REBOOT && r.property == Property::kDestroyed) {
                promptClosed = r.sequence;
            }
            if (promptClosed != 0 && r.templateId == res::IDD_VLM270FWUPDATE_DIALOG &&
                r.property == Property::kWindowPos && r.value == 0x93) {
                ++hides;
            }
        }
        EXPECT_EQ(hides, c.restarts) << c.name;
        EXPECT_TRUE(h.HoldsImage(3, 0, 0)) << c.name;
    }
}

TEST(RestartPrompt, RadioButtonsStartAtRestartNowAndExcludeEachOther) {
    ProgramHarness h(kGood);
    h.library->emulated.store(false);
    h.Script(res::IDD_REBOOT, {UserAction::Press(res::IDC_RESTART_LATER),
                               UserAction::Press(framework::kIdOkCommand)});
    EXPECT_EQ(h.Run(), 0);
    auto prompt = h.Window(res::IDD_REBOOT);
    EXPECT_EQ(prompt.Control(res::IDC_RESTART_NOW)->check, framework::kBstUnchecked);
    EXPECT_EQ(prompt.Control(res::IDC_RESTART_LATER)->check, framework::kBstChecked);
    bool firstChecked = false;
    for (const auto& r : h.windows.History()) {
        if (r.templateId == res::IDD_REBOOT && r.controlId == res::IDC_RESTART_NOW &&
            r.property == Property::kCheck) {
            firstChecked = r.value == framework::kBstChecked;
            break;
        }
    }
    EXPECT_TRUE(firstChecked);
}

TEST(RestartPrompt, HeadlineAnnouncesSuccessOnlyWhenEveryControllerWasUpdated) {
    for (bool good : {true, false}) {
        ProgramHarness h(good ? kGood : kBad);
        h.library->emulated.store(false);
        h.Script(res::IDD_REBOOT, {UserAction::Press(res::IDC_RESTART_LATER), UserAction::Enter()});
        EXPECT_EQ(h.Run(), good ? 0 : 5);
        EXPECT_EQ(h.Window(res::IDD_REBOOT).Control(res::IDC_RESTART_HEADLINE)->text,
                  good ? "Firmware Updated Successful!!" : "Restart Computer");
    }
}

TEST(RestartPrompt, FinishWithRestartNowAfterAFailedRunStillRestarts) {
    ProgramHarness h(kBad);
    h.library->emulated.store(false);
    h.Script(res::IDD_REBOOT, {UserAction::Enter()});
    EXPECT_EQ(h.Run(), 5);
    EXPECT_EQ(h.restart.restarts.load(), 1);
}

TEST(RestartPrompt, OnTheEmulatedPcARestartPowerCyclesItAndSaysSo) {
    ProgramHarness h(kGood);
    h.Script(res::IDD_REBOOT, {UserAction::Enter()});
    EXPECT_EQ(h.Run(), 0);
    EXPECT_EQ(h.restart.restarts.load(), 0);
    EXPECT_EQ(h.MessageTexts(),
              std::vector<std::string>{"The emulated PC was power-cycled; this computer was not "
                                       "restarted."});
    // Unloaded and loaded again for the power cycle, then unloaded at the end of the run.
    EXPECT_EQ(h.library->loads.load(), 2);
    EXPECT_EQ(h.library->unloads.load(), 3);
    EXPECT_TRUE(h.HoldsImage(3, 0, 0));
}

TEST(RestartPrompt, SilentModeNeverAsksNorRestartsButStillShowsFailures) {
    ProgramHarness h(kBad);
    h.library->emulated.store(false);
    EXPECT_EQ(h.Run("/s"), 5);
    EXPECT_FALSE(h.WindowMade(res::IDD_REBOOT));
    EXPECT_FALSE(h.WindowMade(res::IDD_AGREEMENT));
    EXPECT_EQ(h.restart.restarts.load(), 0);
    EXPECT_FALSE(h.MainWindowEverShown());
    EXPECT_EQ(h.MessageTexts().size(), 1u);
}

}  // namespace
