// An edit for a dotted IPv4 address, standing in for the platform's IP address control:
// it takes at most four parts of 0..255, and a missing or empty part reads as 0.
#pragma once

#include <QLineEdit>

#include "consolecore/device_config_frames.h"

namespace consoletools {

class IpAddressEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    void setOctets(const consolecore::Ipv4Octets& octets);
    consolecore::Ipv4Octets octets() const;

    // The four parts of `text` as the control reads them; none when the text is not a
    // dotted address of at most four parts of 0..255.
    static std::optional<consolecore::Ipv4Octets> readOctets(const QString& text);
};

}  // namespace consoletools
