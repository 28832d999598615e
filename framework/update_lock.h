// One update at a time per machine: a lock the program holds while it may touch the controllers,
// which a second run finds taken.
#pragma once

#include <cstdint>
#include <string>

namespace framework {

// What taking the lock found.
enum class UpdateLockResult {
    kTaken,          // this process holds the lock now
    kHeldElsewhere,  // another process holds it: another update is in progress
    kUnavailable,    // the lock could not be made (no folder or name for it)
    kNotOwned,       // the lock file belongs to another user than the one running the program
};

// The update lock, held from a successful Take until the object goes; the system releases it
// when the process ends, however it ends.
class UpdateLock {
public:
    UpdateLock() = default;
    ~UpdateLock();
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

    // Takes the lock without waiting. An empty scope is this computer's one lock (Linux: a file
    // in /run, mode 0600, which must belong to the user running the program, root; Windows: a
    // named mutex in the Global\ namespace); a folder is the lock of the emulated machine kept
    // there.
    UpdateLockResult Take(const std::string& scope);
    // Where the lock is (a file or a mutex name), once Take was called.
    const std::string& Name() const { return m_name; }

private:
    void Release();

    intptr_t m_handle = -1;
    std::string m_name;
};

}  // namespace framework
