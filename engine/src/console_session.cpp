// Start-up and shutdown order: the log store first so every module can log, the runner
// stopped first so no timed task sends after the link or the store is gone.
#include "consolecore/console_session.h"

#include "chronrun/chronrun.h"
#include "chronstore/chronstore.h"
#include "consolecore/device_channel.h"
#include "consolecore/register_observer.h"
#include "consolecore/settings.h"
#include "consolecore/switching_groups.h"
#include "devroster/devroster.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "public/data_path.h"

namespace consolecore {

void beginApplication() {
    switchingGroups().reset();
    InitDevrosterMod();
}

void endApplication() {
    switchingGroups().reset();
    ReleaseDevroster();
}

ConsoleSession::ConsoleSession(CDeviceChannel& channel, SessionOptions options)
    : m_channel(channel), m_options(std::move(options)) {}

ConsoleSession::~ConsoleSession() {
    stop();
}

void ConsoleSession::start() {
    if (m_running) return;
    m_running = true;
    const std::string folder =
        m_options.programFolder.empty() ? GetDataPath() : m_options.programFolder;
    m_logStarted = InitLogbaseModule(folder, "Vantrel_DB.db3");

    m_linkStarted = m_channel.Start(m_options.port);
    if (m_linkStarted) {
        logEvent(logcode::kSystem, logcode::kStartup, "网络初始化成功!");
    } else {
        logEvent(logcode::kFailure, logcode::kStartup, "网络初始化失败!");
    }

    if (m_options.taskFolder.empty()) {
        InitChronstore();
    } else {
        InitChronstoreAt(m_options.taskFolder);
    }
    // A refused task or holiday file starts with no tasks or no holidays: say which and why.
    for (const ChronstoreLoadProblem& problem : GetChronstoreLoadProblems()) {
        logEvent(logcode::kFailure, logcode::kTimedTask,
                 "文件" + std::string(problem.path.c_str()) + "无法读取(" + problem.reason.c_str() +
                     "),未加载");
    }
    InitChronrun();
    // Read once per start, so each problem of the file is logged once.
    m_settings = loadSettingsAndLog(settingsPath());
    SetLogKeepDays(m_settings.log.keepDays);
    // A device that comes back while its task runs gets the task's pattern again; many back
    // at once (a site's power returning) are spaced so they do not all switch together.
    SetChronrunReapplyStagger(std::chrono::milliseconds(m_settings.tasks.reapplyStaggerMs));
    if (m_settings.tasks.reapplyOnRegister) {
        setRegisterObserver([](std::uint16_t id) { ReapplyChronrunTask(id); });
    }
}

void ConsoleSession::stop() {
    if (!m_running) return;
    m_running = false;
    setRegisterObserver(nullptr);
    SetLogKeepDays(0);
    ReleaseChronrun();  // returns once every runner thread has ended
    ReleaseChronstore();
    m_channel.Stop();
    m_linkStarted = false;
    m_logStarted = false;
}

}  // namespace consolecore
