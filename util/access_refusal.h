// How the system names an access to configuration space that the computer refused: the kernel's
// refusal of every write (its lockdown), and one controller's refused access mid-run.
#pragma once

#include <string>

// "Operation not permitted (EPERM)": the system's text of an errno, with its name where it is
// one an access to configuration space meets.
std::string AccessErrorText(int nErrno);

// Why an update cannot run on a computer whose kernel refuses every configuration write, and
// the ways out ("this computer's kernel refuses every write ... with the Windows program.").
std::string WritesRefusedText(int nErrno);

// The problem of a controller one of whose accesses was refused, as its problem line, the
// report and the journal name it: "the computer refused an access to its configuration space:
// Operation not permitted (EPERM)".
std::string RefusedAccessProblem(int nErrno);
