// The local network information dialog on file-described hosts (two wired adapters, wireless
// only, an adapter without IPv4) and on this machine.
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "consoletools/ip_address_tools.h"
#include "consoletools/local_mac_info_dlg.h"
#include "consoletools/tool_layout.h"
#include "net_adapters_fixture.h"
#include "tool_test_support.h"

using consoletools::CIPAddressToos;
using consoletools::CLocalMacInfoDlg;
using tooltest::rowTexts;

namespace {

CIPAddressToos::AdapterSource host(const std::string& name) {
    return [name] { return netfixture::readHost(name); };
}

QList<QStringList> rows(const consoleui::CListCtrlWG& list) {
    QList<QStringList> out;
    for (int r = 0; r < list.rowCount(); ++r) out << rowTexts(list, r);
    return out;
}

}  // namespace

class LocalInfoTest : public QObject {
    Q_OBJECT
private slots:
    void twoWiredAdaptersListLastEnumeratedFirstWithOwnGateways();
    void wirelessOnlyHostShowsEmptyListsButAMac();
    void adapterWithoutIpv4HasNoAddressRows();
    void failedAdapterQueryLeavesEverythingEmpty();
    void toolsFilterTextsAndMissingMasks();
    void opensModallyWithCaptionPlacementAndColumns();
    void thisMachineShowsItsLastAdapter();
};

void LocalInfoTest::twoWiredAdaptersListLastEnumeratedFirstWithOwnGateways() {
    CLocalMacInfoDlg dialog(nullptr, host("two_wired"));
    dialog.OnInitDialog();
    // enp4s0 (ifindex 2) is enumerated before enp3s0 (3); each adapter's rows go to the top.
    QCOMPARE(rows(*dialog.addressList()),
             (QList<QStringList>{{"enp3s0", "192.168.1.20", "255.255.255.0"},
                                 {"enp3s0", "10.0.0.5", "255.0.0.0"},
                                 {"enp4s0", "172.16.0.9", "255.255.0.0"}}));
    // Each adapter shows its own default gateways only; the wireless one is not listed.
    QCOMPARE(rows(*dialog.gatewayList()),
             (QList<QStringList>{
                 {"enp3s0", "192.168.1.1"}, {"enp3s0", "192.168.1.2"}, {"enp4s0", "172.16.0.1"}}));
    // The last adapter of any type is the wireless one (ifindex 5).
    QCOMPARE(dialog.macEdit()->text(), QStringLiteral("A8.6D.AA.01.02.03"));
    QVERIFY(dialog.macEdit()->isReadOnly());
    QVERIFY(dialog.findChild<QPushButton*>(QStringLiteral("closeDialogButton")));
}

void LocalInfoTest::wirelessOnlyHostShowsEmptyListsButAMac() {
    CLocalMacInfoDlg dialog(nullptr, host("wireless_only"));
    dialog.OnInitDialog();
    QCOMPARE(dialog.addressList()->rowCount(), 0);
    QCOMPARE(dialog.gatewayList()->rowCount(), 0);
    QCOMPARE(dialog.macEdit()->text(), QStringLiteral("3C.A9.F4.10.20.31"));
}

void LocalInfoTest::adapterWithoutIpv4HasNoAddressRows() {
    CLocalMacInfoDlg dialog(nullptr, host("no_ipv4"));
    dialog.OnInitDialog();
    QCOMPARE(rows(*dialog.addressList()),
             (QList<QStringList>{{"eth0", "10.1.2.3", "255.255.255.0"}}));
    QCOMPARE(rows(*dialog.gatewayList()), (QList<QStringList>{{"eth0", "10.1.2.1"}}));
    QCOMPARE(dialog.macEdit()->text(), QStringLiteral("52.54.00.12.34.57"));
}

void LocalInfoTest::failedAdapterQueryLeavesEverythingEmpty() {
    int calls = 0;
    CLocalMacInfoDlg dialog(nullptr,
                            [&calls]() -> std::optional<std::vector<platform::NetAdapter>> {
                                ++calls;
                                return std::nullopt;
                            });
    dialog.OnInitDialog();
    dialog.OnInitDialog();  // filled once only
    QCOMPARE(calls, 2);     // the adapter names, then the MAC
    QCOMPARE(dialog.addressList()->rowCount(), 0);
    QCOMPARE(dialog.gatewayList()->rowCount(), 0);
    QVERIFY(dialog.macEdit()->text().isEmpty());
}

