// The main window on the real core and link, with simulated sequencers over loopback:
// rows appear and change from device reports, cell actions reach the devices as frames,
// and the switching buttons run through the selection dialogs.
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "consolecore/console_session.h"
#include "consolecore/device_snapshot.h"
#include "consolecore/device_table.h"
#include "consolecore/switching_groups.h"
#include "consoleui/device_list_binder.h"
#include "consoleui/header_ctrl_wg.h"
#include "consoleui/list_ctrl_wg.h"
#include "consoleui/offline_notices.h"
#include "consoleui/select_group_dlg.h"
#include "consoleui/ui_fonts.h"
#include "consoleui/vantrel_dlg.h"
#include "consoleui/window_placement.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/logbase.h"
#include "modal_helper.h"
#include "platform/ini_profile.h"
#include "platform/prompt.h"
#include "protocol/device_frames.h"
#include "protocol/frame_types.h"
#include "public/data_path.h"
#include "simtcp/sim_fleet.h"
#include "testkit/recording_prompt.h"
#include "testkit/wait_for.h"

using namespace std::chrono_literals;
using consolecore::DeviceColumn;
using consoleui::CListCtrlWG;
using consoleui::CVantrelDlg;
using simtcp::DeviceConfig;
using simtcp::SimDevice;

namespace {

using RecordingPrompt = testkit::RecordingPrompt;

struct LogRow {
    int type;
    int subType;
    std::string content;
};

std::vector<LogRow> readLog() {
    std::vector<LogRow> rows;
    LogObLockLogbase();
    auto statement =
        LogObQueryStatement("SELECT LogType, LogChildType, LogContent FROM Log ORDER BY rowid");
    LogObUnlockLogbase();
    while (statement && statement->NextRow()) {
        rows.push_back({std::stoi(statement->ValueUtf8(0)), std::stoi(statement->ValueUtf8(1)),
                        statement->ValueUtf8(2)});
    }
    return rows;
}

bool logHas(int type, int subType, const std::string& content) {
    for (const auto& row : readLog()) {
        if (row.type == type && row.subType == subType && row.content == content) return true;
    }
    return false;
}

DeviceConfig device(std::size_t index, std::uint16_t id, std::uint8_t group, std::uint8_t mode,
                    std::uint8_t number, bool on = false, std::uint16_t outlets = 0) {
    DeviceConfig config = simtcp::makeDeviceConfig(index, id);
    config.group = group;
    config.mode = mode;
    config.number = number;
    config.onOff = on;
    config.outlets = outlets;
    return config;
}

// One console window on an ephemeral port with its log and task files in a temp folder.
class Console {
public:
    // `settings`: the content of "Vantrel.ini" in the console's data folder.
    explicit Console(const std::string& settings = {}) {
        SetDataPath(m_folder.path().string() + "/");
        if (!settings.empty()) std::ofstream(m_folder.file("Vantrel.ini")) << settings;
        LanwireOptions link;
        link.tickPeriod = 250ms;  // a silent device is reported offline within about a second
        link.programFolder = m_folder.path().string() + "/";
        SetLanwireOptions(link);
        consolecore::SessionOptions options;
        options.programFolder = m_folder.path().string() + "/";
        options.taskFolder = m_folder.file("TimingTask");
        options.port = 0;
        consolecore::beginApplication();
        window = std::make_unique<CVantrelDlg>(options, &prompt);
        window->setWindowSettingsPath(m_folder.file("Vantrel.ini"));
        window->OnInitDialog();
        window->show();
        fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", GetLanwirePort());
    }
    ~Console() {
        fleet->stop();
        window.reset();
        consolecore::endApplication();
        ReleaseLogbaseModule();
        SetDataPath("");
    }

    CListCtrlWG* list() const { return window->deviceList(); }
    QString cell(int row, int column) const { return list()->itemText(row, column); }
    QStringList columnTexts(int column) const {
        QStringList texts;
        for (int r = 0; r < list()->rowCount(); ++r) texts << cell(r, column);
        return texts;
    }
    int rowOf(std::uint16_t id) const { return window->deviceTable().findRow(id); }
    void doubleClick(int row, int column, QPoint offset = {-1, -1}) {
        const QRect rect = list()->cellRect(row, column);
        const QPoint point = offset.x() < 0 ? rect.center() : rect.topLeft() + offset;
        QTest::mouseDClick(list()->viewport(), Qt::LeftButton, Qt::NoModifier, point);
        deliverPosted();  // tests then wait on the devices, holding the GUI thread
    }
    // Starts the devices and waits until each has its row.
    bool connect(const std::vector<DeviceConfig>& configs) {
        for (const auto& config : configs) fleet->add(config);
        fleet->start();
        return QTest::qWaitFor(
            [&] {
                for (const auto& config : configs) {
                    if (rowOf(config.id) < 0) return false;
                }
                return true;
            },
            20000);
    }
    // The device stops answering heartbeats and stays away: the link reports it offline.
    void silence(std::uint16_t id) {
        SimDevice& sim = *fleet->find(id);
        simtcp::Knobs knobs = sim.knobs();
        knobs.answerHeartbeats = false;
        knobs.reconnect = false;
        sim.setKnobs(knobs);
    }
    // A silenced device connects again and registers.
    bool bringBack(std::uint16_t id) {
        SimDevice& sim = *fleet->find(id);
        sim.disconnect();
        simtcp::Knobs knobs = sim.knobs();
        knobs.answerHeartbeats = true;
        sim.setKnobs(knobs);
        sim.connect();
        return QTest::qWaitFor([&] { return window->deviceTable().rowOnline(id); }, 20000);
    }
    std::string settingsFile() const { return m_folder.file("Vantrel.ini"); }
    QStringList offlineLines() const { return window->offlineNotices()->lineTexts(); }
    // Delivers the messages posted to the window so far (the cell handlers run here).
    void deliverPosted() { QCoreApplication::sendPostedEvents(window.get(), QEvent::MetaCall); }

