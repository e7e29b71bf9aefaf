// The notice under the device table that says which devices were lost: one line per burst
// ("设备离线: …" for one device, "N台设备离线: …" when several go together), kept until the
// operator dismisses it; a device that comes back leaves its line.
#pragma once

#include <QFrame>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <list>
#include <vector>

#include "consolecore/device_table.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace consoleui {

// "设备1001(SIM1001) 127.0.0.2 12-09 08:01:02".
QString lostDeviceText(const consolecore::LostDevice& device);
// The line for devices lost together; at most `shown` of them are listed.
QString lostLineText(const std::vector<consolecore::LostDevice>& devices, std::size_t shown = 10);

class OfflineNotices : public QFrame {
    Q_OBJECT
public:
    explicit OfflineNotices(QWidget* parent = nullptr);

    // Losses this close to the newest line's last one join that line.
    void setBurstWindow(std::chrono::milliseconds window) { m_burstWindow = window; }

    // Devices lost together (the device table's loss hook).
    void devicesLost(const std::vector<consolecore::LostDevice>& lost);
    // A lost device registered again: it leaves its line, and an empty line goes.
    void deviceReturned(std::uint16_t id);

    QStringList lineTexts() const;
    // The dismiss button of line `index` (oldest first), or null.
    QPushButton* dismissButton(int index) const;

private:
    struct Line {
        std::vector<consolecore::LostDevice> devices;
        QWidget* row = nullptr;
        QLabel* label = nullptr;
        QPushButton* dismiss = nullptr;
    };
    Line& addLine();
    void refresh(Line& line);
    void removeLine(std::list<Line>::iterator line);
    void forget(std::uint16_t id);

    QVBoxLayout* m_layout;
    std::list<Line> m_lines;  // oldest first
    std::chrono::milliseconds m_burstWindow{std::chrono::seconds(10)};
};

}  // namespace consoleui
