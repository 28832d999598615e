// The process-wide objects, in their order of construction (they are destroyed in the reverse
// order; the event-log reporter never is). They are all here so that this order holds.
#include "app/vlm270fwupdate_app.h"
#include "console/update_job.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "util/event_log.h"
#include "util/utility.h"

namespace {

// Creates the event-log reporter first of all, so that everything after it can report.
struct EventLogReporter {
    EventLogReporter() { CreateEventLog(); }
};
EventLogReporter s_eventLogReporter;

}  // namespace

CUtility g_Utility;
flash::CInterctl g_Interctl(g_Utility.m_ucControllerCount, g_Utility.m_Controllers, g_SPICtl);
UpdateJob g_UpdateJobs[kMaxControllers];
CVLM270FWUpdateApp theApp;
flash::CSPICtl g_SPICtl;
