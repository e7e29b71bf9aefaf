// Log lines of repeated refusals: one line, then counts.
#include "logbase/repeat_limiter.h"

#include <vector>

#include "logbase/logbase.h"

namespace logbase {

namespace {

constexpr const char* kCatchAllKey = "";

void write(int type, int subType, const std::string& text) {
    logEvent(type, subType, text);
}

}  // namespace

RepeatLimiter::RepeatLimiter(std::chrono::milliseconds period, Clock clock)
    : m_period(period),
      m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); }) {}

RepeatLimiter::Line RepeatLimiter::countLine(Entry& entry,
                                             std::chrono::steady_clock::time_point now) {
    Line line{entry.type, entry.subType,
              entry.content + "(重复" + std::to_string(entry.repeats) + "次)"};
    entry.repeats = 0;
    entry.lastLine = now;
    return line;
}

void RepeatLimiter::trimLocked(std::chrono::steady_clock::time_point now) {
    std::erase_if(m_entries, [&](const auto& item) {
        return item.second.repeats == 0 && now - item.second.lastLine >= m_period;
    });
}

void RepeatLimiter::log(int type, int subType, const std::string& key, const std::string& content) {
    std::vector<Line> lines;
    {
        std::lock_guard guard(m_lock);
        const auto now = m_clock();
        if (m_entries.size() >= kMaxKeys && m_entries.count(key) == 0) trimLocked(now);
        const std::string& slot =
            m_entries.size() >= kMaxKeys && m_entries.count(key) == 0 ? kCatchAllKey : key;
        auto [it, added] = m_entries.try_emplace(slot);
        Entry& entry = it->second;
        entry.type = type;
        entry.subType = subType;
        entry.content = content;
        if (added || now - entry.lastLine >= m_period) {
            if (entry.repeats > 0) {
                ++entry.repeats;  // this one is told in the count
                lines.push_back(countLine(entry, now));
            } else {
                entry.lastLine = now;
                lines.push_back({type, subType, content});
            }
        } else {
            ++entry.repeats;
        }
    }
    for (const Line& line : lines) write(line.type, line.subType, line.text);
}

void RepeatLimiter::flush(bool all) {
    std::vector<Line> lines;
    {
        std::lock_guard guard(m_lock);
        const auto now = m_clock();
        for (auto& [key, entry] : m_entries) {
            if (entry.repeats > 0 && (all || now - entry.lastLine >= m_period)) {
                lines.push_back(countLine(entry, now));
            }
        }
    }
    for (const Line& line : lines) write(line.type, line.subType, line.text);
}

}  // namespace logbase
