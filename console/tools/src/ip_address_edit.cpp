// The IPv4 edit: a validator that accepts only what the platform's address control can hold.
#include "consoletools/ip_address_edit.h"

#include <QValidator>

namespace consoletools {

namespace {

class Ipv4Validator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return IpAddressEdit::readOctets(input) ? Acceptable : Invalid;
    }
};

}  // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QLineEdit(parent) {
    setValidator(new Ipv4Validator(this));
    setText(QStringLiteral("0.0.0.0"));
}

void IpAddressEdit::setOctets(const consolecore::Ipv4Octets& octets) {
    setText(QString::fromStdString(consolecore::formatIpv4(octets)));
}

consolecore::Ipv4Octets IpAddressEdit::octets() const {
    return readOctets(text()).value_or(consolecore::Ipv4Octets{});
}

std::optional<consolecore::Ipv4Octets> IpAddressEdit::readOctets(const QString& text) {
    const QStringList parts = text.split(u'.');
    if (parts.size() > 4) return std::nullopt;
    consolecore::Ipv4Octets octets{};
    for (int i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        if (part.isEmpty()) continue;
        if (part.size() > 3) return std::nullopt;
        int value = 0;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9') return std::nullopt;
            value = value * 10 + (c.unicode() - u'0');
        }
        if (value > 255) return std::nullopt;
        octets[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
    }
    return octets;
}

}  // namespace consoletools
