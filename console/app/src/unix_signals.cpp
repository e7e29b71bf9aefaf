// The self-pipe pattern: the handler does one write(2), which is async-signal-safe; the rest
// happens in the event loop.
#include "consoleapp/unix_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace consoleapp {

namespace {

constexpr std::array<int, 3> kStopSignals = {SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t g_writeFd = -1;
std::array<struct sigaction, kStopSignals.size()> g_previous{};

extern "C" void onStopSignal(int signal) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // Non-blocking: a full pipe already holds a wake-up, so a lost byte loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(g_writeFd, &number, 1);
    errno = savedErrno;
}

void stopAllLoops(int signal) {
    std::fprintf(stderr, "vantrel: %s received, stopping\n", ::strsignal(signal));
    QCoreApplication::exit(0);
}

}  // namespace

UnixSignalStop::UnixSignalStop(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(onSignal ? std::move(onSignal) : stopAllLoops) {
    int fds[2];
    if (g_writeFd >= 0 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_readFd = fds[0];
    m_writeFd = fds[1];
    g_writeFd = m_writeFd;
    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalStop::drain);

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_installed = true;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (::sigaction(kStopSignals[i], &action, &g_previous[i]) != 0) m_installed = false;
    }
}

UnixSignalStop::~UnixSignalStop() {
    if (m_writeFd < 0) return;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
    }
    g_writeFd = -1;
    delete m_notifier;
    ::close(m_readFd);
    ::close(m_writeFd);
}

void UnixSignalStop::drain() {
    unsigned char numbers[64];
    const ssize_t n = ::read(m_readFd, numbers, sizeof numbers);
    // Several signals in a row stop once; the first one names the reason.
    if (n > 0) m_onSignal(numbers[0]);
}

}  // namespace consoleapp
