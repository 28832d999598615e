// The Linux program's entry point: help and version, the administrator and terminal checks, the
// terminal front end, then the program (access library, application) with the arguments joined
// by single spaces as its command line.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "app/program_entry.h"
#include "app/vlm270fwupdate_app.h"
#include "framework/services.h"
#include "programs/linux/terminal_front_end.h"
#include "res/dialog_templates.h"

#ifndef VLM_VERSION
#error "VLM_VERSION names the program's version"
#endif

namespace {

constexpr const char* kProgramName = "vlm270fwupdate";

// Exit statuses of the checks made before the application runs.
constexpr int kExitHelp = 0;
constexpr int kExitNoTerminal = 6;
constexpr int kExitNotAdministrator = 7;

constexpr const char* kUsage =
    "Usage: %s [/s]\n"
    "       %s --help | --version\n"
    "\n"
    "Rewrites the option-ROM firmware in the SPI flash of every 270X SATA/PATA controller of\n"
    "this computer (up to four) with the image (*.rom) that lies in the program's folder, then\n"
    "offers to restart the computer. Run it as root (sudo); the PCI access library libvlmio.so\n"
    "is loaded from the program's folder.\n"
    "\n"
    "  (no argument)  interactive: the licence (License_Agreement.rtf) must be accepted, the\n"
    "                 controllers and their progress are shown, a restart is offered at the end\n"
    "  /s             silent: no licence question, no window, no restart; failure messages are\n"
    "                 still printed on standard error\n"
    "  --help         this text\n"
    "  --version      the program's version\n"
    "\n"
    "Exit status: 0 every controller updated; 1 controller not ready; 2 image not found;\n"
    "3 image load failed; 4 time-out; 5 host not ready (a controller not updated); 6 licence\n"
    "not accepted, or no terminal to ask it on; 7 access library missing or refused, driver not\n"
    "loaded, or not run as root; 8 an unexpected failure; 9 another update is in progress on\n"
    "this computer (nothing touched).\n"
    "\n"
    "Diagnostic lines go to the system log (identifier \"VLMT 270X MP Tool\"); when\n"
    "VLM270_EVENT_LOG names a file, they are also appended to it.\n";

// The silent command line: its tokens joined as the application joins them read "/s" in any case.
bool IsSilentCommandLine(const std::string& commandLine) {
    std::string joined = JoinCommandLineTokens(commandLine);
    return joined.size() == 2 && joined[0] == '/' &&
           std::tolower(static_cast<unsigned char>(joined[1])) == 's';
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf(kUsage, kProgramName, kProgramName);
            return kExitHelp;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", kProgramName, VLM_VERSION);
            return kExitHelp;
        }
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "%s needs administrator rights: run it with sudo\n", kProgramName);
        return kExitNotAdministrator;
    }
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += " ";
        commandLine += argv[i];
    }
    const bool silent = IsSilentCommandLine(commandLine);
    if (!silent && isatty(STDIN_FILENO) != 1) {
        std::fprintf(stderr,
                     "%s: the interactive run asks for the licence and needs a terminal on "
                     "standard input; run it as \"%s /s\" for the silent mode\n",
                     kProgramName, kProgramName);
        return kExitNoTerminal;
    }

    terminal::TerminalFrontEnd frontEnd(terminal::StandardTerminalOptions(silent));
    // The program's services: the platform's, with the terminal's windows and message boxes
    // and the program's resources.
    framework::Services services;
    services.resources = &res::Resources();
    frontEnd.Provide(services);
    framework::ScopedServices installed(std::move(services));
    frontEnd.Install();
    int status = RunVlm270FWUpdate(commandLine);
    frontEnd.Uninstall();
    std::fflush(stdout);
    return status;
}
