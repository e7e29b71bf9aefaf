// When a fleet does not fully register: which devices are missing and how far each got, from
// the fleet's side (connected, connects, heartbeats heard) and from the console's event log
// (accepted, registration handled, supervised, dropped).
#pragma once

#include <cstddef>
#include <string>

namespace simtcp {
class IdleFleet;
class SimFleet;
}  // namespace simtcp

namespace guibench {

// Lines naming the devices of `fleet` that the console does not supervise (no heartbeat heard
// since the start, or not connected now), at most `limit` of them in detail, each with the
// console's log rows about its id and address from the database `logDatabase`. Empty when
// every device is connected and supervised.
std::string describeMissingDevices(simtcp::SimFleet& fleet, const std::string& logDatabase,
                                   std::size_t limit = 20);
std::string describeMissingDevices(const simtcp::IdleFleet& fleet, const std::string& logDatabase,
                                   std::size_t limit = 20);

}  // namespace guibench
