// The main console window: layout, buttons, menu, and the message dispatch to the core.
#include "consoleui/vantrel_dlg.h"

#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "consoleui/about_dlg.h"
#include "consoleui/cell_icons.h"
#include "consoleui/device_list_binder.h"
#include "consoleui/header_ctrl_wg.h"
#include "consoleui/list_ctrl_wg.h"
#include "consoleui/offline_notices.h"
#include "consoleui/qt_prompt.h"
#include "consoleui/run_panel.h"
#include "consoleui/ui_fonts.h"
#include "consoleui/window_placement.h"
#include "lanwire/lanwire.h"
#include "platform/messages.h"
#include "public/install_layout.h"
#include "public/work_path.h"

namespace consoleui {

namespace {

const QString kButtonStyle = QStringLiteral(
    "QPushButton { color: white; border: 1px solid #16345C; border-radius: 4px;"
    " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #3A6EA8, stop:1 #24507F);"
    " padding: 6px 10px; }"
    "QPushButton:hover { background: #4A80BC; }"
    "QPushButton:pressed { background: #1B3F66; }"
    "QPushButton:focus { border: 2px solid #FFD24A; }");
const QString kCaptionButtonStyle = QStringLiteral(
    "QToolButton { color: white; border: none; font-size: 15px; }"
    "QToolButton:hover { background: #3D6CA6; }"
    "QToolButton:focus { border: 1px solid #FFD24A; }"
    "QToolButton::menu-indicator { image: none; }");

std::uint16_t low16(std::uintptr_t value) {
    return static_cast<std::uint16_t>(value & 0xFFFF);
}
int lowByte(std::intptr_t value) {
    return static_cast<int>(value & 0xFF);
}

}  // namespace

CVantrelDlg::CVantrelDlg(consolecore::SessionOptions options, platform::Prompt* prompt,
                         QWidget* parent)
    : SkinDialog(parent),
      m_ownPrompt(prompt ? nullptr : std::make_unique<QtPrompt>(this)),
      m_prompt(prompt ? prompt : m_ownPrompt.get()),
      m_chooser(this),
      m_engine(std::move(options), m_chooser, *m_prompt, engineHooks()),
      m_helpOpener([](const QString& path) {
          // A missing guide is not reported, like any failed open.
          QDesktopServices::openUrl(QUrl::fromLocalFile(path));
      }) {
    setObjectName(QStringLiteral("CVantrelDlg"));
    setWindowIcon(windowIcon());
    setResizable(true);
    buildWindow();
    consolecore::SwitchingOptions switching;
    switching.timer = &m_runTimer;
    switching.confirm = [this](const std::string& question, const std::vector<std::uint32_t>& order,
                               consolecore::GroupKind kind) {
        return confirmGroupOff(question, order, kind);
    };
    m_engine.switching().configure(std::move(switching));
    m_engine.subscribe(*this);
    m_runPanel->setCancelHandler(
        [this](std::uint64_t id) { m_engine.cancelRun(id, m_engine.consoleActor()); });
    // The rows show which device a run is switching and which did not confirm.
    connect(m_runPanel, &RunPanel::runsChanged, this,
            [this] { m_binder->setDeviceMarks(m_runPanel->deviceMarks()); });
    consolecore::DeviceLossHooks loss;
    loss.onLost = [this](const std::vector<consolecore::LostDevice>& lost) { onDevicesLost(lost); };
    loss.onReturned = [this](std::uint16_t id) { onDeviceReturned(id); };
    m_engine.table().setLossHooks(std::move(loss));
}

CVantrelDlg::~CVantrelDlg() {
    shutdown();
    m_engine.table().setObserver(nullptr);
    m_engine.table().setLossHooks({});
    m_engine.unsubscribe(*this);
}

consolecore::EngineHooks CVantrelDlg::engineHooks() {
    consolecore::EngineHooks hooks;
    hooks.postToEngine = [this](std::function<void()> task) {
        QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
    };
    return hooks;
}

void CVantrelDlg::onEngineEvent(const consolecore::EngineEvent& event) {
    if (const auto* progress = std::get_if<consolecore::RunProgress>(&event)) {
        m_runPanel->showRun(progress->run);
    } else if (const auto* conflict = std::get_if<consolecore::IdConflict>(&event)) {
        m_runPanel->showIdConflict(conflict->id, conflict->newcomer, conflict->online);
    }
}

QPushButton* CVantrelDlg::addToolButton(const QString& text, std::function<void()> handler) {
    auto* button = new QPushButton(text, this);
    button->setFont(uiFont(QStringLiteral("思源黑体 CN"), 16, true));
    button->setStyleSheet(kButtonStyle);
    button->setAutoDefault(false);
    button->setMinimumHeight(34);
    connect(button, &QPushButton::clicked, this, [handler = std::move(handler)] { handler(); });
    m_buttons.push_back(button);
    return button;
}

void CVantrelDlg::buildWindow() {
    setCaption(QStringLiteral("16路IP电源时序器 V:%1").arg(QString::fromLatin1(kVersionText)));
    setCaptionFont(uiFont(QStringLiteral("华文彩云"), 23, true));

    // Caption bar: the help menu button and the minimise button beside the close button.
    m_helpMenu = new QMenu(this);
    QAction* help = m_helpMenu->addAction(QStringLiteral("说明文档"));
    connect(help, &QAction::triggered, this, &CVantrelDlg::onHelp);
    m_helpMenu->addSeparator();
    QAction* about = m_helpMenu->addAction(QStringLiteral("关于 Vantrel(&A)..."));
    connect(about, &QAction::triggered, this, &CVantrelDlg::onAbout);
    // The window's own entry: the caption bar has no maximise button.
    m_helpMenu->addSeparator();
    m_maximize = m_helpMenu->addAction(QStringLiteral("最大化"));
    m_maximize->setObjectName(QStringLiteral("maximizeAction"));
    connect(m_maximize, &QAction::triggered, this, &SkinDialog::toggleMaximized);
    m_menuButton = new QToolButton(this);
    m_menuButton->setObjectName(QStringLiteral("menuButton"));
    m_menuButton->setText(QStringLiteral("☰"));
    m_menuButton->setToolTip(QStringLiteral("说明文档"));
    m_menuButton->setMenu(m_helpMenu);
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setFixedSize(30, 26);
    m_menuButton->setStyleSheet(kCaptionButtonStyle);
    auto* mini = new QToolButton(this);
    mini->setObjectName(QStringLiteral("miniButton"));
    mini->setText(QStringLiteral("—"));
    mini->setToolTip(QStringLiteral("最小化"));
    mini->setFixedSize(30, 26);
    mini->setStyleSheet(kCaptionButtonStyle);
    connect(mini, &QToolButton::clicked, this, &QWidget::showMinimized);
    captionButtons()->addWidget(m_menuButton);
    captionButtons()->addWidget(mini);
    // The frame's close button closes the console like Escape, once the operator confirms.
    closeButton()->disconnect(this);
    connect(closeButton(), &QToolButton::clicked, this, &QWidget::close);

    // The tool and switching buttons.
    auto* tools = new QHBoxLayout;
    tools->setSpacing(6);
    tools->addWidget(addToolButton(QStringLiteral("本地信息"), [this] { onLocalInfo(); }));
    tools->addWidget(addToolButton(QStringLiteral("配置设备信息"), [this] { onDeviceConfig(); }));
    tools->addWidget(addToolButton(QStringLiteral("日志记录"), [this] { onLogViewer(); }));
    tools->addWidget(addToolButton(QStringLiteral("定时任务"), [this] { onTimedTasks(); }));
    tools->addStretch(1);
    // The operator's runs: the group dialog, then the engine's command in their name.
    const auto groupButton = [this](const QString& text, consolecore::GroupKind kind, bool on) {
        return addToolButton(
            text, [this, kind, on] { m_engine.chooseGroupRun(kind, on, m_engine.consoleActor()); });
    };
    tools->addWidget(groupButton(QStringLiteral("平行开"), consolecore::GroupKind::Parallel, true));
    tools->addWidget(
        groupButton(QStringLiteral("平行关"), consolecore::GroupKind::Parallel, false));
    tools->addWidget(groupButton(QStringLiteral("串行开"), consolecore::GroupKind::Serial, true));
    tools->addWidget(groupButton(QStringLiteral("串行关"), consolecore::GroupKind::Serial, false));
    body()->addLayout(tools);

    // The device list and its two in-cell editors.
    m_list = new CListCtrlWG(this);
    m_list->setObjectName(QStringLiteral("deviceList"));
    m_list->setOwner(this);
    m_groupCombo = new QComboBox(this);
    m_groupCombo->setObjectName(QStringLiteral("groupCombo"));
    m_numberCombo = new QComboBox(this);
    m_numberCombo->setObjectName(QStringLiteral("numberCombo"));
    m_binder = new DeviceListBinder(*m_list, m_engine.table(), *m_groupCombo, *m_numberCombo);
    m_binder->setUpColumns();
    m_engine.table().setObserver(m_binder);
    // A click on a title sorts by that column; again, the other way.
    CHeaderCtrlWG* header = m_list->headerCtrl();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(m_engine.table().sortColumn(), Qt::AscendingOrder);
    connect(header, &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) { sortRows(column, order); });
    body()->addWidget(m_list, 1);

