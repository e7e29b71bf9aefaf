// The user and token commands of the program: validate, change Users.ini, report.
#include "webapi/user_commands.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "webapi/user_store.h"

namespace webapi {

namespace {

constexpr std::size_t kMaxPasswordBytes = 1024;

int badInput(std::ostream& err, const std::string& text) {
    err << "vantrel: " << text << "\n";
    return 2;
}

}  // namespace

int runUserCommand(const UserCommand& command, const std::string& usersPath, bool terminal,
                   const PasswordReader& readPassword, std::ostream& out, std::ostream& err) {
    using Kind = UserCommand::Kind;
    std::optional<Role> role;
    if (command.kind == Kind::AddUser || command.kind == Kind::AddToken) {
        role = parseRole(command.role);
        if (!role) return badInput(err, "--role must be viewer, operator or admin");
    }
    if (command.kind != Kind::ListUsers && !validName(command.name)) {
        return badInput(err, "invalid name '" + command.name +
                                 "' (1 to 32 of the letters A-Z a-z, digits, '.', '_', '-')");
    }
    UserStore store(usersPath);
    std::string problem;
    if (!store.load(problem)) {
        err << "vantrel: cannot read " << usersPath << ": " << problem << "\n";
        return 1;
    }
    switch (command.kind) {
        case Kind::ListUsers:
            for (const Account& a : store.users()) out << a.name << " " << roleText(a.role) << "\n";
            for (const Account& a : store.tokens()) {
                out << a.name << " " << roleText(a.role) << " token\n";
            }
            return 0;
        case Kind::RemoveUser:
            if (!store.removeUser(command.name)) {
                return badInput(err, "no user or token named '" + command.name + "'");
            }
            break;
        case Kind::AddUser: {
            const auto password = readPassword("Password: ");
            if (!password || password->empty() || password->size() > kMaxPasswordBytes) {
                return badInput(err, "a password of 1 to 1024 bytes is needed on standard input");
            }
            if (terminal) {
                const auto again = readPassword("Password again: ");
                if (!again || *again != *password) return badInput(err, "the passwords differ");
            }
            if (!store.setUser(command.name, *role, *password)) {
                err << "vantrel: the password could not be hashed\n";
                return 1;
            }
            break;
        }
        case Kind::AddToken: {
            const std::string token = store.setToken(command.name, *role);
            if (!store.save(problem)) break;
            // Shown once: only its hash is kept.
            out << token << "\n";
            return 0;
        }
    }
    if (!problem.empty() || !store.save(problem)) {
        err << "vantrel: " << problem << "\n";
        return 1;
    }
    return 0;
}

std::optional<std::string> readPasswordLine(const char* prompt) {
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!read && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace webapi
