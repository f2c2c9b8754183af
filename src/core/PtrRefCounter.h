#pragma once
// The counter shared by all handles to one object.
#include "core/QuickMutex.h"
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

    bool IsActive() const { return m_uActiveCount != 0; }

    bool AddActiveRef() {
        m_pMutex.Lock();
        const bool active = m_uActiveCount != 0;
        if (active) ++m_uActiveCount;
        m_pMutex.Unlock();
        return active;
    }

    int SubtractActiveRef() {
        SCPN_ASSERT(m_uActiveCount > 0, "SmartPointers/PtrRefCounter");
        m_pMutex.Lock();
        --m_uActiveCount;
        int result = kKeep;
        if (m_uActiveCount == 0) result = m_uInactiveCount == 0 ? kDeleteObjectAndCounter : kDeleteObject;
        m_pMutex.Unlock();
        return result;
    }

    // Non-owning references; kept for completeness, nothing takes one.
    void AddInactiveRef() {
        m_pMutex.Lock();
        ++m_uInactiveCount;
        m_pMutex.Unlock();
    }
    bool SubtractInactiveRef() {
        m_pMutex.Lock();
        if (m_uInactiveCount > 0) --m_uInactiveCount;
        const bool gone = ShouldThisObjectBeDeleted();
        m_pMutex.Unlock();
        return gone;
    }

    bool ShouldThisObjectBeDeleted() const { return m_uActiveCount == 0 && m_uInactiveCount == 0; }

    unsigned long activeCount() const { return m_uActiveCount; }

private:
    unsigned long m_uActiveCount;
    unsigned long m_uInactiveCount;
    ThreadSafe::QuickMutex m_pMutex;
};

}  // namespace ReferenceCountedSmartPointer
