// Dialog templates, strings and icons as data: what a window system builds its windows from.
// The program hands its own table to the framework with its services, before any dialog runs.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "framework/window_types.h"

namespace framework {

enum class ControlKind {
    kPushButton,
    kDefPushButton,
    kStatic,
    kGroupBox,
    kProgressBar,
    kRichEdit,
    kRadioButton,
    kIcon,
};

// One control: position and size in dialog units; style holds the window system's style bits
// (visibility, tab stop, group, border, kind-specific bits); text is the icon's resource id in
// decimal for an icon control.
struct ControlTemplate {
    int id;
    ControlKind kind;
    uint32_t style;
    uint32_t exStyle;
    std::string_view text;
    int x;
    int y;
    int cx;
    int cy;
};

struct DialogTemplate {
    int id;
    uint32_t style;
    uint32_t exStyle;
    int cx;  // dialog units
    int cy;
    std::string_view caption;
    std::string_view fontFace;
    int fontPoints;
    std::span<const ControlTemplate> controls;

    // The control with that id, or nullptr (kIdcStatic is never found).
    const ControlTemplate* FindControl(int controlId) const;
    bool Visible() const { return (style & kWsVisible) != 0; }
};

struct StringResource {
    int id;
    std::string_view text;
};

// Everything a program's windows are built from.
struct ResourceTable {
    std::span<const DialogTemplate> dialogs;
    std::span<const StringResource> strings;
    std::span<const int> icons;  // the ids of the program's icons
};

// The window class a control of that kind is made of.
std::string_view ControlClassName(ControlKind kind);

// The installed resources' template with that id, or nullptr.
const DialogTemplate* FindDialogTemplate(int templateId);
// The installed string with that id; empty when there is none.
std::string_view FindResourceString(int stringId);
// Whether the program has an icon of that id.
bool HasIconResource(int iconId);

}  // namespace framework
