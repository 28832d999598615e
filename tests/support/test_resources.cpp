// Every test program builds its windows from the program's own resource table, as the programs
// do: it is installed for the whole run, under the services each test installs.
#include "framework/services.h"
#include "res/dialog_templates.h"

namespace {

const framework::ScopedServices s_programResources({.resources = &res::Resources()});

}  // namespace
