// The event log viewer on a real log database in a temp folder: the date range, the type and
// sub-type filters, repeated queries and the hidden delete with its confirmation.
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <atomic>
#include <chrono>
#include <ctime>

#include "consoletools/logging_dlg.h"
#include "logbase/log_clock.h"
#include "logbase/log_query.h"
#include "logbase/logbase.h"
#include "testkit/wait_for.h"
#include "tool_test_support.h"

using consoletools::CLoggingDlg;
using tooltest::columnTexts;

namespace {

std::atomic<long long> g_fakeSeconds{0};
std::chrono::system_clock::time_point fakeNow() {
    return std::chrono::system_clock::time_point(std::chrono::seconds(g_fakeSeconds.load()));
}

void logAt(int year, int month, int day, int type, int subType, const char* content) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    tm.tm_min = 30;
    tm.tm_sec = 45;
    tm.tm_isdst = -1;
    g_fakeSeconds.store(static_cast<long long>(std::mktime(&tm)));
    InsertLogOb("%d,%d,'%s'", type, subType, content);
}

// Every line of the store, whatever its date and codes; -1 when the store answers nothing.
long long countLines() {
    const auto rows = logbase::queryLog(logbase::LogFilter{"0000-00-00", "9999-99-99", {}, {}});
    return rows ? static_cast<long long>(rows->size()) : -1;
}

// The log store in a fresh folder with lines on chosen days.
class LogFixture {
public:
    LogFixture() {
        SetLogbaseClock(&fakeNow);
        ok = InitLogbaseModule(m_dir.path().string() + "/", "Vantrel_DB.db3");
        logAt(2024, 3, 6, 1, 1, "start-up 6th");
        logAt(2024, 3, 7, 2, 4, "device 7 on 7th");
        logAt(2024, 3, 7, 2, 5, "parallel 7th");
        logAt(2024, 3, 7, 3, 4, "device failed 7th");
        logAt(2024, 3, 8, 2, 7, "it's a task on the 8th");
        logAt(2024, 10, 1, 1, 3, "exit october");
    }
    ~LogFixture() {
        ReleaseLogbaseModule();
        SetLogbaseClock(nullptr);
    }
    bool ok = false;

private:
    testkit::TempDir m_dir;
};

void setRange(CLoggingDlg& dialog, QDate start, QDate end) {
    dialog.startDateEdit()->setDate(start);
    dialog.endDateEdit()->setDate(end);
}

QStringList contents(const CLoggingDlg& dialog) {
    return columnTexts(*dialog.resultList(), 5);
}

}  // namespace

class LoggingTest : public QObject {
    Q_OBJECT
private slots:
    void controlsColumnsAndDefaults();
    void startAfterEndGivesNoRows();
    void oneDayListsThatDaysLinesOnly();
    void allTypesAllSubTypesListsEveryLineOfTheRange();
    void queryTwiceShowsTheRowsOnce();
    void typeAndSubTypeFilters();
    void deleteAsksAndRemovesOneSubTypeOrAll();
    void closedStoreShowsNothing();
    void exportWritesTheListedRowsAsCsv();
    void enterRunsTheQueryAndNewestRowIsOneClickAway();
};

void LoggingTest::controlsColumnsAndDefaults() {
    LogFixture store;
    QVERIFY(store.ok);
    CLoggingDlg dialog;
    dialog.OnInitDialog();
    dialog.show();
    QCOMPARE(dialog.caption(), QStringLiteral("日志记录"));
    QCOMPARE(dialog.typeCombo()->count(), 4);
    QCOMPARE(dialog.typeCombo()->currentText(), QStringLiteral("全部"));
    QCOMPARE(dialog.subTypeCombo()->count(), 9);
    QCOMPARE(dialog.subTypeCombo()->itemText(0), QStringLiteral("系统初始化"));
    QCOMPARE(dialog.subTypeCombo()->currentText(), QStringLiteral("所有"));
    QCOMPARE(dialog.deleteCombo()->currentText(), QStringLiteral("所有"));
    QVERIFY(dialog.deleteCombo()->isHidden());
    QVERIFY(dialog.deleteButton()->isHidden());
    QCOMPARE(dialog.queryButton()->text(), QStringLiteral("查询"));
    QVERIFY(dialog.findChild<QPushButton*>(QStringLiteral("closeDialogButton")));
    QCOMPARE(dialog.resultList()->rowCount(), 0);  // empty until the first query
    QCOMPARE(tooltest::headerTitles(*dialog.resultList()),
             (QStringList{"序号", "日期", "时间", "类型", "运行类型", "内容", "模式"}));
    // "序号" fits six digits; the others keep their widths and "内容" takes the rest.
    const int numberWidth = dialog.resultList()->columnWidth(0);
    QVERIFY(numberWidth >= 40);
    QVERIFY(numberWidth >
            QFontMetrics(dialog.resultList()->font()).horizontalAdvance(QStringLiteral("999999")));
    const int widths[] = {100, 90, 100, 100};
    for (int c = 1; c < 5; ++c) QCOMPARE(dialog.resultList()->columnWidth(c), widths[c - 1]);
    QCOMPARE(dialog.resultList()->columnWidth(5),
             dialog.resultList()->contentsRect().width() - 428 - numberWidth);
    QCOMPARE(dialog.resultList()->columnWidth(6), 0);
    // At least 1100 x 500.
    QVERIFY(dialog.width() >= 1100);
    QVERIFY(dialog.height() >= 500);
}