    // Group runs in progress and notices, below the list.
    m_runPanel = new RunPanel(this);
    body()->addWidget(m_runPanel);
    m_offline = new OfflineNotices(this);
    body()->addWidget(m_offline);

    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (auto menu = rowMenu(m_list->rowAt(at.y()))) {
            menu->exec(m_list->viewport()->mapToGlobal(at));
        }
    });
}

void CVantrelDlg::sortRows(int column, Qt::SortOrder order) {
    consolecore::DeviceTable& table = m_engine.table();
    table.setSortOrder(column, order == Qt::AscendingOrder);
    // The raw-value columns sort nothing: the indicator shows the order actually used.
    const Qt::SortOrder used = table.sortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder;
    CHeaderCtrlWG* header = m_list->headerCtrl();
    if (header->sortIndicatorSection() != table.sortColumn() ||
        header->sortIndicatorOrder() != used) {
        header->setSortIndicator(table.sortColumn(), used);
    }
}

std::unique_ptr<QMenu> CVantrelDlg::rowMenu(int row) {
    const consolecore::DeviceTable& table = m_engine.table();
    if (row < 0 || row >= table.rowCount() || table.row(row).online) return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    const std::uint16_t id = table.row(row).id;
    QAction* remove = menu->addAction(QStringLiteral("移除离线设备行"));
    connect(remove, &QAction::triggered, this,
            [this, id] { m_engine.table().removeOfflineRow(id); });
    return menu;
}

