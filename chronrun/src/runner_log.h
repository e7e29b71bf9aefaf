// A formatter for the contents of the runner's log lines that carry printf-formatted numbers.
#pragma once

#include <string>

namespace chronrun {

// printf-style formatting into a string of any length.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace chronrun