void LoggingTest::startAfterEndGivesNoRows() {
    LogFixture store;
    QVERIFY(store.ok);
    CLoggingDlg dialog;
    setRange(dialog, QDate(2024, 3, 8), QDate(2024, 3, 6));
    QTest::mouseClick(dialog.queryButton(), Qt::LeftButton);
    QCOMPARE(dialog.resultList()->rowCount(), 0);
}

void LoggingTest::oneDayListsThatDaysLinesOnly() {
    LogFixture store;
    QVERIFY(store.ok);
    CLoggingDlg dialog;
    setRange(dialog, QDate(2024, 3, 7), QDate(2024, 3, 7));
    QTest::mouseClick(dialog.queryButton(), Qt::LeftButton);
    const auto& list = *dialog.resultList();
    QCOMPARE(list.rowCount(), 3);
    QCOMPARE(columnTexts(list, 0), (QStringList{"1", "2", "3"}));
    QCOMPARE(columnTexts(list, 1), (QStringList{"2024-03-07", "2024-03-07", "2024-03-07"}));
    QCOMPARE(columnTexts(list, 2), (QStringList{"12:30:45", "12:30:45", "12:30:45"}));
    QCOMPARE(columnTexts(list, 3), (QStringList{"运行日志", "运行日志", "失败日志"}));
    QCOMPARE(columnTexts(list, 4), (QStringList{"设备连接", "平行操作", "设备连接"}));
    QCOMPARE(contents(dialog),
             (QStringList{"device 7 on 7th", "parallel 7th", "device failed 7th"}));
    QCOMPARE(columnTexts(list, 6), (QStringList{"", "", ""}));  // "模式" is never filled
}

void LoggingTest::allTypesAllSubTypesListsEveryLineOfTheRange() {
    LogFixture store;
    QVERIFY(store.ok);
    CLoggingDlg dialog;
    setRange(dialog, QDate(2024, 3, 6), QDate(2024, 3, 8));
    dialog.onQuery();
    QCOMPARE(contents(dialog), (QStringList{"start-up 6th", "device 7 on 7th", "parallel 7th",
                                            "device failed 7th", "it's a task on the 8th"}));
    // The whole year: "10" sorts after "03" as text, so October is inside.
    setRange(dialog, QDate(2024, 1, 1), QDate(2024, 12, 31));
    dialog.onQuery();
    QCOMPARE(dialog.resultList()->rowCount(), 6);
}

void LoggingTest::queryTwiceShowsTheRowsOnce() {
    LogFixture store;
    QVERIFY(store.ok);
    CLoggingDlg dialog;
    setRange(dialog, QDate(2024, 3, 7), QDate(2024, 3, 8));
    QTest::mouseClick(dialog.queryButton(), Qt::LeftButton);
    const QStringList first = contents(dialog);
    QCOMPARE(first.size(), 4);
    QTest::mouseClick(dialog.queryButton(), Qt::LeftButton);
    QCOMPARE(contents(dialog), first);
    QCOMPARE(columnTexts(*dialog.resultList(), 0), (QStringList{"1", "2", "3", "4"}));
}

void LoggingTest::typeAndSubTypeFilters() {
    LogFixture store;
    QVERIFY(store.ok);
    CLoggingDlg dialog;
    setRange(dialog, QDate(2024, 3, 1), QDate(2024, 3, 31));
    dialog.typeCombo()->setCurrentIndex(1);     // 运行日志
    dialog.subTypeCombo()->setCurrentIndex(3);  // 设备连接
    dialog.onQuery();
    QCOMPARE(contents(dialog), (QStringList{"device 7 on 7th"}));

    dialog.typeCombo()->setCurrentIndex(3);     // 全部
    dialog.subTypeCombo()->setCurrentIndex(3);  // 设备连接
    dialog.onQuery();
    QCOMPARE(contents(dialog), (QStringList{"device 7 on 7th", "device failed 7th"}));

    dialog.typeCombo()->setCurrentIndex(1);     // 运行日志
    dialog.subTypeCombo()->setCurrentIndex(8);  // 所有
    dialog.onQuery();
    QCOMPARE(contents(dialog),
             (QStringList{"device 7 on 7th", "parallel 7th", "it's a task on the 8th"}));

    dialog.subTypeCombo()->setCurrentIndex(-1);  // no selection: the list stays empty
    dialog.onQuery();
    QCOMPARE(dialog.resultList()->rowCount(), 0);
}

