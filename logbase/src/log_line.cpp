// Splits a formatted log line into type, sub-type and content.
#include "logbase/log_line.h"

#include <optional>

namespace {

// Reads a small decimal number (one to four digits, no sign) at `pos`.
std::optional<int> readCode(std::string_view line, std::size_t& pos) {
    int value = 0;
    std::size_t digits = 0;
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
        if (++digits > 4) return std::nullopt;
        value = value * 10 + (line[pos] - '0');
        ++pos;
    }
    if (digits == 0) return std::nullopt;
    return value;
}

bool expect(std::string_view line, std::size_t& pos, char c) {
    if (pos >= line.size() || line[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

LogLine ParseLogLine(std::string_view line) {
    std::size_t pos = 0;
    const auto type = readCode(line, pos);
    const bool commaAfterType = type && expect(line, pos, ',');
    const auto childType = commaAfterType ? readCode(line, pos) : std::nullopt;
    const bool headOk = childType && expect(line, pos, ',') && expect(line, pos, '\'') &&
                        *type >= kMinLogType && *type <= kMaxLogType &&
                        *childType >= kMinLogChildType && *childType <= kMaxLogChildType;
    if (!headOk) return LogLine{kUnclassifiedLogCode, kUnclassifiedLogCode, std::string(line)};

    std::string_view rest = line.substr(pos);
    const auto end = rest.find_last_not_of(" \t\r\n");
    if (end != std::string_view::npos && rest[end] == '\'') rest = rest.substr(0, end);
    return LogLine{*type, *childType, std::string(rest)};
}
