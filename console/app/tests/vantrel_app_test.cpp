// The application object: the single-instance rule against a lock held by another process,
// and a full start-up and shutdown with the main window closed right away.
#include <unistd.h>
#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "consoleapp/single_instance.h"
#include "consoleapp/vantrel_app.h"
#include "consoleui/vantrel_dlg.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/logbase.h"
#include "platform/prompt.h"
#include "testkit/recording_prompt.h"
#include "testkit/wait_for.h"

using namespace std::chrono_literals;

namespace {

using RecordingPrompt = testkit::RecordingPrompt;

// Another process holding "<folder>/<name>.lock" with flock(1) until its input closes.
class LockHolder {
public:
    LockHolder(const std::string& folder, const std::string& name) {
        m_process.start(
            QStringLiteral("flock"),
            {QStringLiteral("-x"), QString::fromStdString(folder + "/" + name + ".lock"),
             QStringLiteral("-c"), QStringLiteral("echo locked; read line")});
    }
    ~LockHolder() {
        m_process.closeWriteChannel();  // ends `read`, then flock exits and unlocks
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // True once the other process has the lock.
    bool holding() {
        return m_process.waitForReadyRead(10000) && m_process.readAll().startsWith("locked");
    }

private:
    QProcess m_process;
};

consoleapp::AppOptions optionsFor(const testkit::TempDir& folder, RecordingPrompt& prompt) {
    consoleapp::AppOptions options;
    options.lockFolder = folder.path().string();
    options.programName = "vantrel";
    options.session.programFolder = folder.path().string() + "/";
    options.session.taskFolder = folder.file("TimingTask");
    options.session.port = 0;
    options.web.port = 0;  // no HTTP API: parallel tests would share its default port
    options.prompt = &prompt;
    options.windowSettingsPath = folder.file("Vantrel.ini");
    return options;
}

bool logHas(int type, int subType, const std::string& content) {
    LogObLockLogbase();
    auto statement =
        LogObQueryStatement("SELECT LogType, LogChildType, LogContent FROM Log ORDER BY rowid");
    LogObUnlockLogbase();
    while (statement && statement->NextRow()) {
        if (std::stoi(statement->ValueUtf8(0)) == type &&
            std::stoi(statement->ValueUtf8(1)) == subType && statement->ValueUtf8(2) == content) {
            return true;
        }
    }
    return false;
}

}  // namespace

class VantrelAppTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void secondInstanceShowsTheMessageAndStartsNothing();
    void copyUnderAnotherNameIsNotCounted();
    void unusableLockFolderIsReportedUnavailable();
    void lockFolderIsPerUserAndPrivate();
    void toolButtonsOpenTheirDialogs();
};

void VantrelAppTest::initTestCase() {
    LanwireOptions link;
    link.programFolder = std::filesystem::temp_directory_path().string() + "/";
    SetLanwireOptions(link);
}

void VantrelAppTest::secondInstanceShowsTheMessageAndStartsNothing() {
    testkit::TempDir folder;
    auto first = std::make_unique<LockHolder>(folder.path().string(), "vantrel");
    QVERIFY(first->holding());

    RecordingPrompt prompt;
    auto options = optionsFor(folder, prompt);
    bool windowCreated = false;
    options.onWindowCreated = [&](consoleui::CVantrelDlg&) { windowCreated = true; };
    consoleapp::CVantrelApp app(options);
    QVERIFY(!app.InitInstance());
    QVERIFY(app.refusedAsSecondInstance());
    QCOMPARE(prompt.messages, std::vector<std::string>{"软件已经运行!"});
    QVERIFY(!windowCreated);
    // No module started: no log database, no listening link.
    QVERIFY(!std::filesystem::exists(folder.path() / "Vantrel_DB.db3"));
    QCOMPARE(GetLanwirePort(), std::uint16_t(0));
    QVERIFY(!std::filesystem::exists(folder.path() / "TimingTask"));

    // Once the other console is gone the lock is free again.
    consoleapp::SingleInstanceLock lock;
    QVERIFY(lock.acquire(folder.path().string(), "vantrel") == consoleapp::LockResult::Busy);
    first.reset();
    QVERIFY(lock.acquire(folder.path().string(), "vantrel") == consoleapp::LockResult::Held);
}

void VantrelAppTest::copyUnderAnotherNameIsNotCounted() {
    testkit::TempDir folder;
    LockHolder first(folder.path().string(), "vantrel");
    QVERIFY(first.holding());

    RecordingPrompt prompt;
    auto options = optionsFor(folder, prompt);
    options.programName = "vantrel-copy";
    std::uint16_t portWhileOpen = 0;
    bool windowCreated = false;
    options.onWindowCreated = [&](consoleui::CVantrelDlg& window) {
        windowCreated = true;
        // Close the window as soon as its modal run has started.
        QTimer::singleShot(0, &window, [&window, &portWhileOpen] {
            portWhileOpen = GetLanwirePort();
            window.reject();
        });
    };
    consoleapp::CVantrelApp app(options);
    QVERIFY(!app.InitInstance());  // false in every case
    QVERIFY(!app.refusedAsSecondInstance());
    QVERIFY(windowCreated);
    QVERIFY(prompt.messages.empty());
    QVERIFY(portWhileOpen != 0);                   // the link ran while the window was open
    QCOMPARE(GetLanwirePort(), std::uint16_t(0));  // and stopped when it closed
    QVERIFY(std::filesystem::exists(folder.path() / "Vantrel_DB.db3"));
    QVERIFY(logHas(1, 1, "网络初始化成功!"));
    // The copy's own lock was released when it ended.
    consoleapp::SingleInstanceLock lock;
    QVERIFY(lock.acquire(folder.path().string(), "vantrel-copy") == consoleapp::LockResult::Held);
    ReleaseLogbaseModule();
}

