// The program's command line: parsed before any widget exists, so --help and --version work
// without a display.
#pragma once

#include <QStringList>
#include <string>

#include "consoleapp/vantrel_app.h"
#include "webapi/user_commands.h"

namespace consoleapp {

struct CommandLine {
    enum class Action { Run, Help, Version, UsageError, Backup, Users };
    Action action = Action::Run;
    // Help or version text for stdout; for UsageError the message and usage for stderr.
    std::string text;
    AppOptions options;      // --port, --lock-dir, --web-port
    std::string dataFolder;  // --data-dir; empty when not given
    bool headless = false;   // --headless
    std::string backupFile;  // --backup: copy the event log there and exit (Action::Backup)
    webapi::UserCommand userCommand;  // --add-user and the like (Action::Users)
};

// Parses the arguments (the first is the program). Options are declared in one table in
// command_line.cpp; a new option is one entry there and one line where its value is read.
CommandLine parseCommandLine(const QStringList& arguments);

}  // namespace consoleapp
