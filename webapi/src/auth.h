// Who is calling: bearer tokens and login sessions, the login failure limit per address, and
// the users file re-read when it changes. Used on the server's thread only.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "http_server.h"
#include "webapi/user_store.h"

namespace webapi {

using Clock = std::function<std::chrono::steady_clock::time_point()>;

// At most `limit` failures per address within `window`; the next is refused until the oldest
// of them is older than the window.
class FailureLimiter {
public:
    FailureLimiter(Clock clock, int limit = 5,
                   std::chrono::seconds window = std::chrono::seconds(60));
    bool limited(const std::string& address);
    void failed(const std::string& address);

private:
    void prune(std::deque<std::chrono::steady_clock::time_point>& times);

    Clock m_clock;
    int m_limit;
    std::chrono::seconds m_window;
    std::unordered_map<std::string, std::deque<std::chrono::steady_clock::time_point>> m_failures;
};

struct Identity {
    std::string user;
    Role role = Role::Viewer;
    std::string session;  // the session id when it came with the cookie; empty for a token
    std::string csrf;     // the session's CSRF token
    std::chrono::steady_clock::time_point expires{};  // the session's end
};

// The cookie that carries a session.
inline constexpr const char* kSessionCookie = "vantrel_session";

class Auth {
public:
    Auth(std::string usersPath, std::chrono::minutes sessionLife, Clock clock);

    // The caller by its "Authorization: Bearer" token, else its session cookie.
    std::optional<Identity> identify(const Request& request);
    // The user of that name as the file holds it now (read again when it changed).
    std::optional<Account> user(const std::string& name);
    // A new session for `account`.
    Identity open(const Account& account);
    void close(const std::string& session);
    // Told the id of every session that ends: logged out, expired, or pushed out by newer ones.
    void onSessionEnd(std::function<void(const std::string&)> ended) { m_ended = std::move(ended); }

    FailureLimiter& failures() { return m_failures; }

private:
    struct Session {
        std::string user;
        Role role = Role::Viewer;
        std::string csrf;
        std::chrono::steady_clock::time_point expires;
    };
    void refreshUsers();
    void dropExpired();
    void ended(const std::string& session);

    std::string m_path;
    UserStore m_store;
    std::string m_stamp;  // what stat() said of the file when it was read
    std::chrono::minutes m_life;
    Clock m_clock;
    FailureLimiter m_failures;
    std::unordered_map<std::string, Session> m_sessions;
    std::function<void(const std::string&)> m_ended;
};

// The value of cookie `name` in a Cookie header, if any.
std::optional<std::string> cookieValue(std::string_view header, std::string_view name);

}  // namespace webapi
