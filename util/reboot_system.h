// Restarting the computer at once, once a run has ended and the user asked for it.
#pragma once

#include "framework/restart_backend.h"

// Enables the shutdown privilege in the process's token and asks for a forced restart; true
// when the system accepted the request (it then shuts down while the caller goes on).
bool RebootSystem();
// The same on given restart services.
bool RebootSystem(framework::RestartBackend& backend);

// The restart services RebootSystem() uses: the platform's, unless a test installed others
// (nullptr restores the platform's). Set it before the thread that restarts starts.
void SetRestartBackend(framework::RestartBackend* backend);
