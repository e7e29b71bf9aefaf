// UTF-8 to UTF-16 and back for task names and values read from the task file.
#pragma once

#include <string>
#include <string_view>

namespace chronstore {

// Invalid or truncated sequences become U+FFFD; nothing is read past the end.
std::u16string utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

}  // namespace chronstore