    RecordingPrompt prompt;
    std::unique_ptr<CVantrelDlg> window;
    std::unique_ptr<simtcp::SimFleet> fleet;

private:
    testkit::TempDir m_folder;
};

}  // namespace

class ConsoleWindowTest : public QObject {
    Q_OBJECT
private slots:
    void windowFrameButtonsAndColumns();
    void rowsShowTheRegisteredDevices();
    void rowShownListenerHearsAppendsAndReports();
    void onOffCellSendsTheOppositeAndWaitsForTheReport();
    void modeCellAndOutletDotSendTheirCommands();
    void groupEditorLeftUnchangedStillSendsTheGroup();
    void numberEditorSendsTheChosenNumber();
    void rowsKeepTheirNumbersAfterARemoval();
    void lostDevicesAreNoticedOneLinePerBurstUntilDismissedOrBack();
    void keptOfflineRowsStayGreyedUntilBackOrRemoved();
    void columnsFitTheirContentAndScrollSideways();
    void titleClickSortsAndAReturningDeviceKeepsItsPlace();
    void edgesResizeTheTitleMaximisesAndThePlaceIsRemembered();
    void outletClickReachesTheClickedDeviceWhenARowAboveGoesMeanwhile();
    void openEditorClosesUnsentWhenItsRowGoesOrMoves();
    void parallelOnWithAnEmptyTableOpensNoDialog();
    void parallelOnSwitchesTheGroupInNumberOrder();
    void serialOnRunsDeviceAfterDevice();
    void confirmingWithoutAGroupShowsTheMessage();
    void helpMenuOpensTheShippedGuide();
    void escapeAndTheCloseButtonAskBeforeClosing();
    void enterPressesTheFocusedButtonAndFocusShows();
    void keysOnTheFocusedCellSendWhatADoubleClickSends();
};

void ConsoleWindowTest::windowFrameButtonsAndColumns() {
    Console console;
    CVantrelDlg& w = *console.window;
    QCOMPARE(w.caption(), QStringLiteral("16路IP电源时序器 V:2023.03.02.01"));
    QVERIFY(w.captionLabel()->font().families().contains(QStringLiteral("华文彩云")));
    QCOMPARE(w.captionLabel()->font().pixelSize(), 23);
    const QStringList texts{"本地信息", "配置设备信息", "日志记录", "定时任务",
                            "平行开",   "平行关",       "串行开",   "串行关"};
    for (const QString& text : texts) {
        QPushButton* b = w.button(text);
        QVERIFY2(b, qPrintable(text));
        QVERIFY(b->isVisible());
        QCOMPARE(b->font().pixelSize(), 16);
        QVERIFY(b->font().bold());
        QVERIFY(b->font().families().contains(QStringLiteral("思源黑体 CN")));
    }
    // The tool buttons open nothing yet: a click returns without a modal window.
    for (const QString& text : texts.mid(0, 4)) {
        uitest::ModalWatch watch([](QWidget*) {});
        w.button(text)->click();
        QTest::qWait(20);
        QVERIFY(!watch.seen());
    }

    // 19 columns, each at least as wide as its title; 13-18 hold raw values at zero width.
    CListCtrlWG* list = console.list();
    QCOMPARE(list->columnCount(), 19);
    const QStringList titles{"序号",     "设备号",  "名称",   "IP地址", "子网掩码",
                             "默认网关", "MAC地址", "模式",   "编组",   "编号",
                             "开关",     "Led显示", "STATUS", "devID",  "SPmod",
                             "MarGroup", "Number",  "OnOff",  "LedByte"};
    const QFontMetrics headerFont(list->headerCtrl()->font());
    for (int c = 0; c < 19; ++c) {
        QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), titles[c]);
        if (c >= DeviceColumn::ColHiddenId) {
            QCOMPARE(list->columnWidth(c), 0);
        } else {
            QVERIFY2(list->columnWidth(c) >= headerFont.horizontalAdvance(titles[c]),
                     qPrintable(titles[c]));
        }
    }
    QCOMPARE(list->rowHeightPixels(), 22);
    QCOMPARE(list->rowFont().pixelSize(), 16);
    QVERIFY(list->rowFont().bold());
    QVERIFY(list->rowFont().families().contains(QStringLiteral("宋体")));

    QStringList groups, numbers;
    for (int i = 0; i < w.groupCombo()->count(); ++i) groups << w.groupCombo()->itemText(i);
    for (int i = 0; i < w.numberCombo()->count(); ++i) numbers << w.numberCombo()->itemText(i);
    QCOMPARE(groups,
             QStringList({"UnLinked", "Link_1", "Link_2", "Link_3", "Link_4", "Link_5", "Link_6"}));
    QCOMPARE(numbers.size(), 20);
    QCOMPARE(numbers.first(), QStringLiteral("1"));
    QCOMPARE(numbers.last(), QStringLiteral("20"));
    QVERIFY(!w.groupCombo()->isVisible());
    QVERIFY(logHas(1, 1, "网络初始化成功!"));
}

