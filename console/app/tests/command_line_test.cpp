// The command line: parsed in-process, and through the real program run without a display.
#include "consoleapp/command_line.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "consoleui/vantrel_dlg.h"
#include "public/work_path.h"
#include "testkit/wait_for.h"

namespace {

using Action = consoleapp::CommandLine::Action;

consoleapp::CommandLine parse(const QStringList& options) {
    return consoleapp::parseCommandLine(QStringList{QStringLiteral("vantrel")} + options);
}

TEST(CommandLineTest, ReadsTheRunOptions) {
    const auto none = parse({});
    EXPECT_EQ(none.action, Action::Run);
    EXPECT_EQ(none.options.session.port, consoleapp::AppOptions{}.session.port);
    EXPECT_TRUE(none.options.lockFolder.empty());
    EXPECT_TRUE(none.dataFolder.empty());

    const auto all = parse({"--port=7001", "--lock-dir=/run/x", "--data-dir", "/srv/v"});
    EXPECT_EQ(all.action, Action::Run);
    EXPECT_EQ(all.options.session.port, 7001);
    EXPECT_EQ(all.options.lockFolder, "/run/x");
    EXPECT_EQ(all.dataFolder, "/srv/v");
    const auto backup = parse({"--data-dir=/srv/v", "--backup", "/b/log copy.db3"});
    EXPECT_EQ(backup.action, Action::Backup);
    EXPECT_EQ(backup.backupFile, "/b/log copy.db3");
    EXPECT_EQ(backup.dataFolder, "/srv/v");
    EXPECT_FALSE(none.options.web.port.has_value());
    EXPECT_EQ(parse({"--web-port=0"}).options.web.port, 0);
    EXPECT_EQ(parse({"--headless", "--web-port=9090"}).options.web.port, 9090);
    const auto user = parse({"--data-dir=/srv/v", "--add-user=ann", "--role=admin"});
    EXPECT_EQ(user.action, Action::Users);
    EXPECT_EQ(user.userCommand.kind, webapi::UserCommand::Kind::AddUser);
    EXPECT_EQ(user.userCommand.name, "ann");
    EXPECT_EQ(user.userCommand.role, "admin");
    EXPECT_EQ(parse({"--list-users"}).userCommand.kind, webapi::UserCommand::Kind::ListUsers);
    EXPECT_EQ(parse({"-v"}).action, Action::Version);
    EXPECT_EQ(parse({"-h", "--bogus"}).action, Action::UsageError);
}

TEST(CommandLineTest, RefusesBadInputWithAUsageMessage) {
    const QStringList bad[] = {{"--bogus"},
                               {"--port=70000"},
                               {"--port=abc"},
                               {"--port=-1"},
                               {"--port"},
                               {"--lock-dir="},
                               {"--data-dir="},
                               {"stray"},
                               {"--backup="},
                               {"--backup"},
                               {"--web-port=65536"},
                               {"--web-port=x"},
                               {"--role=admin"},
                               {"--add-user=a", "--remove-user=b"},
                               {"--list-users", "--role=viewer"}};
    for (const QStringList& options : bad) {
        const auto result = parse(options);
        EXPECT_EQ(result.action, Action::UsageError) << options.join(' ').toStdString();
        EXPECT_NE(result.text.find("Usage: vantrel"), std::string::npos) << result.text;
    }
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// Runs the built program with only PATH and HOME (and the sanitizer settings) in its
// environment: no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM, so a widget would fail.
Outcome runProgram(const char* option) {
    testkit::TempDir temp;
    const std::string program = GetCurWorkPath() + "vantrel";
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "HOME=" + temp.path().string()};
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string arg = option;
    char* argv[] = {const_cast<char*>(program.c_str()), arg.data(), nullptr};

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, temp.file("out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, temp.file("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &files, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&files);
    Outcome outcome;
    if (spawned != 0) return outcome;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    outcome.out = slurp(temp.file("out"));
    outcome.err = slurp(temp.file("err"));
    return outcome;
}

TEST(CommandLineTest, TheProgramAnswersWithoutADisplay) {
    const Outcome help = runProgram("--help");
    EXPECT_EQ(help.status, 0) << help.err;
    for (const char* text :
         {"Usage: vantrel", "--port <N>", "--lock-dir <DIR>", "--data-dir <DIR>", "--version"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text << " in\n" << help.out;
    }

    const Outcome version = runProgram("--version");
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, std::string("vantrel ") + consoleui::kVersionText + "\n");

    const Outcome bogus = runProgram("--bogus");
    EXPECT_EQ(bogus.status, 2);
    EXPECT_TRUE(bogus.out.empty()) << bogus.out;
    EXPECT_NE(bogus.err.find("Unknown option 'bogus'"), std::string::npos) << bogus.err;
}

}  // namespace
