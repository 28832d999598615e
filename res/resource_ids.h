// Identifiers of the program's resources: dialog templates, controls, icon and strings.
#pragma once

#include <array>

#include "framework/window_types.h"

namespace res {

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_VLM270FWUPDATE_DIALOG = 102;
inline constexpr int IDD_AGREEMENT = 129;
inline constexpr int IDD_REBOOT = 130;

// The program icon and the About item's text.
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDS_ABOUTBOX = 101;

// A control without an identifier of its own (group boxes, fixed texts).
inline constexpr int IDC_STATIC = framework::kIdcStatic;

// Main dialog: overall bar, job bars, flash part labels, controller names.
inline constexpr int IDC_OVERALL_PROGRESS = 1000;
inline constexpr std::array<int, 4> kJobBars = {1033, 1034, 1035, 1044};
inline constexpr std::array<int, 4> kFlashPartLabels = {1007, 1023, 1025, 1043};
inline constexpr std::array<int, 4> kControllerNames = {1009, 1024, 1026, 1042};
inline constexpr int IDC_UPDATE_TO_CAPTION = 1010;
inline constexpr int IDC_UPDATE_TO_VALUE = 1008;

// Main dialog number rows, one per controller, in column order: bus caption, bus value,
// device caption, device value, function caption, function value.
struct NumberRow {
    int busCaption;
    int bus;
    int deviceCaption;
    int device;
    int functionCaption;
    int function;
};
inline constexpr std::array<NumberRow, 4> kNumberRows = {{
    {1011, 1012, 1013, 1014, 1015, 1016},
    {1017, 1018, 1019, 1020, 1021, 1022},
    {1027, 1030, 1028, 1031, 1029, 1032},
    {1036, 1037, 1038, 1039, 1040, 1041},
}};

// Licence dialog.
inline constexpr int IDC_LICENCE_TEXT = 1002;
inline constexpr int IDC_LICENCE_PROMPT = 1006;

// Restart prompt.
inline constexpr int IDC_RESTART_HEADLINE = 1004;
inline constexpr int IDC_RESTART_NOW = 1005;
inline constexpr int IDC_RESTART_LATER = 1006;

}  // namespace res
