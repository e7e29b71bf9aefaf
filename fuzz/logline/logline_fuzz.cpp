// Fuzzes ParseLogLine and the UTF-8/UTF-16 conversions with arbitrary bytes, checking the
// properties callers rely on rather than only "does not crash".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "logbase/log_line.h"
#include "public/nwstring.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);

    const LogLine parsed = ParseLogLine(line);
    if (parsed.type == kUnclassifiedLogCode) {
        // Unclassified lines are kept whole.
        if (parsed.childType != kUnclassifiedLogCode || parsed.content != line) std::abort();
    } else {
        if (parsed.type < kMinLogType || parsed.type > kMaxLogType) std::abort();
        if (parsed.childType < kMinLogChildType || parsed.childType > kMaxLogChildType) {
            std::abort();
        }
        // The content is a piece of the line that starts right after the opening quote.
        const auto open = line.find('\'');
        if (open == std::string_view::npos ||
            line.substr(open + 1, parsed.content.size()) != parsed.content) {
            std::abort();
        }
    }

    // Decoding replaces what is malformed; the result then survives a round trip unchanged.
    const std::u16string wide = Utf8ToUtf16(line);
    const std::string utf8 = Utf16ToUtf8(wide);
    if (Utf8ToUtf16(utf8) != wide) std::abort();
    if (Utf16ToUtf8(Utf8ToUtf16(utf8)) != utf8) std::abort();
    return 0;
}
