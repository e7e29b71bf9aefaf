// A client that keeps a copy of every event the engine tells it, in order, for tests to wait on.
#pragma once

#include <cstdint>
#include <mutex>
#include <variant>
#include <vector>

#include "consolecore/engine_events.h"
#include "testkit/wait_for.h"

namespace coretest {

class RecordingClient : public consolecore::EngineClient {
public:
    void onEngineEvent(const consolecore::EngineEvent& event) override {
        std::lock_guard guard(m_lock);
        m_events.push_back(event);
    }
    // Every event of type T so far.
    template <typename T>
    std::vector<T> all() const {
        std::lock_guard guard(m_lock);
        std::vector<T> found;
        for (const consolecore::EngineEvent& event : m_events) {
            if (const T* e = std::get_if<T>(&event)) found.push_back(*e);
        }
        return found;
    }
    // Those about device `id`.
    template <typename T>
    std::vector<T> all(std::uint16_t id) const {
        std::vector<T> found;
        for (const T& e : all<T>()) {
            if (idOf(e) == id) found.push_back(e);
        }
        return found;
    }
    template <typename T>
    bool waitFor(std::uint16_t id, std::size_t count = 1) const {
        return testkit::waitFor([&] { return all<T>(id).size() >= count; });
    }
    template <typename T>
    bool waitForAny(std::size_t count = 1) const {
        return testkit::waitFor([&] { return all<T>().size() >= count; });
    }
    // The events in the order told.
    std::vector<consolecore::EngineEvent> events() const {
        std::lock_guard guard(m_lock);
        return m_events;
    }

private:
    static std::uint16_t idOf(const consolecore::DeviceRegistered& e) { return e.device.id; }
    static std::uint16_t idOf(const consolecore::DeviceChanged& e) { return e.device.id; }
    template <typename T>
    static std::uint16_t idOf(const T& e) {
        return e.id;
    }

    mutable std::mutex m_lock;
    std::vector<consolecore::EngineEvent> m_events;
};

}  // namespace coretest
