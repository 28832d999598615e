#include "programs/linux/options.h"

#include <cctype>
#include <cstdlib>

#include "app/vlm270fwupdate_app.h"

namespace cli {
namespace {

constexpr const char* kSynopsis =
    "Usage: vlm270fwupdate [-s | /s] [--json] [--verbose] [OPTION]...\n"
    "       vlm270fwupdate --list [--json] [OPTION]...\n"
    "       vlm270fwupdate --verify [--json] [OPTION]...\n"
    "       vlm270fwupdate --help | --version\n"
    "OPTION: --image PATH, --controller BB:DD.F (repeatable), --backup DIR, --force\n";

constexpr const char* kDescription =
    "\n"
    "Rewrites the option-ROM firmware in the SPI flash of every 270X SATA/PATA\n"
    "controller of this computer (up to four) with the image (*.rom) in the\n"
    "program's folder, then offers to restart the computer. Run it as root; the PCI\n"
    "access library libvlmio.so is loaded from the program's folder. The library\n"
    "(the file a link leads to), its folder and the program's folder must be owned\n"
    "by root and not writable by group or others, and so must every folder above\n"
    "them up to / (unless sticky, as /tmp); else the run ends with exit status 7.\n"
    "\n"
    "  (no argument)         interactive: the licence (License_Agreement.rtf) must\n"
    "                        be accepted, the controllers and their progress are\n"
    "                        shown, a restart is offered at the end\n"
    "  -s, --silent, /s      silent: no licence, no window, no restart; failure\n"
    "                        messages still go to standard error\n"
    "  --list                read-only probe: the controllers as the update finds\n"
    "                        them, their flash parts, what each flash holds, the\n"
    "                        image it would write and whether it is current\n"
    "  --verify              compare each controller's flash with the image:\n"
    "                        \"matches\" or \"differs at 0x...\"; nothing is written\n"
    "  --image PATH          that image instead of the folder's *.rom\n"
    "  --controller BB:DD.F  only that controller, as lspci shows it (repeatable);\n"
    "                        one not found is an error before anything is written\n"
    "  --backup DIR          save each controller's whole flash before it is\n"
    "                        erased (or when --list or --verify reads it) to\n"
    "                        DIR/<bus>-<dev>-<fn>-<part>-<UTC time>.rom; one whose\n"
    "                        backup fails is not erased\n"
    "  --force               write an image that is not a well-formed option ROM,\n"
    "                        or not made for a controller, and say so\n"
    "  --json                one JSON document on standard output (--list,\n"
    "                        --verify, or a silent run)\n"
    "  --verbose             silent run: the image, each outcome and each backup\n"
    "                        on standard error\n"
    "  --help, --version     this text, or the version\n"
    "\n"
    "Exit status: 0 every controller updated (--list: all ready; --verify: all\n"
    "match); 1 controller not ready (none found, or a --controller not found);\n"
    "2 image not found; 3 image load failed, or not a well-formed option ROM;\n"
    "4 time-out; 5 a controller not updated (--list: one cannot be, for instance\n"
    "an image made for another device; --verify: one differs); 6 licence not\n"
    "accepted, or no terminal to ask it on; 7 access library missing or refused,\n"
    "driver not loaded, or not run as root; 8 an unexpected failure; 9 another\n"
    "update is in progress; 64 a usage error; 74 the report could not be written\n"
    "(the run went well).\n"
    "\n"
    "Diagnostic lines and each controller's outcome go to the systemd journal (else\n"
    "syslog): journalctl -t vlm270fwupdate. When VLM270_EVENT_LOG names a file, the\n"
    "diagnostic lines are also appended to it.\n";

// Takes the value of a value option: "--name=value", or the next argument.
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
               std::string& value, std::string& strError) {
    const std::string& arg = args[i];
    if (arg.size() > name.size() && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
    } else if (i + 1 < args.size()) {
        value = args[++i];
    } else {
        strError = name + " needs a value";
        return false;
    }
    if (value.empty()) {
        strError = name + " needs a value";
        return false;
    }
    return true;
}

// Whether the argument is the option, alone or as "--name=value".
bool Is(const std::string& arg, const std::string& name) {
    return arg == name || arg.rfind(name + "=", 0) == 0;
}

bool ParseHexNumber(const std::string& text, unsigned max, uint8_t& value) {
    if (text.empty() || text.size() > 2) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    unsigned long n = std::strtoul(text.c_str(), nullptr, 16);
    if (n > max) return false;
    value = static_cast<uint8_t>(n);
    return true;
}

}  // namespace

