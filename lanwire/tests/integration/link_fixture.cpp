// The link test set-up: one log store per test binary, fresh link and fleet per test.
#include "link_fixture.h"

#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "logbase/logbase.h"
#include "platform/messages.h"
#include "protocol/frame_types.h"

namespace linktest {

namespace {

// Every test binary logs into one store in its own temp folder; tests tell their rows apart
// by device ids.
class LinkEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // Some tests open a thousand sockets and more.
        rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        m_dir = std::make_unique<testkit::TempDir>();
        ASSERT_TRUE(InitLogbaseModule(m_dir->path().string() + "/", "Vantrel_DB.db3"));
    }
    void TearDown() override {
        ReleaseLogbaseModule();
        m_dir.reset();
    }

private:
    std::unique_ptr<testkit::TempDir> m_dir;
};

[[maybe_unused]] const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new LinkEnvironment);

}  // namespace

sockaddr_in address(const std::string& ip, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    return a;
}

std::string ipOf(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return text;
}

int Recorder::onFrame(std::uint32_t id, sockaddr_in peer, const std::uint8_t* data,
                      std::int32_t length) {
    Delivery d;
    d.deviceId = id;
    d.peer = peer;
    d.bytes.assign(data, data + length);
    d.thread = std::this_thread::get_id();
    d.at = std::chrono::steady_clock::now();
    std::function<void(const Delivery&)> hook;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_deliveries.push_back(d);
        hook = m_hook;
    }
    m_changed.notify_all();
    if (hook) hook(d);
    return 0;
}

std::vector<Delivery> Recorder::all() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_deliveries;
}

std::vector<Delivery> Recorder::from(std::uint16_t id, std::uint8_t command) const {
    std::vector<Delivery> out;
    for (auto& d : all()) {
        if (d.deviceId == id && d.command() == command) out.push_back(d);
    }
    return out;
}

bool Recorder::wait(const std::function<bool(const std::vector<Delivery>&)>& condition,
                    std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return condition(m_deliveries); });
}

bool Recorder::waitCount(std::uint16_t id, std::uint8_t command, std::size_t count,
                         std::chrono::milliseconds timeout) const {
    return wait(
        [&](const std::vector<Delivery>& all) {
            std::size_t n = 0;
            for (const auto& d : all) n += d.deviceId == id && d.command() == command ? 1 : 0;
            return n >= count;
        },
        timeout);
}

void Recorder::setHook(std::function<void(const Delivery&)> hook) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_hook = std::move(hook);
}

namespace {

std::string ipOfWord(std::uint32_t sAddr) {
    sockaddr_in a{};
    a.sin_addr.s_addr = sAddr;
    return ipOf(a);
}

}  // namespace

void ClosedNotices::post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (message == platform::WM_LINK_SOCKET_CLOSED && wParam == 0) {
        m_peers.push_back(ipOfWord(static_cast<std::uint32_t>(lParam)));
    } else if (message == platform::WM_DEVICE_ID_CONFLICT) {
        m_conflicts.push_back({wParam, ipOfWord(platform::newcomerAddress(lParam)),
                               ipOfWord(platform::onlineAddress(lParam))});
    }
}

void ClosedNotices::send(std::uint32_t, std::uintptr_t, std::intptr_t) {
    ++m_sends;
}

std::vector<ClosedNotices::Conflict> ClosedNotices::conflicts() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_conflicts;
}

std::vector<std::string> ClosedNotices::peers() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_peers;
}

void WriteLog::add(const sockaddr_in& peer, const std::uint8_t* data, std::size_t length,
                   std::chrono::steady_clock::time_point at) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto id = length > 17 ? static_cast<std::uint16_t>(data[16] | (data[17] << 8)) : 0;
    m_writes.push_back(
        {ipOf(peer), length > 8 ? data[8] : std::uint8_t{0}, static_cast<std::uint16_t>(id), at});
}

