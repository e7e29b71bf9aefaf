// The device configuration dialog: the form's widgets bound to the core's DeviceConfig.
#include "consoletools/device_config_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "consolecore/device_channel.h"
#include "consolecore/switching_groups.h"
#include "consoletools/ip_address_edit.h"
#include "consoletools/tool_layout.h"
#include "consoleui/qt_prompt.h"
#include "consoleui/ui_fonts.h"

namespace consoletools {

using consolecore::ConfigField;

namespace {

consolecore::DeviceConfigOptions configOptions(platform::Prompt* prompt,
                                               platform::MessageTarget* dialog,
                                               platform::MessageTarget* mainWindow) {
    consolecore::DeviceConfigOptions options;
    options.prompt = prompt;
    options.dialog = dialog;
    options.mainWindow = mainWindow;
    options.removeFromGroups = [](std::uint16_t id) {
        auto& groups = consolecore::switchingGroups();
        const auto lock = groups.lock();
        groups.removeDevice(id);
    };
    return options;
}

// The rows of the form, top to bottom, with their labels.
struct FormRow {
    ConfigField field;
    const char* label;
};
// How often and how long the dialog looks for the written frame (the port gives no signal).
constexpr int kWriteWatchMs = 20;
constexpr int kWriteWatchTicks = 100;

constexpr FormRow kRows[] = {
    {ConfigField::DeviceNumber, "设备号:"}, {ConfigField::Name, "机器名称:"},
    {ConfigField::IpAddress, "IP地址:"},    {ConfigField::SubnetMask, "子网掩码:"},
    {ConfigField::Gateway, "网关:"},        {ConfigField::ServerIp, "服务器IP:"},
    {ConfigField::MacAddress, "MAC地址:"},
};

}  // namespace

CDeviceConfigDlg::CDeviceConfigDlg(QWidget* parent, platform::Prompt* prompt,
                                   platform::MessageTarget* mainWindow, ConfirmWrite confirmWrite)
    : SkinDialog(parent),
      m_ownPrompt(prompt ? nullptr : std::make_unique<consoleui::QtPrompt>(this)),
      m_config(configOptions(prompt ? prompt : m_ownPrompt.get(), this, mainWindow)) {
    setObjectName(QStringLiteral("CDeviceConfigDlg"));
    setCaption(QStringLiteral("设备配置"));
    m_confirmWrite = std::move(confirmWrite);
    if (!m_confirmWrite) {
        m_confirmWrite = [this](const QString& question) {
            return QMessageBox::question(this, QStringLiteral("设备配置"), question,
                                         QMessageBox::Yes | QMessageBox::No,
                                         QMessageBox::No) == QMessageBox::Yes;
        };
    }
    buildForm();
    m_savedState = newValuesState();
}

CDeviceConfigDlg::~CDeviceConfigDlg() {
    // The monitor thread ends here, before any widget it could report to goes away.
    m_config.close();
}

int CDeviceConfigDlg::addressSlot(ConfigField field) {
    switch (field) {
        case ConfigField::IpAddress:
            return 0;
        case ConfigField::SubnetMask:
            return 1;
        case ConfigField::Gateway:
            return 2;
        case ConfigField::ServerIp:
            return 3;
        default:
            return -1;
    }
}

IpAddressEdit* CDeviceConfigDlg::currentAddressEdit(ConfigField field) const {
    const int slot = addressSlot(field);
    return slot < 0 ? nullptr : m_currentAddress[static_cast<std::size_t>(slot)];
}

IpAddressEdit* CDeviceConfigDlg::newAddressEdit(ConfigField field) const {
    const int slot = addressSlot(field);
    return slot < 0 ? nullptr : m_newAddress[static_cast<std::size_t>(slot)];
}

QCheckBox* CDeviceConfigDlg::useNewBox(ConfigField field) const {
    return m_useNew[static_cast<std::size_t>(field)];
}

QWidget* CDeviceConfigDlg::newControl(ConfigField field) const {
    switch (field) {
        case ConfigField::DeviceNumber:
            return m_newNumber;
        case ConfigField::Name:
            return m_newName;
        case ConfigField::MacAddress:
            return m_newMac;
        default:
            return newAddressEdit(field);
    }
}

void CDeviceConfigDlg::buildForm() {
    const QFont labelFont = consoleui::uiFont(QStringLiteral("Arial"), 14);

    auto* portRow = new QHBoxLayout;
    m_portCombo = new QComboBox(this);
    m_portCombo->setObjectName(QStringLiteral("portCombo"));
    m_portDevice = new QLabel(this);
    m_portDevice->setObjectName(QStringLiteral("portDevice"));
    for (const auto& entry : consolecore::DeviceConfig::portChoices()) {
        const QString path = QString::fromStdString(entry.devicePath);
        m_portCombo->addItem(QStringLiteral("COM%1").arg(entry.comNumber), path);
        m_portCombo->setItemData(m_portCombo->count() - 1,
                                 path.isEmpty() ? QStringLiteral("—") : path, Qt::ToolTipRole);
    }
    portRow->addWidget(m_portCombo);
    portRow->addWidget(m_portDevice, 1);
    body()->addLayout(portRow);

    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    // Column titles: the values read from the device, the boxes that choose a new value,
    // and the new values.
    const auto title = [&](const QString& text, const char* name) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QString::fromLatin1(name));
        label->setFont(labelFont);
        return label;
    };
    grid->addWidget(title(QStringLiteral("当前值"), "currentTitle"), 0, 1);
    grid->addWidget(title(QStringLiteral("修改"), "useNewTitle"), 0, 2);
    grid->addWidget(title(QStringLiteral("新值"), "newTitle"), 0, 3);
    int row = 1;
    for (const FormRow& formRow : kRows) {
        auto* label = new QLabel(QString::fromUtf8(formRow.label), this);
        label->setFont(labelFont);
        QWidget* current = nullptr;
        QWidget* proposed = nullptr;
        switch (formRow.field) {
            case ConfigField::DeviceNumber:
                current = m_currentNumber = new QLineEdit(this);
                proposed = m_newNumber = new QLineEdit(this);
                m_newNumber->setValidator(new QIntValidator(0, 65535, m_newNumber));
                break;
            case ConfigField::Name:
                current = m_currentName = new QLineEdit(this);
                proposed = m_newName = new QLineEdit(this);
                m_newName->setMaxLength(10);  // what the device's name field holds
                break;
            case ConfigField::MacAddress:
                current = m_currentMac = new QLineEdit(this);
                proposed = m_newMac = new QLineEdit(this);
                break;
            default: {
                const auto slot = static_cast<std::size_t>(addressSlot(formRow.field));
                current = m_currentAddress[slot] = new IpAddressEdit(this);
                proposed = m_newAddress[slot] = new IpAddressEdit(this);
                break;
            }
        }
        auto* box = new QCheckBox(QStringLiteral("修改"), this);
        box->setToolTip(QStringLiteral("写入新的") + label->text().chopped(1));
        m_useNew[static_cast<std::size_t>(formRow.field)] = box;
        // Read-only, not disabled: the values read must stay easy to read.
        static_cast<QLineEdit*>(current)->setReadOnly(true);
        current->setStyleSheet(QStringLiteral("QLineEdit { background: #eef2f7; color: black; }"));
        current->setFocusPolicy(Qt::ClickFocus);
        proposed->setEnabled(false);
        const ConfigField field = formRow.field;
        connect(box, &QCheckBox::toggled, this, [this, field, proposed](bool on) {
            m_config.setUseNew(field, on);
            proposed->setEnabled(m_config.isNewFieldEnabled(field));
        });
        grid->addWidget(label, row, 0);
        grid->addWidget(current, row, 1);
        grid->addWidget(box, row, 2);
        grid->addWidget(proposed, row, 3);
        if (field == ConfigField::Name) {
            m_nameCounter = new QLabel(this);
            m_nameCounter->setObjectName(QStringLiteral("nameByteCounter"));
            // A fixed width, so the form does not shift while the operator types.
            m_nameCounter->setWordWrap(true);
            m_nameCounter->setFixedWidth(m_nameCounter->fontMetrics().horizontalAdvance(
                QStringLiteral("10/10 字节, 设备无法保存: 机柜机柜")));
            grid->addWidget(m_nameCounter, row, 4);
            connect(m_newName, &QLineEdit::textChanged, this, &CDeviceConfigDlg::updateNameCounter);
        }
        ++row;
    }
    body()->addLayout(grid);
    body()->addStretch(1);

    auto* buttons = new QHBoxLayout;
    m_readButton = new QPushButton(QStringLiteral("读设备参数"), this);
    m_readButton->setObjectName(QStringLiteral("readButton"));
    m_readButton->setAutoDefault(false);
    m_writeButton = new QPushButton(QStringLiteral("设置设备参数"), this);
    m_writeButton->setObjectName(QStringLiteral("writeButton"));
    m_writeButton->setAutoDefault(false);
    m_closeButton = new QPushButton(QStringLiteral("关闭"), this);
    m_closeButton->setObjectName(QStringLiteral("closeDialogButton"));
    m_closeButton->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(m_readButton);
    buttons->addWidget(m_writeButton);
    buttons->addWidget(m_closeButton);
    body()->addLayout(buttons);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);

    connect(m_portCombo, &QComboBox::currentIndexChanged, this, &CDeviceConfigDlg::onPortChanged);
    connect(m_readButton, &QPushButton::clicked, this, &CDeviceConfigDlg::onRead);
    connect(m_writeButton, &QPushButton::clicked, this, &CDeviceConfigDlg::onWrite);
    m_writeWatch = new QTimer(this);
    m_writeWatch->setInterval(kWriteWatchMs);
    connect(m_writeWatch, &QTimer::timeout, this, &CDeviceConfigDlg::reportWriteWhenDone);
    showValues();
    updateNameCounter();
    onPortChanged(m_portCombo->currentIndex());
}