bool ParseControllerAddress(const std::string& text, ControllerAddress& address) {
    std::string rest = text;
    constexpr const char* kDomain = "0000:";
    if (rest.size() == 12 && rest.rfind(kDomain, 0) == 0) rest = rest.substr(5);
    // BB:DD.F
    if (rest.size() != 7 || rest[2] != ':' || rest[5] != '.') return false;
    constexpr unsigned kMaxBus = 0xFF;
    constexpr unsigned kMaxDevice = 0x1F;
    constexpr unsigned kMaxFunction = 0x7;
    return ParseHexNumber(rest.substr(0, 2), kMaxBus, address.ucBus) &&
           ParseHexNumber(rest.substr(3, 2), kMaxDevice, address.ucDevice) &&
           ParseHexNumber(rest.substr(6, 1), kMaxFunction, address.ucFunction);
}

bool IsSilentCommandLine(const std::string& strCommandLine) {
    std::string joined = JoinCommandLineTokens(strCommandLine);
    return joined.size() == 2 && joined[0] == '/' &&
           std::tolower(static_cast<unsigned char>(joined[1])) == 's';
}

bool ParseOptions(const std::vector<std::string>& args, ProgramOptions& options,
                  std::string& strError) {
    options = ProgramOptions{};
    std::vector<std::string> others;
    bool bOptionsEnded = false;
    bool bSilentOption = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (bOptionsEnded || arg.empty() || arg[0] != '-') {
            others.push_back(arg);
        } else if (arg == "--") {
            bOptionsEnded = true;
        } else if (arg == "--help") {
            options.bHelp = true;
        } else if (arg == "--version") {
            options.bVersion = true;
        } else if (arg == "--list") {
            options.bList = true;
        } else if (arg == "--verify") {
            options.bVerify = true;
        } else if (arg == "--json") {
            options.bJson = true;
        } else if (arg == "--verbose") {
            options.bVerbose = true;
        } else if (arg == "--force") {
            options.bForce = true;
        } else if (arg == "-s" || arg == "--silent") {
            bSilentOption = true;
        } else if (Is(arg, "--image")) {
            if (!TakeValue(args, i, "--image", options.strImagePath, strError)) return false;
        } else if (Is(arg, "--backup")) {
            if (!TakeValue(args, i, "--backup", options.strBackupFolder, strError)) return false;
        } else if (Is(arg, "--controller")) {
            std::string value;
            if (!TakeValue(args, i, "--controller", value, strError)) return false;
            ControllerAddress address;
            if (!ParseControllerAddress(value, address)) {
                strError = "--controller " + value + ": not an address BB:DD.F as lspci prints it";
                return false;
            }
            options.controllers.push_back(address);
        } else {
            strError = "unknown option " + arg;
            return false;
        }
    }
    for (std::size_t i = 0; i < others.size(); ++i) {
        if (i > 0) options.strCommandLine += " ";
        options.strCommandLine += others[i];
    }
    if (options.bHelp || options.bVersion) return true;
    if (options.bList && options.bVerify) {
        strError = "--list and --verify do not go together";
        return false;
    }
    const bool bReadOnly = options.bList || options.bVerify;
    if (bSilentOption && !others.empty()) {
        strError = "-s takes the place of the command line \"/s\": no other arguments go with it";
        return false;
    }
    if (bReadOnly && (bSilentOption || !others.empty())) {
        strError = std::string(options.bList ? "--list" : "--verify") +
                   " runs on its own: no /s and no other arguments";
        return false;
    }
    options.bSilent = bSilentOption || IsSilentCommandLine(options.strCommandLine);
    if (bSilentOption) options.strCommandLine = "/s";
    if (options.bJson && !bReadOnly && !options.bSilent) {
        strError = "--json goes with --list, --verify or a silent run (-s)";
        return false;
    }
    return true;
}

std::string UsageSynopsis() {
    return kSynopsis;
}

std::string UsageText() {
    return std::string(kSynopsis) + kDescription;
}

}  // namespace cli
