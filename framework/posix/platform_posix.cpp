#include <unistd.h>

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

bool IsPathLeadByte(unsigned char) {
    return false;
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

}  // namespace framework
