// Receive path, heartbeat supervision and the service's start and stop.
#include "link_service.h"

#include "logbase/logbase.h"
#include "net_address.h"
#include "platform/prompt.h"
#include "protocol/device_frames.h"
#include "public/data_path.h"

namespace lanwire {

namespace {

void showPrompt(const char* text) {
    if (platform::Prompt* prompt = platform::defaultPrompt()) prompt->showMessage(text);
}

}  // namespace

CLinkService& linkService() {
    static CLinkService service;
    return service;
}

CLinkService::CLinkService() = default;

CLinkService::~CLinkService() {
    cancel();
}

void CLinkService::setOptions(const LanwireOptions& options) {
    std::lock_guard<std::mutex> guard(m_optionsLock);
    m_options = options;
}

LanwireOptions CLinkService::options() const {
    std::lock_guard<std::mutex> guard(m_optionsLock);
    return m_options;
}

bool CLinkService::init(std::uint16_t port, LanwireRecvCallback callback) {
    std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    if (m_running) return false;
    const LanwireOptions options = this->options();
    const std::string folder =
        options.programFolder.empty() ? GetDataPath() : options.programFolder;
    m_recvDump.open(folder + "testNote.ini", options.dumpFileLimit);
    m_sendDump.open(folder + "sendNote.ini", options.dumpFileLimit);
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        m_counterStart = options.heartbeatCounterStart;
    }
    m_callback = std::move(callback);
    m_running = true;
    m_ticks = 0;
    m_recvQueue.start();
    {
        std::lock_guard<std::mutex> guard(m_heartbeatWaitLock);
        m_heartbeatStop = false;
    }
    try {
        m_dispatchThread = std::thread([this] { dispatchLoop(); });
    } catch (const std::system_error&) {
        showPrompt("开启接收处理线程失败!");
        stopThreads();
        return false;
    }
    try {
        // The period starts now, not whenever the new thread first runs.
        const auto periodStart = options.clock ? options.clock() : std::chrono::steady_clock::now();
        m_heartbeatThread =
            std::thread([this, options, periodStart] { heartbeatLoop(options, periodStart); });
    } catch (const std::system_error&) {
        showPrompt("开启在线监测线程失败!");
        stopThreads();
        return false;
    }
    m_server.setAddressHandler([this](const sockaddr_in& peer) { onAddress(peer); });
    ServerConfig config;
    config.ioThreads = options.ioThreads;
    config.sendGap = options.sendGap;
    config.heartbeatGap = options.heartbeatGap;
    config.partialFrameTimeout = options.partialFrameTimeout;
    config.acceptBackoff = options.acceptBackoff;
    // A connection that never registered gets no heartbeat, so nothing would ever tell a dead
    // one apart: keepalive probes it on the supervision's own time scale. A device that
    // rebooted answers the first probe with a reset, which frees its address.
    const auto tickSeconds = std::chrono::ceil<std::chrono::seconds>(options.tickPeriod);
    config.keepaliveIdle = std::max(std::chrono::seconds(1), tickSeconds);
    config.keepaliveProbes = std::max(1, options.heartbeatCounterStart);
    config.clock = options.clock;
    config.onFrameWritten = options.onFrameWritten;
    const bool started = m_server.start(
        port,
        [this](std::span<const std::uint8_t> frame, const sockaddr_in& peer) {
            onFrame(frame, peer);
        },
        config);
    if (!started) {
        // Nothing can arrive without the server: end the threads so that a later start works.
        stopThreads();
    }
    return started;
}

bool CLinkService::cancel() {
    std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    m_server.stop();
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        m_tickTable.clear();
    }
    stopThreads();
    return true;
}

void CLinkService::stopThreads() {
    m_running = false;
    m_recvQueue.stop();
    {
        std::lock_guard<std::mutex> guard(m_heartbeatWaitLock);
        m_heartbeatStop = true;
    }
    m_heartbeatWake.notify_all();
    for (std::thread* thread : {&m_dispatchThread, &m_heartbeatThread}) {
        if (!thread->joinable()) continue;
        // The receive callback may itself stop the link: it cannot wait for its own thread.
        if (thread->get_id() == std::this_thread::get_id()) {
            thread->detach();
        } else {
            thread->join();
        }
    }
    m_recvQueue.clear();
    m_recvDump.close();
    m_sendDump.close();
}

bool CLinkService::send(const std::uint8_t* data, std::uint32_t length,
                        const sockaddr_in& destination) {
    if (data == nullptr && length > 0) return false;
    return m_server.queueSend(std::span<const std::uint8_t>(data, length), destination);
}

bool CLinkService::doNetReg(std::uint32_t deviceId, const sockaddr_in* address) {
    if (address == nullptr) return true;
    const auto id = static_cast<std::uint16_t>(deviceId);
    std::lock_guard<std::mutex> guard(m_tickLock);
    auto it = m_tickTable.find(id);
    if (it == m_tickTable.end()) {
        TickEntry entry;
        entry.heartbeat = protocol::buildHeartbeatFrame(id);
        entry.address = *address;
        entry.counter = m_counterStart;
        it = m_tickTable.emplace(id, entry).first;
        InsertLogOb("%d,%d,'0注册成功发送一次心跳包:%d'", 2, 4, static_cast<int>(deviceId));
    } else {
        it->second.counter = m_counterStart;  // the stored address stays
        InsertLogOb("%d,%d,'1注册成功发送一次心跳包:%d'", 2, 4, static_cast<int>(deviceId));
    }
    m_server.queueSend(it->second.heartbeat, *address);
    return true;
}

