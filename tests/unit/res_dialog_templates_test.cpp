// The dialog templates: what each window shows, where, and that every bound control exists.
#include <gtest/gtest.h>

#include <set>

#include "framework/window_system.h"
#include "res/dialog_templates.h"

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
    EXPECT_EQ(templateIds, (std::set<int>{100, 102, 129, 130}));
}

TEST(ResDialogTemplates, EveryBoundControlExistsWithTheRightKind) {
    struct Binding {
        int templateId;
        std::span<const int> ids;
    };
    const Binding bindings[] = {{IDD_VLM270FWUPDATE_DIALOG, kMainDialogBindings},
                                {IDD_AGREEMENT, kAgreementBindings},
                                {IDD_REBOOT, kRebootBindings}};
    for (const Binding& b : bindings) {
        const DialogTemplate* t = FindDialogTemplate(b.templateId);
        ASSERT_NE(t, nullptr);
        for (int id : b.ids) EXPECT_NE(t->FindControl(id), nullptr) << b.templateId << ":" << id;
    }
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
        {102, 1, ControlKind::kDefPushButton, "OK", 145, 189, 50, 14, false},
        {102, 2, ControlKind::kPushButton, "Cancel", 199, 189, 50, 14, true},
        {102, 1000, ControlKind::kProgressBar, "", 23, 20, 227, 11, true},
        {102, 1027, ControlKind::kStatic, "Bus:", 41, 75, 22, 11, true},
        {102, 1041, ControlKind::kStatic, "4", 199, 86, 29, 11, true},
        {102, 1042, ControlKind::kStatic, "270X 4:", 44, 150, 28, 11, true},
        {102, 1025, ControlKind::kStatic, "ver3", 77, 138, 94, 11, true},
        {102, 1034, ControlKind::kProgressBar, "", 178, 126, 70, 7, false},
        {102, 1010, ControlKind::kStatic, "Update to:", 74, 163, 40, 11, false},
        {102, 1008, ControlKind::kStatic, "new", 120, 163, 84, 11, false},
        {129, 1, ControlKind::kDefPushButton, "Accept", 275, 261, 50, 14, true},
        {129, 1002, ControlKind::kRichEdit, "", 7, 30, 379, 212, true},
        {129, 1006, ControlKind::kStatic, "Please read the following license agreement", 11, 14,
         215, 13, true},
        {130, 1, ControlKind::kDefPushButton, "Finish", 233, 159, 50, 14, true},
        {130, 2, ControlKind::kPushButton, "Cancel", 183, 159, 50, 14, false},
        {130, 1004, ControlKind::kStatic, "Restart Computer", 59, 16, 160, 14, true},
        {130, 1005, ControlKind::kRadioButton, "Yes. I want to restart my computer now.", 45, 52,
         188, 10, true},
        {130, 1006, ControlKind::kRadioButton, "NO. I want to restart my computer later.", 45, 72,
         188, 10, true},
        {100, 1, ControlKind::kDefPushButton, "OK", 113, 41, 50, 14, true},
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
    const DialogTemplate* main = FindDialogTemplate(102);
    EXPECT_EQ(main->caption, "VLM270FWUpdate");
    EXPECT_EQ(main->cx, 272);
    EXPECT_EQ(main->cy, 210);
    EXPECT_TRUE(main->Visible());
    EXPECT_NE(main->exStyle & framework::kWsExAppWindow, 0u);
    EXPECT_NE(main->FindControl(1000)->exStyle & framework::kWsExTransparent, 0u);
    EXPECT_NE(main->FindControl(1033)->style & framework::kPbsSmooth, 0u);
    EXPECT_NE(main->FindControl(1033)->style & framework::kWsBorder, 0u);

    const DialogTemplate* about = FindDialogTemplate(100);
    EXPECT_EQ(about->caption, "About VLM270FWUpdate");
    EXPECT_EQ(about->cx, 170);
    EXPECT_EQ(about->cy, 62);
    ASSERT_EQ(about->controls.size(), 4u);
    EXPECT_EQ(about->controls[0].kind, ControlKind::kIcon);
    EXPECT_EQ(about->controls[0].x, 14);
    EXPECT_EQ(about->controls[1].text, "VLM270FWUpdate, Version 1.0");
    EXPECT_NE(about->controls[1].style & framework::kSsNoPrefix, 0u);

    const DialogTemplate* licence = FindDialogTemplate(129);
    EXPECT_EQ(licence->caption, "Dialog");
    EXPECT_EQ(licence->cx, 402);
    EXPECT_EQ(licence->cy, 282);
    uint32_t paneStyle = licence->FindControl(1002)->style;
    for (uint32_t bit : {framework::kWsBorder, framework::kWsVScroll, framework::kWsTabStop,
                         framework::kEsMultiLine, framework::kEsReadOnly}) {
        EXPECT_NE(paneStyle & bit, 0u) << bit;
    }
    EXPECT_EQ(ControlClassName(ControlKind::kRichEdit), "RichEdit20A");

    const DialogTemplate* reboot = FindDialogTemplate(130);
    EXPECT_EQ(reboot->cx, 290);
    EXPECT_EQ(reboot->cy, 180);
    EXPECT_EQ(reboot->FindControl(1004)->style & framework::kSsCenter, framework::kSsCenter);
    EXPECT_EQ(reboot->FindControl(1005)->style & framework::kBsTypeMask,
              framework::kBsAutoRadioButton);

    EXPECT_EQ(framework::LoadString(IDS_ABOUTBOX), "&About VLM270FWUpdate...");
    EXPECT_EQ(framework::LoadString(4242), "");
    EXPECT_EQ(framework::LoadIcon(IDR_MAINFRAME), 128u);
    EXPECT_EQ(framework::LoadIcon(4242), 0u);
    EXPECT_EQ(FindDialogTemplate(4242), nullptr);
}

}  // namespace
