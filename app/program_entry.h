// The program as the platform's entry point runs it.
#pragma once

#include <functional>
#include <string>

inline constexpr const char* kModulePathTooLongText =
    "The program's path is too long (254 characters at most). Move the program folder to a "
    "shorter path and start it again.";

// Runs the program with its command line (the arguments after the program's name, as one
// text) and returns the process exit status. Refuses (with a message) a program path that does
// not fit (8) and an access library that is missing, refused or incomplete (7); otherwise the
// access library is loaded from the program's folder and the application runs.
int RunVlm270FWUpdate(const std::string& strCommandLine);

// Runs fnRun with the access library of the program's folder loaded and reachable through the
// installed services, as the run has it, and returns what fnRun returns. Refuses, as the run
// does, a program path that does not fit (8) and an access library that is missing, refused or
// incomplete (7). A run that writes (bWrites) is refused too (7, with the cause and the way out)
// when the kernel refuses every configuration write, before any controller is touched. The
// driver's load and unload are fnRun's.
int RunWithAccessLibrary(const std::function<int()>& fnRun, bool bWrites = true);
