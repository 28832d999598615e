// Windows: the writing thread's execution state keeps the system from sleeping while it holds.
#include "framework/win32/win32_headers.h"

#include "framework/keep_awake.h"

namespace framework {
namespace {

class ExecutionStateKeepAwake final : public KeepAwakeBackend {
public:
    bool Begin() override {
        return SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    }
    void End() override { SetThreadExecutionState(ES_CONTINUOUS); }
};

}  // namespace

KeepAwakeBackend& PlatformKeepAwake() {
    static ExecutionStateKeepAwake keepAwake;
    return keepAwake;
}

}  // namespace framework
