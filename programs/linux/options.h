// The Linux program's command line: its options, and the arguments that form the application's
// command line ("/s" for silent mode), with the usage text.
#pragma once

#include <string>
#include <vector>

#include "util/controller_info.h"

namespace cli {

inline constexpr const char* kProgramName = "vlm270fwupdate";
// The exit status of a usage error (EX_USAGE).
inline constexpr int kExitUsage = 64;

struct ProgramOptions {
    bool bHelp = false;
    bool bVersion = false;
    bool bList = false;
    bool bVerify = false;
    bool bJson = false;
    bool bVerbose = false;
    bool bForce = false;   // write an image the option-ROM check refuses
    bool bSilent = false;  // -s or --silent, or a command line that reads "/s"
    std::string strBackupFolder;
    std::string strImagePath;
    std::vector<ControllerAddress> controllers;
    std::string strCommandLine;  // the other arguments joined with single spaces
};

// Parses the arguments after the program's name. False, with what is wrong in strError, for an
// argument that starts with '-' and is not an option of the program, an option without its
// value, a bad controller address, or options that do not go together.
bool ParseOptions(const std::vector<std::string>& args, ProgramOptions& options,
                  std::string& strError);

// "BB:DD.F" or "0000:BB:DD.F", in hexadecimal as lspci prints it.
bool ParseControllerAddress(const std::string& text, ControllerAddress& address);

// Whether the command line's tokens, joined as the application joins them, read "/s" in any case.
bool IsSilentCommandLine(const std::string& strCommandLine);

// The whole usage text (--help), and its first lines (after a usage error).
std::string UsageText();
std::string UsageSynopsis();

}  // namespace cli
