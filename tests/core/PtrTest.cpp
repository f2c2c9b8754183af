#include "core/Ptr.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/PtrRefCounter.h"
#include "core/QuickMutex.h"
#include "core/Token.h"
#include "support/TestNet.h"

using ReferenceCountedSmartPointer::Dynamic_Cast;
using ReferenceCountedSmartPointer::PtrRefCounter;
using testnet::CountingToken;
using testnet::handleCount;

// ---------------------------------------------------------------------------
// Lifetime of the object behind the handles

TEST(PtrLifetime, FreshHandleOwnsObjectWithCountOne) {
    int destroyed = 0;
    {
        Ptr<Token> p(new CountingToken(&destroyed));
        ASSERT_NE(p.GetRefObject(), nullptr);
        EXPECT_EQ(handleCount(p), 1u);
        EXPECT_TRUE(p.GetRefObject()->IsActive());
        EXPECT_FALSE(p.GetRefObject()->ShouldThisObjectBeDeleted());
        EXPECT_FALSE(p == 0);
        EXPECT_TRUE(p != 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(PtrLifetime, CopyKeepsObjectAliveUntilLastHandleGoes) {
    int destroyed = 0;
    auto* first = new Ptr<Token>(new CountingToken(&destroyed));
    Token* raw = first->GetRawPtr();
    Ptr<Token> second(*first);
    EXPECT_EQ(second.GetRawPtr(), raw);
    EXPECT_EQ(second.GetRefObject(), first->GetRefObject());
    EXPECT_EQ(handleCount(second), 2u);

    delete first;
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(handleCount(second), 1u);
    EXPECT_EQ(second->getName(), "counting");

    second.ResetPtr();
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(second == 0);
    EXPECT_EQ(second.GetRawPtr(), nullptr);
    EXPECT_EQ(second.GetRefObject(), nullptr);

    // Releasing an empty handle again changes nothing.
    second.ResetPtr();
    EXPECT_EQ(destroyed, 1);
}

TEST(PtrLifetime, ManyHandlesDestroyObjectExactlyOnce) {
    int destroyed = 0;
    {
        std::vector<Ptr<Token>> handles;
        handles.emplace_back(new CountingToken(&destroyed));
        for (int i = 0; i < 50; ++i) handles.push_back(handles[static_cast<size_t>(i) / 2]);
        EXPECT_EQ(handleCount(handles.front()), 51u);
        while (handles.size() > 1) {
            handles.pop_back();
            EXPECT_EQ(destroyed, 0);
        }
        EXPECT_EQ(handleCount(handles.front()), 1u);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(PtrLifetime, NullRawPointerMakesEmptyHandle) {
    Ptr<Token> fromNull(static_cast<Token*>(nullptr));
    EXPECT_TRUE(fromNull == 0);
    EXPECT_EQ(fromNull.GetRefObject(), nullptr);

    Ptr<Token> defaulted;
    EXPECT_TRUE(defaulted == 0);
    EXPECT_EQ(defaulted.GetRefObject(), nullptr);

    // Copies of an empty handle stay empty.
    Ptr<Token> copy(defaulted);
    EXPECT_TRUE(copy == 0);
    EXPECT_EQ(copy.GetRefObject(), nullptr);
}

TEST(PtrLifetime, RawWithCounterJoinsIt) {
    int destroyed = 0;
    Ptr<Token> owner(new CountingToken(&destroyed));
    {
        Ptr<Token> joined(owner.GetRawPtr(), owner.GetRefObject());
        EXPECT_EQ(joined.GetRefObject(), owner.GetRefObject());
        EXPECT_EQ(handleCount(owner), 2u);
    }
    EXPECT_EQ(handleCount(owner), 1u);
    EXPECT_EQ(destroyed, 0);
}

TEST(PtrLifetime, RawWithoutCounterStartsNewCounter) {
    int destroyed = 0;
    {
        Ptr<Token> p(new CountingToken(&destroyed), nullptr);
        ASSERT_NE(p.GetRefObject(), nullptr);
        EXPECT_EQ(handleCount(p), 1u);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(PtrLifetime, NullRawWithCounterIsEmptyAndLeavesCounterAlone) {
    Ptr<Token> owner(new Token_int(1));
    Ptr<Token> p(static_cast<Token*>(nullptr), owner.GetRefObject());
    EXPECT_TRUE(p == 0);
    EXPECT_EQ(p.GetRefObject(), nullptr);
    EXPECT_EQ(handleCount(owner), 1u);
}

// ---------------------------------------------------------------------------
// Assignment

TEST(PtrAssign, SelfAssignmentLeavesCountUnchanged) {
    int destroyed = 0;
    Ptr<Token> p(new CountingToken(&destroyed));
    Ptr<Token>& alias = p;
    p = alias;
    EXPECT_EQ(handleCount(p), 1u);
    EXPECT_EQ(destroyed, 0);
    EXPECT_NE(p.GetRawPtr(), nullptr);
}

TEST(PtrAssign, AssigningAnotherHandleOfSameObjectLeavesCountUnchanged) {
    int destroyed = 0;
    Ptr<Token> a(new CountingToken(&destroyed));
    Ptr<Token> b(a);
    a = b;
    b = a;
    EXPECT_EQ(handleCount(a), 2u);
    EXPECT_EQ(destroyed, 0);
}

TEST(PtrAssign, AssigningOtherObjectReleasesOldAndJoinsNew) {
    int oldDestroyed = 0;
    int newDestroyed = 0;
    Ptr<Token> target(new CountingToken(&oldDestroyed));
    Ptr<Token> source(new CountingToken(&newDestroyed));
    target = source;
    EXPECT_EQ(oldDestroyed, 1);
    EXPECT_EQ(target.GetRawPtr(), source.GetRawPtr());
    EXPECT_EQ(handleCount(source), 2u);

    source.ResetPtr();
    EXPECT_EQ(newDestroyed, 0);
    target.ResetPtr();
    EXPECT_EQ(newDestroyed, 1);
}

TEST(PtrAssign, AssigningFromSharedObjectKeepsOldObjectForItsOtherHandles) {
    int destroyed = 0;
    Ptr<Token> a(new CountingToken(&destroyed));
    Ptr<Token> keep(a);
    a = Ptr<Token>(new Token_int(3));
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(handleCount(keep), 1u);
    EXPECT_EQ(handleCount(a), 1u);
}

TEST(PtrAssign, AssigningEmptyHandleReleases) {
    int destroyed = 0;
    Ptr<Token> p(new CountingToken(&destroyed));
    p = Ptr<Token>();
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(p == 0);
    EXPECT_EQ(p.GetRefObject(), nullptr);
}

TEST(PtrAssign, AssigningRawPointerReleasesOldAndTakesOwnershipAfresh) {
    int first = 0;
    int second = 0;
    Ptr<Token> p(new CountingToken(&first));
    Ptr<Token> other(p);
    PtrRefCounter* oldCounter = p.GetRefObject();
    p = new CountingToken(&second);
    EXPECT_EQ(first, 0);  // `other` still holds it
    EXPECT_NE(p.GetRefObject(), oldCounter);
    EXPECT_EQ(handleCount(p), 1u);
    EXPECT_EQ(handleCount(other), 1u);

    p = static_cast<Token*>(nullptr);
    EXPECT_EQ(second, 1);
    EXPECT_TRUE(p == 0);
}

// ---------------------------------------------------------------------------
// Colours: conversion, identity and down-casting

TEST(PtrColour, ConvertingToBaseHandleJoinsTheCounter) {
    Ptr<Token_int> typed(new Token_int(5));
    Ptr<Token> base(typed);
    EXPECT_EQ(base.GetRefObject(), typed.GetRefObject());
    EXPECT_EQ(handleCount(typed), 2u);

    Ptr<Token> assigned;
    assigned = typed;
    EXPECT_EQ(handleCount(typed), 3u);
    EXPECT_TRUE(assigned == typed);
    EXPECT_EQ(assigned->content(), "5");
    // Assigning another handle of the same object changes nothing.
    assigned = typed;
    base = typed;
    EXPECT_EQ(handleCount(typed), 3u);
}

TEST(PtrColour, EqualityIsIdentityNotTokenEquality) {
    Ptr<Token_int> original(new Token_int(1));
    Ptr<Token> copy(new Token_int(*original, false));
    // Equal tokens (same identifier) ...
    EXPECT_TRUE(*copy == *original);
    // ... behind different handles.
    EXPECT_FALSE(copy == original);
    EXPECT_TRUE(copy != original);

    Ptr<Token> sameObject(original);
    EXPECT_TRUE(sameObject == original);
    EXPECT_FALSE(sameObject != original);

    Ptr<Token> empty1;
    Ptr<Token> empty2;
    EXPECT_TRUE(empty1 == empty2);
}

TEST(PtrColour, DynamicCastToOtherColourIsEmptyAndLeavesCountUnchanged) {
    int destroyed = 0;
    Ptr<Token> p(new CountingToken(&destroyed));
    Ptr<Token_int> cast = Dynamic_Cast<Token_int>(p);
    EXPECT_TRUE(cast == 0);
    EXPECT_EQ(cast.GetRefObject(), nullptr);
    EXPECT_EQ(handleCount(p), 1u);

    Ptr<Token> empty;
    EXPECT_TRUE(Dynamic_Cast<Token_int>(empty) == 0);
}

TEST(PtrColour, DynamicCastToRightColourSharesCounterAndKeepsTokenAlive) {
    auto* base = new Ptr<Token>(new Token_int(17));
    Ptr<Token_int> typed = Dynamic_Cast<Token_int>(*base);
    ASSERT_FALSE(typed == 0);
    EXPECT_EQ(typed.GetRefObject(), base->GetRefObject());
    EXPECT_EQ(handleCount(typed), 2u);

    const long alive = Token::concTokenCounter;
    delete base;
    EXPECT_EQ(Token::concTokenCounter, alive);
    EXPECT_EQ(handleCount(typed), 1u);
    EXPECT_EQ(typed->getValue(), 17);

    typed.ResetPtr();
    EXPECT_EQ(Token::concTokenCounter, alive - 1);
}

TEST(PtrColour, DerivedHandleReleasingLastReferenceDestroysOnce) {
    int destroyed = 0;
    Ptr<CountingToken> typed;
    {
        Ptr<Token> base(new CountingToken(&destroyed));
        typed = Dynamic_Cast<CountingToken>(base);
        ASSERT_FALSE(typed == 0);
    }
    EXPECT_EQ(destroyed, 0);
    typed.ResetPtr();
    EXPECT_EQ(destroyed, 1);
}

// ---------------------------------------------------------------------------
// The shared counter

TEST(PtrRefCounter, ActiveCountingAndResults) {
    PtrRefCounter c;
    EXPECT_TRUE(c.IsActive());
    EXPECT_EQ(c.activeCount(), 1u);
    EXPECT_TRUE(c.AddActiveRef());
    EXPECT_EQ(c.activeCount(), 2u);
    EXPECT_EQ(c.SubtractActiveRef(), 0);
    EXPECT_FALSE(c.ShouldThisObjectBeDeleted());
    EXPECT_EQ(c.SubtractActiveRef(), 22);
    EXPECT_FALSE(c.IsActive());
    EXPECT_TRUE(c.ShouldThisObjectBeDeleted());
    // A gone object cannot be joined again.
    EXPECT_FALSE(c.AddActiveRef());
    EXPECT_EQ(c.activeCount(), 0u);
}

TEST(PtrRefCounter, InactiveReferenceKeepsCounterButNotObject) {
    PtrRefCounter c;
    c.AddInactiveRef();
    EXPECT_EQ(c.SubtractActiveRef(), -1);
    EXPECT_FALSE(c.IsActive());
    EXPECT_FALSE(c.ShouldThisObjectBeDeleted());
    EXPECT_TRUE(c.SubtractInactiveRef());
    EXPECT_TRUE(c.ShouldThisObjectBeDeleted());
}

TEST(PtrRefCounter, ReleaseWithInactiveReferenceDeletesObjectKeepsCounter) {
    int destroyed = 0;
    Ptr<Token> p(new CountingToken(&destroyed));
    PtrRefCounter* counter = p.GetRefObject();
    counter->AddInactiveRef();
    p.ResetPtr();
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(p == 0);
    // The counter is still there (it is ours to delete now) and inactive, so
    // a handle trying to join it for another object comes out empty.
    EXPECT_FALSE(counter->IsActive());
    int otherDestroyed = 0;
    auto* other = new CountingToken(&otherDestroyed);
    Ptr<Token> late(other, counter);
    EXPECT_TRUE(late == 0);
    EXPECT_EQ(late.GetRefObject(), nullptr);
    EXPECT_TRUE(counter->SubtractInactiveRef());
    delete counter;
    delete other;
    EXPECT_EQ(otherDestroyed, 1);
}

TEST(PtrRefCounter, ConcurrentCopiesAndReleasesKeepCountExact) {
    int destroyed = 0;
    Ptr<Token> shared(new CountingToken(&destroyed));
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&shared] {
            for (int i = 0; i < 20000; ++i) {
                Ptr<Token> copy(shared);
                Ptr<Token> again;
                again = copy;
            }
        });
    }
    for (auto& t : workers) t.join();
    EXPECT_EQ(handleCount(shared), 1u);
    EXPECT_EQ(destroyed, 0);
    shared.ResetPtr();
    EXPECT_EQ(destroyed, 1);
}

TEST(PtrQuickMutex, LockStateAndReentry) {
    ThreadSafe::QuickMutex m;
    EXPECT_FALSE(m.IsLocked());
    m.Lock();
    EXPECT_TRUE(m.IsLocked());
    // The holder may enter again without blocking itself.
    m.Lock();
    EXPECT_TRUE(m.IsLocked());
    m.Unlock();
    m.Unlock();
    EXPECT_FALSE(m.IsLocked());

    // Released completely: another thread can take it.
    bool taken = false;
    std::thread other([&] {
        m.Lock();
        taken = true;
        m.Unlock();
    });
    other.join();
    EXPECT_TRUE(taken);
}

// ---------------------------------------------------------------------------
// Programming errors stop the process with the failing expression and file

TEST(PtrDeathTest, DereferencingEmptyHandleAsserts) {
    Ptr<Token> empty;
    EXPECT_DEATH((void)empty->getID(), "m_pRawPtr != 0.*SmartPointers/Ptr");
    EXPECT_DEATH((void)(*empty).getID(), "m_pRawPtr != 0.*SmartPointers/Ptr");
}

TEST(PtrDeathTest, ComparingWithNonZeroIntegerAsserts) {
    Ptr<Token> p(new Token_int(1));
    EXPECT_DEATH((void)(p == 1), "iShouldBeNull == 0.*SmartPointers/Ptr");
}

TEST(PtrDeathTest, LoweringZeroCountAsserts) {
    PtrRefCounter c;
    ASSERT_EQ(c.SubtractActiveRef(), 22);
    EXPECT_DEATH((void)c.SubtractActiveRef(), "m_uActiveCount > 0.*SmartPointers/PtrRefCounter");
}
