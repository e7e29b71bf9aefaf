// Receive path, heartbeat supervision and the service's start and stop.
#include "link_service.h"

#include <algorithm>

#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "net_address.h"
#include "platform/fd_limits.h"
#include "platform/messages.h"
#include "platform/prompt.h"
#include "protocol/device_frames.h"
#include "public/data_path.h"

namespace lanwire {

namespace {

void showPrompt(const char* text) {
    if (platform::Prompt* prompt = platform::defaultPrompt()) prompt->showMessage(text);
}

RecvRecord offlineRecord(std::uint16_t id, const sockaddr_in& address) {
    const protocol::OfflineNotice notice = protocol::buildOfflineNotice(id);
    RecvRecord record;
    record.data.assign(notice.begin(), notice.end());
    record.length = static_cast<std::int32_t>(notice.size());
    record.peer = address;
    record.deviceId = id;
    return record;
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
    // A fleet of devices needs more descriptors than the common default soft limit allows.
    platform::raiseDescriptorLimit();
    const std::string folder =
        options.programFolder.empty() ? GetDataPath() : options.programFolder;
    openDump(m_recvDump, folder + "testNote.ini", options.dumpFileLimit);
    openDump(m_sendDump, folder + "sendNote.ini", options.dumpFileLimit);
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        m_counterStart = options.heartbeatCounterStart;
        m_registrationHold = options.registrationHold;
        m_clock = options.clock;
        if (!m_clock) m_clock = [] { return std::chrono::steady_clock::now(); };
        m_held.clear();
    }
    m_forgedLogged.clear();  // the dispatch thread is not running
    m_callback = std::move(callback);
    m_running = true;
    m_ticks = 0;
    m_recvQueue.start();
    {
        std::lock_guard<std::mutex> guard(m_heartbeatWaitLock);
        m_heartbeatStop = false;
    }
    try {
        m_dispatchThread = std::thread([this, options] { dispatchLoop(options); });
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
    // A connection that goes may free the id of a held registration.
    m_server.setClosedHandler([this](const sockaddr_in&, std::uint64_t) { releaseHeld(); });
    const ServerConfig config = serverConfigFor(options);
    const bool started = m_server.start(
        port,
        [this](std::span<const std::uint8_t> frame, const sockaddr_in& peer,
               std::uint64_t connection, protocol::ConsoleFrame& heartbeat) {
            return onFrame(frame, peer, connection, heartbeat);
        },
        config);
    if (!started) {
        // Nothing can arrive without the server: end the threads so that a later start works.
        stopThreads();
    }
    return started;
}

bool CLinkService::cancel() {
    std::vector<sockaddr_in> closed;
    {
        std::lock_guard<std::mutex> lifecycle(m_lifecycle);
        closed = m_server.stop();
        {
            std::lock_guard<std::mutex> guard(m_tickLock);
            m_tickTable.clear();
            m_held.clear();
        }
        stopThreads();
    }
    for (const sockaddr_in& peer : closed) m_server.notifyClosed(peer);
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

void CLinkService::openDump(FrameDump& dump, const std::string& path, std::uintmax_t limit) {
    dump.setLossReporter([](const std::string& file, std::uint64_t lost) {
        logEvent(logcode::kFailure, logcode::kOther,
                 "转储文件写入失败,丢失" + std::to_string(static_cast<unsigned long long>(lost)) +
                     "帧:" + file.c_str());
    });
    if (dump.open(path, limit) == FrameDump::OpenResult::Symlink) {
        logEvent(logcode::kFailure, logcode::kOther,
                 "转储文件是符号链接,拒绝写入:" + std::string(path.c_str()));
    }
}

LanwireSendResult CLinkService::send(const std::uint8_t* data, std::uint32_t length,
                                     const sockaddr_in& destination) {
    if (data == nullptr && length > 0) return LanwireSendResult::Stopped;
    if (!m_running) return LanwireSendResult::Stopped;
    return m_server.queueSend(std::span<const std::uint8_t>(data, length), destination);
}

void CLinkService::reportConflict(std::uint16_t id, const sockaddr_in& newcomer,
                                  const sockaddr_in& online) {
    logEvent(logcode::kFailure, logcode::kDeviceLink,
             "设备ID冲突:" + std::to_string(int{id}) + ";新IP:" + ipText(newcomer) +
                 ";在线IP:" + ipText(online));
    m_server.postToWindow(
        platform::WM_DEVICE_ID_CONFLICT, id,
        platform::packAddressPair(newcomer.sin_addr.s_addr, online.sin_addr.s_addr));
}

std::optional<sockaddr_in> CLinkService::onlineElsewhereLocked(std::uint16_t id,
                                                               const sockaddr_in& peer) const {
    // The send routes come after the heartbeat table in the lock order.
    const auto it = m_tickTable.find(id);
    if (it == m_tickTable.end() || sameIp(it->second.address, peer)) return std::nullopt;
    if (!m_server.hasConnection(it->second.address)) return std::nullopt;
    return it->second.address;
}

bool CLinkService::doNetReg(std::uint32_t deviceId, const sockaddr_in* address) {
    if (address == nullptr) return true;
    const auto id = static_cast<std::uint16_t>(deviceId);
    bool created = false;
    std::optional<sockaddr_in> conflict;
    protocol::ConsoleFrame heartbeat{};
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        auto it = m_tickTable.find(id);
        if (it == m_tickTable.end()) {
            TickEntry entry;
            entry.heartbeat = protocol::buildHeartbeatFrame(id);
            entry.address = *address;
            entry.counter = m_counterStart;
            entry.connection = m_server.connectionSerial(*address);
            it = m_tickTable.insert(id, entry);
            created = true;
        } else if (!sameIp(it->second.address, *address) &&
                   m_server.hasConnection(it->second.address)) {
            // Still online at its own address: the newcomer does not take it over.
            conflict = it->second.address;
        } else {
            // A device back from a new address after its old connection went is taken over.
            m_tickTable.rebind(it, *address, m_server.connectionSerial(*address));
            it->second.counter = m_counterStart;
        }
        heartbeat = it->second.heartbeat;
    }
    if (conflict) {
        reportConflict(id, *address, *conflict);
        return false;
    }
    m_server.markRegistered(*address);
    logEvent(logcode::kRun, logcode::kDeviceLink,
             (created ? "0注册成功发送一次心跳包:" : "1注册成功发送一次心跳包:") +
                 std::to_string(static_cast<int>(deviceId)));
    m_server.queueSend(heartbeat, *address);
    return true;
}

bool CLinkService::deleteTickDevice(std::uint16_t deviceId) {
    // Once its offline notice is out, the device's connection goes with it.
    endSupervision(deviceId, false);
    return true;
}

bool CLinkService::dropNetDevice(std::uint16_t deviceId) {
    endSupervision(deviceId, true);
    return true;
}

void CLinkService::endSupervision(std::uint16_t deviceId, bool closeConnection) {
    std::optional<std::pair<sockaddr_in, std::uint64_t>> drop;
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        const auto it = m_tickTable.find(deviceId);
        if (it == m_tickTable.end()) return;
        const sockaddr_in address = it->second.address;
        const std::uint64_t connection = it->second.connection;
        const bool close = closeConnection || it->second.counter < 0;
        m_tickTable.erase(it);
        // A connection another supervised id still uses stays.
        if (close && !m_tickTable.connectionInUse(connection)) drop = {address, connection};
    }
    if (drop) m_server.dropConnection(drop->first, drop->second);
    releaseHeld();
}

void CLinkService::holdRegistration(RecvRecord record,
                                    std::chrono::steady_clock::time_point since) {
    const auto id = static_cast<std::uint16_t>(record.deviceId);
    const auto held = m_held.find(id);
    // A device that repeats its registration on the same connection keeps its first time.
    if (held != m_held.end() && held->second.record.connection == record.connection) {
        since = std::min(since, held->second.since);
    }
    m_held[id] = HeldRegistration{std::move(record), since};
}

void CLinkService::releaseHeld() {
    std::vector<RecvRecord> released;
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        if (m_held.empty()) return;
        const auto now = m_clock();
        for (auto it = m_held.begin(); it != m_held.end();) {
            const std::uint16_t id = it->first;
            HeldRegistration& held = it->second;
            if (now - held.since > m_registrationHold) {
                it = m_held.erase(it);  // the old connection stayed: the newcomer is refused
                continue;
            }
            const auto entry = m_tickTable.find(id);
            const bool offline = entry != m_tickTable.end() && entry->second.counter < 0;
            if (!offline && onlineElsewhereLocked(id, held.record.peer)) {
                ++it;
                continue;
            }
            held.record.heldSince = held.since;
            released.push_back(std::move(held.record));
            it = m_held.erase(it);
        }
    }
    for (RecvRecord& record : released) {
        // A newcomer that went away meanwhile has nothing to register.
        if (m_server.connectionSerial(record.peer) != record.connection) continue;
        // Behind any offline notice already queued, so the console removes the old entry
        // before it sees the registration.
        m_recvQueue.pushNotice(std::move(record));
    }
}

