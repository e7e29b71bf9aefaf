// UTF-16 to UTF-8 into a caller-owned buffer.
#include "diskkit/text_convert.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

char* WideCharToChar(const char16_t* text) {
    if (text == nullptr) return nullptr;
    std::string utf8;
    for (const char16_t* p = text; *p != 0; ++p) {
        char32_t cp = *p;
        if (isHighSurrogate(*p) && isLowSurrogate(p[1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (char32_t{p[1]} - 0xDC00);
            ++p;
        } else if (isHighSurrogate(*p) || isLowSurrogate(*p)) {
            cp = kReplacement;
        }
        appendUtf8(utf8, cp);
    }
    char* buffer = new (std::nothrow) char[utf8.size() + 1];
    if (buffer == nullptr) return nullptr;
    std::memcpy(buffer, utf8.data(), utf8.size());
    buffer[utf8.size()] = '\0';
    return buffer;
}
