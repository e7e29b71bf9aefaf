// Text for JSON from arbitrary bytes; the JSON itself is written by nlohmann-json.
#include <nlohmann/json.hpp>

#include "mqttbridge/bridge_payloads.h"

namespace mqttbridge {
namespace {

// Length of the well-formed UTF-8 sequence at `i`, or 0 when the bytes there are not one
// (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short).
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned lead = byte(0);
    std::size_t length;
    unsigned code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(k) & 0x3F);
    }
    if (length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) return 0;
    if (length == 4 && (code < 0x10000 || code > 0x10FFFF)) return 0;
    return length;
}

}  // namespace

std::string jsonText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (const auto length = utf8SequenceLength(text, i)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            // Not UTF-8: the byte stands for the character of the same number.
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            ++i;
        }
    }
    return out;
}

std::string jsonString(std::string_view text) {
    return nlohmann::json(jsonText(text)).dump();
}

}  // namespace mqttbridge
