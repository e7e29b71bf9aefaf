// A log that cannot be written says so once, keeps the program running, holds a bounded
// queue and stores again when writing works again.
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log_test_support.h"
#include "platform/prompt.h"

namespace {

using logtest::countRows;
using logtest::queryRows;
using namespace std::chrono_literals;

// Lines the store holds while its writer cannot write.
constexpr int kQueueBound = 100000;

class RecordingPrompt : public platform::Prompt {
public:
    void showMessage(const std::string& text, const std::string&, platform::PromptIcon) override {
        std::lock_guard lock(m_mutex);
        m_texts.push_back(text);
    }
    std::vector<std::string> texts() const {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

// The program's prompt for the length of a test.
class PromptFixture : public ::testing::Test {
protected:
    void SetUp() override { platform::setDefaultPrompt(&m_prompt); }
    void TearDown() override {
        ReleaseLogbaseModule();
        platform::setDefaultPrompt(nullptr);
    }
    RecordingPrompt m_prompt;
    testkit::TempDir m_dir;
};

// Writes to files beyond `bytes` fail (EFBIG) while this lives, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { lift(); }
    void lift() {
        if (m_lifted) return;
        m_lifted = true;
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_lifted = false;
};

TEST_F(PromptFixture, AFileThatCannotBeTheLogIsToldOnceWithItsNameAndReason) {
    struct Case {
        const char* name;
        void (*make)(const std::string& path);
    };
    const Case cases[] = {
        {"missing/Vantrel_DB.db3", [](const std::string&) {}},
        {"random.db3",
         [](const std::string& path) {
             std::ofstream(path) << std::string(4096, '\x5A') << "not a database";
         }},
        {"foreign.db3",
         [](const std::string& path) {
             ASSERT_TRUE(InitLogbaseModule(path.substr(0, path.rfind('/')), "foreign.db3"));
             ASSERT_TRUE(LogObBeginTrans());
             ASSERT_TRUE(LogObExecuteLogbase("DROP TABLE Log; CREATE TABLE Log(Other TEXT)"));
             ASSERT_TRUE(LogObCommitTrans());
             ReleaseLogbaseModule();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir.file(c.name);
        c.make(path);
        const std::size_t before = m_prompt.texts().size();
        testing::internal::CaptureStderr();
        const std::string folder = path.substr(0, path.rfind('/'));
        EXPECT_FALSE(InitLogbaseModule(folder, path.substr(path.rfind('/') + 1)));
        const std::string errors = testing::internal::GetCapturedStderr();
        const auto texts = m_prompt.texts();
        ASSERT_EQ(texts.size(), before + 1);
        EXPECT_NE(texts.back().find(path), std::string::npos) << texts.back();
        EXPECT_NE(errors.find(path), std::string::npos) << errors;
    }
}

TEST_F(PromptFixture, RowsTheTableRefusesAreToldOnceAndTheOthersAreStored) {
    ASSERT_TRUE(InitLogbaseModule(m_dir.path().string(), logtest::kDbName));
    ASSERT_TRUE(LogObBeginTrans());
    ASSERT_TRUE(LogObExecuteLogbase(
        "CREATE TRIGGER refuse BEFORE INSERT ON Log WHEN NEW.LogContent LIKE 'bad%' "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    ASSERT_TRUE(LogObCommitTrans());
    for (const char* text : {"good 1", "bad 1", "bad 2", "good 2"}) {
        InsertLogOb("%d,%d,'%s'", 2, 8, text);
        countRows();  // one batch per line
    }
    EXPECT_EQ(queryRows("select LogContent from Log order by rowid"),
              (logtest::Rows{{"good 1"}, {"good 2"}}));
    const auto texts = m_prompt.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("refused"), std::string::npos) << texts[0];
}

// While no file can grow, lines wait in a bounded queue, a query does not wait for them, and
// the operator is told once; once files can grow again the lines are stored, followed by the
// count of lines the bound kept out.
TEST_F(PromptFixture, AStalledWriterKeepsABoundedQueueAndResumes) {
    ASSERT_TRUE(InitLogbaseModule(m_dir.path().string(), logtest::kDbName));
    InsertLogOb("%d,%d,'%s'", 1, 8, "before");
    ASSERT_EQ(countRows(), 1);

    FileSizeLimit full(1);
    InsertLogOb("%d,%d,'%s'", 1, 8, "stalled");
    ASSERT_TRUE(testkit::waitFor([&] { return m_prompt.texts().size() == 1; }, 20s));
    constexpr int kOver = 10;
    const int logged = kQueueBound + kOver;
    for (int i = 0; i < logged; ++i) InsertLogOb("%d,%d,'row %d'", 2, 8, i);

    // A query returns while the writer cannot write (on another thread, so that a wait
    // for ever fails the test instead of hanging it).
    auto query = std::async(std::launch::async, [] { return countRows(); });
    const bool answered = query.wait_for(20s) == std::future_status::ready;
    full.lift();
    EXPECT_TRUE(answered);
    EXPECT_EQ(query.get(), 1);

    // "stalled" plus the queue up to its bound; the rest is counted.
    const long long kept = kQueueBound;
    const long long dropped = logged + 1 - kept;
    const std::string countLine = "日志队列已满,丢弃" + std::to_string(dropped) + "行";
    EXPECT_TRUE(testkit::waitFor([&] { return countRows() == 1 + kept + 1; }, 60s)) << countRows();
    EXPECT_EQ(countRows("where LogContent = 'stalled'"), 1);
    EXPECT_EQ(countRows("where LogContent = '" + countLine + "' and LogType = 3"), 1);
    EXPECT_EQ(m_prompt.texts().size(), 1u);  // told once
}

}  // namespace

namespace {

// A prompt whose box stays open until the test closes it.
class HeldPrompt : public platform::Prompt {
public:
    void showMessage(const std::string&, const std::string&, platform::PromptIcon) override {
        m_entered.set_value();
        m_close.get_future().wait();
    }
    std::future<void> entered() { return m_entered.get_future(); }
    void close() { m_close.set_value(); }

private:
    std::promise<void> m_entered;
    std::promise<void> m_close;
};

// At shutdown the program clears its prompt and then destroys it. The log writer telling the
// operator through it at that moment must be done with it first: clearing waits for it.
TEST(LogPromptAtShutdown, ClearingThePromptWaitsForTheWriterInsideIt) {
    testkit::TempDir dir;
    HeldPrompt prompt;
    auto entered = prompt.entered();
    platform::setDefaultPrompt(&prompt);
    ASSERT_TRUE(InitLogbaseModule(dir.path().string(), logtest::kDbName));
    ASSERT_TRUE(LogObBeginTrans());
    ASSERT_TRUE(
        LogObExecuteLogbase("CREATE TRIGGER refuse BEFORE INSERT ON Log "
                            "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    ASSERT_TRUE(LogObCommitTrans());
    InsertLogOb("%d,%d,'%s'", 2, 8, "refused");  // the writer tells the operator
    ASSERT_EQ(entered.wait_for(20s), std::future_status::ready);

    auto clearing = std::async(std::launch::async, [] { platform::setDefaultPrompt(nullptr); });
    const bool clearedWhileInside = clearing.wait_for(300ms) == std::future_status::ready;
    prompt.close();
    clearing.get();
    ReleaseLogbaseModule();
    EXPECT_FALSE(clearedWhileInside);
}

}  // namespace
