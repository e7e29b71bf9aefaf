// Test doubles for the console core: a message queue standing in for the main window, a
// recording prompt, and reading back the real log store.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "logbase/logbase.h"
#include "platform/message_target.h"
#include "platform/prompt.h"
#include "testkit/recording_prompt.h"

namespace coretest {

struct PostedMessage {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool operator==(const PostedMessage&) const = default;
};

// Drops every message (a channel whose device events no test looks at).
class IgnoredMessages : public platform::MessageTarget {
public:
    void post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
};

// Collects posted messages; the test thread takes them out in order.
class MessageQueue : public platform::MessageTarget {
public:
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        {
            std::lock_guard lock(m_mutex);
            m_messages.push_back({message, wParam, lParam});
        }
        m_cv.notify_all();
    }
    // The next message, waiting up to `timeout` for it.
    std::optional<PostedMessage> next(
        std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait_for(lock, timeout, [&] { return !m_messages.empty(); })) return std::nullopt;
        auto m = m_messages.front();
        m_messages.pop_front();
        return m;
    }
    std::vector<PostedMessage> drain() {
        std::lock_guard lock(m_mutex);
        std::vector<PostedMessage> all(m_messages.begin(), m_messages.end());
        m_messages.clear();
        return all;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<PostedMessage> m_messages;
};

using RecordingPrompt = testkit::RecordingPrompt;

struct LogRow {
    int type;
    int subType;
    std::string content;
    bool operator==(const LogRow&) const = default;
};

// Every row of the Log table, oldest first (the store flushes its queue before a query).
inline std::vector<LogRow> readLog() {
    std::vector<LogRow> rows;
    LogObLockLogbase();
    auto statement =
        LogObQueryStatement("SELECT LogType, LogChildType, LogContent FROM Log ORDER BY rowid");
    LogObUnlockLogbase();
    if (!statement) return rows;
    while (statement->NextRow()) {
        rows.push_back({std::stoi(statement->ValueUtf8(0)), std::stoi(statement->ValueUtf8(1)),
                        statement->ValueUtf8(2)});
    }
    return rows;
}

inline int countLog(const LogRow& wanted) {
    int n = 0;
    for (const auto& row : readLog()) n += row == wanted;
    return n;
}

}  // namespace coretest
