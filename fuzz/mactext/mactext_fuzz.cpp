// Fuzz target: arbitrary text typed into the MAC and IP fields. The parsers never read past
// the text, change their output only on success, and what they accept reads back the same
// after formatting.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "consolecore/device_config_frames.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

std::string macText(const consolecore::MacBytes& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X.%02X.%02X.%02X.%02X.%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size heap copy, so a read past the text is caught.
    auto buffer = std::make_unique<char[]>(size ? size : 1);
    std::copy(data, data + size, buffer.get());
    const std::string_view text(buffer.get(), size);

    const consolecore::MacBytes before{0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02};
    consolecore::MacBytes mac = before;
    const auto error = consolecore::parseMacText(text, mac);
    if (error != consolecore::MacTextError::None || text.empty()) {
        check(mac == before);
    } else {
        consolecore::MacBytes again{};
        check(consolecore::parseMacText(macText(mac), again) == consolecore::MacTextError::None);
        check(again == mac);
    }

    if (const auto ip = consolecore::parseIpv4(text)) {
        const auto again = consolecore::parseIpv4(consolecore::formatIpv4(*ip));
        check(again.has_value() && *again == *ip);
    }
    return 0;
}
