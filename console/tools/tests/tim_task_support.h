// Timed-task test environment: the task store in a temp folder, the device registry filled
// directly or by simulated sequencers over the real link, and a log store.
#pragma once

#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "chronrun/chronrun_options.h"
#include "chronstore/chronstore.h"
#include "consolecore/device_channel.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/logbase.h"
#include "platform/message_target.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"

namespace tooltest {

// The task store on "<temp>/TimingTask/TimingTask.ini", optionally pre-filled with a file,
// and an empty registry. The store's task-number counter runs on across tests, so tests
// read loaded task numbers from the store.
class TaskEnvironment {
public:
    explicit TaskEnvironment(const std::string& iniText = {}) {
        logOpened = InitLogbaseModule(m_dir.path().string() + "/", "Vantrel_DB.db3");
        InitDevrosterMod();
        if (!iniText.empty()) {
            std::filesystem::create_directories(folder());
            std::ofstream(filePath(), std::ios::binary) << iniText;
        }
        InitChronstoreAt(folder());
    }
    ~TaskEnvironment() {
        ReleaseChronstore();
        InitDevrosterMod();
        ReleaseLogbaseModule();
    }
    TaskEnvironment(const TaskEnvironment&) = delete;
    TaskEnvironment& operator=(const TaskEnvironment&) = delete;

    std::string folder() const { return m_dir.file("TimingTask"); }
    std::string filePath() const { return folder() + "/TimingTask.ini"; }
    std::string fileText() const {
        std::ifstream in(filePath(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    const testkit::TempDir& dir() const { return m_dir; }
    bool logOpened = false;

private:
    testkit::TempDir m_dir;
};

// The runner's clock fixed at one local time (its pauses 200 times shorter) while in scope.
class RunnerClockAt : public ChronrunClock {
public:
    explicit RunnerClockAt(ChronrunLocalTime now) : m_now(now) {}
    ChronrunLocalTime localNow() override { return m_now; }
    std::chrono::nanoseconds realPause(std::chrono::milliseconds delay) override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(delay) / 200;
    }
    static std::shared_ptr<RunnerClockAt> install(ChronrunLocalTime now) {
        auto clock = std::make_shared<RunnerClockAt>(now);
        SetChronrunOptions({clock, {}});
        return clock;
    }
    static void uninstall() { SetChronrunOptions({}); }

private:
    const ChronrunLocalTime m_now;
};

// Files a device record directly (id table and id list), as a registration does.
inline void registerDevice(std::uint16_t id, const std::string& name) {
    auto device = std::make_shared<CDeviceBase>();
    device->SetDeviceID(id);
    device->SetDeviceName(name);
    PlusDevice(device);
    PlusDevtoArray(id);
}

inline bool inDeviceArray(std::uint16_t id) {
    for (std::uint16_t held : deviceRegistry().ids()) {
        if (held == id) return true;
    }
    return false;
}

// The console's command channel on an ephemeral port: simulated sequencers that connect
// register through the real link and receive path.
class LinkedRegistry {
public:
    explicit LinkedRegistry(const std::string& folder) {
        LanwireOptions options;
        options.programFolder = folder + "/";
        options.ioThreads = 2;
        SetLanwireOptions(options);
        started = m_channel.Start(0);
        if (started) m_fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", GetLanwirePort());
    }
    ~LinkedRegistry() {
        if (m_fleet) m_fleet->stop();
        m_channel.Stop();
    }
    LinkedRegistry(const LinkedRegistry&) = delete;
    LinkedRegistry& operator=(const LinkedRegistry&) = delete;

    // Connects the devices one after another, each once the one before has registered, so
    // the registry's id list has them in this order.
    bool connectInOrder(const std::vector<std::uint16_t>& ids) {
        if (!m_fleet) return false;
        for (std::uint16_t id : ids) {
            m_fleet->add(simtcp::makeDeviceConfig(m_next++, id));
            m_fleet->start();
            if (!testkit::waitFor([id] { return inDeviceArray(id); })) return false;
        }
        return true;
    }

    // Adds one device and connects it.
    simtcp::SimDevice& add(const simtcp::DeviceConfig& config) {
        simtcp::SimDevice& device = m_fleet->add(config);
        ++m_next;
        m_fleet->start();
        return device;
    }

    bool started = false;

private:
    // The editor reads the registry; the device events of the receive path are not looked at.
    class IgnoredMessages : public platform::MessageTarget {
    public:
        void post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    };
    IgnoredMessages m_ignored;
    consolecore::CDeviceChannel m_channel{m_ignored};
    std::unique_ptr<simtcp::SimFleet> m_fleet;
    std::size_t m_next = 0;
};

}  // namespace tooltest
