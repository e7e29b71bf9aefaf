// Alerts handed to a program on its standard input, run without a shell.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

#include "alert_target.h"

namespace alerts {

class CommandTarget final : public AlertTarget {
public:
    explicit CommandTarget(std::vector<std::string> argv);
    // One run of the program per alert; exit status 0 within the time-out is a delivery.
    // A program still running at the time-out is killed.
    bool deliver(const std::string& json, std::chrono::milliseconds timeout,
                 std::string& why) override;
    void abort() override;
    const char* kind() const override { return "command"; }

private:
    std::vector<std::string> m_argv;
    std::mutex m_mutex;
    pid_t m_child = -1;  // the run in progress, under m_mutex
    bool m_aborted = false;
};

}  // namespace alerts
