// Restarting the computer at once, once a run has ended and the user asked for it.
#pragma once

// Asks the system for a forced restart with the services installed; true when the system
// accepted the request (it then shuts down while the caller goes on).
bool RebootSystem();
