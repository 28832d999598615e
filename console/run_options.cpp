#include "console/run_options.h"

#include <algorithm>
#include <utility>

namespace {

RunOptions& Options() {
    static RunOptions s_options;
    return s_options;
}

}  // namespace

void SetRunOptions(RunOptions options) {
    Options() = std::move(options);
}

const RunOptions& CurrentRunOptions() {
    return Options();
}

bool SelectControllers(const std::vector<ControllerAddress>& selected, uint8_t& rucCount,
                       ControllerInfo (&controllers)[kMaxControllers],
                       ControllerAddress* pMissing) {
    if (selected.empty()) return true;
    for (const ControllerAddress& address : selected) {
        auto found = [&](const ControllerInfo& r) { return IsAt(r, address); };
        if (std::none_of(controllers, controllers + rucCount, found)) {
            if (pMissing != nullptr) *pMissing = address;
            return false;
        }
    }
    uint8_t ucKept = 0;
    for (uint8_t i = 0; i < rucCount; ++i) {
        auto chosen = [&](const ControllerAddress& a) { return IsAt(controllers[i], a); };
        if (std::any_of(selected.begin(), selected.end(), chosen)) {
            controllers[ucKept++] = controllers[i];
        }
    }
    for (uint8_t i = ucKept; i < rucCount; ++i) controllers[i] = ControllerInfo{};
    rucCount = ucKept;
    return true;
}
