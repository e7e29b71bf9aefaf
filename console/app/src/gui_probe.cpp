// The benchmark probe: a 5 ms precise timer on the GUI thread; whatever exceeds 5 ms between
// two ticks is time the event loop could not run.
#include "gui_probe.h"

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <cstdlib>

#include "consoleui/vantrel_dlg.h"

namespace consoleapp {

namespace {

constexpr int kTickMs = 5;
constexpr qint64 kLineNs = 250'000'000;

qint64 monotonicNs() {
    // steady_clock is CLOCK_MONOTONIC: a benchmark in another process reads the same clock.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int deviceRows() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (const auto* window = qobject_cast<consoleui::CVantrelDlg*>(widget)) {
            return window->deviceTable().rowCount();
        }
    }
    return -1;
}

}  // namespace

GuiProbe::GuiProbe(std::FILE* file) : m_file(file) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &GuiProbe::onTick);
    m_lastTickNs = m_lastLineNs = monotonicNs();
    m_timer.start();
}

GuiProbe::~GuiProbe() {
    std::fclose(m_file);
}

std::unique_ptr<GuiProbe> GuiProbe::fromEnvironment() {
    const char* path = std::getenv("VANTREL_GUI_PROBE");
    if (path == nullptr || *path == '\0') return nullptr;
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        std::fprintf(stderr, "vantrel: cannot write the probe file %s\n", path);
        return nullptr;
    }
    return std::make_unique<GuiProbe>(file);
}

void GuiProbe::onTick() {
    const qint64 now = monotonicNs();
    m_maxLagNs = std::max(m_maxLagNs, now - m_lastTickNs - kTickMs * 1'000'000LL);
    m_lastTickNs = now;
    if (now - m_lastLineNs < kLineNs) return;
    std::fprintf(m_file, "%lld rows=%d lag_max_ms=%.1f\n", static_cast<long long>(now / 1'000'000),
                 deviceRows(), static_cast<double>(m_maxLagNs) / 1e6);
    std::fflush(m_file);
    m_lastLineNs = now;
    m_maxLagNs = 0;
}

}  // namespace consoleapp
