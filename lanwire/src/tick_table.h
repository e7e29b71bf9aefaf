// The heartbeat table: one entry per supervised device id, ordered by id, with two indexes
// kept beside it so that a new connection and a dropped one cost a lookup, not a pass over
// thousands of entries: the ids supervised at each address, and how many ids use each
// connection. Not locked: its owner's heartbeat-table lock guards it. Each heartbeat answer
// looks its id up, so entries are also indexed directly by id (map nodes never move).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "protocol/console_frames.h"

namespace lanwire {

struct TickEntry {
    protocol::ConsoleFrame heartbeat{};  // built once when the entry is created
    sockaddr_in address{};               // where every heartbeat of this device goes
    int counter = 0;                     // heartbeats still allowed to go unanswered
    std::uint64_t connection = 0;        // serial of the connection it registered on
};

class TickTable {
public:
    using Map = std::map<std::uint16_t, TickEntry>;
    using iterator = Map::iterator;
    using const_iterator = Map::const_iterator;

    iterator begin() { return m_entries.begin(); }
    iterator end() { return m_entries.end(); }
    const_iterator begin() const { return m_entries.begin(); }
    const_iterator end() const { return m_entries.end(); }
    std::size_t size() const { return m_entries.size(); }
    iterator find(std::uint16_t id) { return m_entries.find(id); }
    const_iterator find(std::uint16_t id) const { return m_entries.find(id); }
    // The entry of `id`, or null; a lookup without a search.
    TickEntry* entry(std::uint16_t id) { return m_byId ? m_byId[id] : nullptr; }

    iterator insert(std::uint16_t id, const TickEntry& entry) {
        const auto [it, inserted] = m_entries.emplace(id, entry);
        if (!m_byId) m_byId = std::make_unique<TickEntry*[]>(kIds);
        m_byId[id] = &it->second;
        track(id, it->second);
        return it;
    }
    // Moves an entry to another address and connection.
    void rebind(iterator it, const sockaddr_in& address, std::uint64_t connection) {
        untrack(it->first, it->second);
        it->second.address = address;
        it->second.connection = connection;
        track(it->first, it->second);
    }
    iterator erase(iterator it) {
        untrack(it->first, it->second);
        m_byId[it->first] = nullptr;
        return m_entries.erase(it);
    }
    void clear() {
        m_entries.clear();
        m_byId.reset();
        m_idsAt.clear();
        m_idsOnConnection.clear();
    }

    // The ids supervised at `address`, in no particular order.
    std::vector<std::uint16_t> idsAt(const sockaddr_in& address) const {
        const auto it = m_idsAt.find(address.sin_addr.s_addr);
        return it == m_idsAt.end() ? std::vector<std::uint16_t>{} : it->second;
    }
    bool connectionInUse(std::uint64_t serial) const {
        return m_idsOnConnection.count(serial) != 0;
    }

private:
    void track(std::uint16_t id, const TickEntry& entry) {
        m_idsAt[entry.address.sin_addr.s_addr].push_back(id);
        ++m_idsOnConnection[entry.connection];
    }
    void untrack(std::uint16_t id, const TickEntry& entry) {
        const auto at = m_idsAt.find(entry.address.sin_addr.s_addr);
        if (at != m_idsAt.end()) {
            std::erase(at->second, id);
            if (at->second.empty()) m_idsAt.erase(at);
        }
        const auto on = m_idsOnConnection.find(entry.connection);
        if (on != m_idsOnConnection.end() && --on->second == 0) m_idsOnConnection.erase(on);
    }

    static constexpr std::size_t kIds = 65536;

    Map m_entries;
    std::unique_ptr<TickEntry*[]> m_byId;  // kIds slots once the first entry comes
    std::unordered_map<in_addr_t, std::vector<std::uint16_t>> m_idsAt;
    std::unordered_map<std::uint64_t, unsigned> m_idsOnConnection;
};

}  // namespace lanwire
