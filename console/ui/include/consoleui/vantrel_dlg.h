// The console's main window: the device table, the tool and switching buttons, and the
// receiver of the list's window messages; a client of the console engine, which it owns.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "consolecore/console_engine.h"
#include "consoleui/qt_run_timer.h"
#include "consoleui/select_group_dlg.h"
#include "consoleui/skin_dialog.h"
#include "platform/message_target.h"

class QComboBox;
class QPushButton;
class QToolButton;
class QAction;
class QMenu;

namespace consoleui {

class CListCtrlWG;
class DeviceListBinder;
class OfflineNotices;
class QtPrompt;
class RunPanel;

// Version shown in the caption.
inline constexpr const char* kVersionText = "2023.03.02.01";

class CVantrelDlg : public SkinDialog,
                    public platform::MessageTarget,
                    private consolecore::EngineClient {
    Q_OBJECT
public:
    // The session's modules start in OnInitDialog and stop when the window closes; `prompt`
    // shows the operator's message boxes (null: QMessageBox; not owned).
    explicit CVantrelDlg(consolecore::SessionOptions options = {},
                         platform::Prompt* prompt = nullptr, QWidget* parent = nullptr);
    ~CVantrelDlg() override;

    // platform::MessageTarget: post() queues the message onto the GUI thread; send()
    // delivers it before returning. The list's cell clicks are queued with the clicked row's
    // device id in place of the row.
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // What opens the operator's guide (default: the desktop's opener). For tests.
    void setHelpOpener(std::function<void(const QString& path)> opener);
    // The guide shipped beside the program.
    static QString helpFilePath();

    CListCtrlWG* deviceList() const { return m_list; }
    QComboBox* groupCombo() const { return m_groupCombo; }
    QComboBox* numberCombo() const { return m_numberCombo; }
    QPushButton* button(const QString& text) const;
    QToolButton* menuButton() const { return m_menuButton; }
    QMenu* helpMenu() const { return m_helpMenu; }
    // The menu's "最大化"/"还原" entry.
    QAction* maximizeAction() const { return m_maximize; }
    // The settings file whose [Window] section keeps the window's size and place between
    // runs (read by OnInitDialog, written when the window closes). Empty (the default): the
    // window opens centred and remembers nothing.
    void setWindowSettingsPath(std::string path) { m_windowIni = std::move(path); }
    consolecore::ConsoleEngine& engine() { return m_engine; }
    consolecore::CDeviceChannel& channel() { return m_engine.channel(); }
    const consolecore::ConsoleSession& session() const { return m_engine.session(); }
    const consolecore::DeviceTable& deviceTable() const { return m_engine.table(); }
    consolecore::SwitchingController& switching() { return m_engine.switching(); }
    RunPanel* runPanel() const { return m_runPanel; }
    OfflineNotices* offlineNotices() const { return m_offline; }
    DeviceListBinder* listBinder() const { return m_binder; }
    // The context menu of a row: "移除离线设备行" for a row kept offline. Null for none.
    std::unique_ptr<QMenu> rowMenu(int row);

    // Reactions to device events, by value: devices lost together, and a lost device that
    // registered again. Called from the device table's loss hooks.
    void onDevicesLost(const std::vector<consolecore::LostDevice>& lost);
    void onDeviceReturned(std::uint16_t id);
    // Step time-out and the group-off question from the [Console] settings.
    void applySettings(const consolecore::ConsoleSettings& settings) {
        m_engine.applySettings(settings);
    }

    // The four tool dialogs live in a library built on top of this one, so the program
    // installs what each tool button opens. An empty handler makes its button do nothing.
    struct ToolHandlers {
        std::function<void(CVantrelDlg&)> localInfo;
        std::function<void(CVantrelDlg&)> deviceConfig;
        std::function<void(CVantrelDlg&)> logViewer;
        std::function<void(CVantrelDlg&)> timedTasks;
    };
    void setToolHandlers(ToolHandlers handlers) { m_tools = std::move(handlers); }
    platform::Prompt* prompt() const { return m_prompt; }

public slots:
    void onHelp();
    void onAbout();
    void onLocalInfo() { runTool(m_tools.localInfo); }
    void onDeviceConfig() { runTool(m_tools.deviceConfig); }
    void onLogViewer() { runTool(m_tools.logViewer); }
    void onTimedTasks() { runTool(m_tools.timedTasks); }

protected:
    void done(int result) override;
    // Enter presses the focused button; Escape and the close button ask before closing.
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Window start-up: placement, the device list's columns, then the session's modules.
    // Tests call OnInitDialog() and show() the window themselves.
    void initDialog() override;

    void runTool(const std::function<void(CVantrelDlg&)>& handler) {
        if (handler) handler(*this);
    }
    void buildWindow();
    // The rows in the order of a clicked title.
    void sortRows(int column, Qt::SortOrder order);
    // Asks "确定要退出吗?"; true when the operator confirms.
    bool confirmExit();
    QPushButton* addToolButton(const QString& text, std::function<void()> handler);
    // Engine tasks queued onto this thread.
    consolecore::EngineHooks engineHooks();
    // Group runs and id conflicts shown in the run panel.
    void onEngineEvent(const consolecore::EngineEvent& event) override;
    // The window procedure's part: the list's messages (cell clicks and combo changes).
    void dispatchMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    // Runner, store and link stop once, when the window closes.
    void shutdown();
    // The window's place into [Window], once, when it closes.
    void rememberPlace();
    bool m_placeRemembered = false;
    // Asks before a group is switched off; true goes on.
    bool confirmGroupOff(const std::string& question, const std::vector<std::uint32_t>& order,
                         consolecore::GroupKind kind);

    std::unique_ptr<QtPrompt> m_ownPrompt;
    platform::Prompt* m_prompt;

    DialogGroupChooser m_chooser;
    QtRunTimer m_runTimer;
    consolecore::ConsoleEngine m_engine;

    CListCtrlWG* m_list = nullptr;
    DeviceListBinder* m_binder = nullptr;
    RunPanel* m_runPanel = nullptr;
    OfflineNotices* m_offline = nullptr;
    QComboBox* m_groupCombo = nullptr;
    QComboBox* m_numberCombo = nullptr;
    QToolButton* m_menuButton = nullptr;
    QMenu* m_helpMenu = nullptr;
    QAction* m_maximize = nullptr;
    std::string m_windowIni;
    std::vector<QPushButton*> m_buttons;
    std::function<void(const QString&)> m_helpOpener;
    ToolHandlers m_tools;
};

}  // namespace consoleui
