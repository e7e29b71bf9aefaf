// Spawns the alert command with a pipe on its standard input and waits for it through a
// process descriptor, so the wait has a deadline and needs no polling.
#include "command_target.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace alerts {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Writes everything unless the reader goes away or the deadline passes.
bool writeAll(int fd, const std::string& data, Clock::time_point deadline) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;  // EPIPE: the program did not read it all
        pollfd out{fd, POLLOUT, 0};
        if (::poll(&out, 1, remainingMs(deadline)) <= 0) return false;
    }
    return true;
}

// Whether the child ended before the deadline (it is not reaped here). Without process
// descriptors (kernels before 5.3) the caller waits without a deadline.
bool exitsBy(pid_t child, Clock::time_point deadline) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (pidfd < 0) return true;
    pollfd exited{pidfd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&exited, 1, remainingMs(deadline));
    } while (ready < 0 && errno == EINTR);
    ::close(pidfd);
    return ready > 0;
}

}  // namespace

CommandTarget::CommandTarget(std::vector<std::string> argv) : m_argv(std::move(argv)) {}

bool CommandTarget::deliver(const std::string& json, std::chrono::milliseconds timeout,
                            std::string& why) {
    const auto deadline = Clock::now() + timeout;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        why = std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
    std::vector<char*> argv;
    for (std::string& arg : m_argv) argv.push_back(arg.data());
    argv.push_back(nullptr);
    // The child starts with default signal handling and no blocked signals, whatever the
    // delivery thread has (it blocks SIGPIPE).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = -1;
    int spawned = 0;
    {
        std::lock_guard lock(m_mutex);
        spawned = m_aborted
                      ? ECANCELED
                      : posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
        if (spawned == 0) m_child = child;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[0]);
    if (spawned != 0) {
        ::close(pipeFds[1]);
        why = m_argv.front() + ": " + std::strerror(spawned);
        return false;
    }
    ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    const bool written = writeAll(pipeFds[1], json, deadline);
    ::close(pipeFds[1]);
    const bool exited = exitsBy(child, deadline);
    bool aborted = false;
    {
        // Reaped only after this: a kill from abort() never reaches a recycled process id.
        std::lock_guard lock(m_mutex);
        if (!exited) ::kill(child, SIGKILL);
        m_child = -1;
        aborted = m_aborted;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (aborted) {
        why = "stopped";
        return false;
    }
    if (!exited) {
        why = "no exit within " + std::to_string(timeout.count()) + " ms";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        why = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                : "killed by signal " + std::to_string(WTERMSIG(status));
        return false;
    }
    if (!written) {
        why = "the program did not read the whole alert";
        return false;
    }
    return true;
}

void CommandTarget::abort() {
    std::lock_guard lock(m_mutex);
    m_aborted = true;
    if (m_child > 0) ::kill(m_child, SIGKILL);
}

}  // namespace alerts
