// The program as the platform's entry point runs it.
#pragma once

#include <string>

inline constexpr const char* kModulePathTooLongText =
    "The program's path is too long (254 characters at most). Move the program folder to a "
    "shorter path and start it again.";

// Runs the program with its command line (the arguments after the program's name, as one
// text) and returns the process exit status. Refuses (with a message) a program path that does
// not fit (8) and an access library that is missing, refused or incomplete (7); otherwise the
// access library is loaded from the program's folder and the application runs.
int RunVlm270FWUpdate(const std::string& strCommandLine);