std::vector<Written> WriteLog::to(const std::string& ip, std::uint8_t command) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<Written> out;
    for (const auto& w : m_writes) {
        if (w.ip == ip && w.command == command) out.push_back(w);
    }
    return out;
}

std::vector<LogRow> logRowsWith(const std::string& content) {
    std::vector<LogRow> rows;
    LogObLockLogbase();
    auto statement =
        LogObQueryStatement("SELECT LogType, LogChildType, LogContent FROM Log ORDER BY rowid");
    LogObUnlockLogbase();
    if (!statement) return rows;
    while (statement->NextRow()) {
        LogRow row{std::stoi(statement->ValueUtf8(0)), std::stoi(statement->ValueUtf8(1)),
                   statement->ValueUtf8(2)};
        if (row.content == content) rows.push_back(row);
    }
    return rows;
}

void LinkTest::SetUp() {
    static std::atomic<int> testNumber{0};
    m_folder = ::testing::TempDir() + "lanwire-" + std::to_string(getpid()) + "-" +
               std::to_string(++testNumber) + "/";
    std::filesystem::create_directories(m_folder);
    options = LanwireOptions{};
    options.programFolder = m_folder;
    options.onFrameWritten = [this](const sockaddr_in& peer, const std::uint8_t* data,
                                    std::size_t length, std::chrono::steady_clock::time_point at) {
        writes.add(peer, data, length, at);
    };
}

void LinkTest::TearDown() {
    releaseIoLoop();
    m_fleet.reset();
    CancelLanwire();
    SetWindowHand(nullptr);
    SetLanwireOptions(LanwireOptions{});
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

bool LinkTest::startLinkHeldAtFirstHeartbeat(std::size_t index, std::uint16_t id) {
    options.ioThreads = 1;
    const std::shared_future<void> released = m_release.get_future().share();
    const auto holding = std::make_shared<std::atomic<bool>>(false);
    options.onFrameWritten = [released, holding](const sockaddr_in&, const std::uint8_t*,
                                                 std::size_t,
                                                 std::chrono::steady_clock::time_point) {
        if (!holding->exchange(true)) released.wait();
    };
    if (!startLink()) return false;
    const simtcp::SimDevice& first = addDevice(index, id);
    if (!recorder.waitCount(id, protocol::NET_CMD_REGISTER, 1)) return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    inet_pton(AF_INET, first.config().sourceAddress.c_str(), &peer.sin_addr);
    return DoNetReg(id, &peer) && testkit::waitFor([holding] { return holding->load(); });
}

void LinkTest::releaseIoLoop() {
    std::call_once(m_releaseOnce, [this] { m_release.set_value(); });
}

bool LinkTest::startLink(std::uint16_t port) {
    SetLanwireOptions(options);
    return InitLanwire(
        port, [this](std::uint32_t id, sockaddr_in peer, const std::uint8_t* data,
                     std::int32_t length) { return recorder.onFrame(id, peer, data, length); });
}

simtcp::SimFleet& LinkTest::fleet() {
    if (!m_fleet) m_fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", port(), 2);
    return *m_fleet;
}

simtcp::SimDevice& LinkTest::addDevice(std::size_t index, std::uint16_t id, simtcp::Knobs knobs) {
    auto& device = fleet().add(simtcp::makeDeviceConfig(index, id), knobs);
    fleet().start();
    return device;
}

simtcp::Knobs LinkTest::silent() {
    simtcp::Knobs knobs;
    knobs.answerHeartbeats = false;
    return knobs;
}

void LinkTest::expectRegistered(const simtcp::SimDevice& device) {
    ASSERT_TRUE(recorder.waitCount(device.id(), protocol::NET_CMD_REGISTER, 1))
        << "device " << device.id() << " did not register";
}

std::string LinkTest::readFile(const std::string& name) const {
    std::ifstream in(m_folder + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace linktest
