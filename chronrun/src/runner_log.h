// Log codes of the runner's lines (every line has sub-type 7, timed task) and a formatter for
// the lines whose content is built first and then logged as "%d,%d,'%s'".
#pragma once

#include <string>

namespace chronrun {

inline constexpr int kLogSystem = 1;
inline constexpr int kLogRun = 2;
inline constexpr int kLogFailure = 3;
inline constexpr int kLogTimedTask = 7;

// printf-style formatting into a string of any length.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace chronrun
