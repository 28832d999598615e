#include "framework/dialog_template.h"

#include <algorithm>

#include "framework/services.h"

namespace framework {

const ControlTemplate* DialogTemplate::FindControl(int controlId) const {
    if (controlId == kIdcStatic) return nullptr;
    auto it = std::find_if(controls.begin(), controls.end(),
                           [controlId](const ControlTemplate& c) { return c.id == controlId; });
    return it == controls.end() ? nullptr : &*it;
}

std::string_view ControlClassName(ControlKind kind) {
    switch (kind) {
        case ControlKind::kPushButton:
        case ControlKind::kDefPushButton:
        case ControlKind::kGroupBox:
        case ControlKind::kRadioButton:
            return "Button";
        case ControlKind::kStatic:
        case ControlKind::kIcon:
            return "Static";
        case ControlKind::kProgressBar:
            return "msctls_progress32";
        case ControlKind::kRichEdit:
            return "RichEdit20A";
    }
    return "Static";
}

const DialogTemplate* FindDialogTemplate(int templateId) {
    const ResourceTable* table = InstalledServices().resources;
    if (table == nullptr) return nullptr;
    for (const DialogTemplate& t : table->dialogs) {
        if (t.id == templateId) return &t;
    }
    return nullptr;
}

std::string_view FindResourceString(int stringId) {
    const ResourceTable* table = InstalledServices().resources;
    if (table == nullptr) return {};
    for (const StringResource& s : table->strings) {
        if (s.id == stringId) return s.text;
    }
    return {};
}

bool HasIconResource(int iconId) {
    const ResourceTable* table = InstalledServices().resources;
    return table != nullptr &&
           std::find(table->icons.begin(), table->icons.end(), iconId) != table->icons.end();
}

}  // namespace framework
