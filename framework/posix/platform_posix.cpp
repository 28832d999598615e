#include <unistd.h>

#include <cstring>
#include <vector>

#include "framework/platform.h"

namespace framework {

namespace {
constexpr const char* kSelfExeLink = "/proc/self/exe";
constexpr std::size_t kFirstPathGuess = 4096;
constexpr std::size_t kLongestPathGuess = 1 << 20;
}  // namespace

char PathSeparator() {
    return '/';
}

std::string ModulePath() {
    // readlink does not say how long the target is: grow the buffer until it fits.
    for (std::size_t size = kFirstPathGuess; size <= kLongestPathGuess; size *= 2) {
        std::vector<char> path(size);
        ssize_t n = readlink(kSelfExeLink, path.data(), size);
        if (n <= 0) return {};
        if (static_cast<std::size_t>(n) < size) return std::string(path.data(), n);
    }
    return {};
}

bool GetModulePath(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return false;
    buffer[0] = '\0';
    std::string path = ModulePath();
    if (path.empty()) return false;
    std::strncpy(buffer, path.c_str(), size - 1);
    buffer[size - 1] = '\0';
    return true;
}

}  // namespace framework
