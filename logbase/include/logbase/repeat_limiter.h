// Refusals that a peer can repeat by the thousand (bad commands, busy groups) go into the log
// as one line, then as a count at most once per period, so nobody can flood the log.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "logbase/logbase_export.h"

namespace logbase {

class LOGBASE_EXPORT RepeatLimiter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Keys remembered at most; past that, keys with nothing left to say are forgotten, and a
    // key that still cannot be kept shares the line of the catch-all key.
    static constexpr std::size_t kMaxKeys = 256;

    // `clock` null: the steady clock.
    explicit RepeatLimiter(std::chrono::milliseconds period = std::chrono::seconds(10),
                           Clock clock = {});

    // The first `key` of a period logs `content` (type, sub-type); the repeats within the
    // period are counted, and the next line of that key says "<content>(重复N次)" with the
    // newest content. Safe from any thread; logs with no lock held.
    void log(int type, int subType, const std::string& key, const std::string& content);
    // Logs the counts whose period has passed (every count with `all`): a burst that stopped
    // is not left untold.
    void flush(bool all = false);

private:
    struct Entry {
        int type = 0;
        int subType = 0;
        std::string content;  // the newest
        std::chrono::steady_clock::time_point lastLine{};
        std::size_t repeats = 0;  // since the last line
    };
    struct Line {
        int type;
        int subType;
        std::string text;
    };
    static Line countLine(Entry& entry, std::chrono::steady_clock::time_point now);
    void trimLocked(std::chrono::steady_clock::time_point now);

    const std::chrono::milliseconds m_period;
    const Clock m_clock;
    std::mutex m_lock;
    std::map<std::string, Entry> m_entries;
};

}  // namespace logbase
