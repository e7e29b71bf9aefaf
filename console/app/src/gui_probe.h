// A measuring probe for benchmarks, off unless VANTREL_GUI_PROBE names a file: it records how
// late a short GUI-thread timer fires (the event loop's stalls), the device list's size, and
// when each device row was last written with which outlets.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace consoleui {
class DeviceListBinder;
}

namespace consoleapp {

class GuiProbe : public QObject {
public:
    // Appends to `file`, once per period:
    //   "<monotonic ms> rows=<device rows> lag_max_ms=<x> appended_ms=<latest row append>"
    //   "lag <us> <us> ..."         each lag tick's lateness in the period (lag ticks only)
    //   "shown <ns> <id> <mask>"    a row written with outlet mask <mask>, monotonic ns
    // `lagTickMs` 0 runs no lag timer (an idle measurement then pays only the period's line).
    GuiProbe(std::FILE* file, int lagTickMs);
    ~GuiProbe() override;

    // The probe the environment asks for, or null (then nothing is measured).
    // VANTREL_GUI_PROBE_TICK_MS sets the lag tick (default 5, 0 none).
    static std::unique_ptr<GuiProbe> fromEnvironment();

private:
    struct Shown {
        std::int64_t ns;
        std::uint16_t id;
        std::uint16_t mask;
    };

    void onLagTick();
    void onLine();
    void attachToList();

    std::FILE* m_file;
    const int m_lagTickMs;
    QTimer m_lagTimer;
    QTimer m_lineTimer;
    consoleui::DeviceListBinder* m_binder = nullptr;
    std::int64_t m_lastTickNs = 0;
    std::int64_t m_maxLagNs = 0;
    std::int64_t m_lastAppendNs = 0;
    std::vector<std::int32_t> m_lagsUs;
    std::vector<Shown> m_shown;
};

}  // namespace consoleapp
