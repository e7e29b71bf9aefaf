// The device configuration dialog against the simulated configurable device on a real
// pseudo-terminal, with the console's main window and a simulated sequencer over the link:
// read fills the form, a write reaches the device, and the device leaves the main table.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "consolecore/console_session.h"
#include "consolecore/device_table.h"
#include "consolecore/switching_groups.h"
#include "consoletools/device_config_dlg.h"
#include "consoletools/ip_address_edit.h"
#include "consoleui/vantrel_dlg.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/logbase.h"
#include "serialsim/com_port_links.h"
#include "serialsim/serial_device.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"
#include "tool_test_support.h"

using consolecore::ConfigField;
using consoletools::CDeviceConfigDlg;
using consoletools::IpAddressEdit;
using Bytes = std::vector<std::uint8_t>;

namespace {

serialsim::ComPortLinks& comLinks() {
    static serialsim::ComPortLinks links;
    return links;
}
// The COM override is set before any thread of the test program runs.
[[maybe_unused]] const auto& g_links = comLinks();

bool logHas(const std::string& content) {
    LogObLockLogbase();
    auto statement = LogObQueryStatement("select LogType, LogChildType, LogContent from Log");
    LogObUnlockLogbase();
    while (statement && statement->NextRow()) {
        if (statement->ValueUtf8(0) == "2" && statement->ValueUtf8(1) == "8" &&
            statement->ValueUtf8(2) == content) {
            return true;
        }
    }
    return false;
}

// The console window on an ephemeral port with a simulated sequencer 300 in parallel group 2,
// and the simulated configurable device on COM1.
class Bench {
public:
    Bench() {
        LanwireOptions link;
        link.programFolder = m_folder.path().string() + "/";
        SetLanwireOptions(link);
        consolecore::SessionOptions options;
        options.programFolder = m_folder.path().string() + "/";
        options.taskFolder = m_folder.file("TimingTask");
        options.port = 0;
        consolecore::beginApplication();
        window = std::make_unique<consoleui::CVantrelDlg>(options, &prompt);
        window->OnInitDialog();
        window->show();
        fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", GetLanwirePort());
        linked = serial.valid() && comLinks().link(1, serial.slavePath());
    }
    ~Bench() {
        fleet->stop();
        window.reset();
        consolecore::endApplication();
        ReleaseLogbaseModule();
    }

    bool connectSequencer(std::uint16_t id) {
        simtcp::DeviceConfig config = simtcp::makeDeviceConfig(0, id);
        config.group = 2;
        config.mode = 0;
        config.number = 1;
        fleet->add(config);
        fleet->start();
        return QTest::qWaitFor([&] { return window->deviceTable().findRow(id) >= 0; }, 20000);
    }
    bool inGroups(std::uint16_t id) {
        auto& groups = consolecore::switchingGroups();
        const auto lock = groups.lock();
        return groups.findGroupOf(consolecore::GroupKind::Parallel, id).has_value();
    }
    std::vector<Bytes> writesReceived() const {
        std::vector<Bytes> writes;
        for (auto& r : serial.requests()) {
            if (r.size() == 38) writes.push_back(r);
        }
        return writes;
    }

    tooltest::RecordingPrompt prompt;
    std::unique_ptr<consoleui::CVantrelDlg> window;
    std::unique_ptr<simtcp::SimFleet> fleet;
    serialsim::SimSerialDevice serial;
    bool linked = false;

private:
    testkit::TempDir m_folder;
};

void tick(CDeviceConfigDlg& dialog, ConfigField field) {
    QTest::mouseClick(dialog.useNewBox(field), Qt::LeftButton);
}

bool yes(const QString&) {
    return true;
}

}  // namespace

class DeviceConfigDlgTest : public QObject {
    Q_OBJECT
private slots:
    void portsControlsAndTheirStartState();
    void readFillsTheForm();
    void writeReachesTheDeviceAndTheDeviceLeavesTheMainTable();
    void writeBeforeReadIsRefusedAndRemovesNothing();
    void badInputsAndAPortThatCannotOpen();
    void closingTheDialogClosesThePort();
    void declinedWriteSendsNothing();
    void escapeAsksBeforeDroppingUnwrittenValues();
};