void ConsoleWindowTest::rowsShowTheRegisteredDevices() {
    Console console;
    DeviceConfig a = device(0, 101, 2, 1, 3, true, 0x8001);  // outlets 1 and 16 on
    a.mask = 0xFFFFFF00;
    a.gateway = 0xC0A80101;
    a.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    a.name = "RackA";
    const DeviceConfig b = device(1, 102, 0, 0, 1);
    QVERIFY(console.connect({a, b}));
    const int ra = console.rowOf(101);
    const int rb = console.rowOf(102);
    QCOMPARE(console.list()->rowCount(), 2);
    // "序号" counts registrations; the rows stand by id.
    QCOMPARE(QSet<QString>({console.cell(0, 0), console.cell(1, 0)}), QSet<QString>({"1", "2"}));
    QCOMPARE(console.cell(ra, 1), QStringLiteral("101"));
    QCOMPARE(console.cell(ra, 2), QStringLiteral("RackA"));
    QCOMPARE(console.cell(ra, 3), QStringLiteral("127.0.0.2"));
    QCOMPARE(console.cell(ra, 4), QStringLiteral("255.255.255.0"));
    QCOMPARE(console.cell(ra, 5), QStringLiteral("192.168.1.1"));
    QCOMPARE(console.cell(ra, 6), QStringLiteral("00.1A.2B.3C.4D.5E"));
    QCOMPARE(console.cell(ra, 7), QStringLiteral("Serial"));
    QCOMPARE(console.cell(ra, 8), QStringLiteral("Link_2"));
    QCOMPARE(console.cell(ra, 9), QStringLiteral("3"));
    QCOMPARE(console.cell(ra, 10), QStringLiteral("ON"));
    QCOMPARE(console.cell(ra, 12), QStringLiteral("在线"));
    QCOMPARE(console.cell(ra, 18), QStringLiteral("32769"));
    QCOMPARE(console.list()->stripIcon(ra, 0), consoleui::kIconLedOn);
    QCOMPARE(console.list()->stripIcon(ra, 15), consoleui::kIconLedOn);
    for (int k = 1; k < 15; ++k) QCOMPARE(console.list()->stripIcon(ra, k), consoleui::kIconLedOff);
    QCOMPARE(console.cell(rb, 3), QStringLiteral("127.0.0.3"));
    QCOMPARE(console.cell(rb, 7), QStringLiteral("Pall"));
    QCOMPARE(console.cell(rb, 8), QStringLiteral("UnLinked"));
    QCOMPARE(console.cell(rb, 10), QStringLiteral("OFF"));
    QCOMPARE(console.cell(rb, 18), QStringLiteral("0"));
    // Every interactive cell of the row is registered.
    QVERIFY(console.list()->isButtonCell(ra, DeviceColumn::ColMode));
    QVERIFY(console.list()->isButtonCell(ra, DeviceColumn::ColOnOff));
    QVERIFY(console.list()->isEditorCell(ra, DeviceColumn::ColGroup));
    QVERIFY(console.list()->isEditorCell(ra, DeviceColumn::ColNumber));
    QVERIFY(console.list()->isIconStripCell(ra, DeviceColumn::ColLeds));
}

void ConsoleWindowTest::rowShownListenerHearsAppendsAndReports() {
    Console console;
    struct Heard {
        std::uint16_t id;
        std::uint16_t mask;
        bool appended;
    };
    std::vector<Heard> heard;
    auto* binder = console.window->findChild<consoleui::DeviceListBinder*>();
    QVERIFY(binder);
    binder->setRowShownListener([&heard](const consolecore::DeviceRow& row, bool appended) {
        heard.push_back({row.id, consolecore::ledMask(row.leds), appended});
    });
    QVERIFY(console.connect({device(0, 301, 0, 0, 1, false, 0x8001)}));  // outlets 1 and 16
    QCOMPARE(binder->shownRowCount(), 1);
    QVERIFY(!heard.empty());
    QCOMPARE(heard[0].id, std::uint16_t(301));
    QCOMPARE(heard[0].mask, std::uint16_t(0x8001));
    QVERIFY(heard[0].appended);

    // A report with outlets 1 and 2 on: outlet 1 is the mask's top bit.
    protocol::StatusPayload status;
    status.header.deviceId = 301;
    status.number = 1;
    status.outlets = protocol::expandChannelWord(0x0003);
    console.fleet->device(0).sendFrame(
        protocol::buildStatusFrame(protocol::NET_CMD_STATUS, status));
    QTRY_VERIFY_WITH_TIMEOUT(heard.back().mask == 0xC000, 10000);
    QCOMPARE(heard.back().id, std::uint16_t(301));
    QVERIFY(!heard.back().appended);
    binder->setRowShownListener(nullptr);
}

void ConsoleWindowTest::onOffCellSendsTheOppositeAndWaitsForTheReport() {
    Console console;
    QVERIFY(console.connect({device(0, 201, 1, 0, 1)}));
    SimDevice& sim = console.fleet->device(0);
    const int row = console.rowOf(201);
    QCOMPARE(console.cell(row, 10), QStringLiteral("OFF"));

    console.doubleClick(row, DeviceColumn::ColOnOff);
    // The GUI thread is held here, so no report can have reached the row yet.
    QVERIFY(sim.waitCommand(protocol::NET_CMD_SET_ONOFF));
    const auto frames = sim.frames(protocol::NET_CMD_SET_ONOFF);
    QCOMPARE(frames.size(), size_t(1));
    QCOMPARE(frames[0].param(0), std::uint8_t(1));
    QCOMPARE(console.cell(row, 10), QStringLiteral("OFF"));
    // The device's report turns the cell over.
    QTRY_COMPARE_WITH_TIMEOUT(console.cell(row, 10), QStringLiteral("ON"), 10000);
    QCOMPARE(console.cell(row, 17), QStringLiteral("1"));

    // A single click only highlights the row.
    sim.clearFrames();
    QTest::mouseClick(console.list()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      console.list()->cellRect(row, DeviceColumn::ColOnOff).center());
    console.deliverPosted();
    QCOMPARE(console.list()->highlightedRow(), row);
    QTest::qWait(100);
    QCOMPARE(sim.received(protocol::NET_CMD_SET_ONOFF), std::uint64_t(1));
}

