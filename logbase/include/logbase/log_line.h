// Splitting a formatted log line "<type>,<sub-type>,'<content>'" into its fields.
#pragma once

#include <string>
#include <string_view>

#include "logbase/log_codes.h"
#include "logbase/logbase_export.h"

// Codes a line may carry; anything else is stored under kUnclassifiedLogCode.
inline constexpr int kMinLogType = logcode::kSystem;
inline constexpr int kMaxLogType = logcode::kFailure;
inline constexpr int kMinLogChildType = logcode::kStartup;
inline constexpr int kMaxLogChildType = logcode::kOther;
// Type and sub-type of a line whose head is not "<1-3>,<1-8>,'": the whole line is kept as
// content so nothing is lost, and the store has display rows for this code so the viewer's
// "all" query lists it.
inline constexpr int kUnclassifiedLogCode = 0;

struct LogLine {
    int type = kUnclassifiedLogCode;
    int childType = kUnclassifiedLogCode;
    std::string content;
};

// Well-formed: decimal type, ',', decimal sub-type, ',', quote, content, closing quote
// (trailing blanks and line ends after it ignored). The content is everything between the
// opening quote and the last quote, quotes inside it included. Without a closing quote the
// content runs to the end of the line.
LOGBASE_EXPORT LogLine ParseLogLine(std::string_view line);