void DeviceConfigDlgTest::portsControlsAndTheirStartState() {
    Bench bench;
    QVERIFY(bench.linked);
    CDeviceConfigDlg dialog(bench.window.get(), &bench.prompt, nullptr, yes);
    dialog.OnInitDialog();
    dialog.show();
    QCOMPARE(dialog.caption(), QStringLiteral("设备配置"));
    QCOMPARE(dialog.portCombo()->count(), 20);
    QCOMPARE(dialog.portCombo()->itemText(0), QStringLiteral("COM1"));
    QCOMPARE(dialog.portCombo()->itemText(19), QStringLiteral("COM20"));
    // Each COM number shows the Linux device it opens.
    const QString com1 = QString::fromStdString(comLinks().linkPath(1).string());
    QCOMPARE(dialog.portDeviceLabel()->text(), com1);
    QCOMPARE(dialog.portCombo()->itemData(0, Qt::ToolTipRole).toString(), com1);
    dialog.portCombo()->setCurrentIndex(4);
    QCOMPARE(dialog.config().selectedPort(), 5u);
    QCOMPARE(dialog.portDeviceLabel()->text(),
             QString::fromStdString(comLinks().linkPath(5).string()));
    dialog.portCombo()->setCurrentIndex(0);
    QCOMPARE(dialog.readButton()->text(), QStringLiteral("读设备参数"));
    QCOMPARE(dialog.writeButton()->text(), QStringLiteral("设置设备参数"));

    for (int f = 0; f < consolecore::kConfigFieldCount; ++f) {
        const auto field = static_cast<ConfigField>(f);
        QVERIFY(!dialog.useNewBox(field)->isChecked());
        QVERIFY(!dialog.newControl(field)->isEnabled());
    }
    // Current values are read-only but drawn as live text, not greyed out.
    for (QLineEdit* current :
         {dialog.currentNumberEdit(), dialog.currentNameEdit(), dialog.currentMacEdit(),
          static_cast<QLineEdit*>(dialog.currentAddressEdit(ConfigField::ServerIp))}) {
        QVERIFY(current->isEnabled());
        QVERIFY(current->isReadOnly());
    }
    tick(dialog, ConfigField::Gateway);
    QVERIFY(dialog.newAddressEdit(ConfigField::Gateway)->isEnabled());
    QVERIFY(dialog.config().useNew(ConfigField::Gateway));
    tick(dialog, ConfigField::Gateway);
    QVERIFY(!dialog.newAddressEdit(ConfigField::Gateway)->isEnabled());
    tick(dialog, ConfigField::MacAddress);
    QVERIFY(dialog.newMacEdit()->isEnabled());
    QVERIFY(dialog.currentMacEdit()->isReadOnly());

    // The name counts its bytes as it is typed and flags what the device cannot store.
    tick(dialog, ConfigField::Name);
    QCOMPARE(dialog.nameByteCounter()->text(), QStringLiteral("0/10 字节"));
    dialog.newNameEdit()->insert(QStringLiteral("机柜B"));  // as an input method types it
    QCOMPARE(dialog.nameByteCounter()->text(), QStringLiteral("3/10 字节, 设备无法保存: 机柜"));
    dialog.newNameEdit()->clear();
    dialog.newNameEdit()->insert(QStringLiteral("Rack-\u00C4"));
    QCOMPARE(dialog.nameByteCounter()->text(), QStringLiteral("6/10 字节"));

    // The address edit takes what the platform's address control can hold.
    QCOMPARE(IpAddressEdit::readOctets("10.0..7"),
             (std::optional(consolecore::Ipv4Octets{10, 0, 0, 7})));
    QCOMPARE(IpAddressEdit::readOctets("1.2"),
             (std::optional(consolecore::Ipv4Octets{1, 2, 0, 0})));
    QVERIFY(!IpAddressEdit::readOctets("1.2.3.256"));
    QVERIFY(!IpAddressEdit::readOctets("1.2.3.4.5"));
    QVERIFY(!IpAddressEdit::readOctets("1.a.3.4"));
    IpAddressEdit* edit = dialog.newAddressEdit(ConfigField::IpAddress);
    edit->setEnabled(true);
    edit->clear();
    QTest::keyClicks(edit, "300.1.2.3");  // the third digit of 300 is refused
    QCOMPARE(edit->text(), QStringLiteral("30.1.2.3"));

    // Readable form: titled columns, labelled boxes, a ten-character name, a close button.
    for (const char* name : {"currentTitle", "useNewTitle", "newTitle"})
        QVERIFY(dialog.findChild<QLabel*>(QString::fromLatin1(name)));
    QCOMPARE(dialog.useNewBox(ConfigField::Name)->text(), QStringLiteral("修改"));
    QCOMPARE(dialog.newNameEdit()->maxLength(), 10);
    QCOMPARE(dialog.closeDialogButton()->text(), QStringLiteral("关闭"));
    dialog.closeDialogButton()->click();
    QVERIFY(!dialog.isVisible());
}

