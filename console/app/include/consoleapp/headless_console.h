// The console without a window: the engine under a QCoreApplication's event loop, for the
// service. Core messages and bridge commands are queued onto the main thread like the
// window's; a stop signal ends the loop and the engine stops in order.
#pragma once

#include <QObject>

#include "consolecore/console_engine.h"
#include "consolecore/group_selection.h"
#include "consoleui/qt_run_timer.h"
#include "platform/prompt.h"
#include "webapi/web_api.h"

namespace consoleapp {

// Messages meant for the operator go to stderr (the service's journal).
class StderrPrompt : public platform::Prompt {
public:
    void showMessage(const std::string& text, const std::string& caption,
                     platform::PromptIcon icon) override;
};

// Groups come from bridge commands only: the dialog path chooses none.
class NoGroupChooser : public consolecore::GroupChooser {
public:
    std::optional<int> chooseGroup(consolecore::GroupKind, std::uint8_t) override {
        return std::nullopt;
    }
};

class HeadlessConsole : public QObject, private consolecore::EngineClient {
public:
    HeadlessConsole(consolecore::SessionOptions options, webapi::WebOptions web = {});
    ~HeadlessConsole() override;

    // Starts the engine, runs the event loop until QCoreApplication::exit, stops the engine.
    // Returns the loop's exit code, or 1 at once (with the cause on stderr) when the log store
    // or the device link could not start. Under systemd it reports readiness, status and
    // watchdog pings (ServiceNotifier).
    int run();

private:
    // Id conflicts go to the service's journal, as the window shows them in its run panel.
    void onEngineEvent(const consolecore::EngineEvent& event) override;
    int devicesOnline() const;  // rows of the device table online, on the engine's thread

    StderrPrompt m_prompt;
    NoGroupChooser m_chooser;
    consoleui::QtRunTimer m_runTimer;
    consolecore::ConsoleEngine m_engine;
};

}  // namespace consoleapp