bool CLinkService::onFrame(std::span<const std::uint8_t> frame, const sockaddr_in& peer,
                           std::uint64_t connection, protocol::ConsoleFrame& heartbeat) {
    // The framer guarantees the length field matches the bytes; the header must still decode.
    const auto header = protocol::decodeHeader(frame);
    if (!header) return false;
    const std::uint16_t id = header->deviceId;
    if (header->command == protocol::NET_CMD_HEARTBEAT_ACK) {
        bool supervised = false;
        {
            std::lock_guard<std::mutex> guard(m_tickLock);
            TickEntry* entry = m_tickTable.entry(id);
            if (entry == nullptr) return false;
            // Only the supervised address speaks for the device; the answer came on the
            // address's connection, which takes the next heartbeat.
            if (sameIp(entry->address, peer)) {
                entry->counter = m_counterStart;
                heartbeat = entry->heartbeat;
                supervised = true;
            }
        }
        if (!supervised) ++m_framesForged;
        return supervised;
    }
    m_recvDump.write(frame);
    if (header->command == protocol::NET_CMD_OFFLINE) {
        // Only the link itself reports a device offline.
        ++m_framesForged;
        logEvent(logcode::kFailure, logcode::kDeviceLink,
                 "丢弃网络上收到的离线包:" + std::to_string(int{id}) + ";IP:" + ipText(peer));
        return false;
    }
    // Registrations and device frames are checked against the heartbeat table when they are
    // dispatched (admit), after every registration received before them has been handled.
    RecvRecord record;
    record.data.assign(frame.begin(), frame.end());
    record.length = static_cast<std::int32_t>(frame.size());
    record.peer = peer;
    record.deviceId = id;
    record.connection = connection;
    // A full queue drops the frame silently, unless it is a registration.
    m_recvQueue.push(std::move(record), header->command == protocol::NET_CMD_REGISTER);
    return false;
}

