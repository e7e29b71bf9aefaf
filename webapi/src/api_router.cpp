// The server's side of the API: route, who is calling, CSRF and role checks, login and
// logout; the engine's work is posted to it and answered from there.
#include <boost/asio/post.hpp>

#include "api_json.h"
#include "logbase/log_codes.h"
#include "logbase/log_csv.h"
#include "logbase/log_query.h"
#include "logbase/logbase.h"
#include "static_files.h"
#include "web_client.h"

namespace webapi {

namespace {

using nlohmann::json;

// How long /healthz waits for the engine's thread to answer before it says 503.
constexpr std::chrono::milliseconds kHealthWait{2000};

void reply(const Reply& to, const Request& request, http::status status, const std::string& text) {
    answer(to, Answer{errorResponse(request, status, text), false});
}

Role requiredRole(const Route& route) {
    switch (route.endpoint) {
        case Endpoint::Outlet:
        case Endpoint::GroupRuns:
        case Endpoint::TaskApply:
            return Role::Operator;
        case Endpoint::Run:
            return route.write ? Role::Operator : Role::Viewer;
        case Endpoint::TaskDelete:
        case Endpoint::TaskPut:
            return Role::Admin;
        case Endpoint::Holidays:
            return route.write ? Role::Admin : Role::Viewer;
        default:
            return Role::Viewer;
    }
}

// What unknown users are checked against, so a wrong name takes as long as a wrong password.
const std::string& decoyHash() {
    static const std::string hash = hashPassword(randomHex(16));
    return hash;
}

// The viewer's export of these rows: its columns, numbered from 1 in the page's order.
Response csvResponse(const Request& request, const std::vector<logbase::LogEntry>& entries) {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(entries.size());
    for (const logbase::LogEntry& e : entries) {
        rows.push_back({std::to_string(rows.size() + 1), e.row.date, e.row.time, e.row.typeText,
                        e.row.subTypeText, e.row.content});
    }
    Response response(http::status::ok, request.version());
    response.set(http::field::content_type, "text/csv; charset=utf-8");
    response.set(http::field::content_disposition, "attachment; filename=\"vantrel-log.csv\"");
    response.keep_alive(request.keep_alive());
    response.body() = logbase::logCsv({"序号", "日期", "时间", "类型", "运行类型", "内容"}, rows);
    return response;
}

}  // namespace

void WebClient::handle(Request&& request, const std::string& peer, const Reply& to) {
    const auto parsed = parseRoute(request.method_string(), request.target());
    if (const auto* error = std::get_if<RouteError>(&parsed)) {
        // Outside /api/ is the web console's page and its files.
        if (error->status == 404 && !request.target().starts_with("/api/"))
            return serveStatic(m_slowWork, std::move(request), to);
        // What exists under /api/ is told only to those who may call it.
        if (request.target().starts_with("/api/") && !m_auth.identify(request)) {
            return reply(to, request, http::status::unauthorized, "login or a token needed");
        }
        return reply(to, request, static_cast<http::status>(error->status), error->text);
    }
    const Route route = std::get<Route>(parsed);
    if (route.endpoint == Endpoint::Health) return health(std::move(request), to);
    if (route.endpoint == Endpoint::Login) return login(std::move(request), peer, to);
    if (route.endpoint == Endpoint::Metrics && m_metricsOpen)
        return metrics(std::move(request), to);

    const auto who = m_auth.identify(request);
    if (!who) return reply(to, request, http::status::unauthorized, "login or a token needed");
    // A cookie comes with every request the browser makes, a page of another site's too:
    // a change also needs the token only our login answer told.
    if (route.write && !who->session.empty() && !sameSecret(request["X-CSRF-Token"], who->csrf)) {
        return reply(to, request, http::status::forbidden, "missing or wrong X-CSRF-Token");
    }
    if (who->role < requiredRole(route)) {
        return reply(to, request, http::status::forbidden,
                     std::string("not allowed for the role ") + roleText(who->role));
    }
    switch (route.endpoint) {
        case Endpoint::Logout:
            return logout(request, *who, to);
        case Endpoint::Metrics:
            return metrics(std::move(request), to);
        case Endpoint::Tasks:
        case Endpoint::TaskState:
        case Endpoint::TaskApply:
        case Endpoint::TaskDelete:
        case Endpoint::TaskPut:
        case Endpoint::Holidays:
            return tasks(std::move(request), to, route, *who);
        case Endpoint::Log:
        case Endpoint::LogCsv:
            return log(std::move(request), to, route.endpoint == Endpoint::LogCsv);
        case Endpoint::Events: {
            Answer stream{jsonResponse(request, http::status::ok, {}), true};
            if (!who->session.empty()) {
                // A session's stream lasts as long as the session (or until its logout).
                stream.streamOwner = who->session;
                stream.streamLife = who->expires - m_clock();
            }
            return answer(to, std::move(stream));
        }
        case Endpoint::Devices:
            return onEngine(std::move(request), to,
                            [this](const Request& r) { return devices(r); });
        case Endpoint::Device:
            return onEngine(std::move(request), to,
                            [this, id = route.device](const Request& r) { return device(r, id); });
        case Endpoint::Outlet:
            return onEngine(std::move(request), to, [this, route, who = *who](const Request& r) {
                return switchOutlet(r, route, who);
            });
        case Endpoint::GroupRuns:
            return onEngine(std::move(request), to, [this, route, who = *who](const Request& r) {
                return startRun(r, route, who);
            });
        case Endpoint::Run:
            if (route.write) {
                return onEngine(std::move(request), to,
                                [this, route, who = *who](const Request& r) {
                                    return cancelRun(r, route.run, who);
                                });
            }
            return onEngine(std::move(request), to,
                            [this, id = route.run](const Request& r) { return run(r, id); });
        case Endpoint::Login:
        case Endpoint::Health:
            break;
    }
}

void WebClient::metrics(Request&& request, const Reply& to) {
    // The answers so far are counted here, the rest on the engine's thread.
    onEngine(std::move(request), to, [this, http = m_server.answersByStatus()](const Request& r) {
        return metrics(r, http);
    });
}

void WebClient::log(Request&& request, const Reply& to, bool csv) {
    const auto query = parseLogQuery(request.target());
    if (!query) {
        return reply(to, request, http::status::bad_request,
                     "query: from, to (YYYY-MM-DD), type (1..3), limit (1..1000), before");
    }
    auto shared = std::make_shared<const Request>(std::move(request));
    boost::asio::post(m_slowWork, [query = *query, shared, to, csv] {
        const logbase::LogFilter filter{query.from, query.to, query.type, std::nullopt};
        const auto entries = logbase::queryLogPage(filter, query.limit, query.before);
        if (!entries)
            return reply(to, *shared, http::status::service_unavailable, "the log cannot be read");
        if (csv) return answer(to, Answer{csvResponse(*shared, *entries), false});
        json rows = json::array();
        for (const logbase::LogEntry& e : *entries) {
            rows.push_back({{"seq", e.seq},
                            {"date", e.row.date},
                            {"time", e.row.time},
                            {"type", e.type},
                            {"subType", e.subType},
                            {"typeText", e.row.typeText},
                            {"subTypeText", e.row.subTypeText},
                            {"text", e.row.content}});
        }
        // A full page may have more behind it.
        const json next = static_cast<int>(entries->size()) == query.limit && !entries->empty()
                              ? json(entries->back().seq)
                              : json(nullptr);
        answer(to, Answer{jsonResponse(*shared, http::status::ok,
                                       jsonText(json{{"rows", std::move(rows)}, {"next", next}})),
                          false});
    });
}

void WebClient::onEngine(Request&& request, const Reply& to,
                         std::function<Answer(const Request&)> work) {
    auto shared = std::make_shared<const Request>(std::move(request));
    m_engine.post([alive = m_alive, to, shared, work = std::move(work)] {
        if (*alive) answer(to, work(*shared));
    });
}

void WebClient::login(Request&& request, const std::string& peer, const Reply& to) {
    if (m_auth.failures().limited(peer)) {
        return reply(to, request, http::status::too_many_requests,
                     "too many failed logins, try again in a minute");
    }
    auto body = parseLoginBody(request.body());
    if (!body) {
        return reply(to, request, http::status::bad_request,
                     "body must be {\"user\":\"..\",\"password\":\"..\"}");
    }
    auto account = m_auth.user(body->user);
    auto shared = std::make_shared<const Request>(std::move(request));
    boost::asio::post(m_slowWork, [this, account, password = std::move(body->password), shared,
                                   peer, to] {
        bool ok = false;
        if (account) {
            ok = verifyPassword(account->hash, password);
        } else {
            (void)verifyPassword(decoyHash(), password);  // the same time, the same answer
        }
        m_server.post([this, ok, account, shared, peer, to] {
            if (!ok) {
                m_auth.failures().failed(peer);
                return reply(to, *shared, http::status::unauthorized, "wrong user or password");
            }
            const Identity who = m_auth.open(*account);
            Response response = jsonResponse(
                *shared, http::status::ok,
                json{{"user", who.user}, {"role", roleText(who.role)}, {"csrf", who.csrf}}.dump());
            response.set(http::field::set_cookie, std::string(kSessionCookie) + "=" + who.session +
                                                      "; Path=/; HttpOnly; SameSite=Strict" +
                                                      (m_secure ? "; Secure" : ""));
            logEvent(logcode::kSystem, logcode::kOther,
                     "网页用户登录:" + who.user + ",地址:" + peer);
            answer(to, Answer{std::move(response), false});
        });
    });
}

void WebClient::logout(const Request& request, const Identity& who, const Reply& to) {
    if (!who.session.empty()) m_auth.close(who.session);
    Response response = jsonResponse(request, http::status::ok, "{}");
    response.set(http::field::set_cookie,
                 std::string(kSessionCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
    logEvent(logcode::kSystem, logcode::kOther, "网页用户退出:" + who.user);
    answer(to, Answer{std::move(response), false});
}

void WebClient::health(Request&& request, const Reply& to) {
    auto shared = std::make_shared<const Request>(std::move(request));
    // Whichever comes first answers: the engine's thread, or the wait running out.
    m_server.postAfter(kHealthWait, [to, shared] {
        reply(to, *shared, http::status::service_unavailable, "not running");
    });
    m_engine.post([this, alive = m_alive, to, shared] {
        if (!*alive) return;
        const auto& session = m_engine.session();
        const bool running = session.logStarted() && session.linkStarted();
        if (running) {
            answer(to,
                   Answer{jsonResponse(*shared, http::status::ok, "{\"status\":\"ok\"}"), false});
        } else {
            reply(to, *shared, http::status::service_unavailable, "not running");
        }
    });
}

}  // namespace webapi
