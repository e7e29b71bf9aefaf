// Lines of lost devices under the device table.
#include "consoleui/offline_notices.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace consoleui {

namespace {

// "设备1001(SIM1001) 127.0.0.2".
QString lostDeviceIdentity(const consolecore::LostDevice& device) {
    QString text = QStringLiteral("设备%1").arg(device.id);
    if (!device.name.empty()) {
        text += QStringLiteral("(%1)").arg(QString::fromStdString(device.name));
    }
    return text + QLatin1Char(' ') + QString::fromStdString(device.address);
}

}  // namespace

QString lostDeviceText(const consolecore::LostDevice& device) {
    return lostDeviceIdentity(device) + QLatin1Char(' ') +
           QString::fromStdString(consolecore::lostTimeText(device.when));
}

QString lostLineText(const std::vector<consolecore::LostDevice>& devices, std::size_t shown) {
    if (devices.size() == 1) return QStringLiteral("设备离线: ") + lostDeviceText(devices.front());
    // Devices lost within the same second say the time once.
    const std::string first =
        devices.empty() ? std::string() : consolecore::lostTimeText(devices.front().when);
    const bool oneTime = std::all_of(devices.begin(), devices.end(), [&first](const auto& d) {
        return consolecore::lostTimeText(d.when) == first;
    });
    QStringList entries;
    for (std::size_t i = 0; i < devices.size() && i < shown; ++i) {
        entries << (oneTime ? lostDeviceIdentity(devices[i]) : lostDeviceText(devices[i]));
    }
    if (devices.size() > shown) entries << QStringLiteral("…");
    QString head = QStringLiteral("%1台设备离线").arg(devices.size());
    if (oneTime) head += QStringLiteral(" (%1)").arg(QString::fromStdString(first));
    return head + QStringLiteral(": ") + entries.join(QStringLiteral("; "));
}

OfflineNotices::OfflineNotices(QWidget* parent) : QFrame(parent), m_layout(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("offlineNotices"));
    setFrameShape(QFrame::StyledPanel);
    m_layout->setContentsMargins(6, 4, 6, 4);
    m_layout->setSpacing(2);
    hide();
}

void OfflineNotices::devicesLost(const std::vector<consolecore::LostDevice>& lost) {
    if (lost.empty()) return;
    for (const auto& device : lost) forget(device.id);  // a device is listed once, at its loss
    Line* line = m_lines.empty() ? nullptr : &m_lines.back();
    if (line && !line->devices.empty()) {
        const auto last =
            std::max_element(line->devices.begin(), line->devices.end(),
                             [](const auto& a, const auto& b) { return a.when < b.when; });
        if (lost.front().when - last->when > m_burstWindow) line = nullptr;
    }
    if (!line || line->devices.empty()) line = &addLine();
    line->devices.insert(line->devices.end(), lost.begin(), lost.end());
    refresh(*line);
    show();
}

void OfflineNotices::deviceReturned(std::uint16_t id) {
    forget(id);
}

void OfflineNotices::forget(std::uint16_t id) {
    for (auto it = m_lines.begin(); it != m_lines.end();) {
        auto& devices = it->devices;
        const auto erased =
            std::erase_if(devices, [id](const consolecore::LostDevice& d) { return d.id == id; });
        auto next = std::next(it);
        if (erased > 0) {
            if (devices.empty()) {
                removeLine(it);
            } else {
                refresh(*it);
            }
        }
        it = next;
    }
}

OfflineNotices::Line& OfflineNotices::addLine() {
    Line& line = m_lines.emplace_back();
    line.row = new QWidget(this);
    auto* layout = new QHBoxLayout(line.row);
    layout->setContentsMargins(0, 0, 0, 0);
    line.label = new QLabel(line.row);
    line.label->setObjectName(QStringLiteral("offlineText"));
    line.label->setStyleSheet(QStringLiteral("color: #B00020; font-weight: bold;"));
    line.label->setWordWrap(true);
    line.label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    line.dismiss = new QPushButton(QStringLiteral("知道了"), line.row);
    line.dismiss->setObjectName(QStringLiteral("dismissOffline"));
    line.dismiss->setAutoDefault(false);
    QWidget* row = line.row;
    connect(line.dismiss, &QPushButton::clicked, this, [this, row] {
        const auto it = std::find_if(m_lines.begin(), m_lines.end(),
                                     [row](const Line& l) { return l.row == row; });
        if (it != m_lines.end()) removeLine(it);
    });
    layout->addWidget(line.label, 1);
    layout->addWidget(line.dismiss, 0, Qt::AlignTop);
    m_layout->addWidget(line.row);
    return line;
}

void OfflineNotices::refresh(Line& line) {
    line.label->setText(lostLineText(line.devices));
    // Every device of a long line, one per row, when the pointer rests on it.
    QStringList all;
    for (const auto& device : line.devices) all << lostDeviceText(device);
    line.label->setToolTip(all.join(QLatin1Char('\n')));
}

void OfflineNotices::removeLine(std::list<Line>::iterator line) {
    line->row->deleteLater();
    m_lines.erase(line);
    setVisible(!m_lines.empty());
}

QStringList OfflineNotices::lineTexts() const {
    QStringList texts;
    for (const Line& line : m_lines) texts << line.label->text();
    return texts;
}

QPushButton* OfflineNotices::dismissButton(int index) const {
    if (index < 0 || index >= static_cast<int>(m_lines.size())) return nullptr;
    return std::next(m_lines.begin(), index)->dismiss;
}

}  // namespace consoleui
