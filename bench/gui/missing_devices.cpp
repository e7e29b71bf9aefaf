// The missing-device report of the real-program benchmarks.
#include "missing_devices.h"

#include <sqlite3.h>

#include <sstream>
#include <vector>

#include "protocol/frame_types.h"
#include "simtcp/idle_fleet.h"
#include "simtcp/sim_fleet.h"

namespace guibench {

namespace {

// The log rows that name the device's id or address, oldest first.
std::vector<std::string> logRowsAbout(sqlite3* db, unsigned id, const std::string& address) {
    std::vector<std::string> rows;
    if (db == nullptr) return rows;
    // Rows end in ":<id>" or ":<address>", or carry "[ID:<id>;" or "IP:<address>".
    const char* sql =
        "SELECT LogCreateTime || ' ' || LogContent FROM Log WHERE LogContent LIKE ?1 OR "
        "LogContent LIKE ?2 OR LogContent LIKE ?3 OR LogContent LIKE ?4 OR LogContent LIKE ?5 "
        "ORDER BY rowid";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) return rows;
    const std::string patterns[] = {"%:" + std::to_string(id), "%:" + address,
                                    "%[ID:" + std::to_string(id) + ";%", "%IP:" + address + ";%",
                                    "%IP:" + address + "]%"};
    for (int i = 0; i < 5; ++i) {
        sqlite3_bind_text(statement, i + 1, patterns[i].c_str(), -1, SQLITE_TRANSIENT);
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    }
    sqlite3_finalize(statement);
    return rows;
}

// What the report needs of one device, whichever kind of fleet it belongs to.
struct DeviceView {
    unsigned id;
    std::string address;
    bool connected;
    unsigned connects;
    unsigned closedByPeer;
    std::uint64_t heartbeats;
};

std::string describe(const std::vector<DeviceView>& devices, const std::string& logDatabase,
                     std::size_t limit) {
    std::vector<const DeviceView*> missing;
    for (const DeviceView& device : devices) {
        if (!device.connected || device.heartbeats == 0) missing.push_back(&device);
    }
    if (missing.empty()) return {};
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(logDatabase.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        db = nullptr;
    }
    std::ostringstream text;
    text << missing.size() << " devices not supervised:";
    for (std::size_t i = 0; i < missing.size() && i < 200; ++i) text << ' ' << missing[i]->id;
    if (missing.size() > 200) text << " ...";
    text << '\n';
    for (std::size_t i = 0; i < missing.size() && i < limit; ++i) {
        const DeviceView& device = *missing[i];
        text << "  device " << device.id << " from " << device.address
             << (device.connected ? ": connected" : ": not connected") << ", " << device.connects
             << " connects, " << device.closedByPeer << " closed by the console, "
             << device.heartbeats << " heartbeats\n";
        for (const std::string& row : logRowsAbout(db, device.id, device.address)) {
            text << "    log: " << row << '\n';
        }
    }
    sqlite3_close(db);
    return text.str();
}

}  // namespace

std::string describeMissingDevices(simtcp::SimFleet& fleet, const std::string& logDatabase,
                                   std::size_t limit) {
    std::vector<DeviceView> devices;
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        const simtcp::SimDevice& device = fleet.device(i);
        const simtcp::DeviceState state = device.state();
        devices.push_back({device.id(), device.config().sourceAddress, state.connected,
                           state.connects, state.closedByPeer,
                           device.received(protocol::NET_CMD_HEARTBEAT)});
    }
    return describe(devices, logDatabase, limit);
}

std::string describeMissingDevices(const simtcp::IdleFleet& fleet, const std::string& logDatabase,
                                   std::size_t limit) {
    std::vector<DeviceView> devices;
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        const simtcp::IdleDeviceCounts counts = fleet.counts(i);
        devices.push_back({fleet.config(i).id, fleet.config(i).sourceAddress, counts.connected,
                           counts.connects, counts.closedByPeer, counts.heartbeats});
    }
    return describe(devices, logDatabase, limit);
}

}  // namespace guibench