bool CLinkService::admit(RecvRecord& record, const LanwireOptions& options) {
    if (record.data.size() < protocol::kHeaderSize) return true;
    const std::uint8_t command = record.data[11];
    const auto id = static_cast<std::uint16_t>(record.deviceId);
    if (record.connection == 0) {
        // The link's own offline notice. When the device answered or registered again after
        // the notice was queued, its counter runs again: the notice is stale, and handing it
        // over would remove a device that is online and leave its connection unsupervised.
        if (command != protocol::NET_CMD_OFFLINE) return true;
        {
            std::lock_guard<std::mutex> guard(m_tickLock);
            const auto it = m_tickTable.find(id);
            if (it == m_tickTable.end() || it->second.counter < 0) return true;
        }
        logEvent(logcode::kFailure, logcode::kDeviceLink,
                 "离线包已过时,设备仍在线:" + std::to_string(int{id}));
        return false;
    }
    switch (command) {
        case protocol::NET_CMD_REGISTER: {
            std::optional<sockaddr_in> online;
            {
                std::lock_guard<std::mutex> guard(m_tickLock);
                online = onlineElsewhereLocked(id, record.peer);
                if (online) {
                    const bool repeat = record.heldSince.has_value();
                    holdRegistration(record, repeat ? *record.heldSince : m_clock());
                    if (repeat) return false;  // its conflict was reported when it came
                }
            }
            if (!online) return true;
            // Refused before the console sees it, so its record stays as it is; held in case
            // the old connection is about to go (a device back quickly from a new address).
            ++m_framesForged;
            reportConflict(id, record.peer, *online);
            return false;
        }
        case protocol::NET_CMD_STATUS:
        case protocol::NET_CMD_PARALLEL:
        case protocol::NET_CMD_SERIAL:
        case protocol::NET_CMD_STEP_DONE: {
            {
                std::lock_guard<std::mutex> guard(m_tickLock);
                const auto it = m_tickTable.find(id);
                if (it == m_tickTable.end()) return true;
                const TickEntry& entry = it->second;
                const bool own = entry.connection != 0 ? entry.connection == record.connection
                                                       : sameIp(entry.address, record.peer);
                if (own) return true;
            }
            noteForged(record, command, options);
            return false;
        }
        default:
            return true;
    }
}

void CLinkService::noteForged(const RecvRecord& record, std::uint8_t command,
                              const LanwireOptions& options) {
    ++m_framesForged;
    const auto now = options.clock ? options.clock() : std::chrono::steady_clock::now();
    const in_addr_t address = record.peer.sin_addr.s_addr;
    const auto [it, first] = m_forgedLogged.try_emplace(address, now);
    if (!first) {
        if (now - it->second < options.forgedLogPeriod && now >= it->second) return;
        it->second = now;
    }
    // Addresses whose period has passed need no entry: keep the map small under a flood.
    if (m_forgedLogged.size() > 1024) {
        std::erase_if(m_forgedLogged, [&](const auto& logged) {
            return logged.first != address && now - logged.second >= options.forgedLogPeriod;
        });
    }
    logEvent(logcode::kFailure, logcode::kDeviceLink,
             "丢弃非本设备连接发来的数据包:" + std::to_string(static_cast<int>(record.deviceId)) +
                 ";命令:" + std::to_string(static_cast<int>(command)) +
                 ";IP:" + ipText(record.peer));
}

