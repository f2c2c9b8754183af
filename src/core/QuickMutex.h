#pragma once
// The mutex guarding a token handle's shared counter: process-local and
// re-entrant, so the thread that holds it may take it again.
#include <mutex>

namespace ThreadSafe {

class QuickMutex {
public:
    QuickMutex() : m_bLocked(false) {}
    ~QuickMutex() = default;
    QuickMutex(const QuickMutex&) = delete;
    QuickMutex& operator=(const QuickMutex&) = delete;

    void Lock() {
        m_CriticalSection.lock();
        m_bLocked = true;
    }
    void Unlock() {
        m_bLocked = false;
        m_CriticalSection.unlock();
    }
    bool IsLocked() const { return m_bLocked; }

private:
    std::recursive_mutex m_CriticalSection;
    bool m_bLocked;
};

}  // namespace ThreadSafe
