// The event selection: which events are the candidates of the next firing,
// in which order, and that it follows the net through registrations,
// rebuilds and other selections.
#include "engine/EventSelection.h"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

#include "engine/EngineTestDoubles.h"

using namespace enginetest;

namespace {

std::vector<std::string> namesOf(const std::list<Binding*>& events) {
    std::vector<std::string> names;
    for (const Binding* b : events) names.push_back(b->getBoundTransition()->getName());
    return names;
}

std::vector<std::string> candidates(EventSelection& s, NetClass& net, bool all) {
    std::list<Binding*> out;
    s.candidates(net, &out, all, DateTime(0.0));
    return namesOf(out);
}

// A transition without input places: one event, `delay` seconds after now.
TestTransition* timed(Net& net, int id, const char* name, double delay, int priority = 0) {
    TestTransition* t = addTransition(net, id, name);
    t->fixedDelay = delay;
    t->setPriority(priority);
    return t;
}

// A net that builds one such transition, as a compiled model would.
class OneTransitionNet : public NetClass {
public:
    void buildNet() override {
        auto* t = new TestTransition(1, "T", this);
        t->fixedDelay = 2.0;
        addTransition(t);
    }
    void createTokens() override {}
};

}  // namespace

TEST(EventSelection, CandidatesAreTheEarliestEventsOfTheHighestPriorityInNameOrder) {
    Env env;
    // Registered out of name order: the candidates come in name order all the same.
    for (TestTransition* t : {timed(env.net, 1, "D", 1.0, 1), timed(env.net, 2, "A", 2.0, 5),
                              timed(env.net, 3, "C", 1.0, 1), timed(env.net, 4, "B", 1.0, 0)})
        t->startup();
    EventSelection selection;
    EXPECT_EQ(candidates(selection, env.net, false), (std::vector<std::string>{"C", "D"}));
    EXPECT_EQ(candidates(selection, env.net, true), (std::vector<std::string>{"A", "B", "C", "D"}));
}

TEST(EventSelection, NoEventsGiveNoCandidates) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    addTransition(env.net, 1, "T")->in(p)->startup();
    EventSelection selection;
    EXPECT_TRUE(candidates(selection, env.net, false).empty());
    EXPECT_TRUE(candidates(selection, env.net, true).empty());
    // A token makes the transition enabled; the selection hears of it.
    put(p);
    env.net.getTransition("T")->placeNotify();
    EXPECT_EQ(candidates(selection, env.net, false), (std::vector<std::string>{"T"}));
}

TEST(EventSelection, FollowsEveryChangeOfTheTransitionsEvents) {
    Env env;
    TestTransition* a = timed(env.net, 1, "A", 1.0);
    TestTransition* b = timed(env.net, 2, "B", 3.0);
    a->startup();
    b->startup();
    EventSelection selection;
    EXPECT_EQ(candidates(selection, env.net, false), (std::vector<std::string>{"A"}));
    a->removeBinding(a->getNextEvent(), false);
    EXPECT_EQ(candidates(selection, env.net, false), (std::vector<std::string>{"B"}));
    a->addRestoredBinding(new Binding(7, a, DateTime(3.0), 0, 1.0, true, new TokenList{}));
    EXPECT_EQ(candidates(selection, env.net, false), (std::vector<std::string>{"A", "B"}));
}

TEST(EventSelection, ATransitionRegisteredLaterIsSeen) {
    Env env;
    timed(env.net, 1, "B", 1.0)->startup();
    EventSelection selection;
    EXPECT_EQ(candidates(selection, env.net, true), (std::vector<std::string>{"B"}));
    timed(env.net, 2, "A", 1.0)->startup();
    EXPECT_EQ(selection.order(env.net).size(), 2u);
    EXPECT_EQ(candidates(selection, env.net, true), (std::vector<std::string>{"A", "B"}));
}

// A rebuild replaces and frees every transition: the selection must read the
// new ones, not the freed ones.
TEST(EventSelection, ARebuiltNetIsReadAfresh) {
    OneTransitionNet net;
    net.buildNet();
    net.getTransition("T")->startup();
    EventSelection selection;
    std::list<Binding*> out;
    selection.candidates(net, &out, false, DateTime(0.0));
    ASSERT_EQ(out.size(), 1u);
    Transition* old = net.getTransition("T");
    EXPECT_EQ(old->getEventSelection(), &selection);

    net.rebuildForRun(0);
    Transition* fresh = net.getTransition("T");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->getEventSelection(), nullptr);  // not ours until the order is remade
    fresh->startup();
    selection.candidates(net, &out, false, DateTime(0.0));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front()->getBoundTransition(), fresh);
    EXPECT_EQ(fresh->getEventSelection(), &selection);
}

TEST(EventSelection, ASelectionLetsGoOfItsTransitionsWhenDestroyed) {
    Env env;
    TestTransition* t = timed(env.net, 1, "T", 1.0);
    {
        EventSelection selection;
        selection.order(env.net);
        EXPECT_EQ(t->getEventSelection(), &selection);
    }
    EXPECT_EQ(t->getEventSelection(), nullptr);
    t->startup();  // reports to nobody
    EventSelection next;
    EXPECT_EQ(candidates(next, env.net, false), (std::vector<std::string>{"T"}));
}

// Two selections of one net (a driver replaced while the old one lives):
// the one that lost the transitions' reports must not answer from stale bits.
TEST(EventSelection, ASelectionWhoseTransitionsWereTakenOverStaysRight) {
    Env env;
    TestTransition* a = timed(env.net, 1, "A", 1.0);
    TestTransition* b = timed(env.net, 2, "B", 1.0);
    a->startup();
    b->startup();
    EventSelection first;
    EventSelection second;
    EXPECT_EQ(candidates(first, env.net, false), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(candidates(second, env.net, false), (std::vector<std::string>{"A", "B"}));
    a->removeBinding(a->getNextEvent(), false);  // reported to the second only
    EXPECT_EQ(candidates(first, env.net, false), (std::vector<std::string>{"B"}));
    b->removeBinding(b->getNextEvent(), false);  // now reported to the first
    EXPECT_TRUE(candidates(second, env.net, false).empty());
}
