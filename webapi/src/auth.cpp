// Tokens and sessions are compared by hash or in constant time; nothing secret is logged.
#include "auth.h"

#include <sys/stat.h>

#include <vector>

#include "logbase/log_codes.h"
#include "logbase/logbase.h"

namespace webapi {

namespace {

// Bounds on what strangers can make us keep.
constexpr std::size_t kMaxSessions = 4096;
constexpr std::size_t kMaxLimitedAddresses = 4096;

std::string_view trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

}  // namespace

FailureLimiter::FailureLimiter(Clock clock, int limit, std::chrono::seconds window)
    : m_clock(std::move(clock)), m_limit(limit), m_window(window) {}

void FailureLimiter::prune(std::deque<std::chrono::steady_clock::time_point>& times) {
    const auto now = m_clock();
    while (!times.empty() && now - times.front() >= m_window) times.pop_front();
}

bool FailureLimiter::limited(const std::string& address) {
    const auto it = m_failures.find(address);
    if (it == m_failures.end()) return false;
    prune(it->second);
    if (it->second.empty()) {
        m_failures.erase(it);
        return false;
    }
    return static_cast<int>(it->second.size()) >= m_limit;
}

void FailureLimiter::failed(const std::string& address) {
    if (m_failures.size() >= kMaxLimitedAddresses) {
        for (auto it = m_failures.begin(); it != m_failures.end();) {
            prune(it->second);
            it = it->second.empty() ? m_failures.erase(it) : std::next(it);
        }
    }
    auto& times = m_failures[address];
    times.push_back(m_clock());
    if (static_cast<int>(times.size()) > m_limit) times.pop_front();
}

Auth::Auth(std::string usersPath, std::chrono::minutes sessionLife, Clock clock)
    : m_path(usersPath),
      m_store(std::move(usersPath)),
      m_life(sessionLife),
      m_clock(clock),
      m_failures(clock) {}

void Auth::refreshUsers() {
    struct stat st {};
    std::string stamp;
    if (::stat(m_path.c_str(), &st) == 0) {
        stamp = std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
                std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }
    if (stamp == m_stamp) return;
    std::string problem;
    if (!m_store.load(problem)) {
        logEvent(logcode::kFailure, logcode::kOther, "网页用户文件无法读取:" + problem);
    } else if (m_store.skipped() > 0) {
        logEvent(logcode::kFailure, logcode::kOther,
                 "网页用户文件有" + std::to_string(m_store.skipped()) + "项无效,已忽略");
    }
    m_stamp = stamp;
}

std::optional<Account> Auth::user(const std::string& name) {
    refreshUsers();
    const Account* account = m_store.findUser(name);
    if (!account) return std::nullopt;
    return *account;
}

std::optional<Identity> Auth::identify(const Request& request) {
    const auto authorization = request[http::field::authorization];
    constexpr std::string_view kBearer = "Bearer ";
    if (authorization.size() > kBearer.size() &&
        beast::iequals(authorization.substr(0, kBearer.size()), kBearer)) {
        refreshUsers();
        const std::string_view token = trim(authorization.substr(kBearer.size()));
        const Account* account = m_store.findToken(token);
        if (!account) return std::nullopt;
        return Identity{account->name, account->role, {}, {}};
    }
    const auto id = cookieValue(request[http::field::cookie], kSessionCookie);
    if (!id) return std::nullopt;
    dropExpired();
    const auto it = m_sessions.find(*id);
    if (it == m_sessions.end()) return std::nullopt;
    return Identity{it->second.user, it->second.role, it->first, it->second.csrf,
                    it->second.expires};
}

Identity Auth::open(const Account& account) {
    dropExpired();
    if (m_sessions.size() >= kMaxSessions) {
        // The one that ends soonest makes room.
        auto oldest = m_sessions.begin();
        for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
            if (it->second.expires < oldest->second.expires) oldest = it;
        }
        const std::string id = oldest->first;
        m_sessions.erase(oldest);
        ended(id);
    }
    Session session{account.name, account.role, randomHex(16), m_clock() + m_life};
    std::string id = randomHex(32);
    Identity identity{account.name, account.role, id, session.csrf, session.expires};
    m_sessions.emplace(std::move(id), std::move(session));
    return identity;
}

void Auth::close(const std::string& session) {
    if (m_sessions.erase(session) > 0) ended(session);
}

void Auth::dropExpired() {
    const auto now = m_clock();
    std::vector<std::string> gone;
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second.expires > now) {
            ++it;
            continue;
        }
        gone.push_back(it->first);
        it = m_sessions.erase(it);
    }
    for (const std::string& session : gone) ended(session);
}

void Auth::ended(const std::string& session) {
    if (m_ended) m_ended(session);
}

std::optional<std::string> cookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        const auto semicolon = header.find(';');
        const std::string_view pair = trim(header.substr(0, semicolon));
        const auto equals = pair.find('=');
        if (equals != std::string_view::npos && trim(pair.substr(0, equals)) == name) {
            return std::string(trim(pair.substr(equals + 1)));
        }
        if (semicolon == std::string_view::npos) break;
        header.remove_prefix(semicolon + 1);
    }
    return std::nullopt;
}

}  // namespace webapi
