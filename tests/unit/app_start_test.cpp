// Start-up as a user meets it: the command line and silent mode, the licence agreement, the
// driver load, and the program's refusals before anything is touched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/program_entry.h"
#include "tests/support/program_harness.h"

namespace {

using namespace program_test;

constexpr const char* kNoController = "device 00:1f.0 8086:2922\n";
constexpr const char* kOneController =
    "controller 03:00.0 part=M25P10A flash=c.bin timing=instant\n";

TEST(CommandLine, TokensJoinWithNothingBetween) {
    struct Case {
        const char* line;
        const char* joined;
    } cases[] = {
        {"/s", "/s"},      {"_/s_", "/s"}, {"/s\t", "/s"}, {"/_s", "/s"},        {"/s /x", "/s /x"},
        {"/s_/x", "/s/x"}, {"", ""},       {"_", ""},      {"__/\t\ns__", "/s"}, {" /s", " /s"},
    };
    for (const Case& c : cases) EXPECT_EQ(JoinCommandLineTokens(c.line), c.joined) << c.line;
}

TEST(CommandLine, OnlyAJoinedSlashSIsSilent) {
    struct Case {
        const char* line;
        bool silent;
    } cases[] = {
        {"/s", true},     {"/S", true},     {"_/s_", true}, {"/s\t", true}, {"/_s", true},
        {"/s /x", false}, {"/s_/x", false}, {"", false},    {"_", false},
    };
    for (const Case& c : cases) {
        ProgramHarness h(kNoController);
        h.Script(res::IDD_AGREEMENT, {UserAction::Escape()});
        int status = h.Run(c.line);
        // Silent: no licence asked, the run ends not ready; otherwise the licence was declined.
        EXPECT_EQ(status, c.silent ? 1 : 6) << c.line;
        EXPECT_EQ(h.WindowMade(res::IDD_AGREEMENT), !c.silent) << c.line;
        EXPECT_EQ(h.Window(res::IDD_VLM270FWUPDATE_DIALOG).controls.empty(), false);
        EXPECT_FALSE(h.MainWindowEverShown()) << c.line;
    }
}

TEST(Licence, DeclinedInEveryWayEndsWithoutAnyRegisterAccess) {
    for (UserAction answer : {UserAction::Escape(), UserAction::CloseBox(),
                              UserAction::Press(framework::kIdCancelCommand)}) {
        ProgramHarness h(kOneController);
        h.Script(res::IDD_AGREEMENT, {answer});
        EXPECT_EQ(h.Run(), 6);
        EXPECT_EQ(h.pc->AccessCount(), 0u);
        EXPECT_EQ(h.library->loads.load(), 0);
        EXPECT_FALSE(h.MainWindowEverShown());
        EXPECT_FALSE(h.WindowMade(res::IDD_REBOOT));
    }
}

TEST(Licence, AcceptedShowsTheFileInTheRichTextPaneAndGoesOn) {
    ProgramHarness h(kOneController);
    h.Script(res::IDD_REBOOT, {UserAction::Press(res::IDC_RESTART_LATER), UserAction::Enter()});
    EXPECT_EQ(h.Run(), 0);
    auto licence = h.Window(res::IDD_AGREEMENT);
    EXPECT_EQ(licence.title, "License Agreement");
    EXPECT_EQ(licence.Control(res::IDC_LICENCE_TEXT)->rtf, kLicenceRtf);
    EXPECT_EQ(licence.result, framework::kIdOkCommand);
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_TRUE(h.HoldsImage(3, 0, 0));
}

TEST(Licence, FileProblemsAreReportedAndTheDialogStillWorks) {
    struct Case {
        const char* name;
        std::function<void(ProgramHarness&)> prepare;
        std::string message;  // empty: none
    } cases[] = {
        {"missing", [](ProgramHarness&) {}, "License_Agreement.rtf was not found."},
        {"empty", [](ProgramHarness& h) { h.folder.Write("License_Agreement.rtf", ""); }, ""},
        {"a folder",
         [](ProgramHarness& h) {
             std::filesystem::create_directory(h.folder / "License_Agreement.rtf");
         },
         "Access to License_Agreement.rtf was denied."},
        {"larger than 4 MiB (sparse: nothing is written to disk)",
         [](ProgramHarness& h) {
             h.folder.Write("License_Agreement.rtf", kLicenceRtf);
             ASSERT_EQ(truncate((h.folder / "License_Agreement.rtf").c_str(), 4 * 1024 * 1024 + 1),
                       0);
         },
         "License_Agreement.rtf is larger than 4 MiB and is not shown."},
        {"only where the program was started",
         [](ProgramHarness& h) {
             std::filesystem::create_directory(h.folder / "elsewhere");
             h.folder.Write("elsewhere/License_Agreement.rtf", kLicenceRtf);
             std::filesystem::current_path(h.folder / "elsewhere");
         },
         "License_Agreement.rtf was not found."},
    };
    for (const Case& c : cases) {
        ProgramHarness h(kOneController, 20, true, false);
        c.prepare(h);
        h.Script(res::IDD_REBOOT, {UserAction::Press(res::IDC_RESTART_LATER), UserAction::Enter()});
        EXPECT_EQ(h.Run(), 0) << c.name;
        auto boxes = h.windows.MessageBoxes();
        if (c.message.empty()) {
            EXPECT_TRUE(boxes.empty()) << c.name;
        } else {
            ASSERT_EQ(boxes.size(), 1u) << c.name;
            EXPECT_EQ(boxes[0].text, c.message) << c.name;
            EXPECT_EQ(boxes[0].type & framework::kMbIconMask, framework::kMbIconStop) << c.name;
        }
        EXPECT_EQ(h.Window(res::IDD_AGREEMENT).Control(res::IDC_LICENCE_TEXT)->rtf, "") << c.name;
        EXPECT_TRUE(h.HoldsImage(3, 0, 0)) << c.name;
    }
}

TEST(Licence, AFileHeldByAnotherProgramIsASharingViolation) {
    ProgramHarness h(kOneController);
    int fd = open((h.folder / "License_Agreement.rtf").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    h.Script(res::IDD_AGREEMENT, {UserAction::Escape()});
    EXPECT_EQ(h.Run(), 6);
    close(fd);
    EXPECT_EQ(h.MessageTexts(),
              std::vector<std::string>{"Encountered a sharing violation while accessing "
                                       "License_Agreement.rtf."});
}

TEST(Licence, MissingRichTextLibraryEndsBeforeTheDriverIsLoaded) {
    for (const char* line : {"", "/s"}) {
        ProgramHarness h(kOneController);
        h.windows.SetControlLibraryAvailable("RICHED20.DLL", false);
        EXPECT_EQ(h.Run(line), 8) << line;
        auto boxes = h.windows.MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u) << line;
        EXPECT_EQ(boxes[0].text, "Fail to load \"riched20.dll\".");
        EXPECT_EQ(boxes[0].type & framework::kMbIconMask, framework::kMbIconError);
        EXPECT_EQ(h.pc->AccessCount(), 0u) << line;
        EXPECT_EQ(h.library->loads.load(), 0) << line;
        EXPECT_FALSE(h.MainWindowEverShown()) << line;
    }
}

TEST(Start, DriverThatDoesNotLoadClosesSilentlyWithStatus7) {
    ProgramHarness h(kOneController);
    h.library->loadSucceeds.store(false);
    EXPECT_EQ(h.Run(), 7);
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_EQ(h.library->loads.load(), 1);
    // Unloaded before the load and again after the failure; no worker ran.
    EXPECT_EQ(h.library->unloads.load(), 2);
    EXPECT_FALSE(h.WindowMade(res::IDD_REBOOT));
}

TEST(Start, MainDialogInitialisation) {
    ProgramHarness h(kNoController);
    h.Script(res::IDD_REBOOT, {UserAction::Escape()});
    EXPECT_EQ(h.Run(), 1);
    auto main = h.Window(res::IDD_VLM270FWUPDATE_DIALOG);
    ASSERT_EQ(main.systemMenu.size(), 2u);
    EXPECT_EQ(main.systemMenu[0].flags, framework::kMfSeparator);
    EXPECT_EQ(main.systemMenu[1].id, 0x10u);
    EXPECT_EQ(main.systemMenu[1].text, "&About VLM270FWUpdate...");
    EXPECT_EQ(main.bigIcon, 128u);
    EXPECT_EQ(main.smallIcon, 128u);
    EXPECT_EQ(std::filesystem::current_path().string(), h.folder.path());
    // Labels are emptied; only the group boxes and buttons keep their texts.
    for (int id : {res::kNumberRows[0].busCaption, res::kNumberRows[0].bus,
                   res::kControllerNames[0], res::kFlashPartLabels[0], res::IDC_UPDATE_TO_CAPTION,
                   res::IDC_UPDATE_TO_VALUE, res::kNumberRows[3].function}) {
        EXPECT_EQ(main.Control(id)->text, "") << id;
    }
    EXPECT_FALSE(main.Control(framework::kIdOkCommand)->visible);
    EXPECT_FALSE(main.Control(res::IDC_UPDATE_TO_CAPTION)->visible);
    EXPECT_FALSE(main.Control(res::IDC_UPDATE_TO_VALUE)->visible);
    EXPECT_TRUE(h.keepAwake.Begins() == 0);
}

TEST(Start, AboutBoxMinimisedIconAndDragIcon) {
    ProgramHarness h(kNoController);
    // Before the run's ending closes the window: the About item, then minimise and drag.
    std::atomic<int> step{0};
    h.mainAnswer = [&](const framework::WindowState&) {
        switch (step.fetch_add(1)) {
            case 0:
                return UserAction::SystemMenu(0x10);
            case 1:
                return UserAction::Minimize();
            case 2:
                return UserAction::DragIcon();
            default:
                return UserAction::Wait();
        }
    };
    // The ending's message waits until the user has done all that.
    h.onMessageBox = [&](const framework::MessageBoxRecord&) {
        while (step.load() < 3) std::this_thread::yield();
    };
    h.Script(res::IDD_REBOOT, {UserAction::Escape()});
    EXPECT_EQ(h.Run(), 1);
    EXPECT_TRUE(h.WindowMade(res::IDD_ABOUTBOX));
    bool drewCentred = false;
    int64_t dragIcon = 0;
    for (const auto& r : h.windows.History()) {
        if (r.templateId != res::IDD_VLM270FWUPDATE_DIALOG) continue;
        if (r.property == Property::kPainted && r.value2 == 1) {
            auto main = h.Window(res::IDD_VLM270FWUPDATE_DIALOG);
            int cx = h.windows.GetSystemMetrics(framework::kSmCxIcon);
            int cy = h.windows.GetSystemMetrics(framework::kSmCyIcon);
            std::string expected = std::to_string((main.rect.Width() - cx + 1) / 2) + "," +
                                   std::to_string((main.rect.Height() - cy + 1) / 2);
            drewCentred = r.text == expected;
        }
        if (r.property == Property::kDragIcon) dragIcon = r.value;
    }
    EXPECT_TRUE(drewCentred);
    EXPECT_EQ(dragIcon, 128);
}

TEST(Start, ProgramEntryRefusesAMissingAccessLibrary) {
    ProgramHarness h(kOneController);
    pci::Services noLibrary = testsupport::CurrentServices();
    noLibrary.vlmIo = nullptr;
    testsupport::ScopedTestServices services(std::move(noLibrary));
    EXPECT_EQ(RunVlm270FWUpdate(""), 7);
    auto texts = h.MessageTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("libvlmio.so"), std::string::npos) << texts[0];
    EXPECT_FALSE(h.WindowMade(res::IDD_VLM270FWUPDATE_DIALOG));
}

TEST(Start, ProgramEntryRefusesAPathTooLongForItsMember) {
    ProgramHarness h(kOneController);
    g_Utility.SetModulePath("/" + std::string(300, 'x') + "/vlm270fwupdate");
    EXPECT_EQ(RunVlm270FWUpdate(""), 8);
    EXPECT_EQ(h.MessageTexts(), std::vector<std::string>{kModulePathTooLongText});
    EXPECT_FALSE(h.WindowMade(res::IDD_VLM270FWUPDATE_DIALOG));
}

}  // namespace
