// The console program vantrel: see `vantrel --help`.
// The command line is read before any widget starts, so --help and --version need no display.
// The defaults (device port 6000, the lock file in $XDG_RUNTIME_DIR or /tmp/vantrel-<uid>) are
// what an installation uses; the options let demos and screenshots run beside another console.
// VANTREL_GUI_PROBE=FILE in the environment writes GUI-thread figures there (benchmarks).
#include <unistd.h>
#include <QApplication>

#include <cstdio>
#include <iostream>
#include <string>

#include "consoleapp/command_line.h"
#include "consoleapp/unix_signals.h"
#include "consoleapp/vantrel_app.h"
#include "consoleui/cell_icons.h"
#include "consoleui/qt_translations.h"
#include "gui_probe.h"
#include "logbase/log_backup.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "public/data_folder.h"
#include "public/data_path.h"
#include "webapi/user_commands.h"

namespace {

QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    consoleapp::CommandLine commandLine = consoleapp::parseCommandLine(argumentsOf(argc, argv));
    switch (commandLine.action) {
        case consoleapp::CommandLine::Action::Help:
        case consoleapp::CommandLine::Action::Version:
            std::fputs(commandLine.text.c_str(), stdout);
            return 0;
        case consoleapp::CommandLine::Action::UsageError:
            std::fputs(commandLine.text.c_str(), stderr);
            return 2;
        case consoleapp::CommandLine::Action::Run:
        case consoleapp::CommandLine::Action::Backup:
        case consoleapp::CommandLine::Action::Users:
            break;
    }

    // The data folder, chosen once before any module opens a file.
    const DataFolderResult data = ResolveDataFolder(commandLine.dataFolder);
    if (data.folder.empty()) {
        std::fprintf(stderr, "vantrel: %s\n", data.error.c_str());
        return 1;
    }
    SetDataPath(data.folder);
    if (commandLine.action == consoleapp::CommandLine::Action::Backup) {
        // A short process of its own beside a running console: no lock, no log lines.
        std::string problem;
        if (BackupLogDatabase(GetDataPath() + "Vantrel_DB.db3", commandLine.backupFile, problem)) {
            return 0;
        }
        std::fprintf(stderr, "vantrel: backup to %s failed: %s\n", commandLine.backupFile.c_str(),
                     problem.c_str());
        return 1;
    }
    if (commandLine.action == consoleapp::CommandLine::Action::Users) {
        // A short process of its own: Users.ini only, beside a running console or not.
        return webapi::runUserCommand(commandLine.userCommand, GetDataPath() + "Users.ini",
                                      ::isatty(STDIN_FILENO) == 1, webapi::readPasswordLine,
                                      std::cout, std::cerr);
    }
    // Kept until the log store opens, then stored as its first line.
    logEvent(logcode::kSystem, logcode::kStartup, "数据文件夹:" + std::string(data.folder.c_str()));

    if (commandLine.headless) {
        // No display: the core's event loop only.
        QCoreApplication application(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
        consoleapp::UnixSignalStop stopOnSignal;  // SIGTERM/SIGINT/SIGHUP end the loop
        consoleapp::CVantrelApp app(commandLine.options);
        return app.runHeadless();
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setWindowIcon(consoleui::windowIcon());
    consoleui::installQtTranslations(application);

    consoleapp::UnixSignalStop stopOnSignal;  // SIGTERM/SIGINT/SIGHUP close like the window
    // Measures the GUI thread for benchmarks; absent unless VANTREL_GUI_PROBE is set.
    const auto probe = consoleapp::GuiProbe::fromEnvironment();
    consoleapp::CVantrelApp app(commandLine.options);
    app.InitInstance();
    return app.lockRefused() || app.refusedAsSecondInstance() ? 1 : 0;
}
