#include "core/Place.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestNet.h"
#include "support/TestSupport.h"

using testnet::CountingToken;
using testnet::handleCount;
using testnet::intToken;
using testnet::TestMeasure;
using testnet::TestNet;
using testnet::TestTransition;
using testsupport::CaptureStream;

namespace {

std::vector<Token*> raw(const TokenList& list) {
    std::vector<Token*> out;
    for (const Ptr<Token>& p : list) out.push_back(p.GetRawPtr());
    return out;
}

bool holds(const TokenList& list, const Ptr<Token>& token) {
    return std::find(list.begin(), list.end(), token) != list.end();
}

TestTransition::Options infiniteServer() {
    TestTransition::Options o;
    o.infinite = true;
    return o;
}

// A place with transitions registered in a net (which deletes them).
struct PlaceFixture : ::testing::Test {
    TestNet net;
    Place* place = nullptr;

    void SetUp() override {
        place = new Place(1, "P", &net, false, 0);
        net.addPlace(place);
    }
    TestTransition* transition(int id, const char* name,
                               const TestTransition::Options& o = TestTransition::Options()) {
        auto* t = new TestTransition(id, name, &net, o);
        net.addTransition(t);
        return t;
    }
    // A transition that reads the place in its global guard and never binds.
    TestTransition* guardReader(int id, const char* name) {
        TestTransition* t = transition(id, name);
        t->guard = [] { return false; };
        place->addGlobalGuardTransition(t);
        return t;
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// Construction

TEST(PlaceConstruction, ModelFormKeepsItsSettings) {
    TestNet net;
    Place p(7, "P_thread_pool", &net, true, 12);
    EXPECT_EQ(p.getID(), 7);
    EXPECT_EQ(p.getName(), "P_thread_pool");
    EXPECT_EQ(p.getType(), "Place");
    EXPECT_EQ(p.getNet(), &net);
    EXPECT_TRUE(p.isFirstTokensOnly());
    EXPECT_EQ(p.getCapacity(), 12u);
    EXPECT_FALSE(p.getWatch());
    EXPECT_EQ(p.getMarkingSize(), 0);
    p.setWatch(true);
    EXPECT_TRUE(p.getWatch());
}

TEST(PlaceConstruction, WatchAttributeMustBeExactlyTrue) {
    using Attrs = std::map<std::string, std::string>;
    EXPECT_TRUE(Place(1, "P", nullptr, Attrs{{"watch", "true"}}, false, 0).getWatch());
    EXPECT_FALSE(Place(1, "P", nullptr, Attrs{{"watch", "false"}}, false, 0).getWatch());
    EXPECT_FALSE(Place(1, "P", nullptr, Attrs{{"watch", "TRUE"}}, false, 0).getWatch());
    EXPECT_FALSE(Place(1, "P", nullptr, Attrs{{"watch", "1"}}, false, 0).getWatch());
    EXPECT_FALSE(Place(1, "P", nullptr, Attrs{{"display", "true"}}, false, 0).getWatch());
    EXPECT_FALSE(Place(1, "P", nullptr, Attrs{}, false, 0).getWatch());

    Place withAttrs(3, "Q", nullptr, Attrs{{"watch", "true"}}, true, 4);
    EXPECT_EQ(withAttrs.getID(), 3);
    EXPECT_EQ(withAttrs.getName(), "Q");
    EXPECT_TRUE(withAttrs.isFirstTokensOnly());
    EXPECT_EQ(withAttrs.getCapacity(), 4u);
}

TEST(PlaceConstruction, AnonymousFormIsUnboundedWithoutFlags) {
    TestNet net;
    Place p(5, &net);
    EXPECT_EQ(p.getID(), 5);
    EXPECT_EQ(p.getName(), "noname");
    EXPECT_EQ(p.getType(), "Place");
    EXPECT_EQ(p.getCapacity(), 0u);
    EXPECT_FALSE(p.isFirstTokensOnly());
    EXPECT_FALSE(p.getWatch());
}

TEST(PlaceConstruction, DestructionReleasesMarkingHandles) {
    int destroyed = 0;
    Ptr<Token> kept(new CountingToken(&destroyed));
    auto* p = new Place(1, "P", nullptr, false, 0);
    p->addToken(Ptr<Token>(new CountingToken(&destroyed)));
    p->addToken(kept);
    EXPECT_EQ(handleCount(kept), 2u);
    delete p;
    EXPECT_EQ(destroyed, 1);  // the token only the place held
    EXPECT_EQ(handleCount(kept), 1u);
}

TEST(PlaceConstruction, SharedMeasureIsDeletedByTheLastPlace) {
    int destroyed = 0;
    TestMeasure* m = TestMeasure::timeAveraged("M", nullptr, &destroyed);
    auto* p1 = new Place(1, "P1", nullptr, false, 0);
    auto* p2 = new Place(2, "P2", nullptr, false, 0);
    p1->addMeasure(m);
    p2->addMeasure(m);
    EXPECT_EQ(m->getRefCount(), 2);
    ASSERT_EQ(p1->getMeasures().size(), 1u);
    EXPECT_EQ(p1->getMeasures()[0], m);

    delete p1;
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(m->getRefCount(), 1);
    delete p2;
    EXPECT_EQ(destroyed, 1);
}

TEST(PlaceConstruction, MeasureHeldElsewhereSurvivesThePlace) {
    int destroyed = 0;
    TestMeasure* m = TestMeasure::instantaneous("M", nullptr, &destroyed);
    MeasureObj::hold(m);  // a transition refers to it as well
    auto* p = new Place(1, "P", nullptr, false, 0);
    p->addMeasure(m);
    delete p;
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(m->getRefCount(), 1);
    MeasureObj::release(m);  // the other holder's release is the last
    EXPECT_EQ(destroyed, 1);
}

// ---------------------------------------------------------------------------
// Capacity and the markings transitions see

TEST(PlaceMarking, CanTakeRespectsCapacity) {
    Place bounded(1, "P", nullptr, false, 3);
    bounded.addToken(intToken(1));
    bounded.addToken(intToken(2));
    EXPECT_TRUE(bounded.canTake(0));
    EXPECT_TRUE(bounded.canTake(1));
    EXPECT_FALSE(bounded.canTake(2));

    Place unbounded(2, "Q", nullptr, false, 0);
    unbounded.addToken(intToken(1));
    EXPECT_TRUE(unbounded.canTake(1000000));
    EXPECT_TRUE(unbounded.canTake(4000000000u));

    Place empty(3, "R", nullptr, false, 2);
    EXPECT_TRUE(empty.canTake(2));
    EXPECT_FALSE(empty.canTake(3));
}

TEST(PlaceMarking, PlaceAcceptsTokensBeyondItsCapacity) {
    Place p(1, "P", nullptr, false, 1);
    p.addToken(intToken(1));
    p.addToken(intToken(2));
    EXPECT_EQ(p.getMarkingSize(), 2);
    EXPECT_FALSE(p.canTake(0));
}

TEST(PlaceMarking, FirstTokensOnlyHandsOutThePrefix) {
    Place p(1, "P", nullptr, true, 0);
    Ptr<Token> t1 = intToken(1), t2 = intToken(2), t3 = intToken(3);
    p.addToken(t1);
    p.addToken(t2);
    p.addToken(t3);

    EXPECT_EQ(raw(p.getMarking(2)), (std::vector<Token*>{t1.GetRawPtr(), t2.GetRawPtr()}));
    EXPECT_EQ(raw(p.getMarking(5)),
              (std::vector<Token*>{t1.GetRawPtr(), t2.GetRawPtr(), t3.GetRawPtr()}));
    EXPECT_TRUE(p.getMarking(0).empty());
    EXPECT_EQ(raw(p.getMarking(1)), (std::vector<Token*>{t1.GetRawPtr()}));
    // The full marking is untouched by the partial views.
    EXPECT_EQ(p.getMarkingSize(), 3);
    EXPECT_EQ(raw(p.getFullMarking()),
              (std::vector<Token*>{t1.GetRawPtr(), t2.GetRawPtr(), t3.GetRawPtr()}));

    // The prefix follows the marking: after the oldest token leaves, the
    // next ones move up.
    p.removeToken(t1);
    EXPECT_EQ(raw(p.getMarking(2)), (std::vector<Token*>{t2.GetRawPtr(), t3.GetRawPtr()}));
}

TEST(PlaceMarking, WithoutFlagEveryTokenIsHandedOut) {
    Place p(1, "P", nullptr, false, 0);
    Ptr<Token> t1 = intToken(1), t2 = intToken(2), t3 = intToken(3);
    p.addToken(t1);
    p.addToken(t2);
    p.addToken(t3);
    for (int k : {0, 1, 2, 5}) {
        EXPECT_EQ(raw(p.getMarking(k)),
                  (std::vector<Token*>{t1.GetRawPtr(), t2.GetRawPtr(), t3.GetRawPtr()}))
            << "k = " << k;
    }
    // It is the marking itself, not a copy.
    EXPECT_EQ(&p.getMarking(1), &p.getFullMarking());
}

TEST(PlaceMarking, ContentJoinsTokenTextsInMarkingOrder) {
    Place p(1, "P", nullptr, false, 0);
    EXPECT_EQ(p.content(), "");
    p.addToken(intToken(1));
    EXPECT_EQ(p.content(), "1");
    p.addToken(intToken(2));
    p.addToken(intToken(3));
    EXPECT_EQ(p.content(), "1,2,3");
    p.addToken(Ptr<Token>(new CountingToken()));
    p.addToken(intToken(-4));
    EXPECT_EQ(p.content(), "1,2,3,,-4");
}

TEST(PlaceMarking, StreamFormAndTransitionListing) {
    TestNet net;
    auto* p = new Place(1, "C1_sem", &net, false, 0);
    net.addPlace(p);
    std::ostringstream s;
    s << *p;
    EXPECT_EQ(s.str(), "C1_sem (Place)");

    auto* in1 = new TestTransition(1, "In1", &net);
    auto* in2 = new TestTransition(2, "In2", &net);
    auto* out = new TestTransition(3, "Out", &net);
    net.addTransition(in1);
    net.addTransition(in2);
    net.addTransition(out);
    NetClass::linkOutOfTransition(in2, p, 1);
    NetClass::linkOutOfTransition(in1, p, 1);
    NetClass::linkIntoTransition(p, out, 1);

    CaptureStream capture(std::cout);
    p->printTrans();
    EXPECT_EQ(capture.text(), "\t<-\n\t\tIn2\n\t\tIn1\n\t->\n\t\tOut\n");
}

TEST(PlaceMarking, ListingOfUnlinkedPlace) {
    Place p(1, "P", nullptr, false, 0);
    CaptureStream capture(std::cout);
    p.printTrans();
    EXPECT_EQ(capture.text(), "\t<-\n\t->\n");
}

TEST(PlaceMarking, DisplayWithoutWatchSendsNothing) {
    // Without the watch flag the place never asks its net for the driver, so
    // it works on a place of no net at all.
    Place p(1, "P", nullptr, false, 0);
    p.addToken(intToken(1));
    p.displContent();
    EXPECT_EQ(p.getMarkingSize(), 1);
}

// ---------------------------------------------------------------------------
// Arcs

TEST_F(PlaceFixture, ArcsKeepLinkingOrderAndMultiplicities) {
    TestTransition* a = transition(10, "A");
    TestTransition* b = transition(20, "B");
    TestTransition* c = transition(30, "C");
    place->addOutTransition(b, 2);
    place->addOutTransition(a, 1);
    place->addInTransition(c, 3);

    EXPECT_EQ(place->getOutTransitions(), (std::list<Transition*>{b, a}));
    EXPECT_EQ(place->getInTransitions(), (std::list<Transition*>{c}));
    EXPECT_EQ(place->getOutTransitionMultiplicity(20), 2);
    EXPECT_EQ(place->getOutTransitionMultiplicity(10), 1);
    EXPECT_EQ(place->getInTransitionMultiplicity(30), 3);
    // No arc of that direction: 0.
    EXPECT_EQ(place->getOutTransitionMultiplicity(30), 0);
    EXPECT_EQ(place->getInTransitionMultiplicity(20), 0);
    EXPECT_EQ(place->getOutTransitionMultiplicity(99), 0);
}

// ---------------------------------------------------------------------------
// Notifications of marking changes

TEST_F(PlaceFixture, AddTokenNotifiesGuardsBeforeOutputTransitionsRecordIt) {
    TestTransition* out = transition(1, "Out", infiniteServer());
    place->addOutTransition(out, 1);
    TestTransition* reader = guardReader(2, "Reader");

    Ptr<Token> token = intToken(1);
    bool onPlaceWhenGuarded = false;
    bool freeWhenGuarded = true;
    reader->guard = [&] {
        onPlaceWhenGuarded = holds(place->getFullMarking(), token);
        freeWhenGuarded = holds(out->getNotBoundTokens(), token);
        return false;
    };

    place->addToken(token);
    EXPECT_EQ(reader->globalGuardCalls, 1);
    EXPECT_TRUE(onPlaceWhenGuarded);
    EXPECT_FALSE(freeWhenGuarded);
    EXPECT_TRUE(holds(out->getNotBoundTokens(), token));
}

TEST_F(PlaceFixture, AddTokenOnAGuardedOutputTransitionSeesTheTokenOnlyAfterTheGuard) {
    // One transition both reads the place in its guard and takes from it.
    TestTransition* both = transition(1, "Both", infiniteServer());
    place->addOutTransition(both, 1);
    place->addGlobalGuardTransition(both);
    Ptr<Token> token = intToken(1);
    std::vector<size_t> freeCountAtGuard;
    both->guard = [&] {
        freeCountAtGuard.push_back(both->getNotBoundTokens().size());
        return false;
    };
    place->addToken(token);
    EXPECT_EQ(freeCountAtGuard, (std::vector<size_t>{0}));
    EXPECT_EQ(both->getNotBoundTokens().size(), 1u);
}

TEST_F(PlaceFixture, RemoveTokenNotifiesGuardsBeforeOutputTransitionsForgetIt) {
    TestTransition* out = transition(1, "Out", infiniteServer());
    place->addOutTransition(out, 1);
    TestTransition* reader = guardReader(2, "Reader");
    Ptr<Token> token = intToken(1);
    place->addToken(token);
    ASSERT_TRUE(holds(out->getNotBoundTokens(), token));

    bool onPlaceWhenGuarded = true;
    bool freeWhenGuarded = false;
    reader->guard = [&] {
        onPlaceWhenGuarded = holds(place->getFullMarking(), token);
        freeWhenGuarded = holds(out->getNotBoundTokens(), token);
        return false;
    };
    const int callsBefore = reader->globalGuardCalls;
    place->removeToken(token);
    EXPECT_EQ(reader->globalGuardCalls, callsBefore + 1);
    EXPECT_FALSE(onPlaceWhenGuarded);  // already gone from the marking
    EXPECT_TRUE(freeWhenGuarded);      // not yet forgotten by the output transition
    EXPECT_FALSE(holds(out->getNotBoundTokens(), token));
    EXPECT_EQ(handleCount(token), 1u);
}

TEST_F(PlaceFixture, GuardTransitionsAreNotifiedInListOrder) {
    TestTransition* first = guardReader(1, "First");
    TestTransition* second = guardReader(2, "Second");
    std::vector<std::string> order;
    first->guard = [&] {
        order.push_back("First");
        return false;
    };
    second->guard = [&] {
        order.push_back("Second");
        return false;
    };
    place->addToken(intToken(1));
    EXPECT_EQ(order, (std::vector<std::string>{"First", "Second"}));
    order.clear();
    place->notifyGlobalGuardTransitions();
    EXPECT_EQ(order, (std::vector<std::string>{"First", "Second"}));
}

TEST_F(PlaceFixture, EveryInfiniteServerOutputTransitionRecordsTheToken) {
    TestTransition* is1 = transition(1, "IS1", infiniteServer());
    TestTransition* single = transition(2, "Single");
    TestTransition* is2 = transition(3, "IS2", infiniteServer());
    place->addOutTransition(is1, 1);
    place->addOutTransition(single, 1);
    place->addOutTransition(is2, 1);

    Ptr<Token> t1 = intToken(1);
    Ptr<Token> t2 = intToken(2);
    place->addToken(t1);
    place->addToken(t2);
    EXPECT_EQ(raw(is1->getNotBoundTokens()), (std::vector<Token*>{t1.GetRawPtr(), t2.GetRawPtr()}));
    EXPECT_EQ(raw(is2->getNotBoundTokens()), (std::vector<Token*>{t1.GetRawPtr(), t2.GetRawPtr()}));
    EXPECT_TRUE(single->getNotBoundTokens().empty());

    place->removeToken(t1);
    EXPECT_EQ(raw(is1->getNotBoundTokens()), (std::vector<Token*>{t2.GetRawPtr()}));
    EXPECT_EQ(raw(is2->getNotBoundTokens()), (std::vector<Token*>{t2.GetRawPtr()}));
}

TEST_F(PlaceFixture, TokenAddedTwiceIsRemovedCompletely) {
    TestTransition* out = transition(1, "Out", infiniteServer());
    place->addOutTransition(out, 1);
    Ptr<Token> token = intToken(1);
    Ptr<Token> other = intToken(2);
    place->addToken(token);
    place->addToken(other);
    place->addToken(token);
    EXPECT_EQ(place->getMarkingSize(), 3);
    EXPECT_EQ(handleCount(token), 5u);  // ours, two on the place, two free-list entries

    place->removeToken(token);
    EXPECT_EQ(raw(place->getFullMarking()), (std::vector<Token*>{other.GetRawPtr()}));
    EXPECT_EQ(raw(out->getNotBoundTokens()), (std::vector<Token*>{other.GetRawPtr()}));
    EXPECT_EQ(handleCount(token), 1u);
}

TEST_F(PlaceFixture, RemoveTokenComparesTokenObjectsNotIdentifiers) {
    Ptr<Token_int> original(new Token_int(1));
    Ptr<Token> copy(new Token_int(*original, false));  // same identifier
    ASSERT_TRUE(*copy == *original);
    place->addToken(original);
    place->addToken(copy);
    place->removeToken(original);
    EXPECT_EQ(raw(place->getFullMarking()), (std::vector<Token*>{copy.GetRawPtr()}));
}

TEST_F(PlaceFixture, RemovingAbsentTokenChangesNothingButStillNotifies) {
    TestTransition* out = transition(1, "Out", infiniteServer());
    place->addOutTransition(out, 1);
    TestTransition* reader = guardReader(2, "Reader");
    Ptr<Token> onPlace = intToken(1);
    place->addToken(onPlace);

    // A token the output transition lists as free although it is not on the
    // place (as after a restored state): removal still asks the transition.
    Ptr<Token> stray = intToken(2);
    out->addRestoredNotBoundToken(stray);
    const int guardCalls = reader->globalGuardCalls;

    place->removeToken(stray);
    EXPECT_EQ(raw(place->getFullMarking()), (std::vector<Token*>{onPlace.GetRawPtr()}));
    EXPECT_EQ(reader->globalGuardCalls, guardCalls + 1);
    EXPECT_EQ(raw(out->getNotBoundTokens()), (std::vector<Token*>{onPlace.GetRawPtr()}));
}

TEST_F(PlaceFixture, RestoringAMarkingNotifiesNobody) {
    TestTransition* out = transition(1, "Out", infiniteServer());
    place->addOutTransition(out, 1);
    TestTransition* reader = guardReader(2, "Reader");
    Ptr<Token> before = intToken(1);
    place->addToken(before);
    const int guardCalls = reader->globalGuardCalls;
    const std::vector<Token*> freeBefore = raw(out->getNotBoundTokens());

    place->removeCurrentMarking();
    EXPECT_EQ(place->getMarkingSize(), 0);
    Ptr<Token> restored1 = intToken(2);
    Ptr<Token> restored2 = intToken(3);
    place->addRestoredToken(restored1);
    place->addRestoredToken(restored2);

    EXPECT_EQ(raw(place->getFullMarking()),
              (std::vector<Token*>{restored1.GetRawPtr(), restored2.GetRawPtr()}));
    EXPECT_EQ(reader->globalGuardCalls, guardCalls);
    EXPECT_EQ(raw(out->getNotBoundTokens()), freeBefore);
    // The dropped marking released its handle.
    EXPECT_EQ(handleCount(before), 2u);  // ours and the stale free-list entry
}

TEST_F(PlaceFixture, NewTokenEnablesAWaitingOutputTransition) {
    // The engine's view: a single-server transition that takes from the place
    // and reads it in its global guard finds its binding as soon as the
    // token arrives.
    TestTransition* consumer = transition(1, "Consumer");
    NetClass::linkIntoTransition(place, consumer, 1);
    place->addGlobalGuardTransition(consumer);
    consumer->searchConfiguration();
    ASSERT_TRUE(consumer->getEvents().empty());

    Ptr<Token> token = intToken(1);
    place->addToken(token);
    ASSERT_EQ(consumer->getEvents().size(), 1u);
    const TokenList& bound = *(*consumer->getEvents().begin())->getBoundTokens();
    EXPECT_EQ(raw(bound), (std::vector<Token*>{token.GetRawPtr()}));
    EXPECT_TRUE(token->containsTransition(consumer));
}
