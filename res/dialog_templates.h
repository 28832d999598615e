// The program's dialog templates, string table and icon list: the one description of every
// dialog's controls, from which each window system builds its windows.
#pragma once

#include <span>

#include "framework/dialog_template.h"
#include "res/resource_ids.h"

namespace res {

// The whole table, as the program installs it with its services (framework::Services).
const framework::ResourceTable& Resources();

// Every dialog template, in id order.
std::span<const framework::DialogTemplate> DialogTemplates();
// The template with that id, or nullptr.
const framework::DialogTemplate* FindDialogTemplate(int templateId);

}  // namespace res
