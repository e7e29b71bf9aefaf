// The program's command line: parsed before any widget exists, so --help and --version work
// without a display.
#pragma once

#include <QStringList>
#include <string>

#include "consoleapp/vantrel_app.h"

namespace consoleapp {

struct CommandLine {
    enum class Action { Run, Help, Version, UsageError, Backup };
    Action action = Action::Run;
    // Help or version text for stdout; for UsageError the message and usage for stderr.
    std::string text;
    AppOptions options;      // --port, --lock-dir
    std::string dataFolder;  // --data-dir; empty when not given
    bool headless = false;   // --headless
    std::string backupFile;  // --backup: copy the event log there and exit (Action::Backup)
};

// Parses the arguments (the first is the program). Options are declared in one table in
// command_line.cpp; a new option is one entry there and one line where its value is read.
CommandLine parseCommandLine(const QStringList& arguments);

}  // namespace consoleapp
