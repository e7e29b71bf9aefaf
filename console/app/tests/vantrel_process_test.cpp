// The real program in its own process: a stop signal closes it in order with its log kept,
// and the single-instance lock file is never taken through a planted link or from another
// user. Each run uses a link to the program in a temp folder, so its database, task folder
// and lock file stay there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "testkit/wait_for.h"
#include "vantrel_process.h"

namespace {

using namespace proctest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(VantrelProcess, EachStopSignalClosesInOrderWithExitZeroAndTheLogKept) {
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(::strsignal(number));
        testkit::TempDir folder;
        Console console(folder, folder.path().string());
        ASSERT_TRUE(console.started());
        // Fully started: the runner is the last module to start.
        ASSERT_TRUE(testkit::waitFor(
            [&] { return contains(console.log(), "定时任务模块初始化成功."); }, 30s))
            << console.errors();
        console.signal(number);
        const auto status = console.waitExit(5s);
        ASSERT_TRUE(status.has_value()) << "still running 5 s after the signal";
        ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
        EXPECT_EQ(WEXITSTATUS(*status), 0);
        // The runner stopped before the link, and the link's last line reached the database.
        const auto rows = console.log();
        const auto runner = std::find(rows.begin(), rows.end(), "退出定时任务模块.");
        const auto link = std::find(rows.begin(), rows.end(), "退出心跳计数线程");
        ASSERT_NE(link, rows.end());
        EXPECT_LT(runner, link);
    }
}

// A lock file that is a planted symlink, or that another user owns, stops the start with a
// message on stderr; nothing is created or changed through it.
TEST(VantrelProcess, PlantedOrForeignLockFileIsRefusedAndLeftAlone) {
    struct Case {
        const char* name;
        bool needsRoot;
        void (*plant)(const fs::path& lock, const fs::path& target);
        const char* says;
    };
    const Case cases[] = {
        {"symlink to a missing file", false,
         [](const fs::path& lock, const fs::path& target) { fs::create_symlink(target, lock); },
         "symbolic link"},
        {"symlink to a private file", false,
         [](const fs::path& lock, const fs::path& target) {
             std::ofstream(target) << "secret";
             fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
             fs::create_symlink(target, lock);
         },
         "symbolic link"},
        {"file of another user", true,
         [](const fs::path& lock, const fs::path&) {
             std::ofstream(lock).flush();
             ASSERT_EQ(::chown(lock.c_str(), 65534, 65534), 0);
         },
         "another user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) continue;  // only root can give a file away
        testkit::TempDir folder;
        const fs::path lock = folder.path() / "vantrel.lock";
        const fs::path target = folder.path() / "target";
        c.plant(lock, target);
        const bool targetExisted = fs::exists(target);
        const auto targetPerms = targetExisted ? fs::status(target).permissions() : fs::perms{};

        Console console(folder, folder.path().string());
        ASSERT_TRUE(console.started());
        const auto status = console.waitExit(30s);
        ASSERT_TRUE(status.has_value());
        ASSERT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 1);
        EXPECT_NE(console.errors().find(lock.string()), std::string::npos) << console.errors();
        EXPECT_NE(console.errors().find(c.says), std::string::npos) << console.errors();
        EXPECT_FALSE(fs::exists(folder.path() / "Vantrel_DB.db3"));  // no module started
        EXPECT_EQ(fs::exists(target), targetExisted);
        if (targetExisted) {
            EXPECT_EQ(fs::status(target).permissions(), targetPerms);
        }
    }
}