void CDeviceConfigDlg::updateNameCounter() {
    const auto check = consolecore::checkDeviceName(m_newName->text().toStdString());
    QString text = QStringLiteral("%1/%2 字节").arg(check.bytes).arg(consolecore::kDeviceNameBytes);
    if (!check.storable()) {
        text += QStringLiteral(", 设备无法保存: ") + QString::fromStdString(check.refused);
    }
    m_nameCounter->setText(text);
    m_nameCounter->setStyleSheet(check.storable() ? QString() : QStringLiteral("color: #c00000;"));
}

void CDeviceConfigDlg::initDialog() {
    placeOnScreen(*this, PlacementRule{4, 4, 0, 0});
}

void CDeviceConfigDlg::onPortChanged(int index) {
    m_config.selectPort(index);
    const QString path = m_portCombo->itemData(index).toString();
    m_portDevice->setText(path.isEmpty() ? QStringLiteral("—") : path);
}

void CDeviceConfigDlg::post(std::uint32_t message, std::uintptr_t, std::intptr_t) {
    if (message != platform::WM_SERIAL_REPLY) return;
    QMetaObject::invokeMethod(
        this, [this] { onSerialReply(); }, Qt::QueuedConnection);
}

void CDeviceConfigDlg::onRead() {
    storeNewValues();
    m_config.read();
    // The port stays fixed while it is open: the combo says so.
    m_portCombo->setEnabled(!m_config.isPortOpen());
    if (m_config.isPortOpen()) {
        m_portDevice->setText(
            QStringLiteral("%1 (已打开)")
                .arg(m_portCombo->itemData(m_portCombo->currentIndex()).toString()));
    }
}

