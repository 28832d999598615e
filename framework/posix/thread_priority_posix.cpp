// Thread priorities are requested on Windows only: here every thread keeps the normal one.
#include "framework/thread.h"

namespace framework {

bool RequestCurrentThreadPriority(ThreadPriority priority) {
    (void)priority;
    return true;
}

}  // namespace framework
