// One running console per program name: an exclusive lock on a file named after it.
#pragma once

#include <string>

namespace consoleapp {

// The folder of the lock files: $VANTREL_LOCK_DIR when set, else /tmp (one console per
// machine: the device port is machine-wide too).
std::string defaultLockFolder();
// The running executable's file name ("vantrel").
std::string programName();

class SingleInstanceLock {
public:
    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Locks "<folder>/<name>.lock" for the life of this object. False only when another
    // holder has it; a lock file that cannot be opened at all lets the start go on.
    bool acquire(const std::string& folder, const std::string& name);
    bool held() const { return m_fd >= 0; }
    void release();

private:
    int m_fd = -1;
};

}  // namespace consoleapp