void CDeviceConfigDlg::onWrite() {
    storeNewValues();
    // Every field is checked before the question: what is asked is what will be sent.
    const auto plan = m_config.prepareWrite();
    if (!plan || !m_confirmWrite(writeQuestion(*plan))) return;
    if (!m_config.sendWrite(*plan)) return;
    m_savedState = newValuesState();
    m_writeWatchTicks = 0;
    m_writeWatch->start();
}

QString CDeviceConfigDlg::writeQuestion(const consolecore::WritePlan& plan) const {
    QString question = QStringLiteral("确定要将新参数写入设备吗?\n");
    if (plan.changes.empty()) question += QStringLiteral("\n(参数未改变)");
    for (const auto& change : plan.changes) {
        const char* label = "";
        for (const FormRow& row : kRows) {
            if (row.field == change.field) label = row.label;
        }
        question += QStringLiteral("\n%1 %2 → %3")
                        .arg(QString::fromUtf8(label), QString::fromStdString(change.before),
                             QString::fromStdString(change.after));
    }
    return question;
}

void CDeviceConfigDlg::reportWriteWhenDone() {
    const auto progress = m_config.writeProgress();
    if (progress == consolecore::WriteProgress::Pending && ++m_writeWatchTicks < kWriteWatchTicks)
        return;
    m_writeWatch->stop();
    platform::Prompt* prompt = m_config.prompt();
    if (!prompt) return;
    if (progress == consolecore::WriteProgress::Written) {
        prompt->showMessage("设备参数已写入.", {}, platform::PromptIcon::Information);
    } else {
        prompt->showMessage("设备参数写入失败!", {}, platform::PromptIcon::Error);
    }
}

