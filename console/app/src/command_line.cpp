// The options of vantrel, parsed with QCommandLineParser without an application object.
#include "consoleapp/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <optional>
#include <utility>

#include "consoleui/vantrel_dlg.h"

namespace consoleapp {

namespace {

const QString kProgram = QStringLiteral("vantrel");

struct OptionEntry {
    QStringList names;
    const char* helpText;
    const char* valueName;  // null: a flag
};

const OptionEntry kOptions[] = {
    {{QStringLiteral("h"), QStringLiteral("help")}, "Print this usage and exit.", nullptr},
    {{QStringLiteral("v"), QStringLiteral("version")}, "Print the version and exit.", nullptr},
    {{QStringLiteral("port")}, "TCP port the sequencers connect to (default 6000).", "N"},
    {{QStringLiteral("lock-dir")},
     "Folder of the single-instance lock file (default /tmp); made private when missing.",
     "DIR"},
    {{QStringLiteral("data-dir")},
     "Folder of the database, dumps, timed tasks and settings (default: beside the program "
     "when its folder is writable, else $XDG_DATA_HOME/vantrel).",
     "DIR"},
    {{QStringLiteral("headless")},
     "Run without a window (a service): the devices, timed tasks, log and MQTT bridge only; "
     "SIGTERM stops it.",
     nullptr},
    {{QStringLiteral("web-port")},
     "Port of the HTTP API (0: off); replaces Port in [Web] of Vantrel.ini (default 8080).",
     "N"},
    {{QStringLiteral("add-user")},
     "Add the API user NAME (or change its role and password) and exit; the password is read "
     "from standard input (twice on a terminal). Needs --role.",
     "NAME"},
    {{QStringLiteral("remove-user")}, "Remove the API user or token NAME and exit.", "NAME"},
    {{QStringLiteral("list-users")},
     "List the API users and tokens with their roles and exit.",
     nullptr},
    {{QStringLiteral("add-token")},
     "Add the API token NAME for scripts, print it once and exit. Needs --role.",
     "NAME"},
    {{QStringLiteral("role")},
     "Role of --add-user or --add-token: viewer, operator or admin.",
     "ROLE"},
    {{QStringLiteral("backup")},
     "Copy the event log database of the data folder to FILE and exit; safe while the console "
     "or service runs. Exit status 0 when the copy is complete.",
     "FILE"},
};

bool parsePort(const QString& text, std::uint16_t& port) {
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value > 65535 || text.startsWith(QLatin1Char('+'))) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

CommandLine usageError(const QString& message) {
    CommandLine result;
    result.action = CommandLine::Action::UsageError;
    result.text =
        (kProgram + QStringLiteral(": ") + message + QStringLiteral("\nUsage: ") + kProgram +
         QStringLiteral(
             " [--port=N] [--lock-dir=DIR] [--data-dir=DIR] [--headless] [--web-port=N]\n"
             "       [--backup=FILE] [--add-user=NAME --role=ROLE] [--remove-user=NAME]\n"
             "       [--list-users] [--add-token=NAME --role=ROLE]\n") +
         QStringLiteral("Try '") + kProgram + QStringLiteral(" --help' for more.\n"))
            .toStdString();
    return result;
}

// --add-user, --remove-user, --list-users, --add-token (one of them) with --role: the
// problem, if any.
std::optional<QString> readUserCommand(const QCommandLineParser& parser, CommandLine& result) {
    using Kind = webapi::UserCommand::Kind;
    const std::pair<const char*, Kind> kinds[] = {{"add-user", Kind::AddUser},
                                                  {"remove-user", Kind::RemoveUser},
                                                  {"list-users", Kind::ListUsers},
                                                  {"add-token", Kind::AddToken}};
    std::optional<webapi::UserCommand> command;
    for (const auto& [name, kind] : kinds) {
        if (!parser.isSet(QString::fromLatin1(name))) continue;
        if (command) return QStringLiteral("give one user command at a time.");
        command = webapi::UserCommand{kind, {}, {}};
        if (kind != Kind::ListUsers)
            command->name = parser.value(QString::fromLatin1(name)).toStdString();
    }
    const bool roleSet = parser.isSet(QStringLiteral("role"));
    if (roleSet &&
        (!command || (command->kind != Kind::AddUser && command->kind != Kind::AddToken))) {
        return QStringLiteral("--role goes with --add-user or --add-token.");
    }
    if (!command) return std::nullopt;
    command->role = parser.value(QStringLiteral("role")).toStdString();
    result.action = CommandLine::Action::Users;
    result.userCommand = std::move(*command);
    return std::nullopt;
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Console for networked 16-outlet rack power sequencers."));
    for (const OptionEntry& entry : kOptions) {
        QCommandLineOption option(entry.names, QString::fromUtf8(entry.helpText));
        if (entry.valueName) option.setValueName(QString::fromUtf8(entry.valueName));
        parser.addOption(option);
    }
    if (!parser.parse(arguments)) return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty()) {
        return usageError(QStringLiteral("unexpected argument '%1'.")
                              .arg(parser.positionalArguments().constFirst()));
    }

    CommandLine result;
    if (parser.isSet(QStringLiteral("help"))) {
        result.action = CommandLine::Action::Help;
        // Without an application object the parser cannot know the program's name.
        result.text =
            parser.helpText().replace(QStringLiteral("<executable_name>"), kProgram).toStdString();
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        result.action = CommandLine::Action::Version;
        result.text = (kProgram + QLatin1Char(' ') + QLatin1String(consoleui::kVersionText) +
                       QLatin1Char('\n'))
                          .toStdString();
        return result;
    }
    if (parser.isSet(QStringLiteral("port")) &&
        !parsePort(parser.value(QStringLiteral("port")), result.options.session.port)) {
        return usageError(QStringLiteral("invalid port '%1' (0 to 65535).")
                              .arg(parser.value(QStringLiteral("port"))));
    }
    if (parser.isSet(QStringLiteral("web-port"))) {
        std::uint16_t webPort = 0;
        if (!parsePort(parser.value(QStringLiteral("web-port")), webPort)) {
            return usageError(QStringLiteral("invalid web port '%1' (0 to 65535).")
                                  .arg(parser.value(QStringLiteral("web-port"))));
        }
        result.options.web.port = webPort;
    }
    if (auto error = readUserCommand(parser, result)) return usageError(*error);
    for (const QString& name : {QStringLiteral("lock-dir"), QStringLiteral("data-dir")}) {
        if (parser.isSet(name) && parser.value(name).isEmpty()) {
            return usageError(QStringLiteral("--%1 needs a folder.").arg(name));
        }
    }
    if (parser.isSet(QStringLiteral("backup"))) {
        if (parser.value(QStringLiteral("backup")).isEmpty()) {
            return usageError(QStringLiteral("--backup needs a file."));
        }
        result.action = CommandLine::Action::Backup;
        result.backupFile = parser.value(QStringLiteral("backup")).toLocal8Bit().toStdString();
    }
    result.options.lockFolder = parser.value(QStringLiteral("lock-dir")).toStdString();
    result.dataFolder = parser.value(QStringLiteral("data-dir")).toStdString();
    result.headless = parser.isSet(QStringLiteral("headless"));
    return result;
}

}  // namespace consoleapp
