// The runner's default clock: the system's local time, pauses as asked.
#include <ctime>

#include "chronrun/chronrun_options.h"

ChronrunClock::~ChronrunClock() = default;

std::chrono::nanoseconds ChronrunClock::realPause(std::chrono::milliseconds delay) {
    return delay;
}

namespace {

class SystemClock final : public ChronrunClock {
public:
    ChronrunLocalTime localNow() override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return ChronrunLocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                 local.tm_wday,        local.tm_hour,    local.tm_min,
                                 local.tm_sec};
    }
};

}  // namespace

std::shared_ptr<ChronrunClock> SystemChronrunClock() {
    static const auto clock = std::make_shared<SystemClock>();
    return clock;
}