void VantrelAppTest::unusableLockFolderIsReportedUnavailable() {
    using consoleapp::LockResult;
    consoleapp::SingleInstanceLock lock;
    QVERIFY(lock.acquire("/nonexistent-folder-for-vantrel-tests", "vantrel") ==
            LockResult::Unavailable);
    QVERIFY(!lock.held());
    testkit::TempDir folder;
    consoleapp::SingleInstanceLock a;
    consoleapp::SingleInstanceLock b;
    QVERIFY(a.acquire(folder.path().string(), "vantrel") == LockResult::Held);
    QVERIFY(a.held());
    // same process, second holder
    QVERIFY(b.acquire(folder.path().string(), "vantrel") == LockResult::Busy);
    a.release();
    QVERIFY(b.acquire(folder.path().string(), "vantrel") == LockResult::Held);
}

// Without $XDG_RUNTIME_DIR each user gets a private folder of the temp base; a folder there
// that is not a private folder of this user is refused.
void VantrelAppTest::lockFolderIsPerUserAndPrivate() {
    namespace fs = std::filesystem;
    testkit::TempDir base;
    const uid_t uid = ::geteuid();
    std::string problem;
    QCOMPARE(consoleapp::lockFolderFor(base.path().c_str(), "/unused", uid, problem),
             base.path().string());
    const fs::path own = base.path() / ("vantrel-" + std::to_string(uid));
    QCOMPARE(consoleapp::lockFolderFor(nullptr, base.path().string(), uid, problem), own.string());
    QVERIFY(problem.empty());
    QCOMPARE(fs::status(own).permissions() & fs::perms::all, fs::perms::owner_all);
    // Another uid's folder name is not ours to use.
    const uid_t other = uid + 1;
    const fs::path theirs = base.path() / ("vantrel-" + std::to_string(other));
    fs::create_directory(theirs);
    QVERIFY(consoleapp::lockFolderFor("", base.path().string(), other, problem).empty());
    QVERIFY(problem.find("another user") != std::string::npos);
    // A symlink or an open folder in its place is refused too.
    fs::remove(own);
    fs::create_directory_symlink(theirs, own);
    QVERIFY(consoleapp::lockFolderFor(nullptr, base.path().string(), uid, problem).empty());
    QVERIFY(problem.find("not a folder") != std::string::npos);
    fs::remove(own);
    fs::create_directory(own);
    fs::permissions(own, fs::perms::owner_all | fs::perms::others_all);
    QVERIFY(consoleapp::lockFolderFor(nullptr, base.path().string(), uid, problem).empty());
    QVERIFY(problem.find("writable by other users") != std::string::npos);
}

// Each tool button runs its dialog modally; a timer closes whichever dialog opened and notes
// its class.
void VantrelAppTest::toolButtonsOpenTheirDialogs() {
    testkit::TempDir folder;
    RecordingPrompt prompt;
    auto options = optionsFor(folder, prompt);
    options.programName = "vantrel-tools";
    std::vector<std::string> opened;
    options.onWindowCreated = [&](consoleui::CVantrelDlg& window) {
        QTimer::singleShot(0, &window, [&window, &opened] {
            for (const char* text : {"本地信息", "配置设备信息", "日志记录", "定时任务"}) {
                auto* closer = new QTimer(&window);
                QObject::connect(closer, &QTimer::timeout, &window, [&window, &opened, closer] {
                    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                    if (!modal || modal == &window) return;  // not open yet
                    opened.push_back(modal->metaObject()->className());
                    closer->stop();
                    closer->deleteLater();
                    modal->reject();
                });
                closer->start(20);
                QPushButton* button = window.button(QString::fromUtf8(text));
                if (button) button->click();  // returns when its dialog has closed
                if (closer->isActive()) {     // nothing opened: stop looking
                    closer->stop();
                    closer->deleteLater();
                }
            }
            window.reject();
        });
    };
    consoleapp::CVantrelApp app(options);
    app.InitInstance();
    QCOMPARE(opened, (std::vector<std::string>{
                         "consoletools::CLocalMacInfoDlg", "consoletools::CDeviceConfigDlg",
                         "consoletools::CLoggingDlg", "consoletools::CTimTaskDlg"}));
    ReleaseLogbaseModule();
}

QTEST_MAIN(VantrelAppTest)
#include "vantrel_app_test.moc"
