// Every test program builds its windows from the program's own resource table, as the programs do.
#include "framework/dialog_template.h"
#include "res/dialog_templates.h"

namespace {

struct ResourcesInstalled {
    ResourcesInstalled() { framework::SetResources(&res::Resources()); }
};
const ResourcesInstalled s_resourcesInstalled;

}  // namespace
