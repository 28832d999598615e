// The application object: builds the main dialog, hands it the command line and runs it.
#pragma once

#include <string>

#include "framework/win_app.h"

inline constexpr const char* kProfileRegistryKey = "Local AppWizard-Generated Applications";
// The command line's token delimiters: underscore, tab and line feed (not space).
inline constexpr const char* kCommandLineDelimiters = "_\t\n";
// The common control classes registered at start: structure size and class set.
inline constexpr uint32_t kCommonControlsSize = 8;
inline constexpr uint32_t kCommonControlsClasses = 0xFF;

// Splits the command line at the delimiters (runs of them count as one, as strtok does) and
// joins the tokens with nothing between them.
std::string JoinCommandLineTokens(const std::string& strCommandLine);

class CVLM270FWUpdateApp : public framework::WinApp {
public:
    CVLM270FWUpdateApp();
    ~CVLM270FWUpdateApp() override;

    // Runs the whole program inside the main dialog; returns false.
    bool InitInstance() override;
    // The process exit status: the outcome the run recorded.
    int ExitInstance() override;
};

// The application object (built with the other process-wide objects, in their order).
extern CVLM270FWUpdateApp theApp;
