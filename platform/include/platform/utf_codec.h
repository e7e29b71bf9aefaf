// The one UTF-8 <-> UTF-16 codec of the program: files, logs and the UI are UTF-8, UTF-16 is
// kept only where a record has a fixed UTF-16 field.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Malformed UTF-8 (bad or truncated sequences, overlong forms, surrogates) becomes U+FFFD;
// nothing is read past the end.
std::u16string utf8ToUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
// `text` as valid UTF-8: valid text unchanged, each malformed sequence U+FFFD.
std::string toValidUtf8(std::string_view text);

}  // namespace platform
