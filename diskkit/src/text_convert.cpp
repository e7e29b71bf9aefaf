// UTF-16 to UTF-8 into a caller-owned buffer.
#include "diskkit/text_convert.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/utf_codec.h"

char* WideCharToChar(const char16_t* text) {
    if (text == nullptr) return nullptr;
    const std::string utf8 = platform::utf16ToUtf8(text);
    char* buffer = new (std::nothrow) char[utf8.size() + 1];
    if (buffer == nullptr) return nullptr;
    std::memcpy(buffer, utf8.data(), utf8.size());
    buffer[utf8.size()] = '\0';
    return buffer;
}