void DeviceConfigDlgTest::readFillsTheForm() {
    Bench bench;
    QVERIFY(bench.linked);
    CDeviceConfigDlg dialog(bench.window.get(), &bench.prompt, nullptr, yes);
    dialog.show();
    tick(dialog, ConfigField::Name);
    dialog.newNameEdit()->setText(QStringLiteral("Mine"));
    QTest::mouseClick(dialog.readButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.currentNumberEdit()->text(), QStringLiteral("300"), 10000);
    QVERIFY(dialog.config().isPortOpen());
    QVERIFY(!dialog.portCombo()->isEnabled());  // the open port cannot be changed
    QVERIFY(dialog.portDeviceLabel()->text().endsWith(QStringLiteral("(已打开)")));
    QCOMPARE(dialog.currentNameEdit()->text(), QStringLiteral("Rack-A"));
    QCOMPARE(dialog.currentAddressEdit(ConfigField::IpAddress)->text(),
             QStringLiteral("192.168.1.50"));
    QCOMPARE(dialog.currentAddressEdit(ConfigField::SubnetMask)->text(),
             QStringLiteral("255.255.255.0"));
    QCOMPARE(dialog.currentAddressEdit(ConfigField::Gateway)->text(),
             QStringLiteral("192.168.1.1"));
    QCOMPARE(dialog.currentAddressEdit(ConfigField::ServerIp)->text(),
             QStringLiteral("192.168.1.10"));
    QCOMPARE(dialog.currentMacEdit()->text(), QStringLiteral("00.1A.2B.3C.4D.5E"));
    // New values follow where their box is clear; the ticked name keeps what was typed; the
    // MAC is always shown in both.
    QCOMPARE(dialog.newNumberEdit()->text(), QStringLiteral("300"));
    QCOMPARE(dialog.newNameEdit()->text(), QStringLiteral("Mine"));
    QCOMPARE(dialog.newAddressEdit(ConfigField::ServerIp)->text(), QStringLiteral("192.168.1.10"));
    QCOMPARE(dialog.newMacEdit()->text(), QStringLiteral("00.1A.2B.3C.4D.5E"));
    QVERIFY(bench.prompt.messages.empty());
    QCOMPARE(bench.serial.requests().at(0), (Bytes{0xC3, 0x40, 0x02, 0x00, 0x3C, 0xD4}));
    // While the port is open another COM number has no effect.
    dialog.portCombo()->setCurrentIndex(2);
    QCOMPARE(dialog.config().selectedPort(), 1u);
    QVERIFY(logHas("成功打开串口."));
    QVERIFY(logHas("功能码通过.len:34"));
}

