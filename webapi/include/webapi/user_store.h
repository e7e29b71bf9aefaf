// Users and script tokens of the HTTP API, kept in "Users.ini" in the data folder: a role and
// a hash each (argon2id for passwords, a keyed-free BLAKE2b hash for tokens), never a secret.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace webapi {

enum class Role { Viewer = 1, Operator = 2, Admin = 3 };

std::optional<Role> parseRole(std::string_view text);
const char* roleText(Role role);
// Names of users and tokens: 1..32 characters of [A-Za-z0-9._-].
bool validName(std::string_view name);

struct Account {
    std::string name;
    Role role = Role::Viewer;
    std::string hash;  // argon2id string (users) or hex hash (tokens)
};

// An argon2id string for `password` (libsodium's interactive limits); empty when the hash
// could not be made (out of memory).
std::string hashPassword(std::string_view password);
bool verifyPassword(const std::string& hash, std::string_view password);
// Hex of the 32-byte BLAKE2b hash of a token: what the file keeps of it.
std::string tokenHash(std::string_view token);
// `bytes` random bytes in hex.
std::string randomHex(std::size_t bytes);
// Equal strings, compared in time that depends only on their lengths.
bool sameSecret(std::string_view a, std::string_view b);

// "Users.ini": [Users] NAME=ROLE:ARGON2ID and [Tokens] NAME=ROLE:HASH. Entries that do not
// read as such are skipped (and counted), never half-used.
class UserStore {
public:
    explicit UserStore(std::string path) : m_path(std::move(path)) {}

    // Reads the file; a missing file holds nobody. False (with `problem`) when it exists but
    // cannot be read.
    bool load(std::string& problem);
    // Writes the file atomically with mode 0600. False (with `problem`) on failure.
    bool save(std::string& problem) const;

    const std::vector<Account>& users() const { return m_users; }
    const std::vector<Account>& tokens() const { return m_tokens; }
    std::size_t skipped() const { return m_skipped; }
    const Account* findUser(std::string_view name) const;
    // The token's account, by the hash of `token`.
    const Account* findToken(std::string_view token) const;

    // Adds or replaces. False when the password could not be hashed.
    bool setUser(const std::string& name, Role role, std::string_view password);
    bool removeUser(std::string_view name);
    // Adds or replaces the token `name`; returns the token itself, shown once.
    std::string setToken(const std::string& name, Role role);

private:
    std::string m_path;
    std::vector<Account> m_users;
    std::vector<Account> m_tokens;
    std::size_t m_skipped = 0;
};

}  // namespace webapi
