// Snapshots of a net: restoring gives the saved marking, identifiers and
// events (same order, holding exactly the tokens the restore put on the
// places) with fresh token objects every time, and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "engine/EngineTestDoubles.h"
#include "sim/SimSavedState.h"
#include "sim/SimTestDoubles.h"

using enginetest::Env;
using enginetest::makePlace;
using enginetest::put;
using enginetest::TestTransition;

namespace {

std::vector<long> idsOf(const TokenList& tokens) {
    std::vector<long> ids;
    for (const Ptr<Token>& t : tokens) ids.push_back(t->getID());
    return ids;
}

std::set<const Token*> objectsOf(const TokenList& tokens) {
    std::set<const Token*> objects;
    for (const Ptr<Token>& t : tokens) objects.insert(t.GetRawPtr());
    return objects;
}

struct EventView {
    long id;
    double time;
    int priority;
    std::vector<long> tokens;
    bool operator==(const EventView&) const = default;
};

std::vector<EventView> eventsOf(const Transition* t) {
    std::vector<EventView> events;
    for (const Binding* b : t->getEvents())
        events.push_back({b->getID(), b->getTime().FullDateTime(), b->getPriority(),
                          b->getBoundTokens() ? idsOf(*b->getBoundTokens()) : std::vector<long>{}});
    return events;
}

// P holds five tokens; T, an infinite server, takes two of them per event
// (its free list keeps the rest), U waits on the empty Q, V has no input
// place (one event without tokens).
struct SmallNet {
    SmallNet() {
        p = makePlace(env.net, 1, "P");
        q = makePlace(env.net, 2, "Q");
        TestTransition::Options infinite;
        infinite.infinite = true;
        t = new TestTransition(1, "T", &env.net, infinite);
        env.net.addTransition(t);
        t->in(p, 2)->out(q);
        t->fixedDelay = 2.0;
        u = new TestTransition(2, "U", &env.net);
        env.net.addTransition(u);
        u->in(q);
        v = new TestTransition(3, "V", &env.net);
        env.net.addTransition(v);
        v->fixedDelay = 5.0;
        for (long k = 0; k < 5; ++k) put(p, k);
        env.sim->initTransitions();
    }
    Env env;
    Place* p;
    Place* q;
    TestTransition* t;
    TestTransition* u;
    TestTransition* v;
};

void restore(SimSavedState& s, NetClass& net) {
    s.restoreMarkings(net.getPlaces());
    s.restoreTransitionStates(net.getTransitions());
}

}  // namespace

TEST(SimSavedState, EveryRestoreGivesTheSavedStateWithFreshTokens) {
    SmallNet n;
    const std::vector<long> marking = idsOf(n.p->getFullMarking());
    const std::vector<EventView> events = eventsOf(n.t);
    const std::vector<long> free = idsOf(n.t->getNotBoundTokens());
    ASSERT_EQ(marking.size(), 5u);
    ASSERT_EQ(events.size(), 2u);  // two pairs of tokens
    ASSERT_EQ(events[0].tokens.size(), 2u);
    ASSERT_EQ(free.size(), 1u);
    ASSERT_EQ(eventsOf(n.v).size(), 1u);
    std::set<const Token*> seen = objectsOf(n.p->getFullMarking());
    // Held, so that no address of an earlier round can be reused.
    std::vector<Ptr<Token>> held(n.p->getFullMarking().begin(), n.p->getFullMarking().end());

    std::vector<SimSavedState> stack;
    stack.emplace_back(&n.env.net, 3, DateTime(12.5));
    stack.back().setTrials(2);
    const std::vector<EventView> vEvents = eventsOf(n.v);

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // Anything may happen between restores: an event fires, tokens and
        // events appear where the snapshot had none.
        n.env.clock(2.0);
        n.env.sim->executeEvent(*n.t->getEvents().begin());
        put(n.p, 99);
        n.u->addRestoredBinding(new Binding(n.u, DateTime(4.0)));
        restore(stack.back(), n.env.net);

        EXPECT_EQ(idsOf(n.p->getFullMarking()), marking);
        EXPECT_TRUE(n.q->getFullMarking().empty());
        EXPECT_EQ(eventsOf(n.t), events);
        EXPECT_EQ(idsOf(n.t->getNotBoundTokens()), free);
        EXPECT_TRUE(n.u->getEvents().empty());
        EXPECT_FALSE(n.u->getInEventList());
        EXPECT_EQ(eventsOf(n.v), vEvents);
        // New objects each time, and the events hold exactly those on P.
        const std::set<const Token*> now = objectsOf(n.p->getFullMarking());
        for (const Token* token : now) EXPECT_EQ(seen.count(token), 0u);
        seen.insert(now.begin(), now.end());
        held.insert(held.end(), n.p->getFullMarking().begin(), n.p->getFullMarking().end());
        for (const Binding* b : n.t->getEvents())
            for (const Ptr<Token>& token : *b->getBoundTokens()) {
                EXPECT_EQ(now.count(token.GetRawPtr()), 1u);
                EXPECT_EQ(stack.back().getRestoredToken(token->getID()).GetRawPtr(), token.GetRawPtr());
            }
        EXPECT_EQ(now.count(n.t->getNotBoundTokens().front().GetRawPtr()), 1u);
    }
    // The copy in the stack kept what the snapshot was taken with.
    EXPECT_EQ(stack.back().getStateLevel(), 3);
    EXPECT_EQ(stack.back().getStateTime().FullDateTime(), 12.5);
    EXPECT_EQ(stack.back().getTrials(), 2);
    stack.back().decrementTrials();
    EXPECT_EQ(stack.back().getTrials(), 1);
    std::vector<long> sorted = marking;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(stack.back().getSavedTokensID(), sorted);
}

TEST(SimSavedState, AnEventWithoutTokensYetComesBackWithoutTokens) {
    SmallNet n;
    Binding* waiting = new Binding(n.u, DateTime(7.0));  // a time-guard event
    n.u->addRestoredBinding(waiting);
    const long id = waiting->getID();
    SimSavedState s(&n.env.net, 1, DateTime(0.0));
    n.u->removeCurrentBindings();
    restore(s, n.env.net);
    ASSERT_EQ(n.u->getEvents().size(), 1u);
    EXPECT_TRUE((*n.u->getEvents().begin())->isTempBinding());
    EXPECT_EQ((*n.u->getEvents().begin())->getID(), id);
    // V's event binds no tokens but is not waiting for any.
    EXPECT_FALSE((*n.v->getEvents().begin())->isTempBinding());
}

TEST(SimSavedState, ATokenOnNoPlaceStopsTheRun) {
    SmallNet n;
    n.p->removeCurrentMarking();  // T's events still hold the tokens
    try {
        SimSavedState s(&n.env.net, 1, DateTime(0.0));
        ADD_FAILURE() << "the snapshot was taken";
    } catch (const SimSavedState::Unsaveable& e) {
        EXPECT_NE(std::string(e.what()).find("an event of transition T holds the token"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("which lies on no place"), std::string::npos);
    }
    EXPECT_EXIT(n.env.sim->save_simulation_state(1), testing::ExitedWithCode(1),
                "ERROR: RESTART cannot save the state of the net at model time 0\\.000000: an event of transition "
                "T holds the token [0-9]+ \\(colour \"int\"\\), which lies on no place\\.");
}
