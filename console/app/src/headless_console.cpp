// The window-less console: the same engine, its messages queued onto the main thread.
#include "consoleapp/headless_console.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "mqttbridge/engine_bridge.h"
#include "service_notifier.h"

namespace consoleapp {

void StderrPrompt::showMessage(const std::string& text, const std::string&, platform::PromptIcon) {
    std::fprintf(stderr, "vantrel: %s\n", text.c_str());
}

namespace {

// Test hook for the watchdog: with VANTREL_TEST_BLOCK_ENGINE=1 in the environment the engine's
// thread blocks for good once the service is ready (its event loop never turns again), so a
// test can see the watchdog pings stop. The test ends the process with SIGKILL.
void blockEngineThreadForTests() {
    const char* block = std::getenv("VANTREL_TEST_BLOCK_ENGINE");
    if (block == nullptr || std::string(block) != "1") return;
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

HeadlessConsole::HeadlessConsole(consolecore::SessionOptions options, webapi::WebOptions web)
    : m_engine(std::move(options), m_chooser, m_prompt, [this] {
          consolecore::EngineHooks hooks;
          hooks.postToEngine = [this](std::function<void()> task) {
              QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
          };
          return hooks;
      }()) {
    consolecore::SwitchingOptions switching;
    switching.timer = &m_runTimer;
    switching.confirm = nullptr;  // nobody to ask: a group-off command is the decision
    m_engine.switching().configure(std::move(switching));
    m_engine.subscribe(*this);
    m_engine.addClient(mqttbridge::engineBridgeFactory());
    m_engine.addClient(webapi::webApiFactory(std::move(web)));
}

HeadlessConsole::~HeadlessConsole() {
    m_engine.stop();
    m_engine.unsubscribe(*this);
}

int HeadlessConsole::run() {
    m_engine.start();
    // A service that cannot do its work ends with a failure its service manager sees.
    const consolecore::ConsoleSession& session = m_engine.session();
    if (!session.logStarted() || !session.linkStarted()) {
        if (!session.linkStarted()) {
            std::fprintf(stderr,
                         "vantrel: 网络初始化失败! TCP %u: the device link cannot listen on this "
                         "port (in use by another program, or not permitted)\n",
                         static_cast<unsigned>(session.port()));
        }
        // The log store has said why on stderr itself.
        m_engine.stop();
        return 1;
    }
    int code = 0;
    {
        ServiceNotifier notifier([this] { return devicesOnline(); });
        notifier.ready();
        blockEngineThreadForTests();
        code = QCoreApplication::exec();
    }  // STOPPING=1 before the engine stops in order
    m_engine.stop();
    return code;
}

void HeadlessConsole::onEngineEvent(const consolecore::EngineEvent& event) {
    if (const auto* conflict = std::get_if<consolecore::IdConflict>(&event)) {
        m_prompt.showMessage(
            consolecore::idConflictText(conflict->id, conflict->newcomer, conflict->online), {},
            platform::PromptIcon::Error);
    }
}

int HeadlessConsole::devicesOnline() const {
    const consolecore::DeviceTable& table = m_engine.table();
    int online = 0;
    for (int i = 0; i < table.rowCount(); ++i) online += table.row(i).online ? 1 : 0;
    return online;
}

}  // namespace consoleapp
