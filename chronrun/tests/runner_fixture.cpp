// The runner tests' clock, frame recorder and store helpers.
#include "runner_fixture.h"

#include <arpa/inet.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "devroster/devroster.h"
#include "logbase/logbase.h"

namespace chrontest {

ChronrunLocalTime FakeClock::localNow() {
    std::function<void()> hook;
    ChronrunLocalTime now;
    {
        std::lock_guard lock(m_mutex);
        ++m_reads;
        now = m_now;
        hook = m_hook;
    }
    if (hook) hook();
    return now;
}

std::chrono::nanoseconds FakeClock::realPause(std::chrono::milliseconds delay) {
    // The scan's many short pauses are not kept.
    if (delay > kChronrunScanPeriod) {
        std::lock_guard lock(m_mutex);
        m_pauses.emplace_back(delay, std::chrono::steady_clock::now());
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(delay) / m_scale;
}

std::vector<std::chrono::steady_clock::time_point> FakeClock::pausesOf(
    std::chrono::milliseconds delay) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::chrono::steady_clock::time_point> result;
    for (const auto& [length, at] : m_pauses) {
        if (length == delay) result.push_back(at);
    }
    return result;
}

void FakeClock::set(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                              std::chrono::day{unsigned(day)}};
    const int weekday = static_cast<int>(std::chrono::weekday{sys_days{date}}.c_encoding());
    std::lock_guard lock(m_mutex);
    m_now = ChronrunLocalTime{year, month, day, weekday, hour, minute, second};
}

std::uint64_t FakeClock::reads() const {
    std::lock_guard lock(m_mutex);
    return m_reads;
}

bool FakeClock::waitSweeps(int sweeps) {
    // Reads counted after set() returned saw the new time. (sweeps + 1) x tasks reads cover
    // `sweeps` whole sweeps; one more read means the last check has finished.
    const std::uint64_t tasks = static_cast<std::uint64_t>(std::max(1, GetTTPointCount()));
    const std::uint64_t target = reads() + (static_cast<std::uint64_t>(sweeps) + 1) * tasks + 1;
    return testkit::waitFor([&] { return reads() >= target; });
}

void FakeClock::setReadHook(std::function<void()> hook) {
    std::lock_guard lock(m_mutex);
    m_hook = std::move(hook);
}

ChronrunSendFn FrameRecorder::sender() {
    return [this](const std::uint8_t* data, std::uint32_t length, sockaddr_in to) {
        return record(data, length, to);
    };
}

bool FrameRecorder::record(const std::uint8_t* data, std::uint32_t length, sockaddr_in to) {
    std::unique_lock lock(m_mutex);
    ++m_entered;
    m_maxInside = std::max(m_maxInside, ++m_inside);
    m_frames.push_back(SentFrame{std::chrono::steady_clock::now(),
                                 std::vector<std::uint8_t>(data, data + length), to});
    m_gateChanged.wait(lock, [this] { return !m_gateClosed; });
    --m_inside;
    ++m_returned;
    return true;
}

std::vector<SentFrame> FrameRecorder::frames() const {
    std::lock_guard lock(m_mutex);
    return m_frames;
}

std::vector<SentFrame> FrameRecorder::framesTo(std::uint16_t deviceId) const {
    std::vector<SentFrame> result;
    for (SentFrame& frame : frames()) {
        if (frame.deviceId() == deviceId) result.push_back(std::move(frame));
    }
    return result;
}

bool FrameRecorder::waitFramesTo(std::uint16_t deviceId, std::size_t count,
                                 std::chrono::milliseconds timeout) const {
    return testkit::waitFor([&] { return framesTo(deviceId).size() >= count; }, timeout);
}

void FrameRecorder::closeGate() {
    std::lock_guard lock(m_mutex);
    m_gateClosed = true;
}

void FrameRecorder::openGate() {
    {
        std::lock_guard lock(m_mutex);
        m_gateClosed = false;
    }
    m_gateChanged.notify_all();
}

int FrameRecorder::entered() const {
    std::lock_guard lock(m_mutex);
    return m_entered;
}

int FrameRecorder::returned() const {
    std::lock_guard lock(m_mutex);
    return m_returned;
}

int FrameRecorder::maxConcurrent() const {
    std::lock_guard lock(m_mutex);
    return m_maxInside;
}

TimTaskPoint_ makeTask(const std::string& name, std::uint8_t type, std::uint32_t statime,
                       std::uint32_t endtime, bool enabled) {
    TimTaskPoint_ task;
    SetTimNameUtf8(task, name);
    task.ttEnable = enabled ? 1 : 0;
    task.ttType = type;
    task.staYear = 2000;
    task.staMonth = 1;
    task.staDay = 1;
    task.endYear = 2099;
    task.endMonth = 12;
    task.endDay = 31;
    task.statime = statime;
    task.endtime = endtime;
    return task;
}

DeviceOnOff_ makeDevice(std::uint16_t id, std::initializer_list<int> outletsOn) {
    DeviceOnOff_ device;
    device.devID = id;
    for (int outlet : outletsOn) device.devLED[outlet - 1] = 1;
    return device;
}

sockaddr_in ipv4(const std::string& ip, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    return address;
}

void registerDevice(std::uint16_t id, const std::string& name, const std::string& ip) {
    auto device = std::make_shared<CDeviceBase>();
    device->SetDeviceID(id);
    device->SetDeviceName(name);
    device->SetDeviceSockIPAddr(ipv4(ip, 40000));
    device->SetOnLine(true);
    PlusDevice(device);
    PlusDevtoArray(id);
}

std::uint8_t runState(int index) {
    TimTaskGuard guard;
    return GetTTPointByIndex(index).runState;
}

bool waitRunState(int index, std::uint8_t state) {
    return testkit::waitFor([&] { return runState(index) == state; });
}

Rows logRows(const std::string& where) {
    LogObLockLogbase();
    const std::unique_ptr<NWSqlStatement> statement = LogObQueryStatement(
        "select LogType, LogChildType, LogContent from Log " + where + " order by rowid");
    LogObUnlockLogbase();
    Rows rows;
    if (!statement) {
        ADD_FAILURE() << "log query failed: " << where;
        return rows;
    }
    while (statement->NextRow()) {
        rows.push_back({statement->ValueUtf8(0), statement->ValueUtf8(1), statement->ValueUtf8(2)});
    }
    return rows;
}

static std::string sqlText(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

Rows logLines(const std::string& content) {
    return logRows("where LogContent = " + sqlText(content));
}

bool waitLogLine(const std::string& content, std::chrono::milliseconds timeout) {
    return testkit::waitFor([&] { return !logLines(content).empty(); }, timeout);
}

int deviceWorkerThreads() {
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == "chronrun-dev") ++count;
    }
    return count;
}

void RunnerTest::SetUp() {
    ASSERT_TRUE(InitLogbaseModule(m_dir.path().string() + "/", "Vantrel_DB.db3"));
    ReleaseChronstore();
    InitDevrosterMod();
    m_clock->set(2024, 1, 29, 7, 0, 0);  // a Monday
}

void RunnerTest::TearDown() {
    ReleaseChronrun();
    SetChronrunOptions({});
    ReleaseChronstore();
    ReleaseDevroster();
    ReleaseLogbaseModule();
}

void RunnerTest::startRunner() {
    SetChronrunOptions({m_clock, m_recorder.sender()});
    ASSERT_TRUE(InitChronrun());
}

}  // namespace chrontest