void CVantrelDlg::onDevicesLost(const std::vector<consolecore::LostDevice>& lost) {
    m_offline->devicesLost(lost);
}

void CVantrelDlg::onDeviceReturned(std::uint16_t id) {
    m_offline->deviceReturned(id);
}

bool CVantrelDlg::confirmGroupOff(const std::string& question,
                                  const std::vector<std::uint32_t>& order,
                                  consolecore::GroupKind kind) {
    // Each device with the name its row shows, so the operator knows what goes dark.
    QStringList devices;
    const consolecore::DeviceTable& table = m_engine.table();
    for (std::uint32_t id : order) {
        QString text = QStringLiteral("设备%1").arg(id);
        const int row = table.findRow(static_cast<std::uint16_t>(id));
        if (row >= 0 && !table.row(row).name.empty()) {
            text += QStringLiteral("(%1)").arg(QString::fromStdString(table.row(row).name));
        }
        devices << text;
    }
    QMessageBox box(this);
    box.setObjectName(QStringLiteral("confirmGroupOff"));
    box.setWindowTitle(QStringLiteral("确认"));
    box.setIcon(QMessageBox::Question);
    box.setText(QString::fromStdString(question));
    // Only a serial run switches one device after another; a parallel one switches them all.
    box.setInformativeText(kind == consolecore::GroupKind::Serial
                               ? QStringLiteral("切换顺序: ") + devices.join(QStringLiteral(" → "))
                               : QStringLiteral("设备: ") + devices.join(QStringLiteral(", ")));
    QPushButton* yes = box.addButton(QStringLiteral("确定"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("取消"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

QPushButton* CVantrelDlg::button(const QString& text) const {
    for (QPushButton* b : m_buttons) {
        if (b->text() == text) return b;
    }
    return nullptr;
}

void CVantrelDlg::initDialog() {
    // The screen the pointer is on is the one the operator started from.
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QList<QRect> areas;
        for (const QScreen* each : QGuiApplication::screens()) areas << each->availableGeometry();
        const auto remembered = m_windowIni.empty() ? std::nullopt : readWindowPlace(m_windowIni);
        setGeometry(startGeometry(remembered, areas, screen->availableGeometry()));
        if (remembered && remembered->maximized) setWindowState(Qt::WindowMaximized);
    }
    m_binder->layoutColumns();

    // The list exists before the link starts, so the first device event finds it ready.
    m_engine.start();
}

void CVantrelDlg::rememberPlace() {
    if (m_placeRemembered || !initialised() || m_windowIni.empty()) return;
    m_placeRemembered = true;
    // normalGeometry(): the size and place a maximised window comes back to.
    WindowPlace place;
    place.normal = isMaximized() ? normalGeometry() : geometry();
    place.maximized = isMaximized();
    if (place.normal.isValid()) writeWindowPlace(m_windowIni, place);
}

void CVantrelDlg::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        m_maximize->setText(isMaximized() ? QStringLiteral("还原") : QStringLiteral("最大化"));
    }
    SkinDialog::changeEvent(event);
}

void CVantrelDlg::shutdown() {
    rememberPlace();
    // A closed console sends nothing more: an editor still open closes without a command.
    m_list->setOwner(nullptr);
    m_engine.stop();  // does nothing when not running
}

void CVantrelDlg::done(int result) {
    SkinDialog::done(result);
    shutdown();
}

bool CVantrelDlg::confirmExit() {
    // Closing stops heartbeat supervision and the timed tasks, so a stray key must not do it.
    QMessageBox box(QMessageBox::Question, QStringLiteral("确认"), QStringLiteral("确定要退出吗?"),
                    QMessageBox::NoButton, this);
    QPushButton* yes = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    QPushButton* no = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void CVantrelDlg::closeEvent(QCloseEvent* event) {
    if (isVisible() && !confirmExit()) {
        event->ignore();
        return;
    }
    SkinDialog::closeEvent(event);
}

void CVantrelDlg::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                // Enter presses the focused button; elsewhere it does nothing.
                if (auto* focused = qobject_cast<QAbstractButton*>(focusWidget())) {
                    focused->click();
                }
                return;
            case Qt::Key_Escape:
                if (confirmExit()) reject();
                return;
            default:
                break;
        }
    }
    SkinDialog::keyPressEvent(event);
}

