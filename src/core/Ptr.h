#pragma once
// The reference-counted handle through which tokens are held everywhere.
// An object is wrapped once (Ptr(T*)); every further handle is a copy and
// shares the first handle's counter. The object dies with its last handle.
#include <type_traits>
#include <typeinfo>

#include "core/PtrRefCounter.h"

namespace PtrExceptions {
class DereferencedNULL {};
}  // namespace PtrExceptions

namespace ReferenceCountedSmartPointer {

template <class T>
class Ptr {
public:
    Ptr() : m_pRawPtr(nullptr), m_pRefCount(nullptr) {}

    // Takes ownership of a freshly created object.
    Ptr(T* raw) : m_pRawPtr(raw), m_pRefCount(raw ? new PtrRefCounter() : nullptr) {}

    // Joins an existing counter; without one, starts a new one.
    Ptr(T* raw, PtrRefCounter* counter) : m_pRawPtr(nullptr), m_pRefCount(nullptr) {
        if (raw == nullptr) return;
        m_pRawPtr = raw;
        if (counter != nullptr) {
            m_pRefCount = counter;
            AdjustRefCount();
        } else {
            m_pRefCount = new PtrRefCounter();
        }
    }

    Ptr(const Ptr<T>& other) : m_pRawPtr(other.m_pRawPtr), m_pRefCount(other.m_pRefCount) {
        AdjustRefCount();
    }

    // A moved handle hands its reference over; the source is left empty.
    Ptr(Ptr<T>&& other) noexcept : m_pRawPtr(other.m_pRawPtr), m_pRefCount(other.m_pRefCount) {
        other.m_pRawPtr = nullptr;
        other.m_pRefCount = nullptr;
    }

    // A handle of a derived colour converts to a handle of its base.
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ptr(const Ptr<U>& other) : m_pRawPtr(other.GetRawPtr()), m_pRefCount(other.GetRefObject()) {
        AdjustRefCount();
    }

    ~Ptr() { ResetPtr(); }

    Ptr<T>& operator=(const Ptr<T>& other) {
        ReassignSelf(other.m_pRawPtr, other.m_pRefCount);
        return *this;
    }

    Ptr<T>& operator=(Ptr<T>&& other) noexcept {
        if (this != &other) {
            ResetPtr();
            m_pRawPtr = other.m_pRawPtr;
            m_pRefCount = other.m_pRefCount;
            other.m_pRawPtr = nullptr;
            other.m_pRefCount = nullptr;
        }
        return *this;
    }

    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ptr<T>& operator=(const Ptr<U>& other) {
        ReassignSelf(other.GetRawPtr(), other.GetRefObject());
        return *this;
    }

    Ptr<T>& operator=(T* raw) {
        ResetPtr();
        if (raw != nullptr) {
            m_pRawPtr = raw;
            m_pRefCount = new PtrRefCounter();
        }
        return *this;
    }

    T& operator*() const {
        SCPN_ASSERT(m_pRawPtr != 0, "SmartPointers/Ptr");
        return *m_pRawPtr;
    }
    T* operator->() const {
        SCPN_ASSERT(m_pRawPtr != 0, "SmartPointers/Ptr");
        return m_pRawPtr;
    }

    // Tests against 0 only: true when the handle is empty.
    bool operator==(int iShouldBeNull) const {
        SCPN_ASSERT(iShouldBeNull == 0, "SmartPointers/Ptr");
        return m_pRawPtr == nullptr;
    }
    bool operator!=(int iShouldBeNull) const { return !(*this == iShouldBeNull); }

    // Identity of the objects.
    template <class U>
    bool operator==(const Ptr<U>& other) const {
        return static_cast<const void*>(m_pRawPtr) == static_cast<const void*>(other.GetRawPtr());
    }
    template <class U>
    bool operator!=(const Ptr<U>& other) const {
        return !(*this == other);
    }

    T* GetRawPtr() const { return m_pRawPtr; }
    PtrRefCounter* GetRefObject() const { return m_pRefCount; }

    void ResetPtr() {
        // The handle is emptied first, so nothing can reach the object or
        // the counter through it once they may be gone.
        T* raw = m_pRawPtr;
        PtrRefCounter* counter = m_pRefCount;
        m_pRawPtr = nullptr;
        m_pRefCount = nullptr;
        if (counter == nullptr) return;
        const int result = counter->SubtractActiveRef();
        if (result != PtrRefCounter::kKeep) delete raw;
        if (result == PtrRefCounter::kDeleteObjectAndCounter) delete counter;
    }

private:
    void AdjustRefCount() {
        if (m_pRefCount != nullptr && !m_pRefCount->AddActiveRef()) {
            m_pRawPtr = nullptr;
            m_pRefCount = nullptr;
        }
    }

    void ReassignSelf(T* raw, PtrRefCounter* counter) {
        if (counter == m_pRefCount) return;
        ResetPtr();
        m_pRawPtr = raw;
        m_pRefCount = counter;
        AdjustRefCount();
    }

    T* m_pRawPtr;
    PtrRefCounter* m_pRefCount;
};

// The object as a T, or null when it is not one. A class that cannot be
// derived from is recognised by its exact type, which is much cheaper than
// a general dynamic_cast and gives the same answer.
template <class T, class U>
T* checkedCast(U* raw) {
    if constexpr (std::is_final_v<T> && std::is_polymorphic_v<U>) {
        if (raw == nullptr || typeid(*raw) != typeid(T)) return nullptr;
        return static_cast<T*>(raw);
    } else {
        return dynamic_cast<T*>(raw);
    }
}

// Run-time typed down-cast; the result shares the source's counter, or is
// empty when the object is not a T.
template <class T, class U>
Ptr<T> Dynamic_Cast(const Ptr<U>& p) {
    T* raw = checkedCast<T>(p.GetRawPtr());
    if (raw == nullptr) return Ptr<T>();
    return Ptr<T>(raw, p.GetRefObject());
}

// True when the handle holds an object of class T, without making a handle.
template <class T, class U>
bool hasColour(const Ptr<U>& p) {
    return checkedCast<T>(p.GetRawPtr()) != nullptr;
}

}  // namespace ReferenceCountedSmartPointer
