// SIGTERM, SIGINT and SIGHUP end the event loops the way closing the main window does, so
// the program stops its modules in order and flushes its log before it exits.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace consoleapp {

// While this object lives, the three signals are caught by a handler that only writes the
// signal number into a pipe; the pipe wakes a QSocketNotifier, and `onSignal` runs on the
// thread of the event loop. The default action exits every running event loop with status
// 0 (QCoreApplication::exit), so it serves a window-less program too. One instance at a time;
// the previous handlers come back when it is destroyed.
class UnixSignalStop : public QObject {
public:
    explicit UnixSignalStop(std::function<void(int signal)> onSignal = {},
                            QObject* parent = nullptr);
    ~UnixSignalStop() override;
    UnixSignalStop(const UnixSignalStop&) = delete;
    UnixSignalStop& operator=(const UnixSignalStop&) = delete;

    // False when the pipe or a handler could not be set up (the signals then act as before).
    bool installed() const { return m_installed; }

private:
    void drain();

    std::function<void(int)> m_onSignal;
    int m_readFd = -1;
    int m_writeFd = -1;
    QSocketNotifier* m_notifier = nullptr;
    bool m_installed = false;
};

}  // namespace consoleapp
