// A formatter for the runner's log lines whose content is built first and then logged as
// "%d,%d,'%s'" (codes from logbase/log_codes.h, sub-type logcode::kTimedTask).
#pragma once

#include <string>

namespace chronrun {

// printf-style formatting into a string of any length.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace chronrun
