// The dialog templates: what each window shows, where, and that every control the dialogs bind
// exists.
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "console/main_dialog.h"
#include "framework/dialog.h"
#include "framework/window_system.h"
#include "licence/agreement.h"
#include "res/dialog_templates.h"
#include "restart/reboot_dialog.h"
#include "tests/support/test_services.h"
#include "tests/support/test_window_system.h"

namespace {

using namespace res;
using framework::ControlKind;
using framework::ControlTemplate;
using framework::DialogTemplate;
using framework::kWsVisible;

TEST(ResDialogTemplates, EveryTemplateIsConsistent) {
    std::set<int> templateIds;
    for (const DialogTemplate& t : DialogTemplates()) {
        SCOPED_TRACE(t.id);
        EXPECT_TRUE(templateIds.insert(t.id).second);
        EXPECT_EQ(t.fontFace, "MS Shell Dlg");
        EXPECT_EQ(t.fontPoints, 8);
        EXPECT_NE(t.style & framework::kWsSysMenu, 0u);
        EXPECT_NE(t.style & framework::kDsModalFrame, 0u);
        std::set<int> ids;
        for (const ControlTemplate& c : t.controls) {
            if (c.id != IDC_STATIC) {
                EXPECT_TRUE(ids.insert(c.id).second) << c.id;
            }
            EXPECT_GT(c.cx, 0);
            EXPECT_GT(c.cy, 0);
            EXPECT_LE(c.x + c.cx, t.cx) << c.id;
            EXPECT_LE(c.y + c.cy, t.cy) << c.id;
        }
    }
    EXPECT_EQ(templateIds,
              (std::set<int>{IDD_ABOUTBOX, IDD_VLM270FWUPDATE_DIALOG, IDD_AGREEMENT, IDD_REBOOT}));
}

// A window that only records which controls a dialog's data exchange binds, in order, and has
// those its template has.
class BindingRecorder final : public framework::DialogHost {
public:
    explicit BindingRecorder(const DialogTemplate& dialogTemplate) : m_template(dialogTemplate) {}
    std::vector<int> bound;

