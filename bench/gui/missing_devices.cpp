// The missing-device report of the real-program benchmarks.
#include "missing_devices.h"

#include <sqlite3.h>

#include <sstream>
#include <vector>

#include "protocol/frame_types.h"
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

}  // namespace

std::string describeMissingDevices(simtcp::SimFleet& fleet, const std::string& logDatabase,
                                   std::size_t limit) {
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        const simtcp::SimDevice& device = fleet.device(i);
        if (!device.state().connected || device.received(protocol::NET_CMD_HEARTBEAT) == 0) {
            missing.push_back(i);
        }
    }
    if (missing.empty()) return {};
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(logDatabase.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        db = nullptr;
    }
    std::ostringstream text;
    text << missing.size() << " devices not supervised:";
    for (std::size_t i = 0; i < missing.size() && i < 200; ++i) {
        text << ' ' << fleet.device(missing[i]).id();
    }
    if (missing.size() > 200) text << " ...";
    text << '\n';
    for (std::size_t i = 0; i < missing.size() && i < limit; ++i) {
        const simtcp::SimDevice& device = fleet.device(missing[i]);
        const simtcp::DeviceState state = device.state();
        const std::string& address = device.config().sourceAddress;
        text << "  device " << device.id() << " from " << address
             << (state.connected ? ": connected" : ": not connected") << ", " << state.connects
             << " connects, " << state.closedByPeer << " closed by the console, "
             << device.received(protocol::NET_CMD_HEARTBEAT) << " heartbeats\n";
        for (const std::string& row : logRowsAbout(db, device.id(), address)) {
            text << "    log: " << row << '\n';
        }
    }
    sqlite3_close(db);
    return text.str();
}

}  // namespace guibench
