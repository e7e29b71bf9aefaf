// The log store's own trouble cannot go into the log, so it goes to stderr and the operator.
#include "log_report.h"

#include <cstdio>

#include "log_tap_call.h"
#include "platform/prompt.h"

namespace logbase {

void tellLogProblem(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "vantrel: cannot write the event log %s: %s\n", path.c_str(),
                 reason.c_str());
    tapTrouble("日志无法写入: " + path + ": " + reason);
    // Called on the writer thread too: the program may be clearing and destroying its prompt
    // at this moment, and waits for this call to end before it does.
    platform::showDefaultPrompt("日志无法写入: " + path + "\n" + reason, {},
                                platform::PromptIcon::Error);
}

}  // namespace logbase
