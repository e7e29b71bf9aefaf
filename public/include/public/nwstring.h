// NWString: a UTF-16 string, the type in which the log store hands back query values.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "public/public_export.h"

class PUBLIC_EXPORT NWString {
public:
    // Empty: getString() yields just the terminator.
    NWString();
    // From UTF-8 narrow text (the code page of every file, log and UI text here). Invalid
    // bytes become U+FFFD; a null pointer gives an empty string.
    NWString(const char* utf8);  // NOLINT(google-explicit-constructor): mirrors the C API
    explicit NWString(std::string_view utf8);
    // Copy of zero-terminated UTF-16 text; a null pointer gives an empty string.
    NWString(const char16_t* text);  // NOLINT(google-explicit-constructor)
    explicit NWString(std::u16string_view text);
    NWString(const NWString& other);
    NWString(NWString&& other) noexcept;
    NWString& operator=(const NWString& other);
    NWString& operator=(NWString&& other) noexcept;
    virtual ~NWString();

    // Zero-terminated UTF-16 text, valid while this string lives and is unchanged.
    const char16_t* getString() const { return m_text.c_str(); }
    // Number of UTF-16 code units, terminator excluded.
    std::size_t length() const { return m_text.size(); }
    bool empty() const { return m_text.empty(); }
    std::u16string_view view() const { return m_text; }
    // The text as UTF-8, for callers that show or compare it as narrow text.
    std::string toUtf8() const;

    bool operator==(const NWString& other) const { return m_text == other.m_text; }

private:
    // std::u16string keeps the text zero-terminated at all times, also when empty or moved from.
    std::u16string m_text;
};

// Conversions between UTF-8 and UTF-16. Malformed input (bad or truncated UTF-8 sequences,
// overlong forms, unpaired surrogates) becomes U+FFFD; nothing is read past the input.
PUBLIC_EXPORT std::u16string Utf8ToUtf16(std::string_view utf8);
PUBLIC_EXPORT std::string Utf16ToUtf8(std::u16string_view text);
