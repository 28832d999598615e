// Restarting the computer, as the operating system offers it.
#pragma once

namespace framework {

class RestartBackend {
public:
    virtual ~RestartBackend() = default;
    // Restarts the computer at once, forced past whatever would hold it back. True when the
    // system accepted (it then shuts down while the caller goes on); false when this process may
    // not restart the computer or the system refused.
    virtual bool RestartNow() = 0;
};

// The platform's restart (Windows: the shutdown privilege, then a forced restart; Linux:
// systemd's restart, for the administrator only).
RestartBackend& PlatformRestart();
// The restart in use: the installed services' one, else the platform's.
RestartBackend& CurrentRestart();

}  // namespace framework
