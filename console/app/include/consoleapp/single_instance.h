// One running console per user and program name: an exclusive lock on a file named after it.
#pragma once

#include <sys/types.h>
#include <string>

namespace consoleapp {

// The folder of the lock files: `runtimeDir` ($XDG_RUNTIME_DIR) when it names a folder, else
// "<tmpBase>/vantrel-<uid>", created 0700 when missing. Empty, with `problem` set, when that
// folder is not a real folder of this user or is open to others.
std::string lockFolderFor(const char* runtimeDir, const std::string& tmpBase, uid_t uid,
                          std::string& problem);
// A lock folder given on the command line: created 0700 when missing (one level). Empty, with
// `problem` set, when it neither exists as a folder nor can be made.
std::string ensureLockFolder(const std::string& folder, std::string& problem);
// lockFolderFor with the environment, "/tmp" and the effective user.
std::string defaultLockFolder(std::string& problem);
// The running executable's file name ("vantrel").
std::string programName();

enum class LockResult {
    Held,         // this object holds the lock
    Busy,         // another console holds it
    Refused,      // the lock file is a symlink, not a regular file or another user's
    Unavailable,  // no lock file can be opened there: the start is refused
};

class SingleInstanceLock {
public:
    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Locks "<folder>/<name>.lock" for the life of this object. The file is created 0600 and
    // never followed through a symlink; problem() says why a file was refused or unavailable.
    LockResult acquire(const std::string& folder, const std::string& name);
    bool held() const { return m_fd >= 0; }
    const std::string& problem() const { return m_problem; }
    void release();

private:
    int m_fd = -1;
    std::string m_problem;
};

}  // namespace consoleapp