void ConsoleWindowTest::modeCellAndOutletDotSendTheirCommands() {
    Console console;
    QVERIFY(console.connect({device(0, 301, 3, 0, 2, false, 0x0010)}));  // outlet 5 on
    SimDevice& sim = console.fleet->device(0);
    const int row = console.rowOf(301);
    QCOMPARE(console.list()->stripIcon(row, 4), consoleui::kIconLedOn);

    // Third dot (channel 3, off): 45 px right and 5 px down in a 22 px row of 20 px icons.
    console.doubleClick(row, DeviceColumn::ColLeds, QPoint(45, 5));
    QVERIFY(sim.waitCommand(protocol::NET_CMD_CHANNEL));
    auto frames = sim.frames(protocol::NET_CMD_CHANNEL);
    QCOMPARE(frames.back().param(0), std::uint8_t(3));
    QCOMPARE(frames.back().param(1), std::uint8_t(1));
    QTRY_COMPARE_WITH_TIMEOUT(console.list()->stripIcon(row, 2), consoleui::kIconLedOn, 10000);
    QCOMPARE(console.cell(row, 18), QString::number(0x2000 | 0x0800));  // channels 3 and 5

    // Fifth dot is on: the command switches it off.
    console.doubleClick(row, DeviceColumn::ColLeds, QPoint(4 * 20 + 10, 10));
    QVERIFY(sim.waitCommand(protocol::NET_CMD_CHANNEL, 2));
    frames = sim.frames(protocol::NET_CMD_CHANNEL);
    QCOMPARE(frames.back().param(0), std::uint8_t(5));
    QCOMPARE(frames.back().param(1), std::uint8_t(0));
    QTRY_COMPARE_WITH_TIMEOUT(console.list()->stripIcon(row, 4), consoleui::kIconLedOff, 10000);

    // The mode cell asks for the other mode.
    console.doubleClick(row, DeviceColumn::ColMode);
    QVERIFY(sim.waitCommand(protocol::NET_CMD_SET_MODE));
    QCOMPARE(sim.frames(protocol::NET_CMD_SET_MODE).back().param(0), std::uint8_t(1));
    QTRY_COMPARE_WITH_TIMEOUT(console.cell(row, 7), QStringLiteral("Serial"), 10000);
}

void ConsoleWindowTest::groupEditorLeftUnchangedStillSendsTheGroup() {
    Console console;
    QVERIFY(console.connect({device(0, 401, 2, 0, 4), device(1, 402, 5, 1, 1)}));
    SimDevice& sim = console.fleet->device(0);
    const int row = console.rowOf(401);
    console.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(console.window.get()));

    console.doubleClick(row, DeviceColumn::ColGroup);
    QComboBox* combo = console.window->groupCombo();
    QVERIFY(combo->isVisible());
    QCOMPARE(combo->currentText(), QStringLiteral("Link_2"));  // opens on what the cell shows
    QTest::keyClick(combo, Qt::Key_Escape);
    QTRY_VERIFY(!combo->isVisible());
    QVERIFY(console.window->isVisible());  // Escape closed the editor, not the console
    QVERIFY(sim.waitCommand(protocol::NET_CMD_SET_GROUP));
    QCOMPARE(sim.frames(protocol::NET_CMD_SET_GROUP).back().param(0), std::uint8_t(2));
    QCOMPARE(console.fleet->device(1).received(protocol::NET_CMD_SET_GROUP), std::uint64_t(0));

    // The other device's editor opens on its own group; choosing Link_6 sends 6.
    const int other = console.rowOf(402);
    console.doubleClick(other, DeviceColumn::ColGroup);
    QTRY_VERIFY(combo->isVisible());
    QCOMPARE(combo->currentText(), QStringLiteral("Link_5"));
    combo->setCurrentIndex(6);
    QTest::keyClick(combo, Qt::Key_Return);
    QTRY_VERIFY(!combo->isVisible());
    QCOMPARE(console.cell(other, 8), QStringLiteral("Link_6"));  // the choice shows at once
    QVERIFY(console.fleet->device(1).waitCommand(protocol::NET_CMD_SET_GROUP));
    QCOMPARE(console.fleet->device(1).frames(protocol::NET_CMD_SET_GROUP).back().param(0),
             std::uint8_t(6));
    QTRY_COMPARE_WITH_TIMEOUT(console.cell(other, 15), QStringLiteral("6"), 10000);
}

void ConsoleWindowTest::numberEditorSendsTheChosenNumber() {
    Console console;
    QVERIFY(console.connect({device(0, 501, 1, 0, 7)}));
    SimDevice& sim = console.fleet->device(0);
    const int row = console.rowOf(501);
    console.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(console.window.get()));
    console.doubleClick(row, DeviceColumn::ColNumber);
    QComboBox* combo = console.window->numberCombo();
    QVERIFY(combo->isVisible());
    QCOMPARE(combo->currentText(), QStringLiteral("7"));
    combo->setCurrentIndex(11);
    // A click elsewhere in the window closes the editor like Enter.
    QTest::mouseClick(console.window->button(QStringLiteral("日志记录")), Qt::LeftButton);
    QTRY_VERIFY(!combo->isVisible());
    QVERIFY(sim.waitCommand(protocol::NET_CMD_SET_NUMBER));
    QCOMPARE(sim.frames(protocol::NET_CMD_SET_NUMBER).back().param(0), std::uint8_t(12));
    QTRY_COMPARE_WITH_TIMEOUT(console.cell(row, 16), QStringLiteral("12"), 10000);
}

void ConsoleWindowTest::rowsKeepTheirNumbersAfterARemoval() {
    Console console;
    // Registered one after another so the rows come in this order.
    for (std::size_t i = 0; i < 3; ++i) {
        QVERIFY(console.connect({device(i, static_cast<std::uint16_t>(601 + i), 0, 0, 1, false,
                                        static_cast<std::uint16_t>(1u << i))}));
    }
    QCOMPARE(console.columnTexts(1), QStringList({"601", "602", "603"}));
    QCOMPARE(console.columnTexts(0), QStringList({"1", "2", "3"}));

    // The second device stops answering heartbeats and is reported offline.
    simtcp::Knobs silent = console.fleet->device(1).knobs();
    silent.answerHeartbeats = false;
    silent.reconnect = false;
    console.fleet->device(1).setKnobs(silent);
    QTRY_COMPARE_WITH_TIMEOUT(console.list()->rowCount(), 2, 20000);
    QCOMPARE(console.columnTexts(1), QStringList({"601", "603"}));
    // The row that moved up shows its own outlets (outlet 3), not the removed device's.
    QCOMPARE(console.list()->stripIcon(1, 2), consoleui::kIconLedOn);
    QCOMPARE(console.list()->stripIcon(1, 1), consoleui::kIconLedOff);
    QTRY_VERIFY(logHas(2, 6, "掉线删除设备[ID:602;IP:127.0.0.3]"));

    QVERIFY(console.connect({device(3, 604, 0, 0, 1)}));
    QCOMPARE(console.columnTexts(0), QStringList({"1", "3", "3"}));
    QCOMPARE(console.columnTexts(1), QStringList({"601", "603", "604"}));
    QCOMPARE(console.list()->stripIcon(2, 0), consoleui::kIconLedOff);
}

