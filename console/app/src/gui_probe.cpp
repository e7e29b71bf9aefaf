// The benchmark probe: a precise timer on the GUI thread (whatever exceeds its interval
// between two ticks is time the event loop could not run) and a listener on the device list.
#include "gui_probe.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "consolecore/device_snapshot.h"
#include "consoleui/device_list_binder.h"

namespace consoleapp {

namespace {

constexpr int kLineMs = 250;

std::int64_t monotonicNs() {
    // steady_clock is CLOCK_MONOTONIC: a benchmark in another process reads the same clock.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

GuiProbe::GuiProbe(std::FILE* file, int lagTickMs) : m_file(file), m_lagTickMs(lagTickMs) {
    m_lastTickNs = monotonicNs();
    if (m_lagTickMs > 0) {
        m_lagTimer.setTimerType(Qt::PreciseTimer);
        m_lagTimer.setInterval(m_lagTickMs);
        connect(&m_lagTimer, &QTimer::timeout, this, &GuiProbe::onLagTick);
        m_lagTimer.start();
    }
    m_lineTimer.setTimerType(Qt::PreciseTimer);
    m_lineTimer.setInterval(kLineMs);
    connect(&m_lineTimer, &QTimer::timeout, this, &GuiProbe::onLine);
    m_lineTimer.start();
}

GuiProbe::~GuiProbe() {
    if (m_binder) m_binder->setRowShownListener(nullptr);
    std::fclose(m_file);
}

std::unique_ptr<GuiProbe> GuiProbe::fromEnvironment() {
    const char* path = std::getenv("VANTREL_GUI_PROBE");
    if (path == nullptr || *path == '\0') return nullptr;
    int tickMs = 5;
    if (const char* tick = std::getenv("VANTREL_GUI_PROBE_TICK_MS")) {
        tickMs = std::clamp(std::atoi(tick), 0, 1000);
    }
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        std::fprintf(stderr, "vantrel: cannot write the probe file %s\n", path);
        return nullptr;
    }
    return std::make_unique<GuiProbe>(file, tickMs);
}

void GuiProbe::attachToList() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* binder = widget->findChild<consoleui::DeviceListBinder*>()) {
            m_binder = binder;
            // The binder dies with the window; the window outlives the event loop's last tick.
            connect(binder, &QObject::destroyed, this, [this] { m_binder = nullptr; });
            binder->setRowShownListener([this](const consolecore::DeviceRow& row, bool appended) {
                const std::int64_t now = monotonicNs();
                if (appended) m_lastAppendNs = now;
                m_shown.push_back({now, row.id, consolecore::ledMask(row.leds)});
            });
            return;
        }
    }
}

void GuiProbe::onLagTick() {
    const std::int64_t now = monotonicNs();
    const std::int64_t lag =
        std::max<std::int64_t>(now - m_lastTickNs - m_lagTickMs * 1'000'000LL, 0);
    m_maxLagNs = std::max(m_maxLagNs, lag);
    m_lagsUs.push_back(static_cast<std::int32_t>(std::min<std::int64_t>(lag / 1000, INT32_MAX)));
    m_lastTickNs = now;
}

void GuiProbe::onLine() {
    if (!m_binder) attachToList();
    const std::int64_t now = monotonicNs();
    if (m_lagTickMs == 0) {
        // Without lag ticks the line timer's own lateness is the only stall figure.
        m_maxLagNs = std::max<std::int64_t>(now - m_lastTickNs - kLineMs * 1'000'000LL, 0);
        m_lastTickNs = now;
    }
    std::fprintf(m_file, "%lld rows=%d lag_max_ms=%.1f appended_ms=%lld\n",
                 static_cast<long long>(now / 1'000'000), m_binder ? m_binder->shownRowCount() : -1,
                 static_cast<double>(m_maxLagNs) / 1e6,
                 static_cast<long long>(m_lastAppendNs / 1'000'000));
    if (!m_lagsUs.empty()) {
        std::fputs("lag", m_file);
        for (const std::int32_t us : m_lagsUs) std::fprintf(m_file, " %d", us);
        std::fputc('\n', m_file);
    }
    for (const Shown& shown : m_shown) {
        std::fprintf(m_file, "shown %lld %u %u\n", static_cast<long long>(shown.ns), shown.id,
                     shown.mask);
    }
    std::fflush(m_file);
    m_lagsUs.clear();
    m_shown.clear();
    m_maxLagNs = 0;
}

}  // namespace consoleapp
