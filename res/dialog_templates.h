// The dialog templates, the string table and the icon list: the one description of every
// dialog's controls, from which each window system builds its windows.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "framework/window_types.h"
#include "res/resource_ids.h"

namespace res {

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

    // The control with that id, or nullptr (IDC_STATIC is never found).
    const ControlTemplate* FindControl(int controlId) const;
    bool Visible() const { return (style & framework::kWsVisible) != 0; }
};

// The window class a control of that kind is made of.
std::string_view ControlClassName(ControlKind kind);

// Every dialog template, in id order.
std::span<const DialogTemplate> DialogTemplates();
// The template with that id, or nullptr.
const DialogTemplate* FindDialogTemplate(int templateId);

// The string resource with that id; empty when there is none.
std::string_view LoadResourceString(int stringId);

// Whether the program has an icon resource of that id.
bool HasIconResource(int iconId);

}  // namespace res