void ConsoleWindowTest::lostDevicesAreNoticedOneLinePerBurstUntilDismissedOrBack() {
    Console console;
    QVERIFY(console.connect(
        {device(0, 801, 0, 0, 1), device(1, 802, 0, 0, 1), device(2, 803, 0, 0, 1)}));
    QVERIFY(!console.window->offlineNotices()->isVisible());
    console.silence(801);
    console.silence(802);
    QTRY_COMPARE_WITH_TIMEOUT(console.list()->rowCount(), 1, 20000);
    QTRY_VERIFY(console.offlineLines().size() == 1 &&
                console.offlineLines()[0].startsWith(QStringLiteral("2台设备离线")));
    QVERIFY(console.window->offlineNotices()->isVisible());
    for (const char* entry : {"设备801(SIM801) 127.0.0.2", "设备802(SIM802) 127.0.0.3"}) {
        QVERIFY2(console.offlineLines()[0].contains(QString::fromUtf8(entry)), entry);
    }
    // A device that comes back leaves the line.
    QVERIFY(console.bringBack(802));
    QCOMPARE(console.offlineLines().size(), 1);
    QVERIFY(console.offlineLines()[0].startsWith(
        QStringLiteral("设备离线: 设备801(SIM801) 127.0.0.2 ")));
    console.window->offlineNotices()->dismissButton(0)->click();
    QVERIFY(console.offlineLines().isEmpty());
    QVERIFY(!console.window->offlineNotices()->isVisible());
}

void ConsoleWindowTest::keptOfflineRowsStayGreyedUntilBackOrRemoved() {
    Console console("[Console]\nKeepOfflineRows=1\n");
    QVERIFY(console.connect({device(0, 811, 0, 0, 1), device(1, 812, 0, 0, 1)}));
    const int row = console.rowOf(812);
    console.silence(812);
    QTRY_VERIFY_WITH_TIMEOUT(
        console.cell(row, DeviceColumn::ColStatus).startsWith(QStringLiteral("离线 ")), 20000);
    QCOMPARE(console.list()->rowCount(), 2);
    QVERIFY(console.list()->rowStyle(row).text.isValid());  // greyed
    QCOMPARE(console.offlineLines().size(), 1);
    QVERIFY(!console.window->rowMenu(console.rowOf(811)));  // an online row cannot be removed

    // Back where it stood, online again; its notice goes.
    QVERIFY(console.bringBack(812));
    QCOMPARE(console.rowOf(812), row);
    QCOMPARE(console.cell(row, DeviceColumn::ColStatus), QStringLiteral("在线"));
    QCOMPARE(console.list()->rowStyle(row), consoleui::RowStyle{});
    QVERIFY(console.offlineLines().isEmpty());

    // Lost again, then removed by the operator.
    console.silence(812);
    QTRY_VERIFY_WITH_TIMEOUT(!console.window->deviceTable().rowOnline(812), 20000);
    auto menu = console.window->rowMenu(row);
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions()[0]->text(), QStringLiteral("移除离线设备行"));
    menu->actions()[0]->trigger();
    QCOMPARE(console.list()->rowCount(), 1);
    QCOMPARE(console.rowOf(812), -1);
}

