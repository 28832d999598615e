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

// This computer's lock lives in /run, where only root can create a file (unlike /run/lock,
// which anyone may write to, so that anyone could hold the lock and keep every update away).
constexpr const char* kMachineLockFolder = "/run";
constexpr const char* kLockFileName = "vlm270fwupdate.lock";
constexpr mode_t kLockFileMode = 0600;

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
    if (folder.empty() && IsFolder(kMachineLockFolder)) folder = kMachineLockFolder;
    if (folder.empty()) {
        m_name = kLockFileName;
        return UpdateLockResult::kUnavailable;
    }
    m_name = folder + "/" + kLockFileName;
    // Never through a link, and only a regular file.
    const int fd =
        open(m_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, kLockFileMode);
    if (fd < 0) return UpdateLockResult::kUnavailable;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return UpdateLockResult::kUnavailable;
    }
    // A lock file someone else made is not ours to trust: whoever owns it could hold it, or
    // share it, and decide when updates run.
    if (st.st_uid != geteuid()) {
        close(fd);
        return UpdateLockResult::kNotOwned;
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
