#include "programs/linux/options.h"

#include <getopt.h>
#include <sys/stat.h>

#include <algorithm>
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
    "OPTION: --image PATH, --controller BB:DD.F (repeatable), --backup DIR\n";

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
    "                        them, their flash parts, the image it would write\n"
    "  --verify              compare each controller's flash with the image:\n"
    "                        \"matches\" or \"differs at 0x...\"; nothing is written\n"
    "  --image PATH          that image instead of the folder's *.rom\n"
    "  --controller BB:DD.F  only that controller, as lspci shows it (repeatable);\n"
    "                        one not found is an error before anything is written\n"
    "  --backup DIR          save each controller's whole flash before it is\n"
    "                        erased (or when --list or --verify reads it) to\n"
    "                        DIR/<bus>-<dev>-<fn>-<part>-<UTC time>.bin; one whose\n"
    "                        backup fails is not erased\n"
    "  --json                one JSON document on standard output (--list,\n"
    "                        --verify, or a silent run)\n"
    "  --verbose             silent run: the image, each outcome and each backup\n"
    "                        on standard error\n"
    "  -h, --help, --version this text, or the version\n"
    "\n"
    "Exit status: 0 every controller updated (--list: all ready; --verify: all\n"
    "match); 1 controller not ready (none found, or a --controller not found);\n"
    "2 image not found; 3 image load failed; 4 time-out; 5 a controller not updated\n"
    "(--list: one cannot be; --verify: one differs); 6 licence not accepted, or no\n"
    "terminal to ask it on; 7 access library missing or refused, driver not loaded,\n"
    "or not run as root; 8 an unexpected failure; 9 another update is in progress;\n"
    "64 a usage error; 74 the report could not be written (the run went well);\n"
    "128+N --list or --verify stopped by signal N, with its report.\n"
    "\n"
    "Diagnostic lines and each controller's outcome go to the systemd journal (else\n"
    "syslog): journalctl -t vlm270fwupdate. When VLM270_EVENT_LOG names a file, the\n"
    "diagnostic lines are also appended to it.\n";

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

namespace {

// The options' identities for getopt_long: the short ones by their letter, the others above the
// characters.
enum OptionId : int {
    kOptHelp = 'h',
    kOptSilent = 's',
    kOptVersion = 0x100,
    kOptList,
    kOptVerify,
    kOptJson,
    kOptVerbose,
    kOptImage,
    kOptBackup,
    kOptController,
};

// Leading ':' reports a missing value apart from an unknown option; no '+': options may follow
// the other words, as with every GNU tool.
constexpr const char* kShortOptions = ":hs";
const struct option kLongOptions[] = {
    {"help", no_argument, nullptr, kOptHelp},
    {"version", no_argument, nullptr, kOptVersion},
    {"list", no_argument, nullptr, kOptList},
    {"verify", no_argument, nullptr, kOptVerify},
    {"json", no_argument, nullptr, kOptJson},
    {"verbose", no_argument, nullptr, kOptVerbose},
    {"silent", no_argument, nullptr, kOptSilent},
    {"image", required_argument, nullptr, kOptImage},
    {"backup", required_argument, nullptr, kOptBackup},
    {"controller", required_argument, nullptr, kOptController},
    {nullptr, 0, nullptr, 0},
};

// The long option's name as written, without any "=value".
std::string OptionAsWritten(const char* arg) {
    std::string text = arg != nullptr ? arg : "";
    const std::size_t equals = text.find('=');
    return equals == std::string::npos ? text : text.substr(0, equals);
}

// What a word that is no option was probably meant as, for the usage error.
std::string MeantInstead(const std::string& word) {
    ControllerAddress address;
    if (ParseControllerAddress(word, address)) {
        return "a controller is chosen with --controller " + word;
    }
    for (const struct option* o = kLongOptions; o->name != nullptr; ++o) {
        if (word == o->name) return "did you mean --" + word + "?";
    }
    const bool rom = word.size() > 4 && (word.compare(word.size() - 4, 4, ".rom") == 0 ||
                                         word.compare(word.size() - 4, 4, ".ROM") == 0);
    struct stat st {};
    if (rom || (stat(word.c_str(), &st) == 0 && S_ISREG(st.st_mode))) {
        return "to write that image, use --image " + word;
    }
    if (stat(word.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return "to back up into that folder, use --backup " + word;
    }
    return "the only word a run takes is /s (silent); everything else is an option";
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, ProgramOptions& options,
                  std::string& strError) {
    options = ProgramOptions{};
    strError.clear();
    // getopt_long works on a writable argv, which it reorders: a copy.
    std::vector<std::string> words = args;
    std::vector<char*> argv;
    static char programName[] = "vlm270fwupdate";
    argv.push_back(programName);
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(argv.size()) - 1;
    auto fail = [&strError](const std::string& error) {
        if (strError.empty()) strError = error;  // the first mistake is the one said
    };

    bool bSilentOption = false;
    opterr = 0;
    optind = 0;  // GNU: start afresh, also after an earlier parse
    for (;;) {
        int index = -1;
        const int id = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, &index);
        if (id == -1) break;
        // The option as written: a long one by its name, a short one by its letter.
        auto written = [&argv] {
            const std::string arg = argv[std::max(1, optind - 1)];
            if (arg.rfind("--", 0) == 0) return OptionAsWritten(arg.c_str());
            return std::string("-") + static_cast<char>(optopt);
        };
        switch (id) {
            case kOptHelp:
                options.bHelp = true;
                break;
            case kOptVersion:
                options.bVersion = true;
                break;
            case kOptList:
                options.bList = true;
                break;
            case kOptVerify:
                options.bVerify = true;
                break;
            case kOptJson:
                options.bJson = true;
                break;
            case kOptVerbose:
                options.bVerbose = true;
                break;
            case kOptSilent:
                bSilentOption = true;
                break;
            case kOptImage:
            case kOptBackup:
            case kOptController: {
                const std::string name = std::string("--") + kLongOptions[index].name;
                const std::string value = optarg != nullptr ? optarg : "";
                if (value.empty()) {
                    fail(name + " needs a value");
                } else if (id == kOptImage) {
                    options.strImagePath = value;
                } else if (id == kOptBackup) {
                    options.strBackupFolder = value;
                } else {
                    ControllerAddress address;
                    if (ParseControllerAddress(value, address)) {
                        options.controllers.push_back(address);
                    } else {
                        fail("--controller " + value +
                             ": not an address BB:DD.F as lspci prints it");
                    }
                }
                break;
            }
            case ':':
                fail(written() + " needs a value");
                break;
            default:  // '?': an unknown or ambiguous option
                fail("unknown option " + written());
                break;
        }
    }
    // The words that are no options form the application's command line.
    std::vector<std::string> others(argv.begin() + optind, argv.begin() + argc);
    for (std::size_t i = 0; i < others.size(); ++i) {
        if (i > 0) options.strCommandLine += " ";
        options.strCommandLine += others[i];
    }
    if (options.bHelp || options.bVersion) return true;
    if (!strError.empty()) return false;
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
    if (!others.empty() && !options.bSilent) {
        // A word that does not make the run silent would start an interactive update that
        // ignores it: say what was probably meant instead.
        const std::string& word = others.front();
        if (!word.empty() && word[0] == '-') {
            strError = "unknown option " + word;
        } else {
            strError =
                "unexpected argument \"" + options.strCommandLine + "\": " + MeantInstead(word);
        }
        return false;
    }
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
