#include "tests/support/test_services.h"

#include <utility>
#include <vector>

#include "framework/window_system.h"
#include "res/dialog_templates.h"
#include "util/event_log.h"

namespace testsupport {
namespace {

pci::Services WithResources(pci::Services services) {
    if (services.platform.resources == nullptr) services.platform.resources = &res::Resources();
    return services;
}

// A reporter is never destroyed in the program, nor here: it stays reachable for the leak
// checker.
void Retire(CEventLog* reporter) {
    static std::vector<CEventLog*>& s_retired = *new std::vector<CEventLog*>;
    s_retired.push_back(reporter);
}

}  // namespace

ScopedTestServices::ScopedTestServices(pci::Services services)
    : m_pPreviousLog(framework::InstalledServices().eventLog),
      m_pPreviousReporter(g_pEventLog),
      m_services(WithResources(std::move(services))) {
    framework::ResetQuitRequest();
    framework::EventLogBackend* log = framework::InstalledServices().eventLog;
    if (log == nullptr) return;
    if (log == m_pPreviousLog && g_pEventLog != nullptr) {
        m_pReporter = g_pEventLog;
        return;
    }
    m_pReporter = new CEventLog(*log);
    m_bOwnReporter = true;
    m_pReporter->Open();
    g_pEventLog = m_pReporter;
}

ScopedTestServices::~ScopedTestServices() {
    if (m_bOwnReporter) Retire(m_pReporter);
    g_pEventLog = m_pPreviousReporter;
    framework::ResetQuitRequest();
}

pci::Services CurrentServices() {
    return pci::InstalledServices();
}

}  // namespace testsupport