    bool HasControl(int id) override {
        bound.push_back(id);
        return m_template.FindControl(id) != nullptr;
    }
    void EndDialog(int) override {}
    bool SetWindowText(const std::string&) override { return false; }
    std::string GetWindowText() override { return {}; }
    bool ShowWindow(int) override { return false; }
    bool SetWindowPos(intptr_t, int, int, int, int, unsigned) override { return false; }
    bool IsWindowVisible() override { return false; }
    bool IsIconic() override { return false; }
    framework::Rect GetClientRect() override { return {}; }
    framework::Icon SetIcon(framework::Icon, bool) override { return 0; }
    bool HasSystemMenu() override { return false; }
    bool AppendSystemMenu(unsigned, unsigned, const std::string&) override { return false; }
    bool PostMessage(unsigned, uintptr_t, intptr_t) override { return false; }
    unsigned SetTimer(unsigned, unsigned) override { return 0; }
    bool KillTimer(unsigned) override { return false; }
    void EraseIconBackground() override {}
    void DrawIcon(int, int, framework::Icon) override {}
    bool SetControlText(int, const std::string&) override { return false; }
    std::string GetControlText(int) override { return {}; }
    bool ShowControl(int, bool) override { return false; }
    bool EnableControl(int, bool) override { return false; }
    bool IsControlVisible(int) override { return false; }
    bool IsControlEnabled(int) override { return false; }
    bool SetCheck(int, int) override { return false; }
    int GetCheck(int) override { return 0; }
    bool SetProgressRange(int, int, int) override { return false; }
    int SetProgressStep(int, int) override { return 0; }
    int SetProgressPos(int, int) override { return 0; }
    int GetProgressPos(int) override { return 0; }
    framework::Colour SetProgressBarColour(int, framework::Colour) override { return 0; }
    bool StreamInRtf(int, const framework::StreamReader&) override { return false; }

private:
    const DialogTemplate& m_template;
};

// The controls the dialog's own data exchange binds, in its order.
std::vector<int> BoundControls(framework::Dialog& dialog) {
    auto recorder = std::make_shared<BindingRecorder>(*FindDialogTemplate(dialog.TemplateId()));
    dialog.AttachHost(recorder);
    dialog.DoDataExchange();
    dialog.DetachHost();
    return recorder->bound;
}

TEST(ResDialogTemplates, EveryBoundControlExistsWithTheRightKind) {
    testsupport::TestWindowSystem windows;  // the licence dialog loads its control library
    pci::Services services;
    windows.Provide(services.platform);
    testsupport::ScopedTestServices installed(std::move(services));
    CVLM270FWUpdateDlg mainDialog;
    CAgreement licence;
    CReBoot restart;
    for (framework::Dialog* dialog :
         std::initializer_list<framework::Dialog*>{&mainDialog, &licence, &restart}) {
        SCOPED_TRACE(dialog->TemplateId());
        const DialogTemplate* t = FindDialogTemplate(dialog->TemplateId());
        ASSERT_NE(t, nullptr);
        std::vector<int> bound = BoundControls(*dialog);
        EXPECT_FALSE(bound.empty());
        for (int id : bound) EXPECT_NE(t->FindControl(id), nullptr) << id;
        EXPECT_EQ(std::set<int>(bound.begin(), bound.end()).size(), bound.size())
            << "each control is bound once";
    }

    // The main dialog binds its activity bar first, then every job bar, flash part label, the
    // update-to value and every bus, device and function value; no caption.
    std::vector<int> bound = BoundControls(mainDialog);
    ASSERT_FALSE(bound.empty());
    EXPECT_EQ(bound.front(), IDC_OVERALL_PROGRESS);
    std::set<int> expected{IDC_OVERALL_PROGRESS, IDC_UPDATE_TO_VALUE};
    expected.insert(kJobBars.begin(), kJobBars.end());
    expected.insert(kFlashPartLabels.begin(), kFlashPartLabels.end());
    for (const NumberRow& row : kNumberRows) expected.insert({row.bus, row.device, row.function});
    EXPECT_EQ(std::set<int>(bound.begin(), bound.end()), expected);
    EXPECT_EQ(BoundControls(licence), (std::vector<int>{IDC_LICENCE_TEXT, IDC_LICENCE_PROMPT}));
    EXPECT_EQ(BoundControls(restart),
              (std::vector<int>{IDC_RESTART_NOW, IDC_RESTART_LATER, IDC_RESTART_HEADLINE}));

    const DialogTemplate* main = FindDialogTemplate(IDD_VLM270FWUPDATE_DIALOG);
    for (int id : kJobBars) EXPECT_EQ(main->FindControl(id)->kind, ControlKind::kProgressBar);
    for (const NumberRow& row : kNumberRows) {
        for (int id : {row.busCaption, row.bus, row.deviceCaption, row.device, row.functionCaption,
                       row.function}) {
            EXPECT_EQ(main->FindControl(id)->kind, ControlKind::kStatic) << id;
        }
    }
}

struct Expected {
    int templateId;
    int id;
    ControlKind kind;
    const char* text;
    int x, y, cx, cy;
    bool visible;
};

TEST(ResDialogTemplates, KeyControlsReadAndSitAsDesigned) {
    const Expected cases[] = {
        {IDD_VLM270FWUPDATE_DIALOG, framework::kIdOkCommand, ControlKind::kDefPushButton, "OK", 145,
         189, 50, 14, false},
        {IDD_VLM270FWUPDATE_DIALOG, framework::kIdCancelCommand, ControlKind::kPushButton, "Cancel",
         199, 189, 50, 14, true},
        {IDD_VLM270FWUPDATE_DIALOG, IDC_OVERALL_PROGRESS, ControlKind::kProgressBar, "", 23, 20,
         227, 11, true},
        {IDD_VLM270FWUPDATE_DIALOG, kNumberRows[2].busCaption, ControlKind::kStatic, "Bus:", 41, 75,
         22, 11, true},
        {IDD_VLM270FWUPDATE_DIALOG, kNumberRows[3].function, ControlKind::kStatic, "4", 199, 86, 29,
         11, true},
        {IDD_VLM270FWUPDATE_DIALOG, kControllerNames[3], ControlKind::kStatic, "270X 4:", 44, 150,
         28, 11, true},
        {IDD_VLM270FWUPDATE_DIALOG, kFlashPartLabels[2], ControlKind::kStatic, "ver3", 77, 138, 94,
         11, true},
        {IDD_VLM270FWUPDATE_DIALOG, kJobBars[1], ControlKind::kProgressBar, "", 178, 126, 70, 7,
         false},
        {IDD_VLM270FWUPDATE_DIALOG, IDC_UPDATE_TO_CAPTION, ControlKind::kStatic, "Update to:", 74,
         163, 40, 11, false},
        {IDD_VLM270FWUPDATE_DIALOG, IDC_UPDATE_TO_VALUE, ControlKind::kStatic, "new", 120, 163, 84,
         11, false},
        {IDD_AGREEMENT, framework::kIdOkCommand, ControlKind::kDefPushButton, "Accept", 275, 261,
         50, 14, true},
        {IDD_AGREEMENT, IDC_LICENCE_TEXT, ControlKind::kRichEdit, "", 7, 30, 379, 212, true},
        {IDD_AGREEMENT, IDC_LICENCE_PROMPT, ControlKind::kStatic,
         "Please read the following license agreement", 11, 14, 215, 13, true},
        {IDD_REBOOT, framework::kIdOkCommand, ControlKind::kDefPushButton, "Finish", 233, 159, 50,
         14, true},
        {IDD_REBOOT, framework::kIdCancelCommand, ControlKind::kPushButton, "Cancel", 183, 159, 50,
         14, false},
        {IDD_REBOOT, IDC_RESTART_HEADLINE, ControlKind::kStatic, "Restart Computer", 59, 16, 160,
         14, true},
        {IDD_REBOOT, IDC_RESTART_NOW, ControlKind::kRadioButton,
         "Yes. I want to restart my computer now.", 45, 52, 188, 10, true},
        {IDD_REBOOT, IDC_RESTART_LATER, ControlKind::kRadioButton,
         "NO. I want to restart my computer later.", 45, 72, 188, 10, true},
        {IDD_ABOUTBOX, framework::kIdOkCommand, ControlKind::kDefPushButton, "OK", 113, 41, 50, 14,
         true},
    };
    for (const Expected& e : cases) {
        SCOPED_TRACE(std::to_string(e.templateId) + ":" + std::to_string(e.id));
        const ControlTemplate* c = FindDialogTemplate(e.templateId)->FindControl(e.id);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->kind, e.kind);
        EXPECT_EQ(c->text, e.text);
        EXPECT_EQ(c->x, e.x);
        EXPECT_EQ(c->y, e.y);
        EXPECT_EQ(c->cx, e.cx);
        EXPECT_EQ(c->cy, e.cy);
        EXPECT_EQ((c->style & kWsVisible) != 0, e.visible);
    }
}

