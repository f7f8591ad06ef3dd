#pragma once

#include <mutex>

namespace vidrune {

// A process-local lock. Every hold covers a short read or write of one or two fields.
class MirelLock
{
public:
    MirelLock() = default;
    MirelLock(const MirelLock &) = delete;
    MirelLock &operator=(const MirelLock &) = delete;

    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

private:
    std::mutex m_mutex;
};

// Holds a MirelLock for the lifetime of a scope.
class MirelLockHolder
{
public:
    explicit MirelLockHolder(MirelLock &lock) : m_lock(lock) { m_lock.Lock(); }
    ~MirelLockHolder() { m_lock.Unlock(); }
    MirelLockHolder(const MirelLockHolder &) = delete;
    MirelLockHolder &operator=(const MirelLockHolder &) = delete;

private:
    MirelLock &m_lock;
};

} // namespace vidrune
