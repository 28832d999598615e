#include <windows.h>

#include "framework/thread.h"

namespace framework {

bool RequestCurrentThreadPriority(ThreadPriority priority) {
    int value = THREAD_PRIORITY_NORMAL;
    if (priority == ThreadPriority::kHighest) value = THREAD_PRIORITY_HIGHEST;
    if (priority == ThreadPriority::kTimeCritical) value = THREAD_PRIORITY_TIME_CRITICAL;
    return SetThreadPriority(GetCurrentThread(), value) != 0;
}

}  // namespace framework
