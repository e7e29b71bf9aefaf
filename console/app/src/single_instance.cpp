// The single-instance rule on an flock()ed file: the lock dies with the process, so a
// crashed console never blocks the next start. The file lives in a folder of the user's own
// and is never opened through a link another user may have planted.
#include "consoleapp/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/executable_path.h"

namespace consoleapp {

namespace {

// Why the file at `path`, already open or not, may not be used; empty when it may.
std::string unsafeBecause(const struct stat& st, uid_t uid) {
    if (S_ISLNK(st.st_mode)) return "it is a symbolic link";
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (st.st_uid != uid)
        return "it belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    return {};
}

}  // namespace

std::string lockFolderFor(const char* runtimeDir, const std::string& tmpBase, uid_t uid,
                          std::string& problem) {
    problem.clear();
    struct stat st {};
    if (runtimeDir && runtimeDir[0] == '/' && ::stat(runtimeDir, &st) == 0 && S_ISDIR(st.st_mode)) {
        return runtimeDir;
    }
    const std::string folder = tmpBase + "/vantrel-" + std::to_string(uid);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = folder + ": " + std::strerror(errno);
        return {};
    }
    // Whoever made it, it must be a real folder of ours that nobody else can write to.
    if (::lstat(folder.c_str(), &st) != 0) {
        problem = folder + ": " + std::strerror(errno);
        return {};
    }
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
        problem = folder + " is not a folder";
    } else if (st.st_uid != uid) {
        problem = folder + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        problem = folder + " is writable by other users";
    }
    return problem.empty() ? folder : std::string();
}

std::string ensureLockFolder(const std::string& folder, std::string& problem) {
    problem.clear();
    // One level only, private to the user, as the default folder is made; a missing parent
    // is a mistyped path, not something to create.
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = folder + ": " + std::strerror(errno);
        return {};
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        problem = folder + " is not a folder";
        return {};
    }
    return folder;
}

std::string defaultLockFolder(std::string& problem) {
    return lockFolderFor(std::getenv("XDG_RUNTIME_DIR"), "/tmp", ::geteuid(), problem);
}

std::string programName() {
    const std::filesystem::path exe = platform::executablePath();
    if (exe.filename().empty()) return "vantrel";
    return exe.filename().string();
}

SingleInstanceLock::~SingleInstanceLock() {
    release();
}

LockResult SingleInstanceLock::acquire(const std::string& folder, const std::string& name) {
    release();
    m_problem.clear();
    const std::string path = folder + "/" + name + ".lock";
    const uid_t uid = ::geteuid();
    // O_NOFOLLOW: a planted symlink fails with ELOOP instead of creating or opening its target.
    // O_NONBLOCK: a planted FIFO cannot stall the start.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        const int error = errno;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            const std::string why = unsafeBecause(st, uid);
            if (!why.empty()) {
                m_problem = path + ": " + why;
                return LockResult::Refused;
            }
        }
        m_problem = path + ": " + std::strerror(error);
        return LockResult::Unavailable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        m_problem = path + ": " + std::strerror(errno);
        ::close(fd);
        return LockResult::Unavailable;
    }
    if (const std::string why = unsafeBecause(st, uid); !why.empty()) {
        m_problem = path + ": " + why;
        ::close(fd);
        return LockResult::Refused;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return LockResult::Busy;
        m_problem = path + ": " + std::strerror(error);
        return LockResult::Unavailable;
    }
    m_fd = fd;
    return LockResult::Held;
}

void SingleInstanceLock::release() {
    if (m_fd < 0) return;
    ::close(m_fd);  // closing the descriptor drops the lock
    m_fd = -1;
}

}  // namespace consoleapp