void CVantrelDlg::setHelpOpener(std::function<void(const QString&)> opener) {
    m_helpOpener = std::move(opener);
}

QString CVantrelDlg::helpFilePath() {
    return QString::fromStdString(HelpDocumentPath(GetCurWorkPath(), "Lumatrel_Note.html"));
}

void CVantrelDlg::onHelp() {
    if (m_helpOpener) m_helpOpener(helpFilePath());
}

void CVantrelDlg::onAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CVantrelDlg::post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if ((message == platform::WM_LED_CELL_CLICKED || message == platform::WM_BUTTON_CELL_CLICKED) &&
        QThread::currentThread() == thread()) {
        // The list names the clicked row; a device that leaves before the message is handled
        // moves the rows below it up, so the message carries the row's device id instead.
        const int row = static_cast<int>(wParam);
        const auto& table = m_engine.table();
        if (row < 0 || row >= table.rowCount()) return;
        wParam = table.row(row).id;
    }
    QMetaObject::invokeMethod(
        this, [this, message, wParam, lParam] { dispatchMessage(message, wParam, lParam); },
        Qt::QueuedConnection);
}

void CVantrelDlg::send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (QThread::currentThread() == thread()) {
        dispatchMessage(message, wParam, lParam);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, message, wParam, lParam] { dispatchMessage(message, wParam, lParam); },
        Qt::BlockingQueuedConnection);
}

void CVantrelDlg::dispatchMessage(std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam) {
    consolecore::DeviceTable& table = m_engine.table();
    switch (message) {
        case platform::WM_LED_CELL_CLICKED: {  // wParam: the device id (see post())
            const std::uint16_t id = low16(wParam);
            const int channelIndex = lowByte(lParam);
            if (const auto on = table.ledClickTarget(id, channelIndex)) {
                m_engine.switchOutlet(id, channelIndex + 1, *on, m_engine.consoleActor());
            }
            break;
        }
        case platform::WM_BUTTON_CELL_CLICKED:
            table.onButtonCellClicked(low16(wParam), lowByte(lParam));
            break;
        case platform::WM_COMBO_CELL_CHANGED: {
            const int column = lowByte(lParam);
            const QComboBox* combo =
                column == consolecore::ColGroup
                    ? m_groupCombo
                    : (column == consolecore::ColNumber ? m_numberCombo : nullptr);
            if (combo) {
                table.onComboCellChanged(static_cast<int>(wParam), column, combo->currentIndex());
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace consoleui
