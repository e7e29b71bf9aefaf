// A process killed while it saves leaves TimingTask.ini whole: the old or the new content.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "chronstore/chronstore.h"
#include "chronstore/task_file.h"
#include "task_fixtures.h"
#include "testkit/wait_for.h"

namespace {

using chronstore_test::makeTask;
using chronstore_test::slurp;

std::vector<TimTaskPoint_> version(const char* name, int devices) {
    std::vector<TimTaskPoint_> tasks;
    for (int i = 0; i < 300; ++i)
        tasks.push_back(makeTask(name, devices, static_cast<std::uint16_t>(i)));
    return tasks;
}

void storeTasks(const std::vector<TimTaskPoint_>& tasks) {
    ReleaseChronstore();
    for (const auto& task : tasks) PlusTTPoint(task);
}

TEST(StoreCrash, KilledDuringRepeatedSavesLeavesACompleteFile) {
    testkit::TempDir dir;
    const std::string folder = dir.path().string();
    const auto a = version("A", 10);
    const auto b = version("B", 4);
    // Every file the child can leave: A alone, then B over it (A's device keys 5..10 stay),
    // then A over that again, which gives A's text back.
    const std::string textA = FormatTimTasks("", a);
    const std::string textB = FormatTimTasks(textA, b);
    ASSERT_EQ(FormatTimTasks(textB, a), textA);

    ASSERT_TRUE(InitChronstoreAt(folder));
    storeTasks(a);
    ASSERT_TRUE(SaveTimPointToFile());
    const std::string file = GetTTFilePath();

    for (int round = 0; round < 6; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                storeTasks(b);
                SaveTimPointToFile();
                storeTasks(a);
                SaveTimPointToFile();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + 9 * round));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        const std::string now = slurp(file);
        EXPECT_TRUE(now == textA || now == textB)
            << "round " << round << ": " << now.size() << " bytes";
        // And the store loads it whole.
        ASSERT_TRUE(InitChronstoreAt(folder));
        EXPECT_EQ(GetTTPointCount(), 300);
    }
    ReleaseChronstore();
}

}  // namespace