void ConsoleWindowTest::columnsFitTheirContentAndScrollSideways() {
    Console console;
    DeviceConfig a = device(0, 821, 3, 1, 12, true, 0xFFFF);
    a.name = "RackNameOf20Letters";
    a.mac = {0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF};
    a.mask = 0xFFFFFF00;
    a.gateway = 0xC0A8FEFE;
    QVERIFY(console.connect({a}));
    CListCtrlWG* list = console.list();
    const QFontMetrics metrics(list->rowFont());
    for (int c = 0; c < DeviceColumn::ColHiddenId; ++c) {
        if (c == DeviceColumn::ColLeds) continue;
        QVERIFY2(list->columnWidth(c) >= metrics.horizontalAdvance(console.cell(0, c)) + 6,
                 qPrintable(console.cell(0, c)));
    }
    const QRect leds = list->cellRect(0, DeviceColumn::ColLeds);
    QVERIFY(list->stripIconRect(0, DeviceColumn::ColLeds, 15).right() <= leds.right());
    // Narrower than its columns, the list scrolls sideways; wider, the name column takes the
    // rest and nothing scrolls.
    const int mac = list->columnWidth(DeviceColumn::ColMac);
    console.window->resize(900, console.window->height());
    QTRY_VERIFY(list->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(list->columnWidth(DeviceColumn::ColMac), mac);
    console.window->resize(2400, console.window->height());
    QTRY_COMPARE(list->horizontalScrollBar()->maximum(), 0);
    QCOMPARE(list->columnWidth(DeviceColumn::ColMac), mac);
}

void ConsoleWindowTest::titleClickSortsAndAReturningDeviceKeepsItsPlace() {
    Console console;
    // Registered 903 first; the rows stand by id all the same.
    for (const auto& [index, id] : {std::pair{0, 903}, {1, 901}, {2, 902}}) {
        QVERIFY(console.connect({device(index, static_cast<std::uint16_t>(id), 0, 0, 1, false,
                                        static_cast<std::uint16_t>(1u << index))}));
    }
    QCOMPARE(console.columnTexts(1), QStringList({"901", "902", "903"}));
    // Each row shows its own outlet (903: 1, 901: 2, 902: 3) once the rows that moved down
    // for a newcomer have caught up.
    for (const auto& [row, outlet] : {std::pair{0, 1}, {1, 2}, {2, 0}}) {
        QTRY_COMPARE(console.list()->stripIcon(row, outlet), consoleui::kIconLedOn);
        QCOMPARE(console.list()->stripIcon(row, (outlet + 1) % 3), consoleui::kIconLedOff);
    }
    consoleui::CHeaderCtrlWG* header = console.list()->headerCtrl();
    const auto clickTitle = [&](int column) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, Qt::NoModifier,
            QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    clickTitle(DeviceColumn::ColDeviceId);
    QCOMPARE(console.columnTexts(1), QStringList({"903", "902", "901"}));
    // The outlet dots moved with their rows: 903 has outlet 1 on.
    QCOMPARE(console.list()->stripIcon(0, 0), consoleui::kIconLedOn);
    QCOMPARE(console.list()->stripIcon(2, 0), consoleui::kIconLedOff);
    clickTitle(DeviceColumn::ColDeviceId);
    QCOMPARE(console.columnTexts(1), QStringList({"901", "902", "903"}));

    console.silence(902);
    QTRY_COMPARE_WITH_TIMEOUT(console.columnTexts(1), QStringList({"901", "903"}), 20000);
    QVERIFY(console.bringBack(902));
    QCOMPARE(console.columnTexts(1), QStringList({"901", "902", "903"}));
}

void ConsoleWindowTest::edgesResizeTheTitleMaximisesAndThePlaceIsRemembered() {
    const QRect remembered(20, 10, 780, 560);
    Console console(
        "[Console]\nKeepOfflineRows=1\n[Window]\nX=20\nY=10\nWidth=780\n"
        "Height=560\nMaximized=0\n");
    CVantrelDlg& w = *console.window;
    QCOMPARE(w.geometry(), remembered);
    // The bottom-right corner follows the mouse.
    const QPoint corner(w.width() - 2, w.height() - 2);
    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, corner);
    QTest::mouseMove(&w, corner + QPoint(-20, -40));
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, corner + QPoint(-20, -40));
    QTRY_COMPARE(w.size(), QSize(760, 520));
    QCOMPARE(w.pos(), remembered.topLeft());
    // A double-click on the title maximises; the menu entry brings it back.
    QTest::mouseDClick(w.captionLabel(), Qt::LeftButton);
    QTRY_VERIFY(w.isMaximized());
    QCOMPARE(w.maximizeAction()->text(), QStringLiteral("还原"));
    w.maximizeAction()->trigger();
    QTRY_VERIFY(!w.isMaximized());
    QCOMPARE(w.maximizeAction()->text(), QStringLiteral("最大化"));
    QTRY_COMPARE(w.geometry(), QRect(remembered.topLeft(), QSize(760, 520)));

    // Closed: the new place is in [Window], the other settings kept.
    console.window.reset();
    const auto place = consoleui::readWindowPlace(console.settingsFile());
    QVERIFY(place);
    QCOMPARE(place->normal, QRect(remembered.topLeft(), QSize(760, 520)));
    QVERIFY(!place->maximized);
    QCOMPARE(platform::readProfileString(console.settingsFile(), "Console", "KeepOfflineRows", ""),
             std::string("1"));
}

void ConsoleWindowTest::outletClickReachesTheClickedDeviceWhenARowAboveGoesMeanwhile() {
    Console console;
    for (std::size_t i = 0; i < 3; ++i) {
        QVERIFY(console.connect({device(i, static_cast<std::uint16_t>(801 + i), 1, 0, 1)}));
    }
    simtcp::Knobs silent = console.fleet->device(0).knobs();
    silent.answerHeartbeats = false;
    silent.reconnect = false;
    console.fleet->device(0).setKnobs(silent);
    // The link reports 801 offline while the window is busy: the removal waits in the queue
    // (the receive path posts it before it takes the device out of its group).
    QVERIFY(testkit::waitFor(
        [] {
            auto& groups = consolecore::switchingGroups();
            auto guard = groups.lock();
            return !groups.findGroupOf(consolecore::GroupKind::Parallel, 801);
        },
        20000ms));
    QCOMPARE(console.rowOf(802), 1);
    // The operator double-clicks 802's first outlet; the removal is handled before the click.
    console.doubleClick(1, DeviceColumn::ColLeds, QPoint(10, 5));
    QCOMPARE(console.rowOf(802), 0);
    QVERIFY(console.fleet->device(1).waitCommand(protocol::NET_CMD_CHANNEL));
    QCOMPARE(console.fleet->device(1).frames(protocol::NET_CMD_CHANNEL).back().param(0),
             std::uint8_t(1));
    QCOMPARE(console.fleet->device(2).received(protocol::NET_CMD_CHANNEL), std::uint64_t(0));
}

void ConsoleWindowTest::openEditorClosesUnsentWhenItsRowGoesOrMoves() {
    Console console;
    for (std::size_t i = 0; i < 3; ++i) {
        QVERIFY(console.connect({device(i, static_cast<std::uint16_t>(701 + i), 1, 0, 1)}));
    }
    console.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(console.window.get()));
    QComboBox* combo = console.window->groupCombo();
    const auto silence = [&](std::size_t index) {
        simtcp::Knobs silent = console.fleet->device(index).knobs();
        silent.answerHeartbeats = false;
        silent.reconnect = false;
        console.fleet->device(index).setKnobs(silent);
    };
    // Frames to one device leave in order: two more heartbeats mean nothing else is on its way.
    const auto nothingSent = [&](std::size_t index) {
        SimDevice& sim = console.fleet->device(index);
        const auto heartbeats = sim.received(protocol::NET_CMD_HEARTBEAT);
        return sim.waitCommand(protocol::NET_CMD_HEARTBEAT, heartbeats + 2) &&
               sim.received(protocol::NET_CMD_SET_GROUP) == 0;
    };

    // A row above the open editor goes: its row moves up, the editor closes unread.
    console.doubleClick(console.rowOf(702), DeviceColumn::ColGroup);
    QVERIFY(combo->isVisible());
    combo->setCurrentIndex(5);
    silence(0);
    QTRY_COMPARE_WITH_TIMEOUT(console.list()->rowCount(), 2, 20000);
    QVERIFY(!combo->isVisible());
    QVERIFY(!console.list()->openEditorCell());
    QVERIFY(nothingSent(1));
    QVERIFY(nothingSent(2));
    QCOMPARE(console.cell(console.rowOf(702), DeviceColumn::ColGroup), QStringLiteral("Link_1"));

    // The editor's own row goes.
    console.doubleClick(console.rowOf(702), DeviceColumn::ColGroup);
    QVERIFY(combo->isVisible());
    combo->setCurrentIndex(4);
    silence(1);
    QTRY_COMPARE_WITH_TIMEOUT(console.list()->rowCount(), 1, 20000);
    QVERIFY(!combo->isVisible());
    QVERIFY(nothingSent(2));
}