// Two users each have their own lock and data folders: the second user's console starts,
// and only its link fails, on the port the first one holds.
TEST(VantrelProcess, ASecondUsersConsoleStartsAndFailsOnlyOnThePort) {
    if (::geteuid() != 0) GTEST_SKIP() << "running a console as another user needs root";
    constexpr uid_t kOtherUser = 65534;  // nobody
    testkit::TempDir firstFolder;
    testkit::TempDir secondFolder;
    // The other user's own folder: its program link, lock file, database and task folder.
    ASSERT_EQ(::chown(secondFolder.path().c_str(), kOtherUser, kOtherUser), 0);
    const int port = freePort();
    Console first(firstFolder, firstFolder.path().string(), port);
    ASSERT_TRUE(testkit::waitFor([&] { return contains(first.log(), "网络初始化成功!"); }, 30s));
    Console second(secondFolder, secondFolder.path().string(), port, {}, false, kOtherUser);
    ASSERT_TRUE(
        testkit::waitFor([&] { return contains(second.log(), "定时任务模块初始化成功."); }, 30s))
        << second.errors();
    EXPECT_TRUE(contains(second.log(), "网络初始化失败!"));
    struct stat st {};
    ASSERT_EQ(::stat((secondFolder.path() / "Vantrel_DB.db3").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kOtherUser);  // really the other user's console
    for (Console* console : {&first, &second}) {
        console->signal(SIGTERM);
        const auto status = console->waitExit(5s);
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    }
}

// A headless service that cannot work says why on stderr and exits non-zero, so that its
// service manager sees the failure: the device port is taken, or the log store cannot open.
TEST(VantrelProcess, AHeadlessConsoleThatCannotStartItsLinkOrLogExitsNonZeroSayingWhy) {
    // Holds a loopback port with a listening socket for the life of the test.
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
    const int takenPort = ntohs(address.sin_port);

    struct Case {
        const char* name;
        bool portTaken;
        bool logIsAFolder;
        std::string says;
    };
    const Case cases[] = {
        {"port taken", true, false, "网络初始化失败! TCP " + std::to_string(takenPort)},
        {"log store cannot open", false, true, "Vantrel_DB.db3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testkit::TempDir folder;
        if (c.logIsAFolder) fs::create_directory(folder.path() / "Vantrel_DB.db3");
        Console console(folder, folder.path().string(), c.portTaken ? takenPort : freePort(),
                        {"--headless", "--data-dir=" + folder.path().string()}, true);
        ASSERT_TRUE(console.started());
        const auto status = console.waitExit(20s);
        ASSERT_TRUE(status.has_value()) << "still running: " << console.errors();
        ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
        EXPECT_NE(WEXITSTATUS(*status), 0);
        EXPECT_NE(console.errors().find(c.says), std::string::npos) << console.errors();
    }
    ::close(taken);
}

// Settings, task and holiday files that are FIFOs, binary or oversized never stall the start
// (nor the stop signal after it): each is refused with one row naming the file and the reason.
TEST(VantrelProcess, SettingsTaskAndHolidayFilesThatAreNotSmallTextFilesAreRefusedWithARow) {
    struct Case {
        const char* name;
        void (*plant)(const fs::path& data);
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"FIFOs",
         [](const fs::path& data) {
             ASSERT_EQ(::mkfifo((data / "Vantrel.ini").c_str(), 0600), 0);
             ASSERT_EQ(::mkfifo((data / "TimingTask/TimingTask.ini").c_str(), 0600), 0);
             ASSERT_EQ(::mkfifo((data / "TimingTask/Holidays.ini").c_str(), 0600), 0);
         },
         {"配置项{d}/Vantrel.ini 无法读取(不是普通文件),使用默认设置",
          "文件{d}/TimingTask/TimingTask.ini无法读取(不是普通文件),未加载",
          "文件{d}/TimingTask/Holidays.ini无法读取(不是普通文件),未加载"}},
        {"binary task file",
         [](const fs::path& data) {
             std::ofstream(data / "TimingTask/TimingTask.ini", std::ios::binary)
                 << std::string("[TimingTask]\nttCount=1\n\0\x01\x02", 27);
         },
         {"文件{d}/TimingTask/TimingTask.ini无法读取(二进制文件,不是文本),未加载"}},
        {"oversized task file",
         [](const fs::path& data) {
             std::ofstream(data / "TimingTask/TimingTask.ini") << "[TimingTask]\nttCount=1\n";
             fs::resize_file(data / "TimingTask/TimingTask.ini", (16u << 20) + 1);
         },
         {"文件{d}/TimingTask/TimingTask.ini无法读取(大于16 MiB),未加载"}},
        // Not a file problem, but the same start: a bad setting is logged once, not twice.
        {"bad value",
         [](const fs::path& data) {
             std::ofstream(data / "Vantrel.ini") << "[Console]\nStepTimeoutSec=0\n";
         },
         {"配置项[Console] StepTimeoutSec=0 无效,使用默认值 15"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testkit::TempDir folder;
        const fs::path data = folder.path() / "data";
        fs::create_directories(data / "TimingTask");
        c.plant(data);
        Console console(folder, folder.path().string(), freePort(),
                        {"--headless", "--data-dir=" + data.string()}, true);
        ASSERT_TRUE(console.started());
        const auto log = [&] { return logContents(data / "Vantrel_DB.db3"); };
        ASSERT_TRUE(
            testkit::waitFor([&] { return contains(log(), "定时任务模块初始化成功."); }, 20s))
            << console.errors();
        console.signal(SIGTERM);
        const auto status = console.waitExit(5s);
        ASSERT_TRUE(status.has_value()) << "still running 5 s after SIGTERM";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
        const std::vector<std::string> rows = log();
        for (std::string row : c.rows) {
            for (std::size_t at; (at = row.find("{d}")) != std::string::npos;)
                row.replace(at, 3, data.string());
            EXPECT_EQ(std::count(rows.begin(), rows.end(), row), 1) << row;
        }
    }
}

// One data folder, one console: a second console on the same data folder exits 1 even with a
// lock folder of its own, saying so and naming the folder.
TEST(VantrelProcess, ASecondConsoleOnTheSameDataFolderExitsOneWhateverItsLockFolder) {
    testkit::TempDir data;
    testkit::TempDir firstLocks;
    testkit::TempDir secondLocks;
    const std::string dataArg = "--data-dir=" + data.path().string();
    Console first(firstLocks, firstLocks.path().string(), freePort(), {"--headless", dataArg},
                  true);
    const auto log = [&] { return logContents(data.path() / "Vantrel_DB.db3"); };
    ASSERT_TRUE(testkit::waitFor([&] { return contains(log(), "定时任务模块初始化成功."); }, 30s))
        << first.errors();
    Console second(secondLocks, secondLocks.path().string(), freePort(), {"--headless", dataArg},
                   true);
    const auto status = second.waitExit(20s);
    ASSERT_TRUE(status.has_value()) << "the second console runs on the same data folder";
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    const std::string said = second.errors();
    const auto told = said.find("软件已经运行!");
    ASSERT_NE(told, std::string::npos) << said;
    EXPECT_EQ(said.find("软件已经运行!", told + 1), std::string::npos) << "said twice: " << said;
    EXPECT_NE(said.find(data.path().string()), std::string::npos) << said;
    first.signal(SIGTERM);
    ASSERT_TRUE(first.waitExit(5s).has_value());
    // Only the first console started its modules on this folder.
    const auto rows = log();
    EXPECT_EQ(std::count(rows.begin(), rows.end(), "定时任务模块初始化成功."), 1);
}

// A lock folder that does not exist is made private to the user, or the start is refused with
// status 1 when it cannot be made; it never starts without a lock.
TEST(VantrelProcess, AMissingLockFolderIsCreatedPrivateOrTheStartIsRefused) {
    testkit::TempDir folder;
    const fs::path made = folder.path() / "locks";
    {
        Console console(folder, made.string(), freePort(),
                        {"--headless", "--data-dir=" + folder.path().string()}, true);
        ASSERT_TRUE(testkit::waitFor(
            [&] { return contains(console.log(), "定时任务模块初始化成功."); }, 30s))
            << console.errors();
        struct stat st {};
        ASSERT_EQ(::lstat(made.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_TRUE(fs::exists(made / "vantrel.lock"));
        console.signal(SIGTERM);
        ASSERT_TRUE(console.waitExit(5s).has_value());
    }
    const fs::path unmakeable = folder.path() / "no" / "such" / "locks";
    testkit::TempDir other;
    Console console(other, unmakeable.string(), freePort(),
                    {"--headless", "--data-dir=" + other.path().string()}, true);
    const auto status = console.waitExit(20s);
    ASSERT_TRUE(status.has_value()) << "started without a lock";
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    EXPECT_NE(console.errors().find(unmakeable.string()), std::string::npos) << console.errors();
    EXPECT_FALSE(fs::exists(other.path() / "Vantrel_DB.db3"));
}

// The lock file the program creates is private to its user.
TEST(VantrelProcess, LockFileIsCreatedPrivate) {
    testkit::TempDir folder;
    Console console(folder, folder.path().string());
    ASSERT_TRUE(console.started());
    ASSERT_TRUE(
        testkit::waitFor([&] { return contains(console.log(), "定时任务模块初始化成功."); }, 30s));
    struct stat st {};
    ASSERT_EQ(::lstat((folder.path() / "vantrel.lock").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    console.signal(SIGTERM);
    EXPECT_TRUE(console.waitExit(5s).has_value());
}

}  // namespace
