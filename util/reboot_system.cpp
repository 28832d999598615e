#include "util/reboot_system.h"

#include "framework/restart_backend.h"

bool RebootSystem() {
    return framework::CurrentRestart().RestartNow();
}