void ConsoleWindowTest::parallelOnWithAnEmptyTableOpensNoDialog() {
    Console console;
    QCOMPARE(console.list()->rowCount(), 0);
    uitest::ModalWatch watch([](QWidget*) {});
    console.window->button(QStringLiteral("平行开"))->click();
    console.window->button(QStringLiteral("平行关"))->click();
    QTest::qWait(100);
    QVERIFY(!watch.seen());
    QVERIFY(console.prompt.messages.empty());
}

void ConsoleWindowTest::parallelOnSwitchesTheGroupInNumberOrder() {
    Console console;
    // Parallel group 1, numbers 3, 1, 2 in registration order, all off.
    QVERIFY(console.connect({device(0, 701, 1, 0, 3)}));
    QVERIFY(console.connect({device(1, 702, 1, 0, 1)}));
    QVERIFY(console.connect({device(2, 703, 1, 0, 2)}));
    uitest::ModalWatch watch([](QWidget* modal) {
        auto* dialog = qobject_cast<consoleui::GroupSelectDialog*>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->objectName(), QStringLiteral("CSelectPLGroupDlg"));
        CListCtrlWG* groups = dialog->groupList();
        QTest::mouseClick(groups->viewport(), Qt::LeftButton, Qt::NoModifier,
                          groups->cellRect(0, 0).center());
        QCOMPARE(dialog->deviceList()->rowCount(), 3);
        dialog->okButton()->click();
    });
    console.window->button(QStringLiteral("平行开"))->click();
    QVERIFY(watch.seen());
    // number -> (position, batch size): 1 -> 1, 2 -> 2, 3 -> 3, all of a batch of 3.
    const std::pair<std::size_t, std::uint8_t> expected[] = {{1, 1}, {2, 2}, {0, 3}};
    for (const auto& [index, position] : expected) {
        SimDevice& sim = console.fleet->device(index);
        QVERIFY(sim.waitCommand(protocol::NET_CMD_PARALLEL));
        const auto frame = sim.frames(protocol::NET_CMD_PARALLEL).front();
        QCOMPARE(frame.param(0), std::uint8_t(1));  // on
        QCOMPARE(frame.param(2), position);
        QCOMPARE(frame.param(3), std::uint8_t(3));
    }
    // The devices step through their outlets and report; the rows follow.
    QTRY_COMPARE_WITH_TIMEOUT(console.columnTexts(10), QStringList({"ON", "ON", "ON"}), 20000);
    QVERIFY(console.prompt.messages.empty());
}

void ConsoleWindowTest::serialOnRunsDeviceAfterDevice() {
    Console console;
    // Serial group 2, numbers 2, 1, 3, all off.
    QVERIFY(console.connect({device(0, 801, 2, 1, 2)}));
    QVERIFY(console.connect({device(1, 802, 2, 1, 1)}));
    QVERIFY(console.connect({device(2, 803, 2, 1, 3)}));
    uitest::ModalWatch watch([](QWidget* modal) {
        auto* dialog = qobject_cast<consoleui::GroupSelectDialog*>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->objectName(), QStringLiteral("CSelectGroupDlg"));
        CListCtrlWG* groups = dialog->groupList();
        QTest::mouseClick(groups->viewport(), Qt::LeftButton, Qt::NoModifier,
                          groups->cellRect(1, 0).center());
        dialog->okButton()->click();
    });
    console.window->button(QStringLiteral("串行开"))->click();
    QVERIFY(watch.seen());
    QVERIFY(logHas(2, 6, "点击串行开2"));
    // The first command goes to number 1 only; the others follow the step replies.
    QVERIFY(console.fleet->device(1).waitCommand(protocol::NET_CMD_SERIAL));
    QCOMPARE(console.fleet->device(0).received(protocol::NET_CMD_SERIAL), std::uint64_t(0));
    QCOMPARE(console.fleet->device(2).received(protocol::NET_CMD_SERIAL), std::uint64_t(0));
    QTRY_VERIFY_WITH_TIMEOUT(logHas(2, 6, "串行开分组2结束!"), 30000);
    for (std::size_t i = 0; i < 3; ++i) {
        QCOMPARE(console.fleet->device(i).received(protocol::NET_CMD_SERIAL), std::uint64_t(1));
    }
    // Each device started after the previous one had finished.
    const auto started = [&](std::size_t i) {
        return console.fleet->device(i).frames(protocol::NET_CMD_SERIAL).front().at;
    };
    QVERIFY(started(1) < started(0));
    QVERIFY(started(0) < started(2));
    QTRY_COMPARE_WITH_TIMEOUT(console.columnTexts(10), QStringList({"ON", "ON", "ON"}), 20000);
}

