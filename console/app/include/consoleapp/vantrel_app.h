// The application object: single instance, process-wide tables, the modal main window.
#pragma once

#include "consoleui/vantrel_dlg.h"

#include <functional>
#include <string>

#include "consolecore/console_session.h"
#include "webapi/web_api.h"

namespace platform {
class Prompt;
}

namespace consoleui {
class CVantrelDlg;
}

namespace consoleapp {

class SingleInstanceLock;

// The lock file a console holds in its data folder: "<data folder>/vantrel-data.lock".
inline constexpr const char* kDataLockName = "vantrel-data";

struct AppOptions {
    std::string lockFolder;   // empty: defaultLockFolder()
    std::string programName;  // names the lock file; empty: the executable's file name
    consolecore::SessionOptions session;
    webapi::WebOptions web;              // the HTTP API: --web-port, limits
    platform::Prompt* prompt = nullptr;  // null: message boxes
    // Called with the main window before it runs (the tests drive it from here).
    std::function<void(consoleui::CVantrelDlg&)> onWindowCreated;
    // Where the main window keeps its size and place; empty: "Vantrel.ini" in the data folder.
    std::string windowSettingsPath;
};

// What the main window's four tool buttons open: the local network information, the device
// configuration, the log viewer and the timed-task editor, each run modally.
consoleui::CVantrelDlg::ToolHandlers toolDialogs();

class CVantrelApp {
public:
    explicit CVantrelApp(AppOptions options = {});

    // Start-up, the main window's modal run and the tidy-up after it. Returns false in every
    // case: the process ends when it returns.
    bool InitInstance();

    // The console without a window under the running QCoreApplication, until its event loop
    // exits (a stop signal). The same single-instance rule first. Returns the exit code.
    int runHeadless();

    // Whether the last InitInstance stopped at the single-instance rule (lock folder or data
    // folder held by another console).
    bool refusedAsSecondInstance() const { return m_refused; }
    // Whether it stopped because a lock file or folder was unsafe or unusable (told on stderr).
    bool lockRefused() const { return m_lockRefused; }

private:
    // Takes the single-instance lock in the lock folder and the one in the data folder; false
    // (and the reason told) when the program must stop.
    bool takeLock(SingleInstanceLock& lock, SingleInstanceLock& dataLock, platform::Prompt& prompt);

    AppOptions m_options;
    bool m_refused = false;
    bool m_lockRefused = false;
};

}  // namespace consoleapp
