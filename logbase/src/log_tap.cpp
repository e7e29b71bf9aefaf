// The one log listener, copied out under a lock and called without it.
#include "logbase/log_tap.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "log_tap_call.h"

namespace {

std::mutex& tapMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}
std::shared_ptr<const LogTap>& currentTap() {
    static auto* tap = new std::shared_ptr<const LogTap>();
    return *tap;
}
// Most processes have no listener: their lines skip the lock.
std::atomic<bool> g_tapSet{false};

std::shared_ptr<const LogTap> tap() {
    if (!g_tapSet.load(std::memory_order_acquire)) return nullptr;
    std::lock_guard lock(tapMutex());
    return currentTap();
}

}  // namespace

void SetLogTap(LogTap tap) {
    auto next =
        (tap.line || tap.trouble) ? std::make_shared<const LogTap>(std::move(tap)) : nullptr;
    std::shared_ptr<const LogTap> previous;
    {
        std::lock_guard lock(tapMutex());
        previous = std::move(currentTap());
        currentTap() = std::move(next);
        g_tapSet.store(currentTap() != nullptr, std::memory_order_release);
    }
}

namespace logbase {

void tapLine(int type, int subType, std::string_view content) {
    if (const auto listener = tap(); listener && listener->line) {
        listener->line(type, subType, content);
    }
}

void tapTrouble(std::string_view problem) {
    if (const auto listener = tap(); listener && listener->trouble) listener->trouble(problem);
}

}  // namespace logbase
