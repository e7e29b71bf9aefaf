// Start-up order: the single-instance rule before anything else, then the tables, the
// registry and the main window; the tables and registry are emptied after it closed.
#include "consoleapp/vantrel_app.h"

#include <cstdio>
#include <memory>
#include <string>

#include "consoleapp/headless_console.h"
#include "consoleapp/single_instance.h"
#include "consolecore/settings.h"
#include "consoletools/device_config_dlg.h"
#include "consoletools/local_mac_info_dlg.h"
#include "consoletools/logging_dlg.h"
#include "consoletools/tim_task_dlg.h"
#include "consoleui/cell_icons.h"
#include "consoleui/qt_prompt.h"
#include "consoleui/vantrel_dlg.h"
#include "mqttbridge/engine_bridge.h"
#include "platform/prompt.h"
#include "public/data_path.h"

namespace consoleapp {

consoleui::CVantrelDlg::ToolHandlers toolDialogs() {
    consoleui::CVantrelDlg::ToolHandlers tools;
    tools.localInfo = [](consoleui::CVantrelDlg& window) {
        consoletools::CLocalMacInfoDlg dialog(&window);
        dialog.exec();
    };
    tools.deviceConfig = [](consoleui::CVantrelDlg& window) {
        consoletools::CDeviceConfigDlg dialog(&window, window.prompt(), &window.engine().inbox());
        dialog.exec();
    };
    tools.logViewer = [](consoleui::CVantrelDlg& window) {
        consoletools::CLoggingDlg dialog(&window);
        dialog.exec();
    };
    tools.timedTasks = [](consoleui::CVantrelDlg& window) {
        consoletools::CTimTaskDlg dialog(&window, window.prompt());
        dialog.exec();
    };
    return tools;
}

CVantrelApp::CVantrelApp(AppOptions options) : m_options(std::move(options)) {}

bool CVantrelApp::takeLock(SingleInstanceLock& lock, SingleInstanceLock& dataLock,
                           platform::Prompt& prompt) {
    std::string problem;
    const std::string folder = m_options.lockFolder.empty()
                                   ? defaultLockFolder(problem)
                                   : ensureLockFolder(m_options.lockFolder, problem);
    const std::string name = m_options.programName.empty() ? programName() : m_options.programName;
    LockResult result = folder.empty() ? LockResult::Refused : lock.acquire(folder, name);
    if (!folder.empty()) problem = lock.problem();
    // One data folder, one console, whatever their lock folders or program names: a second
    // lock in the data folder itself.
    std::string data =
        m_options.session.programFolder.empty() ? GetDataPath() : m_options.session.programFolder;
    while (data.size() > 1 && data.back() == '/') data.pop_back();
    if (result == LockResult::Held) {
        result = dataLock.acquire(data, kDataLockName);
        problem = dataLock.problem();
        if (result == LockResult::Busy) {
            std::fprintf(stderr,
                         "vantrel: the data folder %s is in use by another "
                         "console\n",
                         data.c_str());
        }
    }
    switch (result) {
        case LockResult::Held:
            break;
        case LockResult::Busy:
            m_refused = true;
            prompt.showMessage("软件已经运行!");
            return false;
        case LockResult::Refused:
            // Another user may have planted it: start nothing rather than trust it.
            m_lockRefused = true;
            std::fprintf(stderr,
                         "vantrel: refusing the single-instance lock: %s (remove it, or choose "
                         "another folder with --lock-dir)\n",
                         problem.c_str());
            return false;
        case LockResult::Unavailable:
            // Without the lock nothing keeps a second console off the same files.
            m_lockRefused = true;
            std::fprintf(stderr,
                         "vantrel: cannot take the single-instance lock: %s (choose another "
                         "folder with --lock-dir or --data-dir)\n",
                         problem.c_str());
            return false;
    }
    return true;
}

bool CVantrelApp::InitInstance() {
    m_refused = false;
    m_lockRefused = false;
    std::unique_ptr<consoleui::QtPrompt> ownPrompt;
    platform::Prompt* prompt = m_options.prompt;
    if (!prompt) {
        ownPrompt = std::make_unique<consoleui::QtPrompt>();
        prompt = ownPrompt.get();
    }

    // 1. Single instance: nothing else may have started when a second copy gives up.
    SingleInstanceLock lock;
    SingleInstanceLock dataLock;
    if (!takeLock(lock, dataLock, *prompt)) return false;

    // Libraries without a window of their own show their message boxes through this one.
    platform::setDefaultPrompt(prompt);
    // The icons the lists use, loaded once up front.
    for (const int icon : {consoleui::kIconTickOn, consoleui::kIconTickOff, consoleui::kIconLedOff,
                           consoleui::kIconLedOn}) {
        consoleui::iconPixmap(icon);
    }

    // Six serial and six parallel groups, empty; the registry cleared.
    consolecore::beginApplication();
    {
        consoleui::CVantrelDlg window(m_options.session, prompt);
        window.setToolHandlers(toolDialogs());
        // The window opens where the operator left it.
        window.setWindowSettingsPath(m_options.windowSettingsPath.empty()
                                         ? consolecore::settingsPath()
                                         : m_options.windowSettingsPath);
        window.engine().addClient(mqttbridge::engineBridgeFactory());
        window.engine().addClient(webapi::webApiFactory(m_options.web));
        if (m_options.onWindowCreated) m_options.onWindowCreated(window);
        window.exec();
    }
    consolecore::endApplication();
    platform::setDefaultPrompt(nullptr);
    return false;
}

int CVantrelApp::runHeadless() {
    m_refused = false;
    m_lockRefused = false;
    StderrPrompt ownPrompt;
    platform::Prompt& prompt = m_options.prompt ? *m_options.prompt : ownPrompt;
    SingleInstanceLock lock;
    SingleInstanceLock dataLock;
    if (!takeLock(lock, dataLock, prompt)) return 1;
    platform::setDefaultPrompt(&prompt);
    consolecore::beginApplication();
    int code = 0;
    {
        HeadlessConsole console(m_options.session, m_options.web);
        code = console.run();
    }
    consolecore::endApplication();
    platform::setDefaultPrompt(nullptr);
    return code;
}

}  // namespace consoleapp
