// The API's engine client. Two threads meet here: the engine's (events, commands, the run
// record) and the server's (requests, sessions); each member says whose it is, and they only
// reach each other by posting.
#pragma once

#include <boost/asio/thread_pool.hpp>
#include <map>
#include <memory>
#include <unordered_map>

#include "auth.h"
#include "consolecore/console_engine.h"
#include "http_server.h"
#include "webapi/api_parse.h"
#include "webapi/web_api.h"

namespace webapi {

class WebClient : public consolecore::EngineClient {
public:
    WebClient(consolecore::ConsoleEngine& engine, const consolecore::WebSettings& settings,
              WebOptions options);
    ~WebClient() override;

    // Listens; false with `problem` when it cannot.
    bool start(const consolecore::WebSettings& settings, std::uint16_t port, std::string& problem);
    std::uint16_t port() const { return m_server.port(); }

    void onEngineEvent(const consolecore::EngineEvent& event) override;

private:
    // Server's thread.
    void handle(Request&& request, const std::string& peer, const Reply& reply);
    void login(Request&& request, const std::string& peer, const Reply& reply);
    void logout(const Request& request, const Identity& who, const Reply& reply);
    void health(Request&& request, const Reply& reply);
    void metrics(Request&& request, const Reply& reply);
    // A page of the log as JSON, or (csv) as the viewer exports it.
    void log(Request&& request, const Reply& reply, bool csv);
    // The timed-task calls (task_calls.cpp).
    void tasks(Request&& request, const Reply& reply, const Route& route, const Identity& who);
    // Runs `work` on the engine's thread; its answer goes back to `reply`.
    void onEngine(Request&& request, const Reply& reply,
                  std::function<Answer(const Request&)> work);

    // Engine's thread: what a request asks of the engine.
    Answer devices(const Request& request);
    Answer device(const Request& request, std::uint16_t id);
    // The device's JSON, made again from the registry when it changed; null when it is not
    // registered.
    const std::string* deviceText(std::uint16_t id);
    Answer switchOutlet(const Request& request, const Route& route, const Identity& who);
    Answer startRun(const Request& request, const Route& route, const Identity& who);
    Answer run(const Request& request, std::uint64_t id) const;
    Answer cancelRun(const Request& request, std::uint64_t id, const Identity& who);
    Answer metrics(const Request& request, std::map<int, std::uint64_t> http) const;

    consolecore::ConsoleEngine& m_engine;
    Clock m_clock;
    // Engine's thread: the latest state of recent runs, by id (the engine keeps only those in
    // progress).
    std::map<std::uint64_t, consolecore::GroupRun> m_runs;
    std::map<std::string, std::uint64_t> m_runOutcomes;  // runs seen ending, by state
    std::uint64_t m_logTroubles = 0;
    struct DeviceText {
        std::string text;
        bool stale = true;
    };
    std::unordered_map<std::uint16_t, DeviceText> m_deviceTexts;
    // Server's thread.
    Auth m_auth;
    bool m_secure = false;       // HTTPS: the session cookie is Secure
    bool m_metricsOpen = false;  // [Web] MetricsOpen
    // Slow work, off the engine's and the server's threads: password checks (slow on
    // purpose) and log queries.
    boost::asio::thread_pool m_slowWork{1};
    HttpServer m_server;
    // Cleared when the client ends: work it posted to the engine finds nothing to do.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace webapi
