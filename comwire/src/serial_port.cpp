// CSerialPort: opening the device, the monitor thread, the write path and the receive path.
#include "comwire/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "io_fault.h"
#include "line_settings.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "manual_event.h"
#include "platform/serial_ports.h"

namespace {

// epoll tags of the three wait sources, in wait order.
constexpr std::uint32_t kShutdownTag = 0;
constexpr std::uint32_t kWriteTag = 1;
constexpr std::uint32_t kPortTag = 2;

std::string hexOf(const std::vector<unsigned char>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

}  // namespace

CSerialPort::CSerialPort()
    : m_shutdownEvent(std::make_unique<comwire::ManualEvent>()),
      m_writeEvent(std::make_unique<comwire::ManualEvent>()) {}

CSerialPort::~CSerialPort() {
    StopMonitor();
}

bool CSerialPort::OpenComPort(platform::MessageTarget* owner, unsigned portNumber,
                              unsigned baudRate, char16_t parity, unsigned dataBits,
                              unsigned stopBitCode) {
    // Without its events the monitor thread could never be told to stop.
    if (m_shutdownEvent->fd() < 0 || m_writeEvent->fd() < 0) return false;
    m_owner.store(owner);
    m_portNumber.store(portNumber);
    std::lock_guard lock(m_portLock);
    closeHandle();
    const std::string path = platform::serialDevicePath(static_cast<int>(portNumber));
    if (path.empty()) return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // Unshared: a second opener of the same device, in this process or another, is refused.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_handleValid.store(true);
    if (!comwire::applyLineSettings(fd, baudRate, parity, dataBits, stopBitCode)) {
        logEvent(logcode::kRun, logcode::kOther,
                 "COM" + std::to_string(portNumber) + " line settings refused (" +
                     std::to_string(baudRate) + " baud, " + std::to_string(dataBits) +
                     " data bits)");
    }
    tcflush(fd, TCIOFLUSH);
    return true;
}

bool CSerialPort::StartMonitor(SerialReceiveCallback callback) {
    m_callback = std::move(callback);
    m_running.store(true);
    try {
        m_monitor = std::thread(&CSerialPort::monitorLoop, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CSerialPort::StopMonitor() {
    const bool hadThread = m_monitor.joinable();
    if (hadThread) {
        m_shutdownEvent->set();
        if (m_monitor.get_id() == std::this_thread::get_id()) {
            // Closed from inside the receive callback: the thread ends by itself once the
            // callback returns and it sees the shutdown event.
            m_monitor.detach();
            m_running.store(false);
            return true;
        }
        m_monitor.join();
    }
    m_running.store(false);
    {
        std::lock_guard lock(m_portLock);
        closeHandle();
        m_pendingWrites.clear();
    }
    m_shutdownEvent->reset();
    m_writeEvent->reset();
    return hadThread;
}

void CSerialPort::WriteToPort(const unsigned char* data, int length, bool logBytes) {
    if (data == nullptr || length <= 0 || !m_handleValid.load()) return;
    {
        std::lock_guard lock(m_portLock);
        if (!m_handleValid.load()) return;
        m_pendingWrites.push_back({std::vector<unsigned char>(data, data + length), logBytes});
    }
    m_writeEvent->set();
}

std::size_t CSerialPort::PendingWriteCount() const {
    std::lock_guard lock(m_portLock);
    return m_pendingWrites.size();
}

void CSerialPort::monitorLoop() {
    logEvent(logcode::kRun, logcode::kOther, "串口监视线程进入");
    int portFd = -1;
    {
        std::lock_guard lock(m_portLock);
        if (m_handleValid.load()) {
            tcflush(m_fd, TCIOFLUSH);
            portFd = m_fd;
        }
    }
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    if (ep < 0) {
        const int error = errno;
        logEvent(logcode::kRun, logcode::kOther,
                 "COM" + std::to_string(m_portNumber.load()) + " monitor cannot wait (errno " +
                     std::to_string(error) + ")");
        m_threadAlive.store(false);
        return;
    }
    auto watch = [ep](int fd, std::uint32_t tag, std::uint32_t events) {
        epoll_event ev{};
        ev.events = events;
        ev.data.u32 = tag;
        return fd >= 0 && epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) == 0;
    };
    watch(m_shutdownEvent->fd(), kShutdownTag, EPOLLIN);
    watch(m_writeEvent->fd(), kWriteTag, EPOLLIN);
    // Edge-triggered: the port is reported when new bytes arrive, as a received-character
    // event would be, so a backlog left unread does not wake the thread again and again.
    bool portWatched = watch(portFd, kPortTag, EPOLLIN | EPOLLET);
    bool portSignalled = portWatched;  // bytes may be waiting from before the thread ran
    // Alive once the port is purged and watched: bytes arriving from now on are delivered.
    m_threadAlive.store(true);

    while (m_running.load()) {
        if (portWatched && !m_handleValid.load()) {
            // After an I/O error only the shutdown and write-request events are waited for.
            epoll_ctl(ep, EPOLL_CTL_DEL, portFd, nullptr);
            portWatched = false;
            portSignalled = false;
        }
        epoll_event events[3];
        const int n = epoll_wait(ep, events, 3, portSignalled ? 0 : -1);
        for (int i = 0; i < n; ++i) {
            if (events[i].data.u32 == kPortTag) portSignalled = true;
        }
        if (!m_running.load()) break;
        if (m_shutdownEvent->isSet()) {
            {
                std::lock_guard lock(m_portLock);
                closeHandle();
            }
            ::close(ep);
            m_threadAlive.store(false);
            return;
        }
        if (m_writeEvent->isSet()) {
            // The port event, if any, stays remembered for the next turn.
            flushPendingWrites();
            continue;
        }
        if (portSignalled) {
            portSignalled = false;
            drainReceiveQueue();
        }
    }
    ::close(ep);
    logEvent(logcode::kRun, logcode::kOther, "串口监视线程退出.");
    m_threadAlive.store(false);
}

void CSerialPort::flushPendingWrites() {
    std::optional<ErrorBox> box;
    {
        std::lock_guard lock(m_portLock);
        m_writeEvent->reset();
        for (auto it = m_pendingWrites.begin(); it != m_pendingWrites.end();) {
            if (it->logBytes) {
                const std::string text = "串口发送:" + hexOf(it->data);
                logEvent(logcode::kRun, logcode::kOther, text);
            }
            if (!m_handleValid.load()) break;  // kept until the port is released
            if (writeRequest(*it, box) == WriteResult::Written) {
                it = m_pendingWrites.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (box) showError(*box);
}

CSerialPort::WriteResult CSerialPort::writeRequest(const WriteRequest& request,
                                                   std::optional<ErrorBox>& box) {
    // Unread input is thrown away first: a reply belongs to the request about to go out.
    // Output is not purged, so a frame written just before is never cut off.
    tcflush(m_fd, TCIFLUSH);
    const unsigned char* next = request.data.data();
    std::size_t left = request.data.size();
    const ssize_t written = ::write(m_fd, next, left);
    if (written >= 0 && static_cast<std::size_t>(written) == left) {
        if (request.logBytes) logEvent(logcode::kRun, logcode::kOther, "write ok");
        return WriteResult::Written;
    }
    const int error = written >= 0 ? EAGAIN : errno;
    const auto fault = comwire::classifyErrno(error);
    if (request.logBytes) {
        logEvent(logcode::kRun, logcode::kOther, comwire::faultName(fault));
    }
    if (fault != comwire::IoFault::Pending) {
        if (auto shown = onFault(error, "WriteFile")) box = std::move(shown);
        return WriteResult::Failed;
    }
    if (written > 0) {
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    bool done = false;
    while (!done && waitWritable()) {
        const ssize_t more = ::write(m_fd, next, left);
        if (more < 0 && errno != EAGAIN) break;
        if (more > 0) {
            next += more;
            left -= static_cast<std::size_t>(more);
        }
        done = left == 0;
    }
    if (request.logBytes) {
        logEvent(logcode::kRun, logcode::kOther,
                 done ? "write ok2" : "GetOverlappedResults() in WriteFile()");
    }
    return done ? WriteResult::Written : WriteResult::Failed;
}

bool CSerialPort::waitWritable() {
    // A write that cannot finish (a stalled line) gives way to the shutdown event.
    pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_shutdownEvent->fd(), POLLIN, 0}};
    for (;;) {
        const int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || (fds[1].revents & POLLIN)) return false;
        return (fds[0].revents & POLLOUT) != 0;
    }
}

void CSerialPort::drainReceiveQueue() {
    while (!m_shutdownEvent->isSet()) {
        int waiting = 0;
        {
            std::lock_guard lock(m_portLock);
            if (!m_handleValid.load() || ioctl(m_fd, FIONREAD, &waiting) != 0) return;
        }
        if (waiting <= 0 || waiting > kMaxSerialChunk) return;
        std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[waiting + 1]);
        if (!chunk) return;
        chunk[waiting] = 0;
        serialPortInfo info{m_portNumber.load(), 0};
        bool failed = false;
        std::optional<ErrorBox> box;
        {
            std::lock_guard lock(m_portLock);
            if (!m_handleValid.load()) return;
            const ssize_t got = ::read(m_fd, chunk.get(), static_cast<std::size_t>(waiting));
            if (got >= 0) {
                info.byteCount = static_cast<std::uint32_t>(got);
                chunk[got] = 0;
            } else {
                failed = true;
                const int error = errno;
                const auto fault = comwire::classifyErrno(error);
                if (m_serialTest.load() && fault != comwire::IoFault::Other) {
                    logEvent(logcode::kSystem, logcode::kOther, comwire::faultName(fault));
                }
                box = onFault(error, "ReadFile");
            }
        }
        if (box) showError(*box);
        if (m_callback) m_callback(info, chunk.get());
        // After a failed read the next arrival wakes the thread again; retrying now would spin.
        if (failed) return;
    }
}

std::optional<CSerialPort::ErrorBox> CSerialPort::onFault(int error, const char* operation) {
    const auto fault = comwire::classifyErrno(error);
    if (comwire::endsHandle(fault)) invalidateHandle();
    if (!comwire::showsBox(fault)) return std::nullopt;
    return ErrorBox{comwire::faultMessage(fault, m_portNumber.load(), operation),
                    std::string("COM ") + operation + " Error"};
}

void CSerialPort::invalidateHandle() {
    m_handleValid.store(false);
}

void CSerialPort::closeHandle() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_handleValid.store(false);
}

void CSerialPort::showError(const ErrorBox& box) {
    platform::Prompt* prompt = m_prompt.load();
    if (prompt == nullptr) prompt = platform::defaultPrompt();
    if (prompt != nullptr) prompt->showMessage(box.text, box.caption, platform::PromptIcon::Error);
}
