// The update lock on Linux: a non-blocking exclusive flock on a file, which the kernel drops when
// the process ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "framework/update_lock.h"

namespace framework {
namespace {

// This computer's lock lives in the first of these folders that exists.
constexpr const char* kMachineLockFolders[] = {"/run/lock", "/run"};
constexpr const char* kLockFileName = "vlm270fwupdate.lock";
constexpr mode_t kLockFileMode = 0644;

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

UpdateLock::~UpdateLock() {
    Release();
}

void UpdateLock::Release() {
    if (m_handle >= 0) close(static_cast<int>(m_handle));
    m_handle = -1;
}

UpdateLockResult UpdateLock::Take(const std::string& scope) {
    Release();
    std::string folder = scope;
    if (folder.empty()) {
        for (const char* candidate : kMachineLockFolders) {
            if (IsFolder(candidate)) {
                folder = candidate;
                break;
            }
        }
    }
    if (folder.empty()) {
        m_name = kLockFileName;
        return UpdateLockResult::kUnavailable;
    }
    m_name = folder + "/" + kLockFileName;
    // Never through a link, and only a regular file: the machine's lock folder is writable by
    // everyone (sticky).
    const int fd =
        open(m_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, kLockFileMode);
    if (fd < 0) return UpdateLockResult::kUnavailable;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return UpdateLockResult::kUnavailable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held ? UpdateLockResult::kHeldElsewhere : UpdateLockResult::kUnavailable;
    }
    m_handle = fd;
    return UpdateLockResult::kTaken;
}

}  // namespace framework
