// LocalMutex over std::recursive_mutex.
#include "diskkit/local_mutex.h"

LocalMutex::LocalMutex() = default;
LocalMutex::~LocalMutex() = default;

void LocalMutex::Lock() {
    m_mutex.lock();
}
void LocalMutex::Unlock() {
    m_mutex.unlock();
}
int LocalMutex::trylock() {
    return m_mutex.try_lock() ? 1 : 0;
}
