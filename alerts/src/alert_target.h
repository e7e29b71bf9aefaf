// A place an alert is delivered to: a webhook or a command.
#pragma once

#include <chrono>
#include <string>

namespace alerts {

class AlertTarget {
public:
    virtual ~AlertTarget() = default;
    // Delivers one JSON document; true when the receiver took it. Waits at most `timeout`.
    // Runs on the delivery thread only. `why` says what failed.
    virtual bool deliver(const std::string& json, std::chrono::milliseconds timeout,
                         std::string& why) = 0;
    // From any thread: the delivery in progress, and every later one, fails at once.
    virtual void abort() = 0;
    // "webhook" or "command", for log lines.
    virtual const char* kind() const = 0;
};

}  // namespace alerts