void LocalInfoTest::toolsFilterTextsAndMissingMasks() {
    CIPAddressToos tools(host("two_wired"));
    std::vector<std::string> names, macs, ips, masks, gateways;
    QVERIFY(tools.GetAdapterInfoList({}, &names, &macs, &ips, &masks, &gateways));
    QCOMPARE(names, (std::vector<std::string>{"enp4s0", "enp3s0"}));
    QCOMPARE(macs, (std::vector<std::string>{"00-1a-2b-3c-4d-5f\n", "00-1a-2b-3c-4d-5e\n"}));
    QCOMPARE(ips, (std::vector<std::string>{"172.16.0.9", "192.168.1.20", "10.0.0.5"}));
    QCOMPARE(masks.size(), ips.size());
    QCOMPARE(gateways, (std::vector<std::string>{"172.16.0.1", "192.168.1.1", "192.168.1.2"}));

    // The filter is compared without case and keeps that adapter only.
    gateways.clear();
    QVERIFY(tools.GetAdapterInfoList("ENP4S0", nullptr, nullptr, nullptr, nullptr, &gateways));
    QCOMPARE(gateways, (std::vector<std::string>{"172.16.0.1"}));
    gateways.clear();
    QVERIFY(tools.GetAdapterInfoList("wlp2s0", nullptr, nullptr, nullptr, nullptr, &gateways));
    QVERIFY(gateways.empty());  // not a wired adapter

    QCOMPARE(tools.GetAdapterConnName("enp3s0"), std::string("enp3s0"));
    QCOMPARE(tools.GetAdapterConnName("nothing"), std::string());
    std::vector<std::string> none;
    tools.GetAdapterIPList("nothing", none);
    QVERIFY(none.empty());

    // An address the system gives without a mask shows an empty mask.
    platform::NetAdapter adapter;
    adapter.name = "eth9";
    adapter.type = platform::kLinkTypeEthernet;
    adapter.ipv4 = {{"eth9", "10.9.9.9", ""}, {"eth9", "10.9.9.10", "255.0.0.0"}};
    CIPAddressToos single([adapter] { return std::vector<platform::NetAdapter>{adapter}; });
    CLocalMacInfoDlg dialog(nullptr,
                            [adapter] { return std::vector<platform::NetAdapter>{adapter}; });
    dialog.OnInitDialog();
    QCOMPARE(rows(*dialog.addressList()),
             (QList<QStringList>{{"eth9", "10.9.9.9", ""}, {"eth9", "10.9.9.10", "255.0.0.0"}}));
    QCOMPARE(single.GetLastAdapterMac(), std::string("00.00.00.00.00.00"));
}

void LocalInfoTest::opensModallyWithCaptionPlacementAndColumns() {
    CLocalMacInfoDlg dialog(nullptr, host("two_wired"));
    QRect geometry;
    int addressRows = -1;
    tooltest::ModalWatch watch([&](QWidget* modal) {
        geometry = modal->geometry();
        addressRows = dialog.addressList()->rowCount();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    QCOMPARE(dialog.exec(), static_cast<int>(QDialog::Rejected));
    QVERIFY(watch.seen());
    QCOMPARE(dialog.caption(), QStringLiteral("本地信息"));
    QCOMPARE(addressRows, 3);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect expected =
        consoletools::placeToolWindow(screen.size(), {5, 5, 800, 400}).translated(screen.topLeft());
    QCOMPARE(geometry, expected);
    // The placement rule itself: fifths, at least 800 x 400 with the origin moved to 0.
    QCOMPARE(consoletools::placeToolWindow({1920, 1080}, {5, 5, 800, 400}),
             QRect(384, 216, 1152, 648));
    QCOMPARE(consoletools::placeToolWindow({1000, 1000}, {5, 5, 800, 400}),
             QRect(0, 200, 800, 600));
    QCOMPARE(consoletools::placeToolWindow({1000, 600}, {5, 5, 800, 400}), QRect(0, 0, 800, 400));

    QCOMPARE(tooltest::headerTitles(*dialog.addressList()),
             (QStringList{"网络名称", "IP地址", "子网掩码"}));
    QCOMPARE(tooltest::headerTitles(*dialog.gatewayList()), (QStringList{"网络名称", "默认网关"}));
    const int width = dialog.addressList()->contentsRect().width();
    QCOMPARE(dialog.addressList()->columnWidth(0), width * 2 / 5);
    QCOMPARE(dialog.addressList()->columnWidth(1), width * 3 / 10);
    const int gatewayWidth = dialog.gatewayList()->contentsRect().width();
    QCOMPARE(dialog.gatewayList()->columnWidth(0), gatewayWidth * 3 / 5);
    QCOMPARE(dialog.gatewayList()->columnWidth(1), gatewayWidth * 2 / 5);
}

void LocalInfoTest::thisMachineShowsItsLastAdapter() {
    const auto adapters = platform::readLocalNetAdapters();
    QVERIFY(adapters.has_value());
    CLocalMacInfoDlg dialog;
    dialog.OnInitDialog();
    CIPAddressToos tools;
    QCOMPARE(dialog.macEdit()->text().toStdString(), tools.GetLastAdapterMac());
    QCOMPARE(dialog.macEdit()->text().isEmpty(), adapters->empty());
    int wiredAddresses = 0;
    for (const auto& adapter : *adapters) {
        if (adapter.isWiredEthernet()) wiredAddresses += static_cast<int>(adapter.ipv4.size());
    }
    QCOMPARE(dialog.addressList()->rowCount(), wiredAddresses);
}

QTEST_MAIN(LocalInfoTest)
#include "local_info_test.moc"