void DeviceConfigDlgTest::writeReachesTheDeviceAndTheDeviceLeavesTheMainTable() {
    Bench bench;
    QVERIFY(bench.linked);
    QVERIFY(bench.connectSequencer(300));
    QVERIFY(bench.inGroups(300));
    // The removal goes to the console's engine, as the program wires it.
    CDeviceConfigDlg dialog(bench.window.get(), &bench.prompt, &bench.window->engine().inbox(),
                            yes);
    dialog.show();
    QTest::mouseClick(dialog.readButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.currentNumberEdit()->text(), QStringLiteral("300"), 10000);

    tick(dialog, ConfigField::DeviceNumber);
    tick(dialog, ConfigField::Name);
    tick(dialog, ConfigField::IpAddress);
    tick(dialog, ConfigField::MacAddress);
    dialog.newNumberEdit()->setText(QStringLiteral("301"));
    dialog.newNameEdit()->setText(QStringLiteral("Rack-B-long-name"));
    dialog.newAddressEdit(ConfigField::IpAddress)->setText(QStringLiteral("10.20.30.40"));
    dialog.newMacEdit()->setText(QStringLiteral("1.2.3.4.5.6"));
    QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);

    QVERIFY(testkit::waitFor([&] { return bench.serial.writesApplied() == 1; }));
    const serialsim::DeviceParameters p = bench.serial.parameters();
    QCOMPARE(p.deviceNumber, std::uint16_t{301});
    QCOMPARE(p.name, serialsim::nameField("Rack-B-lon"));  // its first 10 characters
    QCOMPARE(p.ip, (std::array<std::uint8_t, 4>{10, 20, 30, 40}));
    QCOMPARE(p.mask, (std::array<std::uint8_t, 4>{255, 255, 255, 0}));
    QCOMPARE(p.gateway, (std::array<std::uint8_t, 4>{192, 168, 1, 1}));
    QCOMPARE(p.mac, (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    QCOMPARE(p.serverIp, (std::array<std::uint8_t, 4>{192, 168, 1, 10}));
    // The operator is told the write went out.
    QTRY_COMPARE_WITH_TIMEOUT(bench.prompt.messages, std::vector<std::string>{"设备参数已写入."},
                              10000);

    // The device under its old number leaves the registry, the groups and the main table.
    QTRY_VERIFY_WITH_TIMEOUT(bench.window->deviceTable().findRow(300) < 0, 10000);
    QVERIFY(!FindDevice(300));
    QVERIFY(!bench.inGroups(300));

    // Reading again shows what the device now holds.
    QTest::mouseClick(dialog.readButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.currentNumberEdit()->text(), QStringLiteral("301"), 10000);
    QCOMPARE(dialog.currentNameEdit()->text(), QStringLiteral("Rack-B-lon"));
    QCOMPARE(dialog.currentMacEdit()->text(), QStringLiteral("01.02.03.04.05.06"));
}

void DeviceConfigDlgTest::writeBeforeReadIsRefusedAndRemovesNothing() {
    Bench bench;
    QVERIFY(bench.linked);
    QVERIFY(bench.connectSequencer(77));
    CDeviceConfigDlg dialog(bench.window.get(), &bench.prompt, nullptr, yes);
    dialog.show();
    QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);
    QCOMPARE(bench.prompt.messages, std::vector<std::string>{"请先读取设备信息!"});
    QVERIFY(bench.serial.requests().empty());
    // Device number 0 is what the form holds: nothing else leaves the table.
    QTest::qWait(0);
    QCOMPARE(bench.window->deviceTable().findRow(77), 0);
}

void DeviceConfigDlgTest::badInputsAndAPortThatCannotOpen() {
    Bench bench;
    QVERIFY(bench.linked);
    {
        CDeviceConfigDlg dialog(bench.window.get(), &bench.prompt, nullptr, yes);
        dialog.show();
        dialog.portCombo()->setCurrentIndex(15);  // COM16
        QTest::mouseClick(dialog.readButton(), Qt::LeftButton);
        QCOMPARE(bench.prompt.messages, std::vector<std::string>{"打开串口失败!"});
        QVERIFY(!dialog.config().isPortOpen());
        // The flag stayed clear: another port can still be chosen and read.
        dialog.portCombo()->setCurrentIndex(0);
        QTest::mouseClick(dialog.readButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.currentNumberEdit()->text(), QStringLiteral("300"), 10000);

        tick(dialog, ConfigField::DeviceNumber);
        dialog.newNumberEdit()->setText(QStringLiteral("0"));
        QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);
        dialog.newNumberEdit()->setText(QStringLiteral("65535"));
        QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);
        tick(dialog, ConfigField::DeviceNumber);
        tick(dialog, ConfigField::MacAddress);
        dialog.newMacEdit()->setText(QStringLiteral("GG.1.2.3.4.5"));
        QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);
        dialog.newMacEdit()->setText(QStringLiteral("123.1.2.3.4.5"));
        QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);
        tick(dialog, ConfigField::MacAddress);
        tick(dialog, ConfigField::Name);
        dialog.newNameEdit()->clear();
        QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);
        dialog.newNameEdit()->insert(QStringLiteral("机柜B"));  // as an input method types it
        QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);
    }
    QCOMPARE(
        bench.prompt.messages,
        (std::vector<std::string>{"打开串口失败!", "请输入正确的设备ID!", "请输入正确的设备ID!",
                                  "物理地址只能是16进制.", "输入的物理地址格式不对",
                                  "请输入设备名称!", "设备名称含设备无法保存的字符: 机柜"}));
    QVERIFY(bench.writesReceived().empty());
}