TEST(ResDialogTemplates, DialogsStylesCaptionsAndResources) {
    const DialogTemplate* main = FindDialogTemplate(IDD_VLM270FWUPDATE_DIALOG);
    EXPECT_EQ(main->caption, "VLM270FWUpdate");
    EXPECT_EQ(main->cx, 272);
    EXPECT_EQ(main->cy, 210);
    EXPECT_TRUE(main->Visible());
    EXPECT_NE(main->exStyle & framework::kWsExAppWindow, 0u);
    EXPECT_NE(main->FindControl(IDC_OVERALL_PROGRESS)->exStyle & framework::kWsExTransparent, 0u);
    EXPECT_NE(main->FindControl(kJobBars[0])->style & framework::kPbsSmooth, 0u);
    EXPECT_NE(main->FindControl(kJobBars[0])->style & framework::kWsBorder, 0u);

    const DialogTemplate* about = FindDialogTemplate(IDD_ABOUTBOX);
    EXPECT_EQ(about->caption, "About VLM270FWUpdate");
    EXPECT_EQ(about->cx, 170);
    EXPECT_EQ(about->cy, 62);
    ASSERT_EQ(about->controls.size(), 4u);
    EXPECT_EQ(about->controls[0].kind, ControlKind::kIcon);
    EXPECT_EQ(about->controls[0].x, 14);
    EXPECT_EQ(about->controls[1].text, "VLM270FWUpdate, Version 1.0");
    EXPECT_NE(about->controls[1].style & framework::kSsNoPrefix, 0u);

    const DialogTemplate* licence = FindDialogTemplate(IDD_AGREEMENT);
    EXPECT_EQ(licence->caption, "Dialog");
    EXPECT_EQ(licence->cx, 402);
    EXPECT_EQ(licence->cy, 282);
    uint32_t paneStyle = licence->FindControl(IDC_LICENCE_TEXT)->style;
    for (uint32_t bit : {framework::kWsBorder, framework::kWsVScroll, framework::kWsTabStop,
                         framework::kEsMultiLine, framework::kEsReadOnly}) {
        EXPECT_NE(paneStyle & bit, 0u) << bit;
    }
    EXPECT_EQ(ControlClassName(ControlKind::kRichEdit), "RichEdit20A");

    const DialogTemplate* reboot = FindDialogTemplate(IDD_REBOOT);
    EXPECT_EQ(reboot->cx, 290);
    EXPECT_EQ(reboot->cy, 180);
    EXPECT_EQ(reboot->FindControl(IDC_RESTART_HEADLINE)->style & framework::kSsCenter,
              framework::kSsCenter);
    EXPECT_EQ(reboot->FindControl(IDC_RESTART_NOW)->style & framework::kBsTypeMask,
              framework::kBsAutoRadioButton);

    EXPECT_EQ(framework::LoadString(IDS_ABOUTBOX), "&About VLM270FWUpdate...");
    EXPECT_EQ(framework::LoadString(4242), "");
    EXPECT_EQ(framework::LoadIcon(IDR_MAINFRAME), 128u);
    EXPECT_EQ(framework::LoadIcon(4242), 0u);
    EXPECT_EQ(FindDialogTemplate(4242), nullptr);
}

}  // namespace
