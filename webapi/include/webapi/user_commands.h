// vantrel --add-user, --remove-user, --list-users and --add-token: "Users.ini" from the
// command line.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace webapi {

struct UserCommand {
    enum class Kind { AddUser, RemoveUser, ListUsers, AddToken };
    Kind kind = Kind::ListUsers;
    std::string name;
    std::string role;  // --role, for AddUser and AddToken
};

// Reads one line of standard input after showing `prompt` (on a terminal, without echo);
// nothing at its end.
using PasswordReader = std::function<std::optional<std::string>(const char* prompt)>;

// Runs `command` on the file `usersPath`. A password is read once, or twice (and must match)
// when `terminal`. Returns the exit status: 0 done, 2 bad input (name, role, password, unknown
// user) with a message on `err`, 1 when the file cannot be read or written.
int runUserCommand(const UserCommand& command, const std::string& usersPath, bool terminal,
                   const PasswordReader& readPassword, std::ostream& out, std::ostream& err);

// Standard input's next line; on a terminal the prompt goes to standard error and echo is off
// while the line is typed.
std::optional<std::string> readPasswordLine(const char* prompt);

}  // namespace webapi
