// A measuring probe for benchmarks, off unless VANTREL_GUI_PROBE names a file: it records how
// late a short GUI-thread timer fires (the event loop's stalls) and the device list's size.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace consoleapp {

class GuiProbe : public QObject {
public:
    // Appends one line per period to `file`:
    //   "<monotonic ms> rows=<device rows> lag_max_ms=<latest timer lateness in the period>"
    explicit GuiProbe(std::FILE* file);
    ~GuiProbe() override;

    // The probe the environment asks for, or null (then nothing is measured).
    static std::unique_ptr<GuiProbe> fromEnvironment();

private:
    void onTick();

    std::FILE* m_file;
    QTimer m_timer;
    qint64 m_lastTickNs = 0;
    qint64 m_lastLineNs = 0;
    qint64 m_maxLagNs = 0;
};

}  // namespace consoleapp
