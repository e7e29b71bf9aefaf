// The single-instance rule on an flock()ed file: the lock dies with the process, so a
// crashed console never blocks the next start.
#include "consoleapp/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace consoleapp {

std::string defaultLockFolder() {
    const char* folder = std::getenv("VANTREL_LOCK_DIR");
    if (folder && *folder) return folder;
    return "/tmp";
}

std::string programName() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.filename().empty()) return "vantrel";
    return exe.filename().string();
}

SingleInstanceLock::~SingleInstanceLock() {
    release();
}

bool SingleInstanceLock::acquire(const std::string& folder, const std::string& name) {
    release();
    const std::string path = folder + "/" + name + ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        // A file made by another user may still be readable, which is enough for flock.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) return true;  // no way to tell: the rule counts as passed
    ::fchmod(fd, 0666);       // let every user's console take the same lock (may fail)
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return !busy;
    }
    m_fd = fd;
    return true;
}

void SingleInstanceLock::release() {
    if (m_fd < 0) return;
    ::close(m_fd);  // closing the descriptor drops the lock
    m_fd = -1;
}

}  // namespace consoleapp
