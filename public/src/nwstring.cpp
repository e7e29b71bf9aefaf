// NWString: UTF-16 text kept zero-terminated.
#include "public/nwstring.h"

#include <utility>

#include "platform/utf_codec.h"

NWString::NWString() = default;

NWString::NWString(const char* utf8) {
    if (utf8 != nullptr) m_text = Utf8ToUtf16(utf8);
}

NWString::NWString(std::string_view utf8) : m_text(Utf8ToUtf16(utf8)) {}

NWString::NWString(const char16_t* text) {
    if (text != nullptr) m_text = text;
}

NWString::NWString(std::u16string_view text) : m_text(text) {}

NWString::NWString(const NWString& other) = default;

NWString::NWString(NWString&& other) noexcept : m_text(std::move(other.m_text)) {
    other.m_text.clear();
}

NWString& NWString::operator=(const NWString& other) = default;

NWString& NWString::operator=(NWString&& other) noexcept {
    if (this != &other) {
        m_text = std::move(other.m_text);
        other.m_text.clear();
    }
    return *this;
}

NWString::~NWString() = default;

std::string NWString::toUtf8() const {
    return Utf16ToUtf8(m_text);
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    return platform::utf8ToUtf16(utf8);
}

std::string Utf16ToUtf8(std::u16string_view text) {
    return platform::utf16ToUtf8(text);
}
