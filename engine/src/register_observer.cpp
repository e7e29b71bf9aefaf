// The registration observer: calls run outside the lock that guards the observer itself, and
// a replacement waits for calls in progress so the old observer's owner may go away after it.
#include "consolecore/register_observer.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace consolecore {
namespace {

struct Slot {
    std::mutex mutex;
    std::condition_variable idle;
    std::shared_ptr<RegisterObserver> observer;
    int calls = 0;
};

Slot& slot() {
    static Slot instance;
    return instance;
}

}  // namespace

void setRegisterObserver(RegisterObserver observer) {
    Slot& s = slot();
    std::unique_lock lock(s.mutex);
    s.observer = observer ? std::make_shared<RegisterObserver>(std::move(observer)) : nullptr;
    s.idle.wait(lock, [&] { return s.calls == 0; });
}

void notifyDeviceRegistered(std::uint16_t deviceId) {
    Slot& s = slot();
    std::shared_ptr<RegisterObserver> observer;
    {
        std::lock_guard lock(s.mutex);
        if (!s.observer) return;
        observer = s.observer;
        ++s.calls;
    }
    (*observer)(deviceId);
    {
        std::lock_guard lock(s.mutex);
        --s.calls;
    }
    s.idle.notify_all();
}

}  // namespace consolecore
