#include "framework/restart_backend.h"

#include "framework/services.h"

namespace framework {

RestartBackend& CurrentRestart() {
    RestartBackend* installed = InstalledServices().restart;
    return installed != nullptr ? *installed : PlatformRestart();
}

}  // namespace framework
