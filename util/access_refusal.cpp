#include "util/access_refusal.h"

#include <cerrno>
#include <cstring>

namespace {

struct ErrnoName {
    int nErrno;
    const char* name;
};

// The refusals an access to configuration space meets, by name.
constexpr ErrnoName kErrnoNames[] = {
    {EPERM, "EPERM"},   {EACCES, "EACCES"}, {EIO, "EIO"},       {ENODEV, "ENODEV"},
    {ENOENT, "ENOENT"}, {ENXIO, "ENXIO"},   {EINVAL, "EINVAL"}, {EBUSY, "EBUSY"},
};

}  // namespace

std::string AccessErrorText(int nErrno) {
    std::string text = std::strerror(nErrno);
    for (const ErrnoName& e : kErrnoNames) {
        if (e.nErrno == nErrno) return text + " (" + e.name + ")";
    }
    return text + " (errno " + std::to_string(nErrno) + ")";
}

std::string WritesRefusedText(int nErrno) {
    return "this computer's kernel refuses every write to PCI configuration space (" +
           AccessErrorText(nErrno) +
           "). It is locked down (/sys/kernel/security/lockdown shows [integrity] or "
           "[confidentiality]), as it is when Secure Boot is on, so no flash can be written and "
           "a restart does not change that. Update from a kernel booted without lockdown (turn "
           "Secure Boot off in the firmware set-up), or with the Windows program.";
}

std::string RefusedAccessProblem(int nErrno) {
    return "the computer refused an access to its configuration space: " + AccessErrorText(nErrno);
}
