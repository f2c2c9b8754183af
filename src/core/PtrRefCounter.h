#pragma once
// The counter shared by all handles to one object.
#include <atomic>

#include "platform/Assert.h"

namespace ReferenceCountedSmartPointer {

class PtrRefCounter {
public:
    // Results of SubtractActiveRef.
    static constexpr int kKeep = 0;
    static constexpr int kDeleteObject = -1;
    static constexpr int kDeleteObjectAndCounter = 22;

    PtrRefCounter() : m_uActiveCount(1), m_uInactiveCount(0) {}
    PtrRefCounter(const PtrRefCounter&) = delete;
    PtrRefCounter& operator=(const PtrRefCounter&) = delete;

    bool IsActive() const { return m_uActiveCount.load(std::memory_order_relaxed) != 0; }

    // Every copy and release of a token handle counts here, so the counts
    // are atomic (safe from any thread) rather than guarded by a lock.
    bool AddActiveRef() {
        unsigned long count = m_uActiveCount.load(std::memory_order_relaxed);
        while (count != 0)
            if (m_uActiveCount.compare_exchange_weak(count, count + 1, std::memory_order_relaxed)) return true;
        return false;  // the object is gone: nothing may join it
    }

    int SubtractActiveRef() {
        SCPN_ASSERT(m_uActiveCount > 0, "SmartPointers/PtrRefCounter");
        if (m_uActiveCount.fetch_sub(1, std::memory_order_acq_rel) != 1) return kKeep;
        return m_uInactiveCount.load(std::memory_order_acquire) == 0 ? kDeleteObjectAndCounter : kDeleteObject;
    }

    // Non-owning references; kept for completeness, nothing takes one.
    void AddInactiveRef() { m_uInactiveCount.fetch_add(1, std::memory_order_relaxed); }
    bool SubtractInactiveRef() {
        unsigned long count = m_uInactiveCount.load(std::memory_order_relaxed);
        while (count > 0 && !m_uInactiveCount.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel)) {
        }
        return ShouldThisObjectBeDeleted();
    }

    bool ShouldThisObjectBeDeleted() const {
        return m_uActiveCount.load(std::memory_order_acquire) == 0 && m_uInactiveCount.load(std::memory_order_acquire) == 0;
    }

    unsigned long activeCount() const { return m_uActiveCount.load(std::memory_order_relaxed); }

private:
    std::atomic<unsigned long> m_uActiveCount;
    std::atomic<unsigned long> m_uInactiveCount;
};

}  // namespace ReferenceCountedSmartPointer
