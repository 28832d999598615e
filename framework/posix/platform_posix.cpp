#include <unistd.h>

#include <cstring>

#include "framework/platform.h"

namespace framework {

char PathSeparator() { return '/'; }

bool GetModulePath(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return false;
    buffer[0] = '\0';
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = '\0';
    std::strncpy(buffer, path, size - 1);
    buffer[size - 1] = '\0';
    return true;
}

}  // namespace framework
