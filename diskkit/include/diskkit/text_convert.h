// Conversion of UTF-16 text to a caller-owned UTF-8 buffer.
#pragma once

#include "diskkit/diskkit_export.h"

// A new[]-allocated copy of the zero-terminated UTF-16 `text` as zero-terminated UTF-8; the
// caller frees it with delete[]. Unpaired surrogates become U+FFFD. Null when `text` is null
// or the buffer cannot be made. An empty text gives a buffer holding one zero byte.
DISKKIT_EXPORT char* WideCharToChar(const char16_t* text);
