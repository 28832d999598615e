#include "res/dialog_templates.h"

#include <array>

namespace res {
namespace {

using namespace framework;

constexpr ControlKind kPush = ControlKind::kPushButton;
constexpr ControlKind kDefPush = ControlKind::kDefPushButton;
constexpr ControlKind kStatic = ControlKind::kStatic;
constexpr ControlKind kGroup = ControlKind::kGroupBox;
constexpr ControlKind kProgress = ControlKind::kProgressBar;
constexpr ControlKind kRichEdit = ControlKind::kRichEdit;
constexpr ControlKind kRadio = ControlKind::kRadioButton;
constexpr ControlKind kIconKind = ControlKind::kIcon;

constexpr uint32_t kVis = kWsVisible;
constexpr uint32_t kTab = kWsTabStop;
constexpr uint32_t kDialogStyle = kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame | kDsShellFont;
constexpr std::string_view kFontFace = "MS Shell Dlg";
constexpr int kFontPoints = 8;

// The main window's rows: number rows at these heights, flash rows at those.
constexpr int kNumberRowY[4] = {53, 64, 75, 86};
constexpr int kFlashRowY[4] = {114, 126, 138, 150};
constexpr int kNumberHeight = 11;
constexpr int kJobBarHeight = 7;

// Declared one by one so each row of the layout reads as it stands in the window.
#define NUMBER_ROW(r, busCap, bus, devCap, dev, fnCap, fn, n)                                     \
    {busCap, kStatic, kSsLeft | kVis, 0, "Bus:", 41, kNumberRowY[r], 22, kNumberHeight},          \
        {bus, kStatic, kSsLeft | kVis, 0, n, 70, kNumberRowY[r], 22, kNumberHeight},              \
        {devCap, kStatic, kSsLeft | kVis, 0, "Device:", 97, kNumberRowY[r], 22, kNumberHeight},   \
        {dev, kStatic, kSsLeft | kVis, 0, n, 128, kNumberRowY[r], 22, kNumberHeight},             \
        {fnCap, kStatic, kSsLeft | kVis, 0, "Function:", 163, kNumberRowY[r], 29, kNumberHeight}, \
    {                                                                                             \
        fn, kStatic, kSsLeft | kVis, 0, n, 199, kNumberRowY[r], 29, kNumberHeight                 \
    }
#define FLASH_ROW(r, name, label, bar, nameText, labelText)                                     \
    {name, kStatic, kSsLeft | kVis, 0, nameText, 44, kFlashRowY[r], 28, kNumberHeight},         \
        {label, kStatic, kSsLeft | kVis, 0, labelText, 77, kFlashRowY[r], 94, kNumberHeight}, { \
        bar, kProgress, kPbsSmooth | kWsBorder, 0, "", 178, kFlashRowY[r], 70, kJobBarHeight    \
    }

constexpr ControlTemplate kMainControls[] = {
    {kIdOkCommand, kDefPush, kBsDefPushButton | kTab, 0, "OK", 145, 189, 50, 14},
    {kIdCancelCommand, kPush, kBsPushButton | kTab | kVis, 0, "Cancel", 199, 189, 50, 14},
    {IDC_OVERALL_PROGRESS, kProgress, kPbsSmooth | kWsBorder | kVis, kWsExTransparent, "", 23, 20,
     227, 11},
    {IDC_STATIC, kGroup, kBsGroupBox | kVis, 0, "270X Info", 23, 40, 227, 61},
    {IDC_STATIC, kGroup, kBsGroupBox | kVis, 0, "Option ROM", 23, 105, 227, 71},
    NUMBER_ROW(0, 1011, 1012, 1013, 1014, 1015, 1016, "1"),
    NUMBER_ROW(1, 1017, 1018, 1019, 1020, 1021, 1022, "2"),
    NUMBER_ROW(2, 1027, 1030, 1028, 1031, 1029, 1032, "3"),
    NUMBER_ROW(3, 1036, 1037, 1038, 1039, 1040, 1041, "4"),
    FLASH_ROW(0, 1009, 1007, 1033, "270X 1:", "ver1"),
    FLASH_ROW(1, 1024, 1023, 1034, "270X 2:", "ver2"),
    FLASH_ROW(2, 1026, 1025, 1035, "270X 3:", "ver3"),
    FLASH_ROW(3, 1042, 1043, 1044, "270X 4:", "ver4"),
    {IDC_UPDATE_TO_CAPTION, kStatic, kSsLeft, 0, "Update to:", 74, 163, 40, 11},
    {IDC_UPDATE_TO_VALUE, kStatic, kSsLeft, 0, "new", 120, 163, 84, 11},
};

#undef NUMBER_ROW
#undef FLASH_ROW

constexpr std::array<ControlTemplate, 4> kAgreementControls = {{
    {kIdOkCommand, kDefPush, kBsDefPushButton | kVis | kTab, 0, "Accept", 275, 261, 50, 14},
    {kIdCancelCommand, kPush, kBsPushButton | kVis | kTab, 0, "Cancel", 331, 261, 50, 14},
    {IDC_LICENCE_TEXT, kRichEdit, kVis | kWsBorder | kWsVScroll | kTab | kEsMultiLine | kEsReadOnly,
     0, "", 7, 30, 379, 212},
    {IDC_LICENCE_PROMPT, kStatic, kSsLeft | kVis | kWsGroup, 0,
     "Please read the following license agreement", 11, 14, 215, 13},
}};

constexpr std::array<ControlTemplate, 5> kRebootControls = {{
    {kIdOkCommand, kDefPush, kBsDefPushButton | kVis | kTab, 0, "Finish", 233, 159, 50, 14},
    {kIdCancelCommand, kPush, kBsPushButton | kTab, 0, "Cancel", 183, 159, 50, 14},
    {IDC_RESTART_HEADLINE, kStatic, kSsCenter | kVis | kWsGroup, 0, "Restart Computer", 59, 16, 160,
     14},
    {IDC_RESTART_NOW, kRadio, kBsAutoRadioButton | kVis, 0,
     "Yes. I want to restart my computer now.", 45, 52, 188, 10},
    {IDC_RESTART_LATER, kRadio, kBsAutoRadioButton | kVis, 0,
     "NO. I want to restart my computer later.", 45, 72, 188, 10},
}};

constexpr std::array<ControlTemplate, 4> kAboutControls = {{
    {IDC_STATIC, kIconKind, kSsIcon | kVis, 0, "128", 14, 14, 21, 20},
    {IDC_STATIC, kStatic, kSsLeft | kSsNoPrefix | kVis, 0, "VLM270FWUpdate, Version 1.0", 42, 14,
     114, 8},
    {IDC_STATIC, kStatic, kSsLeft | kVis, 0, "Copyright (C) Velmora", 42, 26, 114, 8},
    {kIdOkCommand, kDefPush, kBsDefPushButton | kVis | kTab | kWsGroup, 0, "OK", 113, 41, 50, 14},
}};

constexpr std::array<DialogTemplate, 4> kTemplates = {{
    {IDD_ABOUTBOX, kDialogStyle, 0, 170, 62, "About VLM270FWUpdate", kFontFace, kFontPoints,
     kAboutControls},
    {IDD_VLM270FWUPDATE_DIALOG, kDialogStyle | kVis, kWsExAppWindow, 272, 210, "VLM270FWUpdate",
     kFontFace, kFontPoints, kMainControls},
    {IDD_AGREEMENT, kDialogStyle, 0, 402, 282, "Dialog", kFontFace, kFontPoints,
     kAgreementControls},
    {IDD_REBOOT, kDialogStyle, 0, 290, 180, "Dialog", kFontFace, kFontPoints, kRebootControls},
}};

constexpr std::array<StringResource, 1> kStrings = {{
    {IDS_ABOUTBOX, "&About VLM270FWUpdate..."},
}};

constexpr std::array<int, 1> kIcons = {IDR_MAINFRAME};

constexpr framework::ResourceTable kResources = {kTemplates, kStrings, kIcons};

}  // namespace

const framework::ResourceTable& Resources() {
    return kResources;
}

std::span<const DialogTemplate> DialogTemplates() {
    return kTemplates;
}

const DialogTemplate* FindDialogTemplate(int templateId) {
    for (const DialogTemplate& t : kTemplates) {
        if (t.id == templateId) return &t;
    }
    return nullptr;
}

}  // namespace res
