// Values and small types shared by the dialog layer, its back ends and the dialog templates.
// Numbers are the window system's own, so a back end can hand them on unchanged.
#pragma once

#include <cstdint>

namespace framework {

// Colours: red in the low byte, then green, then blue.
using Colour = uint32_t;
constexpr Colour Rgb(uint8_t red, uint8_t green, uint8_t blue) {
    return static_cast<Colour>(red) | (static_cast<Colour>(green) << 8) |
           (static_cast<Colour>(blue) << 16);
}
inline constexpr Colour kDefaultColour = 0xFF000000;  // a progress bar's own colour

// An icon: the resource id it was loaded from (0: none).
using Icon = uintptr_t;

// A control without an identifier of its own (group boxes, fixed texts).
inline constexpr int kIdcStatic = -1;

// Dialog results and standard command ids.
inline constexpr int kIdOkCommand = 1;
inline constexpr int kIdCancelCommand = 2;
inline constexpr int kDialogFailed = -1;  // the dialog could not be created

// Messages a dialog can be posted.
inline constexpr unsigned kWmClose = 0x0010;
inline constexpr unsigned kWmCommand = 0x0111;
inline constexpr unsigned kWmSysCommand = 0x0112;

// System commands.
inline constexpr unsigned kScMinimize = 0xF020;
inline constexpr unsigned kScClose = 0xF060;
inline constexpr unsigned kScRestore = 0xF120;
inline constexpr unsigned kScCommandMask = 0xFFF0;  // the low four bits are the system's

// Show commands.
inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwShowMinimized = 2;
inline constexpr int kSwShow = 5;
inline constexpr int kSwMinimize = 6;
inline constexpr int kSwRestore = 9;

// Window-position flags and insert-after values.
inline constexpr unsigned kSwpNoSize = 0x0001;
inline constexpr unsigned kSwpNoMove = 0x0002;
inline constexpr unsigned kSwpNoZOrder = 0x0004;
inline constexpr unsigned kSwpNoActivate = 0x0010;
inline constexpr unsigned kSwpShowWindow = 0x0040;
inline constexpr unsigned kSwpHideWindow = 0x0080;
inline constexpr unsigned kSwpNoSendChanging = 0x0400;
inline constexpr intptr_t kHwndTop = 0;
inline constexpr intptr_t kHwndBottom = 1;
inline constexpr intptr_t kHwndTopmost = -1;
inline constexpr intptr_t kHwndNoTopmost = -2;

// A pending window-position change, as the window-position-changing handler sees it.
struct WindowPos {
    intptr_t insertAfter = kHwndTop;
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
    unsigned flags = 0;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// Menu item flags.
inline constexpr unsigned kMfString = 0x0000;
inline constexpr unsigned kMfSeparator = 0x0800;

// Button check states.
inline constexpr int kBstUnchecked = 0;
inline constexpr int kBstChecked = 1;

// System metrics.
inline constexpr int kSmCxIcon = 11;
inline constexpr int kSmCyIcon = 12;

// Window styles (dialogs and controls).
inline constexpr uint32_t kWsPopup = 0x80000000;
inline constexpr uint32_t kWsVisible = 0x10000000;
inline constexpr uint32_t kWsCaption = 0x00C00000;
inline constexpr uint32_t kWsBorder = 0x00800000;
inline constexpr uint32_t kWsVScroll = 0x00200000;
inline constexpr uint32_t kWsSysMenu = 0x00080000;
inline constexpr uint32_t kWsGroup = 0x00020000;
inline constexpr uint32_t kWsTabStop = 0x00010000;
inline constexpr uint32_t kWsExTransparent = 0x00000020;
inline constexpr uint32_t kWsExAppWindow = 0x00040000;
// Dialog styles.
inline constexpr uint32_t kDsSetFont = 0x0040;
inline constexpr uint32_t kDsModalFrame = 0x0080;
inline constexpr uint32_t kDsFixedSys = 0x0008;
inline constexpr uint32_t kDsShellFont = kDsSetFont | kDsFixedSys;
// Button styles.
inline constexpr uint32_t kBsPushButton = 0x0000;
inline constexpr uint32_t kBsDefPushButton = 0x0001;
inline constexpr uint32_t kBsGroupBox = 0x0007;
inline constexpr uint32_t kBsAutoRadioButton = 0x0009;
inline constexpr uint32_t kBsTypeMask = 0x000F;
// Static styles.
inline constexpr uint32_t kSsLeft = 0x0000;
inline constexpr uint32_t kSsCenter = 0x0001;
inline constexpr uint32_t kSsIcon = 0x0003;
inline constexpr uint32_t kSsNoPrefix = 0x0080;
// Edit styles (the rich-text pane).
inline constexpr uint32_t kEsMultiLine = 0x0004;
inline constexpr uint32_t kEsReadOnly = 0x0800;
// Progress bar styles.
inline constexpr uint32_t kPbsSmooth = 0x0001;

// Progress bar defaults of a new bar.
inline constexpr int kProgressDefaultHigh = 100;
inline constexpr int kProgressDefaultStep = 10;

}  // namespace framework
