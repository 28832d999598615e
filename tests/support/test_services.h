// The services a test runs on, installed for the test's life with one object: the platform's
// (the program's resources unless the test names others), the access library, and, when the
// test names an event log, the process's event-log reporter opened on it (the one already there
// when an outer object opened it on the same log). The quit request is forgotten on the way in
// and out. Nothing outlives the object; objects nest.
#pragma once

#include "pci/services.h"

class CEventLog;

namespace testsupport {

class ScopedTestServices {
public:
    explicit ScopedTestServices(pci::Services services = {});
    ~ScopedTestServices();
    ScopedTestServices(const ScopedTestServices&) = delete;
    ScopedTestServices& operator=(const ScopedTestServices&) = delete;

    // The reporter on the test's event log, or nullptr when it named none.
    CEventLog* Reporter() const { return m_pReporter; }

private:
    framework::EventLogBackend* m_pPreviousLog;
    CEventLog* m_pPreviousReporter;
    pci::ScopedServices m_services;
    CEventLog* m_pReporter = nullptr;
    bool m_bOwnReporter = false;
};

// The services installed now, to install again with a change for part of a test.
pci::Services CurrentServices();

}  // namespace testsupport
