// LocalMutex: a plain re-entrant lock.
#pragma once

#include <mutex>

#include "diskkit/diskkit_export.h"

class DISKKIT_EXPORT LocalMutex {
public:
    LocalMutex();
    ~LocalMutex();
    LocalMutex(const LocalMutex&) = delete;
    LocalMutex& operator=(const LocalMutex&) = delete;

    // Enters the lock, waiting for another thread to leave it; the owning thread may enter
    // again and must leave as often as it entered.
    void Lock();
    void Unlock();
    // Non-zero when the lock was entered without waiting.
    int trylock();

    // The standard lockable names, so std::lock_guard / std::unique_lock work on it.
    void lock() { Lock(); }
    void unlock() { Unlock(); }
    bool try_lock() { return trylock() != 0; }

private:
    std::recursive_mutex m_mutex;
};