void LoggingTest::deleteAsksAndRemovesOneSubTypeOrAll() {
    LogFixture store;
    QVERIFY(store.ok);
    QStringList questions;
    bool answer = false;
    CLoggingDlg dialog(nullptr, [&](const QString& text, const QString& caption) {
        questions << caption + "|" + text;
        return answer;
    });
    setRange(dialog, QDate(2024, 3, 7), QDate(2024, 3, 7));
    dialog.onQuery();
    QCOMPARE(dialog.resultList()->rowCount(), 3);

    dialog.deleteCombo()->setCurrentIndex(3);  // 设备连接
    dialog.deleteButton()->click();            // hidden, but the function is there
    QCOMPARE(questions, QStringList{"删除日志|确定要删除所选类型的日志吗?"});
    QCOMPARE(countLines(), 6);  // "No" deletes nothing

    answer = true;
    dialog.deleteButton()->click();
    QCOMPARE(countLines(), 4);
    QCOMPARE(dialog.resultList()->rowCount(), 3);  // the list is not refreshed
    dialog.onQuery();
    QCOMPARE(contents(dialog), (QStringList{"parallel 7th"}));

    dialog.deleteCombo()->setCurrentIndex(8);  // 所有
    dialog.onDeleteLog();
    QCOMPARE(countLines(), 0);
    QCOMPARE(questions.size(), 3);
}

void LoggingTest::closedStoreShowsNothing() {
    CLoggingDlg dialog;
    {
        LogFixture store;
        QVERIFY(store.ok);
        setRange(dialog, QDate(2024, 3, 6), QDate(2024, 3, 8));
        dialog.onQuery();
        QCOMPARE(dialog.resultList()->rowCount(), 5);
    }
    dialog.onQuery();  // no statement: the list is emptied and stays empty
    QCOMPARE(dialog.resultList()->rowCount(), 0);
}

void LoggingTest::exportWritesTheListedRowsAsCsv() {
    LogFixture store;
    QVERIFY(store.ok);
    logAt(2024, 3, 9, 2, 6, "say \"hi\", 设备7\nnext");
    testkit::TempDir dir;
    const QString path = QString::fromStdString(dir.file("log.csv"));
    CLoggingDlg dialog(nullptr, {}, [&] { return path; });
    setRange(dialog, QDate(2024, 3, 8), QDate(2024, 3, 9));
    dialog.onQuery();
    dialog.exportButton()->click();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray expected =
        "\xEF\xBB\xBF"
        "序号,日期,时间,类型,运行类型,内容\r\n"
        "1,2024-03-08,12:30:45,运行日志,定时任务,it's a task on the 8th\r\n"
        "2,2024-03-09,12:30:45,运行日志,串行操作,\"say \"\"hi\"\", 设备7\nnext\"\r\n";
    QCOMPARE(file.readAll(), expected);
    // An unwritable place is refused with a message, not reported as done.
    QString warning;
    tooltest::ModalWatch box([&](QWidget* modal) {
        if (auto* b = qobject_cast<QMessageBox*>(modal)) warning = b->text();
    });
    QVERIFY(!dialog.exportCsv(QString::fromStdString(dir.file("missing/log.csv"))));
    QVERIFY(box.seen());
    QVERIFY(warning.startsWith(QStringLiteral("无法写入文件")));
}

void LoggingTest::enterRunsTheQueryAndNewestRowIsOneClickAway() {
    LogFixture store;
    QVERIFY(store.ok);
    for (int i = 0; i < 300; ++i) logAt(2024, 3, 10, 2, 8, ("line " + std::to_string(i)).c_str());
    CLoggingDlg dialog;
    dialog.OnInitDialog();
    dialog.show();
    setRange(dialog, QDate(2024, 3, 10), QDate(2024, 3, 10));
    dialog.startDateEdit()->setFocus();
    QTest::keyClick(dialog.startDateEdit(), Qt::Key_Return);
    QCOMPARE(dialog.resultList()->rowCount(), 300);
    QVERIFY(dialog.isVisible());
    QScrollBar* bar = dialog.resultList()->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);  // the list has laid out its rows
    QCOMPARE(bar->value(), 0);
    dialog.newestButton()->click();
    QCOMPARE(bar->value(), bar->maximum());
    const QRect last = dialog.resultList()->visualRect(dialog.resultList()->model()->index(299, 0));
    QVERIFY(dialog.resultList()->viewport()->rect().intersects(last));
}

QTEST_MAIN(LoggingTest)
#include "logging_test.moc"