bool CLinkService::deleteTickDevice(std::uint16_t deviceId) {
    std::lock_guard<std::mutex> guard(m_tickLock);
    m_tickTable.erase(deviceId);
    return true;
}

void CLinkService::onFrame(std::span<const std::uint8_t> frame, const sockaddr_in& peer) {
    // The framer guarantees the length field matches the bytes; the header must still decode.
    const auto header = protocol::decodeHeader(frame);
    if (!header) return;
    if (header->command == protocol::NET_CMD_HEARTBEAT_ACK) {
        std::lock_guard<std::mutex> guard(m_tickLock);
        auto it = m_tickTable.find(header->deviceId);
        if (it == m_tickTable.end()) return;
        it->second.counter = m_counterStart;
        m_server.queueSend(it->second.heartbeat, it->second.address);
        return;
    }
    m_recvDump.write(frame);
    RecvRecord record;
    record.data.assign(frame.begin(), frame.end());
    record.length = static_cast<std::int32_t>(frame.size());
    record.peer = peer;
    record.deviceId = header->deviceId;
    m_recvQueue.push(std::move(record));  // a full queue drops the frame silently
}

void CLinkService::onAddress(const sockaddr_in& peer) {
    std::lock_guard<std::mutex> guard(m_tickLock);
    for (const auto& [id, entry] : m_tickTable) {
        if (sameIp(entry.address, peer)) m_server.queueSend(entry.heartbeat, entry.address);
    }
}

void CLinkService::dispatchLoop() {
    while (auto record = m_recvQueue.take()) {
        if (!m_running) break;
        if (m_callback) {
            m_callback(record->deviceId, record->peer, record->data.data(), record->length);
        }
        m_recvQueue.done();
    }
}

void CLinkService::heartbeatLoop(LanwireOptions options,
                                 std::chrono::steady_clock::time_point started) {
    InsertLogOb("%d,%d,'进入心跳计数线程'", 3, 4);
    Clock clock = options.clock;
    if (!clock) clock = [] { return std::chrono::steady_clock::now(); };
    auto noted = started;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_heartbeatWaitLock);
            m_heartbeatWake.wait_for(lock, options.heartbeatPass,
                                     [this] { return m_heartbeatStop; });
            if (m_heartbeatStop) break;
        }
        const auto now = clock();
        if (now < noted) noted = now;  // a clock that went back starts a fresh period
        if (now - noted > options.tickPeriod) {
            runTick();
            noted = clock();
            ++m_ticks;  // counted after noting the time, so a reader of the count sees both
        }
    }
    InsertLogOb("%d,%d,'退出心跳计数线程'", 3, 4);
}

void CLinkService::runTick() {
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        for (auto it = m_tickTable.begin(); it != m_tickTable.end() && m_running;) {
            TickEntry& entry = it->second;
            const std::uint16_t id = it->first;
            if (entry.counter == 0) {
                const protocol::OfflineNotice notice = protocol::buildOfflineNotice(id);
                InsertLogOb("%d,%d,'心跳计数为零,离线包加入处理数组:%d'", 3, 4, id);
                RecvRecord record;
                record.data.assign(notice.begin(), notice.end());
                record.length = static_cast<std::int32_t>(notice.size());
                record.peer = entry.address;
                record.deviceId = id;
                m_recvQueue.push(std::move(record));
                entry.counter = -1;
                ++it;
            } else if (entry.counter < 0) {
                m_server.dropConnection(entry.address);
                it = m_tickTable.erase(it);
                InsertLogOb("%d,%d,'AllMap计时移除设备:%d'", 3, 4, id);
            } else {
                --entry.counter;
                ++it;
            }
        }
    }
}

LanwireStats CLinkService::stats() const {
    LanwireStats stats;
    stats.connections = m_server.connectionCount();
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        stats.tickEntries = m_tickTable.size();
    }
    stats.receiveQueue = m_recvQueue.size();
    stats.framesQueued = m_recvQueue.accepted();
    stats.framesDropped = m_recvQueue.refused();
    stats.framesSent = m_server.framesSent();
    stats.sendsDropped = m_server.sendsDropped();
    stats.bytesDiscarded = m_server.bytesDiscarded();
    stats.bytesPending = m_server.bytesPending();
    stats.ticks = m_ticks;
    return stats;
}

std::vector<LanwireTickEntry> CLinkService::tickTable() const {
    std::lock_guard<std::mutex> guard(m_tickLock);
    std::vector<LanwireTickEntry> table;
    for (const auto& [id, entry] : m_tickTable) table.push_back({id, entry.counter, entry.address});
    return table;
}

}  // namespace lanwire
