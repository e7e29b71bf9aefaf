// Users.ini with libsodium's hashes: argon2id for passwords, BLAKE2b for tokens.
#include "webapi/user_store.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <mutex>

#include "platform/ini_document.h"
#include "platform/ini_profile.h"

namespace webapi {

namespace {

constexpr const char* kUsers = "Users";
constexpr const char* kTokens = "Tokens";

void ensureSodium() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Fails only without a random source; hashing then fails and its caller says so.
        if (sodium_init() < 0) return;
    });
}

std::string toHex(const unsigned char* data, std::size_t size) {
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), data, size);
    hex.pop_back();
    return hex;
}

std::optional<Account> parseEntry(const std::string& name, const std::string& value) {
    const auto colon = value.find(':');
    if (!validName(name) || colon == std::string::npos) return std::nullopt;
    const auto role = parseRole(std::string_view(value).substr(0, colon));
    std::string hash = value.substr(colon + 1);
    if (!role || hash.empty()) return std::nullopt;
    return Account{name, *role, std::move(hash)};
}

void readSection(const platform::IniDocument& doc, const char* section, std::vector<Account>& into,
                 std::size_t& skipped) {
    into.clear();
    for (const auto& [name, value] : doc.entries(section)) {
        if (auto account = parseEntry(name, value)) {
            into.push_back(std::move(*account));
        } else {
            ++skipped;
        }
    }
}

template <typename Accounts>
auto findByName(Accounts& accounts, std::string_view name) {
    return std::find_if(accounts.begin(), accounts.end(),
                        [&](const Account& a) { return a.name == name; });
}

}  // namespace

std::optional<Role> parseRole(std::string_view text) {
    if (text == "viewer") return Role::Viewer;
    if (text == "operator") return Role::Operator;
    if (text == "admin") return Role::Admin;
    return std::nullopt;
}

const char* roleText(Role role) {
    switch (role) {
        case Role::Viewer:
            return "viewer";
        case Role::Operator:
            return "operator";
        case Role::Admin:
            return "admin";
    }
    return "viewer";
}

bool validName(std::string_view name) {
    return !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

std::string hashPassword(std::string_view password) {
    ensureSodium();
    std::array<char, crypto_pwhash_STRBYTES> out{};
    if (crypto_pwhash_str(out.data(), password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        return {};
    }
    return out.data();
}

bool verifyPassword(const std::string& hash, std::string_view password) {
    ensureSodium();
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string tokenHash(std::string_view token) {
    ensureSodium();
    std::array<unsigned char, crypto_generichash_BYTES> digest{};
    crypto_generichash(digest.data(), digest.size(),
                       reinterpret_cast<const unsigned char*>(token.data()), token.size(), nullptr,
                       0);
    return toHex(digest.data(), digest.size());
}

std::string randomHex(std::size_t bytes) {
    ensureSodium();
    std::vector<unsigned char> random(bytes);
    randombytes_buf(random.data(), random.size());
    return toHex(random.data(), random.size());
}

bool sameSecret(std::string_view a, std::string_view b) {
    return a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool UserStore::load(std::string& problem) {
    const platform::IniLoad file = platform::readIniFile(m_path);
    if (!file.document) {
        problem = file.problem;
        return false;
    }
    m_skipped = 0;
    readSection(*file.document, kUsers, m_users, m_skipped);
    readSection(*file.document, kTokens, m_tokens, m_skipped);
    return true;
}

bool UserStore::save(std::string& problem) const {
    // The file keeps hashes only, still nobody else reads it: created 0600 before the first
    // write, and put back to 0600 should somebody have widened it; the atomic replace keeps
    // the mode of the file it replaces.
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || ::fchmod(fd, 0600) != 0) {
        problem = "cannot create " + m_path;
        if (fd >= 0) ::close(fd);
        return false;
    }
    ::close(fd);
    platform::IniDocument doc;
    for (const Account& a : m_users)
        doc.set(kUsers, a.name, std::string(roleText(a.role)) + ":" + a.hash);
    for (const Account& a : m_tokens)
        doc.set(kTokens, a.name, std::string(roleText(a.role)) + ":" + a.hash);
    if (!platform::replaceFileAtomically(m_path, doc.toText())) {
        problem = "cannot write " + m_path;
        return false;
    }
    return true;
}

const Account* UserStore::findUser(std::string_view name) const {
    const auto it = findByName(m_users, name);
    return it == m_users.end() ? nullptr : &*it;
}

const Account* UserStore::findToken(std::string_view token) const {
    const std::string hash = tokenHash(token);
    for (const Account& account : m_tokens) {
        if (sameSecret(account.hash, hash)) return &account;
    }
    return nullptr;
}

bool UserStore::setUser(const std::string& name, Role role, std::string_view password) {
    std::string hash = hashPassword(password);
    if (hash.empty()) return false;
    if (auto it = findByName(m_users, name); it != m_users.end()) {
        *it = Account{name, role, std::move(hash)};
    } else {
        m_users.push_back(Account{name, role, std::move(hash)});
    }
    return true;
}

bool UserStore::removeUser(std::string_view name) {
    const auto it = findByName(m_users, name);
    if (it != m_users.end()) {
        m_users.erase(it);
        return true;
    }
    const auto token = findByName(m_tokens, name);
    if (token == m_tokens.end()) return false;
    m_tokens.erase(token);
    return true;
}

std::string UserStore::setToken(const std::string& name, Role role) {
    std::string token = randomHex(32);
    Account account{name, role, tokenHash(token)};
    if (auto it = findByName(m_tokens, name); it != m_tokens.end()) {
        *it = std::move(account);
    } else {
        m_tokens.push_back(std::move(account));
    }
    return token;
}

}  // namespace webapi