void ConsoleWindowTest::confirmingWithoutAGroupShowsTheMessage() {
    Console console;
    QVERIFY(console.connect({device(0, 901, 4, 1, 1, true)}));  // serial group 4, already on
    uitest::ModalWatch watch([](QWidget* modal) {
        auto* dialog = qobject_cast<consoleui::GroupSelectDialog*>(modal);
        QVERIFY(dialog);
        QTest::mouseClick(dialog->groupList()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          dialog->groupList()->cellRect(3, 0).center());
        QCOMPARE(dialog->deviceList()->rowCount(), 0);
        dialog->okButton()->click();
    });
    console.window->button(QStringLiteral("串行开"))->click();
    QVERIFY(watch.seen());
    QCOMPARE(console.prompt.messages, std::vector<std::string>{"未选择分组"});
    // Cancelling shows nothing.
    uitest::ModalWatch cancel([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    console.window->button(QStringLiteral("串行关"))->click();
    QVERIFY(cancel.seen());
    QCOMPARE(console.prompt.messages.size(), size_t(1));
    QVERIFY(console.window->isVisible());
}

void ConsoleWindowTest::helpMenuOpensTheShippedGuide() {
    Console console;
    QStringList opened;
    console.window->setHelpOpener([&](const QString& path) { opened << path; });
    QMenu* menu = console.window->helpMenu();
    QCOMPARE(console.window->menuButton()->menu(), menu);
    QAction* help = menu->actions().value(0);
    QVERIFY(help);
    QCOMPARE(help->text(), QStringLiteral("说明文档"));
    help->trigger();
    QCOMPARE(opened, QStringList{CVantrelDlg::helpFilePath()});
    QVERIFY2(QFile::exists(opened.value(0)), qPrintable(opened.value(0)));
    QFile guide(opened.value(0));
    QVERIFY(guide.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(guide.readAll()).contains(QStringLiteral("平行开")));

    // The About entry opens the About box.
    QAction* about = menu->actions().value(2);
    QVERIFY(about);
    QCOMPARE(about->text(), QStringLiteral("关于 Vantrel(&A)..."));
    uitest::ModalWatch watch([](QWidget* modal) {
        QCOMPARE(modal->windowTitle(), QStringLiteral("关于 Vantrel"));
        QTest::keyClick(modal, Qt::Key_Return);
    });
    about->trigger();
    QVERIFY(watch.seen());
    QVERIFY(console.window->isVisible());
}

// Answers the exit question with the button of that text; records the question.
uitest::ModalWatch answerExit(const QString& answer, QString& question) {
    return uitest::ModalWatch([answer, &question](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        question = box->text();
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == answer) b->click();
        }
    });
}

void ConsoleWindowTest::escapeAndTheCloseButtonAskBeforeClosing() {
    const std::vector<std::function<void(Console&)>> closers = {
        [](Console& c) {
            c.list()->setFocus();
            QTest::keyClick(c.list(), Qt::Key_Escape);
        },
        [](Console& c) { c.window->closeButton()->click(); },
    };
    for (const auto& close : closers) {
        Console console;
        QSignalSpy finished(console.window.get(), &QDialog::finished);
        QString question;
        {
            auto keep = answerExit(QStringLiteral("取消"), question);
            close(console);
            QVERIFY(keep.seen());
        }
        QCOMPARE(question, QStringLiteral("确定要退出吗?"));
        QCOMPARE(finished.count(), 0);
        QVERIFY(console.window->isVisible());
        QVERIFY(GetLanwirePort() != 0);
        {
            auto quit = answerExit(QStringLiteral("确定"), question);
            close(console);
            QVERIFY(quit.seen());
        }
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Rejected));
        QVERIFY(!console.window->isVisible());
        QCOMPARE(GetLanwirePort(), std::uint16_t(0));  // the link stopped with the window
    }
}

void ConsoleWindowTest::enterPressesTheFocusedButtonAndFocusShows() {
    Console console;
    int opened = 0;
    CVantrelDlg::ToolHandlers tools;
    tools.logViewer = [&](CVantrelDlg&) { ++opened; };
    console.window->setToolHandlers(tools);
    QSignalSpy finished(console.window.get(), &QDialog::finished);
    QPushButton* button = console.window->button(QStringLiteral("日志记录"));
    const QImage unfocused = button->grab().toImage();
    console.window->activateWindow();
    button->setFocus();
    QTRY_VERIFY(button->hasFocus());
    QVERIFY(button->grab().toImage() != unfocused);  // the focused button looks different
    uitest::ModalWatch noDialog([](QWidget*) {});    // closes any dialog Enter might open
    QTest::keyClick(button, Qt::Key_Return);
    QCOMPARE(opened, 1);
    // Enter on the list presses nothing and closes nothing.
    console.list()->setFocus();
    QTest::keyClick(console.list(), Qt::Key_Return);
    QCOMPARE(opened, 1);
    QVERIFY(!noDialog.seen());
    QCOMPARE(finished.count(), 0);
    QVERIFY(console.window->isVisible());
}

void ConsoleWindowTest::keysOnTheFocusedCellSendWhatADoubleClickSends() {
    Console console;
    QVERIFY(console.connect({device(0, 401, 3, 0, 2)}));
    SimDevice& sim = console.fleet->device(0);
    CListCtrlWG* list = console.list();
    console.window->activateWindow();
    list->setFocus();
    QTRY_VERIFY(list->hasFocus());
    const auto press = [&](Qt::Key key, int times = 1) {
        for (int i = 0; i < times; ++i) QTest::keyClick(list, key);
        console.deliverPosted();
    };
    press(Qt::Key_Down);
    press(Qt::Key_Right, DeviceColumn::ColMode);
    press(Qt::Key_Space);
    QVERIFY(sim.waitCommand(protocol::NET_CMD_SET_MODE));
    press(Qt::Key_Right, DeviceColumn::ColOnOff - DeviceColumn::ColMode);
    press(Qt::Key_Return);
    QVERIFY(sim.waitCommand(protocol::NET_CMD_SET_ONOFF));
    QCOMPARE(sim.frames(protocol::NET_CMD_SET_ONOFF).back().param(0), std::uint8_t(1));
    press(Qt::Key_Right, 3);  // the LED strip, its third dot
    press(Qt::Key_Space);
    QVERIFY(sim.waitCommand(protocol::NET_CMD_CHANNEL));
    QCOMPARE(sim.frames(protocol::NET_CMD_CHANNEL).back().param(0), std::uint8_t(3));
}

QTEST_MAIN(ConsoleWindowTest)
#include "console_window_test.moc"