void CLinkService::onAddress(const sockaddr_in& peer) {
    std::vector<protocol::ConsoleFrame> heartbeats;
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        auto ids = m_tickTable.idsAt(peer);
        std::sort(ids.begin(), ids.end());
        for (const std::uint16_t id : ids) {
            heartbeats.push_back(m_tickTable.find(id)->second.heartbeat);
        }
    }
    for (const auto& heartbeat : heartbeats) m_server.queueSend(heartbeat, peer);
}

void CLinkService::dispatchLoop(LanwireOptions options) {
    while (auto record = m_recvQueue.take()) {
        if (!m_running) break;
        if (m_callback && admit(*record, options)) {
            m_callback(record->deviceId, record->peer, record->data.data(), record->length);
        }
        m_recvQueue.done();
    }
}

void CLinkService::heartbeatLoop(LanwireOptions options,
                                 std::chrono::steady_clock::time_point started) {
    logEvent(logcode::kFailure, logcode::kDeviceLink, "进入心跳计数线程");
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
            m_server.logTimedOut();
            noted = clock();
            ++m_ticks;  // counted after noting the time, so a reader of the count sees both
        }
    }
    logEvent(logcode::kFailure, logcode::kDeviceLink, "退出心跳计数线程");
}

void CLinkService::runTick() {
    std::vector<RecvRecord> notices;
    std::vector<std::uint16_t> removed;
    std::vector<std::pair<sockaddr_in, std::uint64_t>> drops;
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        for (auto it = m_tickTable.begin(); it != m_tickTable.end() && m_running;) {
            TickEntry& entry = it->second;
            const std::uint16_t id = it->first;
            if (entry.counter == 0) {
                notices.push_back(offlineRecord(id, entry.address));
                entry.counter = -1;
                ++it;
            } else if (entry.counter < 0) {
                drops.emplace_back(entry.address, entry.connection);
                removed.push_back(id);
                it = m_tickTable.erase(it);
            } else {
                --entry.counter;
                ++it;
            }
        }
        // A connection still used by a supervised id stays.
        std::erase_if(
            drops, [this](const auto& drop) { return m_tickTable.connectionInUse(drop.second); });
    }
    // Every notice reaches the console: they are few per device, so they pass the queue's
    // cap, and nothing the handler needs is held while queueing them.
    for (auto& record : notices) {
        logEvent(
            logcode::kFailure, logcode::kDeviceLink,
            "心跳计数为零,离线包加入处理数组:" + std::to_string(static_cast<int>(record.deviceId)));
        m_recvQueue.pushNotice(std::move(record));
    }
    for (const auto& [address, connection] : drops) m_server.dropConnection(address, connection);
    for (const std::uint16_t id : removed) {
        logEvent(logcode::kFailure, logcode::kDeviceLink,
                 "AllMap计时移除设备:" + std::to_string(int{id}));
    }
    // A device reported offline frees its id for a held registration; held ones too old go.
    releaseHeld();
}

LanwireStats CLinkService::stats() const {
    LanwireStats stats;
    stats.connections = m_server.connectionCount();
    {
        std::lock_guard<std::mutex> guard(m_tickLock);
        stats.tickEntries = m_tickTable.size();
        stats.registrationsHeld = m_held.size();
    }
    stats.receiveQueue = m_recvQueue.size();
    stats.framesQueued = m_recvQueue.accepted();
    stats.framesDropped = m_recvQueue.refused();
    stats.framesSent = m_server.framesSent();
    stats.sendsDropped = m_server.sendsDropped();
    stats.bytesDiscarded = m_server.bytesDiscarded();
    stats.bytesPending = m_server.bytesPending();
    stats.ticks = m_ticks;
    stats.connectionsRefused = m_server.connectionsRefused();
    stats.connectionsTimedOut = m_server.connectionsTimedOut();
    stats.framesForged = m_framesForged;
    return stats;
}

std::vector<LanwireTickEntry> CLinkService::tickTable() const {
    std::lock_guard<std::mutex> guard(m_tickLock);
    std::vector<LanwireTickEntry> table;
    for (const auto& [id, entry] : m_tickTable) table.push_back({id, entry.counter, entry.address});
    return table;
}

}  // namespace lanwire
