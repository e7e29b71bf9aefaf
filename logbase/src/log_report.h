// Telling the operator that the event log cannot be written.
#pragma once

#include <string>

namespace logbase {

// One line on stderr and one message box (the process-wide prompt, when the program set one),
// both naming the database file and the reason.
void tellLogProblem(const std::string& path, const std::string& reason);

}  // namespace logbase
