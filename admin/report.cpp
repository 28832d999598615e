#include "admin/report.h"

namespace admin {
namespace {

// A read-only run stopped by signal N ends with 128 + N, as a shell reports it.
constexpr int kSignalStatusBase = 128;
constexpr int kSignalStatusEnd = 128 + 64;

struct Meaning {
    int status;
    const char* text;
};

// Meanings that differ from the update's in the read-only modes.
constexpr Meaning kListMeanings[] = {
    {0, "every controller found is ready to be updated"},
    {5,
     "a controller cannot be updated (flash part not identified, image larger than its "
     "flash or not openable for writing, or its backup failed)"},
};
constexpr Meaning kVerifyMeanings[] = {
    {0, "every controller holds the image"},
    {5, "a controller does not hold the image"},
};
constexpr Meaning kUpdateMeanings[] = {
    {0, "every controller updated"},
    {1, "controller not ready"},
    {2, "image not found"},
    {3, "image load failed"},
    {4, "time-out"},
    {5, "host not ready (a controller not updated)"},
    {6, "licence not accepted, or no terminal to ask it on"},
    {7, "access library missing or refused, driver not loaded, or not administrator"},
    {8, "an unexpected failure"},
    {9, "another update is in progress on this machine"},
    {64, "usage error"},
    {74, "the report could not be written"},
};

template <std::size_t N>
const char* Find(const Meaning (&table)[N], int status) {
    for (const Meaning& m : table) {
        if (m.status == status) return m.text;
    }
    return nullptr;
}

}  // namespace

std::string OutcomeText(ReportMode mode, int nExitStatus) {
    const char* text = nullptr;
    if (mode == ReportMode::kList) text = Find(kListMeanings, nExitStatus);
    if (mode == ReportMode::kVerify) text = Find(kVerifyMeanings, nExitStatus);
    if (text == nullptr) text = Find(kUpdateMeanings, nExitStatus);
    if (text == nullptr && mode != ReportMode::kUpdate && nExitStatus > kSignalStatusBase &&
        nExitStatus < kSignalStatusEnd) {
        return "stopped by signal " + std::to_string(nExitStatus - kSignalStatusBase) +
               " at a safe point";
    }
    return text != nullptr ? text : "unknown";
}

const char* ModeName(ReportMode mode) {
    switch (mode) {
        case ReportMode::kList:
            return "list";
        case ReportMode::kVerify:
            return "verify";
        case ReportMode::kUpdate:
            return "update";
    }
    return "update";
}

}  // namespace admin