void CDeviceConfigDlg::onSerialReply() {
    storeNewValues();
    // Values the device reported are nothing to lose; edits typed before the read still are.
    const bool clean = !hasUnsavedChanges();
    if (m_config.handleSerialReply()) {
        showValues();
        if (clean) m_savedState = newValuesState();
    }
}

QStringList CDeviceConfigDlg::newValuesState() const {
    QStringList state{m_newNumber->text(), m_newName->text(), m_newMac->text()};
    for (const IpAddressEdit* edit : m_newAddress) state << edit->text();
    for (const QCheckBox* box : m_useNew) state << QString::number(box && box->isChecked() ? 1 : 0);
    return state;
}

void CDeviceConfigDlg::reject() {
    if (hasUnsavedChanges() &&
        !m_confirmWrite(QStringLiteral("新参数尚未写入设备,确定要放弃吗?"))) {
        return;
    }
    SkinDialog::reject();
}

void CDeviceConfigDlg::storeNewValues() {
    consolecore::DeviceConfigValues& proposed = m_config.proposed();
    proposed.deviceNumber = m_newNumber->text().toStdString();
    proposed.name = m_newName->text().toStdString();
    proposed.ipAddress = m_newAddress[0]->octets();
    proposed.subnetMask = m_newAddress[1]->octets();
    proposed.gateway = m_newAddress[2]->octets();
    proposed.serverIp = m_newAddress[3]->octets();
    proposed.macAddress = m_newMac->text().toStdString();
}

void CDeviceConfigDlg::showValues() {
    const auto show = [](const consolecore::DeviceConfigValues& values, QLineEdit* number,
                         QLineEdit* name, const std::array<IpAddressEdit*, 4>& addresses,
                         QLineEdit* mac) {
        number->setText(QString::fromStdString(values.deviceNumber));
        name->setText(QString::fromStdString(values.name));
        addresses[0]->setOctets(values.ipAddress);
        addresses[1]->setOctets(values.subnetMask);
        addresses[2]->setOctets(values.gateway);
        addresses[3]->setOctets(values.serverIp);
        mac->setText(QString::fromStdString(values.macAddress));
    };
    show(m_config.current(), m_currentNumber, m_currentName, m_currentAddress, m_currentMac);
    show(m_config.proposed(), m_newNumber, m_newName, m_newAddress, m_newMac);
}

}  // namespace consoletools
