#include "framework/event_log_backend.h"

#include "framework/services.h"

namespace framework {

EventLogBackend& CurrentEventLog() {
    EventLogBackend* installed = InstalledServices().eventLog;
    return installed != nullptr ? *installed : PlatformEventLog();
}

}  // namespace framework
