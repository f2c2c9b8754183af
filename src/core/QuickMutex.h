#pragma once
// The mutex guarding a token handle's shared counter: process-local and
// re-entrant, so the thread that holds it may take it again.
//
// Every copy and release of a token handle takes it, so its uncontended path
// must be cheap: taking it is one compare-and-swap on the owner, and a thread
// that already owns it only counts the nesting. A contended lock yields
// until the owner lets go (handles are held for a few instructions only).
#include <atomic>
#include <thread>

namespace ThreadSafe {

class QuickMutex {
public:
    QuickMutex() : m_owner(std::thread::id()), m_depth(0), m_bLocked(false) {}
    ~QuickMutex() = default;
    QuickMutex(const QuickMutex&) = delete;
    QuickMutex& operator=(const QuickMutex&) = delete;

    void Lock() {
        const std::thread::id me = std::this_thread::get_id();
        if (m_owner.load(std::memory_order_relaxed) != me) {
            std::thread::id free;
            while (!m_owner.compare_exchange_weak(free, me, std::memory_order_acquire,
                                                  std::memory_order_relaxed)) {
                free = std::thread::id();
                std::this_thread::yield();
            }
        }
        ++m_depth;
        m_bLocked = true;
    }

    void Unlock() {
        m_bLocked = false;
        if (--m_depth == 0) m_owner.store(std::thread::id(), std::memory_order_release);
    }

    bool IsLocked() const { return m_bLocked; }

private:
    std::atomic<std::thread::id> m_owner;  // the holding thread, or none
    unsigned m_depth;                      // nesting of the owner's locks
    bool m_bLocked;
};

}  // namespace ThreadSafe
