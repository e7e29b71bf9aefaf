// The engine's side of the API: its events to the event streams, its commands with the web
// user as their actor, the record of recent runs; and the factory.
#include "web_client.h"

#include <cstdio>

#include "api_json.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "metrics_text.h"
#include "platform/ipv4_text.h"
#include "public/data_path.h"

namespace webapi {

namespace {

using namespace consolecore;
using nlohmann::json;

constexpr std::size_t kRunsKept = 256;

std::string ipv4Text(std::uint32_t sAddr) {
    in_addr address{};
    address.s_addr = sAddr;
    return platform::formatIpv4(address);
}

std::string sse(const char* event, const std::string& data) {
    return std::string("event: ") + event + "\ndata: " + data + "\n\n";
}

Answer jsonAnswer(const Request& request, http::status status, const json& body) {
    return Answer{jsonResponse(request, status, jsonText(body)), false};
}

Answer errorAnswer(const Request& request, http::status status, const std::string& text) {
    return Answer{errorResponse(request, status, text), false};
}

Actor actorOf(const Identity& who) {
    return Actor{who.user, false};
}

}  // namespace

WebClient::WebClient(ConsoleEngine& engine, const WebSettings& settings, WebOptions options)
    : m_engine(engine),
      m_clock(options.clock ? options.clock : [] { return std::chrono::steady_clock::now(); }),
      m_auth(GetDataPath() + "Users.ini", std::chrono::minutes(settings.sessionMinutes), m_clock),
      m_metricsOpen(settings.metricsOpen),
      m_server(options.limits, [this](Request&& request, const std::string& peer, Reply reply) {
          handle(std::move(request), peer, reply);
      }) {
    // A session's event streams end with it.
    m_auth.onSessionEnd([this](const std::string& session) { m_server.endStreams(session); });
}

WebClient::~WebClient() {
    *m_alive = false;
    m_server.stop();
    m_slowWork.join();
}

bool WebClient::start(const WebSettings& settings, std::uint16_t port, std::string& problem) {
    m_secure = !settings.certFile.empty();
    return m_server.start(settings.bind, port, problem, {settings.certFile, settings.keyFile});
}

void WebClient::onEngineEvent(const EngineEvent& event) {
    if (std::holds_alternative<LogTrouble>(event)) ++m_logTroubles;
    if (const auto* progress = std::get_if<RunProgress>(&event)) {
        const auto known = m_runs.find(progress->run.id);
        const bool wasRunning = known == m_runs.end() || known->second.running();
        if (wasRunning && !progress->run.running())
            ++m_runOutcomes[runStateText(progress->run.outcome)];
        m_runs[progress->run.id] = progress->run;
        while (m_runs.size() > kRunsKept) m_runs.erase(m_runs.begin());
    }
    // A changed device's text is made again when it is next asked for (or streamed now).
    const DeviceSnapshot* changed = nullptr;
    if (const auto* e = std::get_if<DeviceRegistered>(&event)) changed = &e->device;
    if (const auto* e = std::get_if<DeviceChanged>(&event)) changed = &e->device;
    if (changed) m_deviceTexts[changed->id].stale = true;
    if (const auto* e = std::get_if<DeviceRemoved>(&event)) m_deviceTexts.erase(e->id);
    if (!m_server.hasStreams()) return;
    // Keyed by device (or run), so a burst reaches a slow stream as its newest state.
    if (changed) {
        DeviceText& cached = m_deviceTexts[changed->id];
        cached.text = jsonText(deviceJson(*changed));
        cached.stale = false;
        m_server.broadcast("d" + std::to_string(changed->id), sse("device", cached.text));
    } else if (const auto* e = std::get_if<DeviceRemoved>(&event)) {
        m_server.broadcast("d" + std::to_string(e->id), sse("removed", jsonText({{"id", e->id}})));
    } else if (const auto* e = std::get_if<RunProgress>(&event)) {
        m_server.broadcast("r" + std::to_string(e->run.id),
                           sse("run", jsonText(runJson(e->run, RunClock::now()))));
    } else if (const auto* e = std::get_if<IdConflict>(&event)) {
        m_server.broadcast({}, sse("conflict", jsonText({{"id", e->id},
                                                         {"newcomer", ipv4Text(e->newcomer)},
                                                         {"online", ipv4Text(e->online)}})));
    }
}

const std::string* WebClient::deviceText(std::uint16_t id) {
    DeviceText& cached = m_deviceTexts[id];
    if (cached.stale) {
        const auto device = snapshotDevice(id);
        if (!device) {
            m_deviceTexts.erase(id);
            return nullptr;
        }
        cached.text = jsonText(deviceJson(*device));
        cached.stale = false;
    }
    return &cached.text;
}

Answer WebClient::devices(const Request& request) {
    // The table's order; each device's text made again only when it changed since.
    std::string list = "[";
    const DeviceTable& table = m_engine.table();
    for (int row = 0; row < table.rowCount(); ++row) {
        const std::string* text = deviceText(table.row(row).id);
        if (!text) continue;
        if (list.size() > 1) list += ',';
        list += *text;
    }
    list += ']';
    return Answer{jsonResponse(request, http::status::ok, std::move(list)), false};
}

Answer WebClient::device(const Request& request, std::uint16_t id) {
    const DeviceTable& table = m_engine.table();
    for (int row = 0; row < table.rowCount(); ++row) {
        if (table.row(row).id != id) continue;
        if (const std::string* text = deviceText(id)) {
            return Answer{jsonResponse(request, http::status::ok, *text), false};
        }
    }
    return errorAnswer(request, http::status::not_found, "no such device");
}

Answer WebClient::switchOutlet(const Request& request, const Route& route, const Identity& who) {
    const auto on = parseOutletBody(request.body());
    if (!on)
        return errorAnswer(request, http::status::bad_request, "body must be {\"on\":true|false}");
    switch (m_engine.switchOutlet(route.device, route.outlet, *on, actorOf(who))) {
        case SendResult::Queued:
            return jsonAnswer(request, http::status::ok, {{"sent", true}});
        case SendResult::UnknownDevice:
            return errorAnswer(request, http::status::not_found, "no such device");
        case SendResult::Invalid:
            return errorAnswer(request, http::status::bad_request, "outlet must be 1..16");
        case SendResult::NotConnected:
        case SendResult::Refused:
        case SendResult::LinkDown:
            break;
    }
    return errorAnswer(request, http::status::service_unavailable, "the link refused the command");
}

Answer WebClient::startRun(const Request& request, const Route& route, const Identity& who) {
    const auto body = parseRunBody(request.body());
    if (!body) {
        return errorAnswer(request, http::status::bad_request,
                           "body must be {\"kind\":\"parallel\"|\"serial\",\"on\":true|false}");
    }
    switch (m_engine.startGroupRun(body->kind, route.group, body->on, actorOf(who))) {
        case RunStart::Started:
            // Its first progress was told while it started: the newest run of that group.
            for (auto it = m_runs.rbegin(); it != m_runs.rend(); ++it) {
                if (it->second.kind == body->kind && it->second.group == route.group) {
                    return jsonAnswer(request, http::status::accepted, {{"run", it->first}});
                }
            }
            return jsonAnswer(request, http::status::accepted, {{"run", nullptr}});
        case RunStart::NothingToSwitch:
            return jsonAnswer(request, http::status::ok, {{"run", nullptr}});
        case RunStart::NoSuchGroup:
            return errorAnswer(request, http::status::bad_request, "group must be 1..6");
        case RunStart::GroupBusy:
            return errorAnswer(request, http::status::conflict, "the group is running");
        case RunStart::GroupEmpty:
            return errorAnswer(request, http::status::conflict, "the group has no devices");
        case RunStart::Declined:
            return errorAnswer(request, http::status::conflict, "declined");
        case RunStart::LinkDown:
            break;
    }
    return errorAnswer(request, http::status::service_unavailable, "the link is not running");
}

Answer WebClient::run(const Request& request, std::uint64_t id) const {
    const auto it = m_runs.find(id);
    if (it == m_runs.end()) return errorAnswer(request, http::status::not_found, "no such run");
    return jsonAnswer(request, http::status::ok, runJson(it->second, RunClock::now()));
}

Answer WebClient::cancelRun(const Request& request, std::uint64_t id, const Identity& who) {
    switch (m_engine.cancelRun(id, actorOf(who))) {
        case CancelResult::Cancelled:
            return run(request, id);
        case CancelResult::Cancelling: {
            Answer answer = run(request, id);
            answer.response.result(http::status::accepted);
            return answer;
        }
        case CancelResult::UnknownRun:
            break;
    }
    if (m_runs.count(id) > 0)
        return errorAnswer(request, http::status::conflict, "the run has ended");
    return errorAnswer(request, http::status::not_found, "no such run");
}

Answer WebClient::metrics(const Request& request, std::map<int, std::uint64_t> http) const {
    MetricsFigures figures;
    const DeviceTable& table = m_engine.table();
    figures.devicesRegistered = table.rowCount();
    for (int row = 0; row < table.rowCount(); ++row)
        figures.devicesOnline += table.row(row).online ? 1 : 0;
    figures.link = GetLanwireStats();
    figures.runsByOutcome = m_runOutcomes;
    figures.logTroubles = m_logTroubles;
    figures.httpByStatus = std::move(http);
    Response response(http::status::ok, request.version());
    response.set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
    response.keep_alive(request.keep_alive());
    response.body() = metricsText(figures);
    return Answer{std::move(response), false};
}

ClientFactory webApiFactory(WebOptions options) {
    return [options](ConsoleEngine& engine) -> std::unique_ptr<EngineClient> {
        const WebSettings& settings = engine.session().settings().web;
        const std::uint16_t port =
            options.port ? *options.port : static_cast<std::uint16_t>(settings.port);
        if (port == 0) return nullptr;
        if (settings.certFile.empty() != settings.keyFile.empty()) {
            // Half a certificate is a mistake, not a wish for plain HTTP: no API rather than
            // one that takes passwords in clear.
            std::fprintf(stderr,
                         "vantrel: [Web] CertFile and KeyFile go together; the web API is off\n");
            logEvent(logcode::kFailure, logcode::kStartup,
                     "网页接口未启动:CertFile和KeyFile须同时设置");
            return nullptr;
        }
        WebOptions withSettings = options;
        withSettings.limits.streamBacklog = static_cast<std::size_t>(settings.streamBacklog);
        auto client = std::make_unique<WebClient>(engine, settings, std::move(withSettings));
        std::string problem;
        if (!client->start(settings, port, problem)) {
            // A service nobody can reach must say so: its journal and the log.
            const std::string where = settings.bind + ":" + std::to_string(port);
            std::fprintf(stderr, "vantrel: the web API cannot listen on %s: %s\n", where.c_str(),
                         problem.c_str());
            logEvent(logcode::kFailure, logcode::kStartup,
                     "网页接口无法监听" + where + "(" + problem + ")");
            return nullptr;
        }
        logEvent(logcode::kSystem, logcode::kStartup,
                 std::string(settings.certFile.empty() ? "网页接口已启动:http://"
                                                       : "网页接口已启动:https://") +
                     settings.bind + ":" + std::to_string(client->port()));
        return client;
    };
}

}  // namespace webapi
