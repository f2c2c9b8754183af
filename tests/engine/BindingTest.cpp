#include "engine/Binding.h"

#include <gtest/gtest.h>

#include <cmath>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/Place.h"
#include "support/TestNet.h"

using testnet::CountingToken;
using testnet::handleCount;
using testnet::intToken;
using testnet::TestNet;
using testnet::TestTransition;

namespace {

std::string text(const Binding& b) {
    std::ostringstream s;
    s << b;
    return s.str();
}

TokenList* listOf(std::initializer_list<Ptr<Token>> tokens) { return new TokenList(tokens); }

// A binding restored with every field given, so that the order can be
// checked without any transition.
Binding* restored(long id, double time, int priority) {
    return new Binding(id, nullptr, DateTime(time), priority, 1.0, true, nullptr);
}

struct BindingFixture : ::testing::Test {
    TestNet net;
    TestTransition* transition(const char* name, int priority = 0, double weight = 1.0) {
        TestTransition::Options o;
        o.priority = priority;
        o.weight = weight;
        auto* t = new TestTransition(static_cast<int>(net.getTransitions().size()) + 1, name, &net, o);
        net.addTransition(t);
        return t;
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// Event order

TEST(BindingOrder, EarlierTimeFirstWhateverThePriority) {
    Binding early(1, nullptr, DateTime(5.0), 0, 1.0, true, nullptr);
    Binding late(0, nullptr, DateTime(5.000001), 9, 1.0, true, nullptr);
    EXPECT_TRUE(early < late);
    EXPECT_FALSE(late < early);
}

TEST(BindingOrder, AtEqualTimesHigherPriorityFirstWhateverTheIdentifier) {
    Binding high(100, nullptr, DateTime(5.0), 1, 1.0, true, nullptr);
    Binding low(1, nullptr, DateTime(5.0), 0, 1.0, true, nullptr);
    EXPECT_TRUE(high < low);
    EXPECT_FALSE(low < high);
    Binding negative(0, nullptr, DateTime(5.0), -3, 1.0, true, nullptr);
    EXPECT_TRUE(low < negative);
}

TEST(BindingOrder, AtEqualTimeAndPriorityOlderBindingFirst) {
    Binding older(3, nullptr, DateTime(5.0), 2, 1.0, true, nullptr);
    Binding newer(4, nullptr, DateTime(5.0), 2, 0.5, false, nullptr);
    EXPECT_TRUE(older < newer);
    EXPECT_FALSE(newer < older);
    EXPECT_FALSE(older < older);
}

TEST(BindingOrder, TimesAreComparedExactly) {
    const double t = 1e9;
    Binding a(2, nullptr, DateTime(t), 0, 1.0, true, nullptr);
    Binding b(1, nullptr, DateTime(t + 1e-6), 0, 1.0, true, nullptr);
    EXPECT_TRUE(a < b);
}

TEST(BindingOrder, EqualityIsByIdentifier) {
    Binding a(7, nullptr, DateTime(1.0), 0, 1.0, true, nullptr);
    Binding sameId(7, nullptr, DateTime(2.0), 3, 2.0, false, nullptr);
    Binding otherId(8, nullptr, DateTime(1.0), 0, 1.0, true, nullptr);
    EXPECT_TRUE(a == sameId);
    EXPECT_FALSE(a == otherId);
}

TEST(BindingOrder, SetOrderedByDerefLessIsTheEventOrder) {
    std::vector<Binding*> all = {restored(5, 2.0, 0), restored(1, 3.0, 5), restored(9, 2.0, 1),
                                 restored(2, 2.0, 0), restored(3, 1.0, -1)};
    std::set<Binding*, DerefLess<Binding*>> events(all.begin(), all.end());
    std::vector<long> ids;
    for (Binding* b : events) ids.push_back(b->getID());
    EXPECT_EQ(ids, (std::vector<long>{3, 9, 2, 5, 1}));
    for (Binding* b : all) delete b;
}

// ---------------------------------------------------------------------------
// Making bindings from a transition

TEST_F(BindingFixture, FiringEventIsDueAfterTheDelay) {
    TestTransition* t = transition("A3_execution", 2, 0.25);
    t->delaySeconds = 2.5;
    Binding b(listOf({intToken(1)}), t, DateTime(100.0));
    EXPECT_EQ(b.getTime(), DateTime(102.5));
    EXPECT_TRUE(b.isFireEvent());
    EXPECT_FALSE(b.isTempBinding());
    EXPECT_EQ(b.getBoundTransition(), t);
    EXPECT_EQ(b.getPriority(), 2);
    EXPECT_DOUBLE_EQ(b.getWeight(), 0.25);
    EXPECT_EQ(t->delayCalls, 1);
    EXPECT_TRUE(t->timeguardQueries.empty());  // no guard: never asked
}

TEST_F(BindingFixture, ANegativeOrUndefinedDelayEndsTheRunInsteadOfMovingTimeBackwards) {
    for (double delay : {-0.5, std::nan("")}) {
        TestTransition* t = transition("Sloppy");
        t->delaySeconds = delay;
        EXPECT_EXIT(Binding(listOf({intToken(1)}), t, DateTime(100.0)), ::testing::ExitedWithCode(1),
                    "ERROR: transition \"Sloppy\" drew the firing delay (-0.5|-?nan) s at model time "
                    "100; a firing delay must be a number of seconds of at least 0")
            << delay;
    }
    // A delay of 0 is an immediate event; an infinite one never comes due.
    TestTransition* t = transition("Edge");
    t->delaySeconds = 0.0;
    EXPECT_EQ(Binding(listOf({intToken(1)}), t, DateTime(7.0)).getTime(), DateTime(7.0));
    t->delaySeconds = HUGE_VAL;
    EXPECT_TRUE(std::isinf(Binding(listOf({intToken(1)}), t, DateTime(7.0)).getTime().FullDateTime()));
}

TEST_F(BindingFixture, DelayIsComputedForTheBoundTokens) {
    TestTransition* t = transition("T");
    Ptr<Token> a = intToken(3);
    Ptr<Token> b = intToken(4);
    std::vector<Token*> seen;
    t->delayFn = [&](TokenList& tokens) {
        for (const Ptr<Token>& p : tokens) seen.push_back(p.GetRawPtr());
        return static_cast<Seconds_T>(tokens.size());
    };
    Binding binding(listOf({a, b}), t, DateTime(10.0));
    EXPECT_EQ(seen, (std::vector<Token*>{a.GetRawPtr(), b.GetRawPtr()}));
    EXPECT_EQ(binding.getTime(), DateTime(12.0));
}

TEST_F(BindingFixture, TimeguardEventAddsTheWaitAskedAtCreationTime) {
    TestTransition* t = transition("Guarded");
    t->timeguardOn = true;
    t->delaySeconds = 1.5;
    t->timeguardSeconds = 30.0;
    Binding b(listOf({intToken(1)}), t, DateTime(200.0));
    EXPECT_FALSE(b.isFireEvent());
    EXPECT_FALSE(b.isTempBinding());
    EXPECT_EQ(b.getTime(), DateTime(231.5));
    EXPECT_EQ(t->timeguardQueries, (std::vector<DateTime>{DateTime(200.0)}));
}

TEST_F(BindingFixture, PriorityAndWeightComeFromTheTransitionsOperations) {
    TestTransition* t = transition("T", 1, 1.0);
    t->reportedPriority = 7;
    t->reportedWeight = 3.5;
    Binding b(listOf({}), t, DateTime(0.0));
    EXPECT_EQ(b.getPriority(), 7);
    EXPECT_DOUBLE_EQ(b.getWeight(), 3.5);
}

TEST_F(BindingFixture, NewBindingsTakeConsecutiveIdentifiers) {
    TestTransition* t = transition("T");
    const long next = Binding::idCounter;
    Binding a(listOf({}), t, DateTime(0.0));
    Binding b(t, DateTime(0.0));
    Binding marker(DateTime(5.0));
    EXPECT_EQ(a.getID(), next);
    EXPECT_EQ(b.getID(), next + 1);
    EXPECT_EQ(marker.getID(), next + 2);
    EXPECT_EQ(Binding::idCounter, next + 3);
}

TEST_F(BindingFixture, RestoringLeavesIdentifierCounterAlone) {
    TestTransition* t = transition("T");
    const long next = Binding::idCounter;
    Binding restoredOne(next + 1000, t, DateTime(3.0), 4, 0.5, false, listOf({intToken(1)}));
    EXPECT_EQ(Binding::idCounter, next);
    EXPECT_EQ(restoredOne.getID(), next + 1000);
    EXPECT_EQ(restoredOne.getBoundTransition(), t);
    EXPECT_EQ(restoredOne.getTime(), DateTime(3.0));
    EXPECT_EQ(restoredOne.getPriority(), 4);
    EXPECT_DOUBLE_EQ(restoredOne.getWeight(), 0.5);
    EXPECT_FALSE(restoredOne.isFireEvent());
    EXPECT_EQ(restoredOne.getBoundTokens()->size(), 1u);
    // The transition was not consulted.
    EXPECT_EQ(t->delayCalls, 0);

    Binding fresh(listOf({}), t, DateTime(0.0));
    EXPECT_EQ(fresh.getID(), next);
}

TEST_F(BindingFixture, UpdateTimeDrawsTheDelayAgain) {
    TestTransition* t = transition("T");
    std::vector<Seconds_T> delays = {1.0, 4.0, 0.25};
    size_t next = 0;
    t->delayFn = [&](TokenList&) { return delays[next++]; };
    Binding b(listOf({intToken(1)}), t, DateTime(10.0));
    const long id = b.getID();
    EXPECT_EQ(b.getTime(), DateTime(11.0));
    b.updateTime(DateTime(20.0));
    EXPECT_EQ(b.getTime(), DateTime(24.0));
    b.updateTime(DateTime(20.0));
    EXPECT_EQ(b.getTime(), DateTime(20.25));
    EXPECT_EQ(b.getID(), id);
    EXPECT_EQ(t->delayCalls, 3);
}

TEST_F(BindingFixture, UpdateTimeOfTimeguardEventAsksTheGuardAgain) {
    TestTransition* t = transition("T");
    t->timeguardOn = true;
    t->delaySeconds = 1.0;
    t->timeguardSeconds = 5.0;
    Binding b(listOf({}), t, DateTime(0.0));
    t->timeguardSeconds = 2.0;
    b.updateTime(DateTime(50.0));
    EXPECT_EQ(b.getTime(), DateTime(53.0));
    EXPECT_EQ(t->timeguardQueries, (std::vector<DateTime>{DateTime(0.0), DateTime(50.0)}));
}

// ---------------------------------------------------------------------------
// Temporary bindings and time markers

TEST_F(BindingFixture, TemporaryBindingGetsItsTokensLater) {
    TestTransition* t = transition("T", 3, 2.0);
    t->timeguardOn = true;
    t->delaySeconds = 1.0;
    t->timeguardSeconds = 9.0;
    Binding temp(t, DateTime(10.0));
    EXPECT_TRUE(temp.isTempBinding());
    EXPECT_EQ(temp.getBoundTokens(), nullptr);
    EXPECT_FALSE(temp.isFireEvent());
    EXPECT_EQ(temp.getTime(), DateTime(20.0));
    // No tokens yet: the delay is asked for an empty binding.
    std::vector<size_t> sizes;
    t->delayFn = [&](TokenList& tokens) {
        sizes.push_back(tokens.size());
        return 1.0;
    };
    temp.updateTime(DateTime(10.0));
    EXPECT_EQ(sizes, (std::vector<size_t>{0}));

    const long id = temp.getID();
    const DateTime time = temp.getTime();
    Ptr<Token> token = intToken(1);
    temp.convertTempBinding(listOf({token}));
    EXPECT_FALSE(temp.isTempBinding());
    ASSERT_NE(temp.getBoundTokens(), nullptr);
    EXPECT_EQ(temp.getBoundTokens()->size(), 1u);
    EXPECT_EQ(temp.getID(), id);
    EXPECT_EQ(temp.getTime(), time);
    EXPECT_EQ(temp.getPriority(), 3);
    EXPECT_FALSE(temp.isFireEvent());
    EXPECT_EQ(handleCount(token), 2u);
}

TEST(BindingMarker, TimeMarkerHasNoTransitionAndDefaults) {
    Binding marker(DateTime(3600.0));
    EXPECT_EQ(marker.getTime(), DateTime(3600.0));
    EXPECT_EQ(marker.getBoundTransition(), nullptr);
    EXPECT_EQ(marker.getBoundTokens(), nullptr);
    EXPECT_TRUE(marker.isTempBinding());
    EXPECT_FALSE(marker.isFireEvent());
    EXPECT_EQ(marker.getPriority(), 0);
    EXPECT_DOUBLE_EQ(marker.getWeight(), 1.0);
}

TEST(BindingMarker, AssignmentCopiesEveryField) {
    Binding source(DateTime(42.0));
    Binding target(DateTime(1.0));
    target = source;
    EXPECT_EQ(target.getTime(), DateTime(42.0));
    EXPECT_EQ(target.getID(), source.getID());
    EXPECT_TRUE(target == source);
    EXPECT_EQ(target.getBoundTokens(), nullptr);
    EXPECT_FALSE(target.isFireEvent());

    Binding full(77, nullptr, DateTime(8.0), 5, 0.75, true, nullptr);
    target = full;
    EXPECT_EQ(target.getID(), 77);
    EXPECT_EQ(target.getTime(), DateTime(8.0));
    EXPECT_EQ(target.getPriority(), 5);
    EXPECT_DOUBLE_EQ(target.getWeight(), 0.75);
    EXPECT_TRUE(target.isFireEvent());
}

// ---------------------------------------------------------------------------
// Token handles owned by a binding

TEST_F(BindingFixture, DestroyingBindingReleasesHandlesButNotTokensOnAPlace) {
    TestTransition* t = transition("T");
    Place p(1, "P", &net, false, 0);
    int destroyed = 0;
    p.addToken(Ptr<Token>(new CountingToken(&destroyed)));
    Ptr<Token> onlyInBinding(new CountingToken(&destroyed));
    auto* b = new Binding(listOf({p.getFullMarking().front(), onlyInBinding}), t, DateTime(0.0));
    onlyInBinding.ResetPtr();
    EXPECT_EQ(handleCount(p.getFullMarking().front()), 2u);

    delete b;
    EXPECT_EQ(destroyed, 1);  // the token held by the binding alone
    EXPECT_EQ(handleCount(p.getFullMarking().front()), 1u);
    EXPECT_EQ(p.getFullMarking().front()->getName(), "counting");
}

// ---------------------------------------------------------------------------
// Text form

TEST_F(BindingFixture, TextFormOfFiringEvent) {
    TestTransition* t = transition("A3_execution", 2, 0.25);
    t->delaySeconds = 2.5;
    Binding b(listOf({intToken(1)}), t, DateTime(100.0));
    EXPECT_EQ(text(b), "Binding[FIRE, A3_execution, ID: " + std::to_string(b.getID()) +
                           ", time: 102.5, prio: 2, weight: 0.25]");
}

TEST_F(BindingFixture, TextFormPrintsTimeAndWeightWithSixteenSignificantDigits) {
    TestTransition* t = transition("T", 0, 1.0 / 3.0);
    t->delaySeconds = 1.0 / 3.0;
    Binding b(listOf({}), t, DateTime(63000000000.0));
    std::ostringstream s;
    s << b;
    EXPECT_EQ(s.str(), "Binding[FIRE, T, ID: " + std::to_string(b.getID()) +
                           ", time: 63000000000.33334, prio: 0, weight: 0.3333333333333333]");
    // The precision stays set on the stream.
    s << " " << 2.0 / 3.0;
    EXPECT_EQ(s.str().substr(s.str().rfind(' ') + 1), "0.6666666666666666");
}

TEST_F(BindingFixture, TextFormOfTimeguardEvents) {
    TestTransition* t = transition("Guarded", -1, 2.0);
    t->timeguardOn = true;
    t->delaySeconds = 0.0;
    t->timeguardSeconds = 60.0;
    Binding withTokens(listOf({intToken(1)}), t, DateTime(0.0));
    EXPECT_EQ(text(withTokens), "Binding[TIMEGUARD, Guarded, ID: " +
                                    std::to_string(withTokens.getID()) +
                                    ", time: 60, prio: -1, weight: 2]");
    Binding temp(t, DateTime(0.0));
    EXPECT_EQ(text(temp), "TempBinding[TIMEGUARD, Guarded, ID: " + std::to_string(temp.getID()) +
                              ", time: 60, prio: -1, weight: 2]");
}

// ---------------------------------------------------------------------------
// Value copies for saved states

TEST_F(BindingFixture, DummyKeepsEveryFieldAndCopies) {
    TestTransition* t = transition("T");
    BindingDummy d(12, t, DateTime(4.5), 3, 0.5, false, {7, 2, 9});
    EXPECT_EQ(d.getID(), 12);
    EXPECT_EQ(d.getBoundTransition(), t);
    EXPECT_EQ(d.getTime(), DateTime(4.5));
    EXPECT_EQ(d.getPriority(), 3);
    EXPECT_DOUBLE_EQ(d.getWeight(), 0.5);
    EXPECT_FALSE(d.isFireEvent());
    EXPECT_EQ(d.getTokensID(), (std::vector<long>{7, 2, 9}));

    BindingDummy copy(d);
    EXPECT_TRUE(copy == d);
    EXPECT_EQ(copy.getTokensID(), (std::vector<long>{7, 2, 9}));
    EXPECT_EQ(copy.getTime(), DateTime(4.5));
}

TEST(BindingDummyOrder, SameThreeStepOrderAsBindings) {
    BindingDummy early(9, nullptr, DateTime(5.0), 0, 1.0, true, {});
    BindingDummy lateHigh(1, nullptr, DateTime(5.000001), 9, 1.0, true, {});
    BindingDummy sameTimeHigh(8, nullptr, DateTime(5.0), 1, 1.0, true, {});
    BindingDummy sameTimeOld(2, nullptr, DateTime(5.0), 0, 1.0, true, {});
    EXPECT_TRUE(early < lateHigh);
    EXPECT_TRUE(sameTimeHigh < early);
    EXPECT_TRUE(sameTimeOld < early);
    EXPECT_FALSE(early < sameTimeOld);

    std::set<BindingDummy> saved = {early, lateHigh, sameTimeHigh, sameTimeOld};
    std::vector<long> ids;
    for (const BindingDummy& d : saved) ids.push_back(d.getID());
    EXPECT_EQ(ids, (std::vector<long>{8, 2, 9, 1}));

    BindingDummy sameId(9, nullptr, DateTime(1.0), 5, 2.0, false, {1});
    EXPECT_TRUE(sameId == early);
    EXPECT_FALSE(lateHigh == early);
}