void DeviceConfigDlgTest::closingTheDialogClosesThePort() {
    Bench bench;
    QVERIFY(bench.linked);
    auto dialog = std::make_unique<CDeviceConfigDlg>(bench.window.get(), &bench.prompt);
    dialog->show();
    QTest::mouseClick(dialog->readButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->currentNumberEdit()->text(), QStringLiteral("300"), 10000);
    // A reply still on its way when the dialog goes is dropped with it.
    QTest::mouseClick(dialog->readButton(), Qt::LeftButton);
    QVERIFY(testkit::waitFor([&] { return bench.serial.readsAnswered() == 2; }));
    dialog.reset();
    QCoreApplication::processEvents();
    QVERIFY(logHas("串口已关闭."));
    // The port is free again: a new dialog opens it.
    CDeviceConfigDlg again(bench.window.get(), &bench.prompt);
    again.show();
    QTest::mouseClick(again.readButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(again.currentNumberEdit()->text(), QStringLiteral("300"), 10000);
    QVERIFY(bench.prompt.messages.empty());
}

void DeviceConfigDlgTest::declinedWriteSendsNothing() {
    Bench bench;
    QVERIFY(bench.linked);
    QVERIFY(bench.connectSequencer(300));
    QStringList questions;
    CDeviceConfigDlg dialog(bench.window.get(), &bench.prompt, nullptr,
                            [&](const QString& question) {
                                questions << question;
                                return false;
                            });
    dialog.show();
    QTest::mouseClick(dialog.readButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.currentNumberEdit()->text(), QStringLiteral("300"), 10000);
    // A field the device would refuse is reported before any question is asked.
    tick(dialog, ConfigField::MacAddress);
    dialog.newMacEdit()->setText(QStringLiteral("GG.1.2.3.4.5"));
    QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);
    QCOMPARE(bench.prompt.messages, std::vector<std::string>{"物理地址只能是16进制."});
    QVERIFY(questions.isEmpty());
    // The question shows each value that changes, old and new.
    dialog.newMacEdit()->setText(QStringLiteral("1.2.3.4.5.6"));
    tick(dialog, ConfigField::DeviceNumber);
    dialog.newNumberEdit()->setText(QStringLiteral("301"));
    QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);
    QCOMPARE(questions,
             QStringList{QStringLiteral("确定要将新参数写入设备吗?\n\n"
                                        "设备号: 300 → 301\n"
                                        "MAC地址: 00.1A.2B.3C.4D.5E → 01.02.03.04.05.06")});
    QCOMPARE(bench.serial.requests().size(), std::size_t(1));  // the read request only
    QVERIFY(FindDevice(300));
}

void DeviceConfigDlgTest::escapeAsksBeforeDroppingUnwrittenValues() {
    Bench bench;
    QStringList questions;
    bool answer = false;
    CDeviceConfigDlg dialog(bench.window.get(), &bench.prompt, nullptr, [&](const QString& q) {
        questions << q;
        return answer;
    });
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);  // nothing typed: closes without a question
    QVERIFY(!dialog.isVisible());
    QVERIFY(questions.isEmpty());
    dialog.show();
    tick(dialog, ConfigField::Name);
    dialog.newNameEdit()->setText(QStringLiteral("Mine"));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(questions, QStringList{QStringLiteral("新参数尚未写入设备,确定要放弃吗?")});
    QVERIFY(dialog.isVisible());  // "No" keeps the dialog and what was typed
    QCOMPARE(dialog.newNameEdit()->text(), QStringLiteral("Mine"));
    answer = true;
    QTest::mouseClick(dialog.closeDialogButton(), Qt::LeftButton);
    QCOMPARE(questions.size(), 2);
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(DeviceConfigDlgTest)
#include "device_config_test.moc"
