// The event step shared by every run: which bindings are candidates, how a
// conflict between simultaneous candidates is resolved, how the clock moves,
// how the measures observe an event, the trace of a candidate list and the
// results file written at the end of a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/net/TcpSocket.h"
#include "sim/SimTestDoubles.h"
#include "support/TestSupport.h"

using enginetest::candidates;
using enginetest::makePlace;
using enginetest::Net;
using enginetest::put;
using enginetest::TestTransition;
using simtest::JournalMeasure;
using simtest::Kind;
using simtest::linesStartingWith;
using simtest::ProbeSimulation;

namespace {

const unsigned long kSeed[6] = {11, 22, 33, 44, 55, 66};

int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

// A hand-built net with a driver created right after the random package was
// seeded, so that the driver's stream is the first stream of kSeed.
class DriverFixture : public ::testing::Test {
protected:
    DriverFixture() {
        EXPECT_TRUE(RandomWrapper::SetPackageSeed(kSeed));
        sim = std::make_unique<ProbeSimulation>(&net, start, DateTime(1000.0), 1, 1, 0.01, 0u);
    }
    ~DriverFixture() override {
        sim.reset();
        for (Binding* b : owned) delete b;
    }

    // A transition with one token on an input place of its own; its binding
    // is due `delay` seconds after the clock and has the given priority.
    TestTransition* enabled(const char* name, double delay, int priority, double weight = 1.0) {
        TestTransition::Options o;
        o.priority = priority;
        o.weight = weight;
        auto* t = new TestTransition(++ids, name, &net, o);
        net.addTransition(t);
        Place* p = makePlace(net, ids, (std::string("in_") + name).c_str());
        put(p);
        t->in(p);
        t->fixedDelay = delay;
        return t;
    }

    // A binding of `t` due now that belongs to the test, not to `t`.
    Binding* loose(Transition* t) {
        Binding* b = new Binding(new TokenList, t, DateTime(0.0));
        owned.push_back(b);
        return b;
    }

    // The names of the transitions of `list`, in order.
    static std::vector<std::string> names(const std::list<Binding*>& list) {
        std::vector<std::string> out;
        for (Binding* b : list) out.push_back(b->getBoundTransition()->getName());
        return out;
    }

    DateTime start{0.0};
    Net net;
    std::unique_ptr<ProbeSimulation> sim;
    std::vector<Binding*> owned;
    int ids = 100;
};

using SimulationCandidates = DriverFixture;
using SimulationConflicts = DriverFixture;
using SimulationClock = DriverFixture;
using SimulationTrace = DriverFixture;
using SimulationMeasureUpdate = DriverFixture;

}  // namespace

// ---------------------------------------------------------------------------
// Candidate events

TEST_F(SimulationCandidates, OnlyTheHighestPriorityAmongTheEarliestEventsInNameOrder) {
    enabled("A", 5.0, 1);
    enabled("B", 5.0, 2);
    enabled("C", 5.0, 1);
    enabled("D", 5.0, 2);
    enabled("E", 6.0, 3);  // a higher priority, but later
    sim->init();
    std::list<Binding*> out;
    sim->getFirstBindingsOfAllTransitions(&out, false);
    EXPECT_EQ(names(out), (std::vector<std::string>{"B", "D"}));
    for (Binding* b : out) {
        EXPECT_EQ(b->getTime(), DateTime(5.0));
        EXPECT_EQ(b->getPriority(), 2);
    }
}

TEST_F(SimulationCandidates, AHigherPrioritySeenLaterReplacesTheEarlierCandidates) {
    enabled("A", 5.0, 0);
    enabled("B", 5.0, 0);
    enabled("C", 5.0, 4);
    sim->init();
    std::list<Binding*> out;
    sim->getFirstBindingsOfAllTransitions(&out, false);
    EXPECT_EQ(names(out), (std::vector<std::string>{"C"}));
}

TEST_F(SimulationCandidates, OnlyTheEarliestTimeWhateverThePriorities) {
    enabled("A", 4.0, 9);
    enabled("B", 3.0, 0);
    enabled("C", 3.0, 0);
    enabled("D", 3.5, 7);
    sim->init();
    std::list<Binding*> out;
    sim->getFirstBindingsOfAllTransitions(&out, false);
    EXPECT_EQ(names(out), (std::vector<std::string>{"B", "C"}));
}

TEST_F(SimulationCandidates, AllListsTheFirstBindingOfEveryTransitionInNameOrder) {
    enabled("C", 1.0, 0);
    enabled("A", 7.0, 3);
    enabled("B", 2.0, 1);
    TestTransition* idle = new TestTransition(99, "Idle", &net);  // no input token: no binding
    net.addTransition(idle);
    idle->in(makePlace(net, 99, "empty"));
    sim->init();
    std::list<Binding*> out;
    out.push_back(nullptr);  // whatever was in the list goes
    sim->getFirstBindingsOfAllTransitions(&out, true);
    EXPECT_EQ(names(out), (std::vector<std::string>{"A", "B", "C"}));
}

TEST_F(SimulationCandidates, NoEnabledTransitionGivesAnEmptyListAndNoEvent) {
    TestTransition* t = new TestTransition(1, "T", &net);
    net.addTransition(t);
    t->in(makePlace(net, 1, "empty"));
    sim->init();
    std::list<Binding*> out;
    out.push_back(nullptr);
    sim->getFirstBindingsOfAllTransitions(&out, false);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(sim->resolve_conflicts(out), nullptr);
}

// A transition with a time guard whose binding search finds nothing leaves a
// temporary binding; when that is the only candidate, its guard is looked at
// again one second later, and the scan repeats until it can be converted.
TEST_F(SimulationCandidates, AnUnconvertibleTemporaryBindingMovesOnBySecondsUntilItConverts) {
    TestTransition* guarded = new TestTransition(1, "G", &net);
    net.addTransition(guarded);
    Place* p = makePlace(net, 1, "in_G");
    Ptr<Token> token = put(p);
    guarded->in(p);
    guarded->setImmediate(true);
    guarded->timeguard = true;
    std::vector<double> guardAsked;
    guarded->timeguardFn = [&](const DateTime& at) {
        guardAsked.push_back(at.FullDateTime());
        return 0.0;
    };
    int searches = 0;
    guarded->generator = [&]() {
        ++searches;
        return searches < 3 ? new TempBindingList : candidates({TokenList{token}});
    };
    enabled("Later", 10.0, 0);
    sim->init();
    ASSERT_NE(guarded->getNextEvent(), nullptr);
    ASSERT_TRUE(guarded->getNextEvent()->isTempBinding());
    ASSERT_EQ(guarded->getNextEvent()->getTime(), DateTime(0.0));

    std::list<Binding*> out;
    sim->getFirstBindingsOfAllTransitions(&out, false);

    ASSERT_EQ(out.size(), 1u);
    Binding* b = out.front();
    EXPECT_EQ(b->getBoundTransition(), guarded);
    EXPECT_FALSE(b->isTempBinding());
    EXPECT_EQ(b->getTime(), DateTime(2.0));  // 0, then 1, then 2
    ASSERT_NE(b->getBoundTokens(), nullptr);
    EXPECT_EQ(*b->getBoundTokens(), TokenList{token});
    EXPECT_EQ(searches, 3);
    EXPECT_EQ(guarded->getEvents().size(), 1u);
    // The new guards were placed at 1 and at 2 seconds.
    EXPECT_NE(std::find(guardAsked.begin(), guardAsked.end(), 1.0), guardAsked.end());
    EXPECT_NE(std::find(guardAsked.begin(), guardAsked.end(), 2.0), guardAsked.end());
    // The clock did not move.
    EXPECT_EQ(sim->getCurrentSimulationTime(), DateTime(0.0));
}

TEST_F(SimulationCandidates, AnUnconvertibleTemporaryBindingBesideARealCandidateIsOnlyLeftOut) {
    TestTransition* guarded = new TestTransition(1, "G", &net);
    net.addTransition(guarded);
    Place* p = makePlace(net, 1, "in_G");
    put(p);
    guarded->in(p);
    guarded->setImmediate(true);
    guarded->timeguard = true;
    guarded->generator = [] { return new TempBindingList; };
    enabled("H", 0.0, 0);
    sim->init();

    std::list<Binding*> out;
    sim->getFirstBindingsOfAllTransitions(&out, false);
    EXPECT_EQ(names(out), (std::vector<std::string>{"H"}));
    // The temporary binding stays where it was.
    ASSERT_NE(guarded->getNextEvent(), nullptr);
    EXPECT_TRUE(guarded->getNextEvent()->isTempBinding());
    EXPECT_EQ(guarded->getNextEvent()->getTime(), DateTime(0.0));
}

TEST_F(SimulationCandidates, InitStartsEveryTransitionInNameOrder) {
    std::vector<std::string> journal;
    for (const char* name : {"C", "A", "B"}) enabled(name, 1.0, 0)->journal = &journal;
    testsupport::TempDir logDir;
    enginetest::Traces traces(logDir);
    EXPECT_FALSE(sim->isInitialised());
    sim->init();
    EXPECT_TRUE(sim->isInitialised());
    EXPECT_EQ(net.getSimulation(), sim.get());
    std::vector<std::string> searches;
    for (const std::string& call : journal)
        if (call.ends_with(".generate")) searches.push_back(call);
    EXPECT_EQ(searches, (std::vector<std::string>{"A.generate", "B.generate", "C.generate"}));
    EXPECT_EQ(countOf(traces.sim(), "************** starting init()... *****************"), 1);
}

// ---------------------------------------------------------------------------
// Conflict resolution

TEST_F(SimulationConflicts, NoCandidateGivesNullAndOneCandidateIsChosenWithoutADraw) {
    TestTransition* a = enabled("A", 0.0, 1);
    TestTransition* b = enabled("B", 0.0, 1);
    std::list<Binding*> none;
    EXPECT_EQ(sim->resolve_conflicts(none), nullptr);

    RandomWrapper::SetPackageSeed(kSeed);
    RandomWrapper parallel;  // the same stream as the driver's
    Binding* onlyA = loose(a);
    std::list<Binding*> single{onlyA};
    std::list<Binding*> pair{loose(a), loose(b)};
    for (int i = 0; i < 50; ++i) {
        // A single candidate takes no number from the driver's stream, so the
        // weighted choices stay in step with the parallel stream.
        EXPECT_EQ(sim->resolve_conflicts(single), onlyA);
        EXPECT_EQ(sim->getLastFiredTransition(), "A");
        const double r = parallel.randu01() * 2.0;
        Binding* expected = r > 1.0 ? pair.back() : pair.front();
        EXPECT_EQ(sim->resolve_conflicts(pair), expected) << "draw " << i;
    }
}

TEST_F(SimulationConflicts, PriorityZeroChoosesUniformlyWithOneDrawOfTheDriversStream) {
    // Different weights do not matter without a priority.
    TestTransition* a = enabled("A", 0.0, 0, 1.0);
    TestTransition* b = enabled("B", 0.0, 0, 1000.0);
    TestTransition* c = enabled("C", 0.0, 0, 5.0);
    RandomWrapper::SetPackageSeed(kSeed);
    RandomWrapper parallel;
    std::list<Binding*> two{loose(a), loose(b)};
    std::vector<Binding*> twoV(two.begin(), two.end());
    std::list<Binding*> three{loose(a), loose(b), loose(c)};
    std::vector<Binding*> threeV(three.begin(), three.end());
    int chosen[2] = {0, 0};
    for (int i = 0; i < 200; ++i) {
        const long k = parallel.randint(0, 1);
        Binding* got = sim->resolve_conflicts(two);
        EXPECT_EQ(got, twoV[static_cast<std::size_t>(k)]) << "draw " << i;
        EXPECT_EQ(sim->getLastFiredTransition(), k == 0 ? "A" : "B");
        ++chosen[k];
        const long j = parallel.randint(0, 2);
        EXPECT_EQ(sim->resolve_conflicts(three), threeV[static_cast<std::size_t>(j)]) << "draw " << i;
    }
    // Each of the two is chosen about half of the time.
    EXPECT_GT(chosen[0], 60);
    EXPECT_GT(chosen[1], 60);
}

TEST_F(SimulationConflicts, NegativePriorityAlsoChoosesUniformly) {
    TestTransition* a = enabled("A", 0.0, -1, 1.0);
    TestTransition* b = enabled("B", 0.0, -1, 0.0);
    RandomWrapper::SetPackageSeed(kSeed);
    RandomWrapper parallel;
    std::list<Binding*> two{loose(a), loose(b)};
    for (int i = 0; i < 100; ++i) {
        const long k = parallel.randint(0, 1);
        EXPECT_EQ(sim->resolve_conflicts(two), k == 0 ? two.front() : two.back()) << "draw " << i;
    }
}

TEST_F(SimulationConflicts, WeightsOneAndThreeChooseTheSecondWhenTheDrawTimesFourExceedsOne) {
    TestTransition* a = enabled("A", 0.0, 1, 1.0);
    TestTransition* b = enabled("B", 0.0, 1, 3.0);
    RandomWrapper::SetPackageSeed(kSeed);
    RandomWrapper parallel;
    std::list<Binding*> two{loose(a), loose(b)};
    int second = 0;
    const int draws = 400;
    for (int i = 0; i < draws; ++i) {
        const double u = parallel.randu01();
        const bool expectSecond = u * 4.0 > 1.0;
        Binding* got = sim->resolve_conflicts(two);
        EXPECT_EQ(got, expectSecond ? two.back() : two.front()) << "draw " << i << " u " << u;
        if (got == two.back()) ++second;
    }
    // About three quarters go to the second.
    EXPECT_GT(second, 250);
    EXPECT_LT(second, 350);
}

TEST_F(SimulationConflicts, AllZeroWeightsChooseTheFirst) {
    TestTransition* a = enabled("A", 0.0, 2, 0.0);
    TestTransition* b = enabled("B", 0.0, 2, 0.0);
    TestTransition* c = enabled("C", 0.0, 2, 0.0);
    std::list<Binding*> three{loose(a), loose(b), loose(c)};
    for (int i = 0; i < 50; ++i) EXPECT_EQ(sim->resolve_conflicts(three), three.front());
    EXPECT_EQ(sim->getLastFiredTransition(), "A");
}

TEST_F(SimulationConflicts, AZeroWeightIsNeverChosenAmongPositiveWeights) {
    TestTransition* zero = enabled("A", 0.0, 1, 0.0);
    TestTransition* b = enabled("B", 0.0, 1, 1.0);
    TestTransition* c = enabled("C", 0.0, 1, 1.0);
    std::list<Binding*> three{loose(zero), loose(b), loose(c)};
    for (int i = 0; i < 100; ++i) EXPECT_NE(sim->resolve_conflicts(three), three.front());
}

// Negative weights can carry the walk past the last candidate: the last one
// is chosen then.
TEST_F(SimulationConflicts, NegativeWeightsThatPassTheEndChooseTheLast) {
    TestTransition* a = enabled("A", 0.0, 1, -1.0);
    TestTransition* b = enabled("B", 0.0, 1, -1.0);
    TestTransition* c = enabled("C", 0.0, 1, -1.0);
    RandomWrapper::SetPackageSeed(kSeed);
    RandomWrapper parallel;
    std::list<Binding*> three{loose(a), loose(b), loose(c)};
    int last = 0, first = 0;
    for (int i = 0; i < 100; ++i) {
        // r = u * (-3); the walk stops at the first candidate when r <= -1,
        // and otherwise passes all three (r > -2 and r > -3 always hold).
        const double u = parallel.randu01();
        const bool passes = u * -3.0 > -1.0;
        Binding* got = sim->resolve_conflicts(three);
        EXPECT_EQ(got, passes ? three.back() : three.front()) << "draw " << i << " u " << u;
        if (got == three.back()) ++last;
        if (got == three.front()) ++first;
    }
    EXPECT_GT(last, 0);
    EXPECT_GT(first, 0);
    EXPECT_EQ(sim->getLastFiredTransition(), sim->resolve_conflicts(three)->getBoundTransition()->getName());
}

// ---------------------------------------------------------------------------
// The clock

TEST_F(SimulationClock, UpdatingToTheSameTimeChangesAndWritesNothing) {
    testsupport::TempDir logDir;
    {
        enginetest::Traces traces(logDir);
        sim->updateSimulationTime(DateTime(5.0));
        EXPECT_EQ(sim->getCurrentSimulationTime(), DateTime(5.0));
        sim->updateSimulationTime(DateTime(5.0));
        EXPECT_EQ(sim->getCurrentSimulationTime(), DateTime(5.0));
        sim->updateSimulationTime(DateTime(6.5));
        EXPECT_EQ(sim->getCurrentSimulationTime(), DateTime(6.5));
        const std::string text = traces.sim();
        // One line for each change made before init(), none for the repeat.
        EXPECT_EQ(countOf(text, "measureOut not initialized, couldn't send Time: "), 2) << text;
    }
    {
        enginetest::Traces traces(logDir);
        sim->init();
        sim->updateSimulationTime(DateTime(8.0));
        EXPECT_EQ(sim->getCurrentSimulationTime(), DateTime(8.0));
        const std::string text = traces.sim();
        // Once initialised, a change writes nothing either.
        EXPECT_EQ(countOf(text, "measureOut not initialized"), 0) << text;
    }
}

TEST_F(SimulationClock, ResetCurrentTimeReturnsToTheStartAndExecuteEventFires) {
    TestTransition* a = enabled("A", 4.0, 0);
    sim->init();
    Binding* b = a->getNextEvent();
    ASSERT_NE(b, nullptr);
    sim->updateSimulationTime(b->getTime());
    sim->executeEvent(b);
    EXPECT_EQ(a->getFireCount(), 1);
    EXPECT_EQ(a->moved.size(), 1u);
    EXPECT_EQ(a->getNextEvent(), nullptr);  // its only token was consumed
    sim->resetCurrentTime();
    EXPECT_EQ(sim->getCurrentSimulationTime(), start);
}

// ---------------------------------------------------------------------------
// Trace of a candidate list

TEST_F(SimulationTrace, FifteenBindingsOfOneTransitionListElevenAndPrintOneElisionLine) {
    TestTransition* a = enabled("Alpha", 0.0, 0);
    std::list<Binding*> events;
    for (int i = 0; i < 15; ++i) events.push_back(loose(a));
    std::string text;
    testsupport::CaptureStream out(std::cout);
    text = sim->printEventList(events);
    const std::string printed = out.text();

    const std::vector<std::string> ls = splitLines(text);
    ASSERT_EQ(ls.size(), 13u) << text;
    EXPECT_EQ(ls.front(), " ******** ---- EventList ---- ********");
    EXPECT_EQ(ls.back(), "---- --------- ----");
    auto it = events.begin();
    for (std::size_t i = 1; i <= 11; ++i, ++it) {
        std::ostringstream expected;
        expected << **it;
        EXPECT_EQ(ls[i], expected.str()) << "line " << i;
    }
    EXPECT_EQ(printed, "Binding[..., Alpha,  ...  ]\n");
    EXPECT_EQ(countOf(text, "..."), 0);
}

TEST_F(SimulationTrace, ElevenBindingsAreListedWithoutElision) {
    TestTransition* a = enabled("A", 0.0, 0);
    std::list<Binding*> events;
    for (int i = 0; i < 11; ++i) events.push_back(loose(a));
    testsupport::CaptureStream out(std::cout);
    const std::string text = sim->printEventList(events);
    EXPECT_EQ(splitLines(text).size(), 13u);
    EXPECT_EQ(out.text(), "");
}

TEST_F(SimulationTrace, EveryRunOfOneTransitionIsShortenedOnItsOwn) {
    TestTransition* a = enabled("A", 0.0, 0);
    TestTransition* b = enabled("B", 0.0, 0);
    std::list<Binding*> events;
    for (int i = 0; i < 15; ++i) events.push_back(loose(a));
    for (int i = 0; i < 12; ++i) events.push_back(loose(b));
    for (int i = 0; i < 3; ++i) events.push_back(loose(a));
    for (int i = 0; i < 20; ++i) events.push_back(loose(b));
    testsupport::CaptureStream out(std::cout);
    const std::string text = sim->printEventList(events);
    // 11 of A, 11 of B, 3 of A, then B again: 11 (the B run after the three
    // A bindings is a new run).
    EXPECT_EQ(countOf(text, "Binding[FIRE, A,"), 14) << text;
    EXPECT_EQ(countOf(text, "Binding[FIRE, B,"), 22) << text;
    EXPECT_EQ(out.text(), "Binding[..., A,  ...  ]\nBinding[..., B,  ...  ]\nBinding[..., B,  ...  ]\n");
}

TEST_F(SimulationTrace, ResolvingAConflictWithTheSimulationTraceOnWritesTheCandidateList) {
    TestTransition* a = enabled("A", 0.0, 0);
    TestTransition* b = enabled("B", 0.0, 0);
    testsupport::TempDir logDir;
    enginetest::Traces traces(logDir);
    std::list<Binding*> two{loose(a), loose(b)};
    ASSERT_NE(sim->resolve_conflicts(two), nullptr);
    std::list<Binding*> none;
    EXPECT_EQ(sim->resolve_conflicts(none), nullptr);
    const std::string text = traces.sim();
    EXPECT_EQ(countOf(text, " ******* FIRE ****** "), 2) << text;
    EXPECT_EQ(countOf(text, " ******** ---- EventList ---- ********"), 2) << text;
    EXPECT_EQ(countOf(text, "!! select randomly !!"), 1) << text;
    EXPECT_EQ(countOf(text, "\t randomly selected event = "), 1) << text;
    EXPECT_EQ(countOf(text, "!! END of random select !!"), 1) << text;
    EXPECT_EQ(countOf(text, "can't fire..."), 1) << text;
}

// ---------------------------------------------------------------------------
// Measure update

TEST_F(SimulationMeasureUpdate, ARestartOpensEveryWindowAtTheStartTimeAndSkipsPreciseMeasures) {
    std::vector<std::string> journal;
    auto timed = std::make_unique<JournalMeasure>("Timed", &net, Kind::TimeAveraged, &journal);
    auto precise = std::make_unique<JournalMeasure>("Precise", &net, Kind::TimeAveraged, &journal);
    auto importance = std::make_unique<JournalMeasure>("ImportanceFunction", &net, Kind::TimeAveraged, &journal);
    precise->markPrecise();
    precise->setFirstValue(false);
    importance->setFirstValue(false);
    net.addMeasure(timed.get());
    net.addMeasure(precise.get());
    net.addMeasure(importance.get());
    TestTransition* a = enabled("A", 0.0, 0);
    Binding* b = new Binding(new TokenList, a, DateTime(40.0));
    owned.push_back(b);

    sim->updateSimulationTime(DateTime(40.0));
    sim->resetMeasures = true;
    sim->updateAllMeasures(b, true, false);
    EXPECT_FALSE(sim->resetMeasures);
    // The window opens at the start of the run, not at the clock.
    EXPECT_EQ(timed->accumWindowStarts, (std::vector<double>{0.0}));
    EXPECT_FALSE(timed->getFirstValue());
    EXPECT_EQ(journal, (std::vector<std::string>{"r0 Timed accum A@40"}));
    EXPECT_EQ(timed->weights, (std::vector<double>{1.0}));
    // The precise measure is marked but neither restarted nor fed; the
    // importance function is left alone.
    EXPECT_TRUE(precise->getFirstValue());
    EXPECT_FALSE(importance->getFirstValue());

    // Without a restart the window stays open.
    timed->reset(DateTime(30.0));
    sim->updateAllMeasures(b, true, false);
    EXPECT_EQ(timed->windowStart(), 30.0);
    EXPECT_EQ(linesStartingWith(journal, "r0 Timed").size(), 2u);
    EXPECT_EQ(linesStartingWith(journal, "r0 Precise").size(), 0u);
    EXPECT_EQ(linesStartingWith(journal, "r0 ImportanceFunction").size(), 0u);
}

TEST_F(SimulationMeasureUpdate, TimedOnlySkipsInstantaneousMeasuresAndNoAccumulationOnlyRestarts) {
    std::vector<std::string> journal;
    auto inst = std::make_unique<JournalMeasure>("Inst", &net, Kind::Instantaneous, &journal);
    auto timed = std::make_unique<JournalMeasure>("Timed", &net, Kind::TimeAveraged, &journal);
    auto acc = std::make_unique<JournalMeasure>("Acc", &net, Kind::Accumulative, &journal);
    net.addMeasure(inst.get());
    net.addMeasure(timed.get());
    net.addMeasure(acc.get());
    Binding marker(DateTime(25.0));

    inst->reset(DateTime(7.0));
    sim->resetMeasures = true;
    sim->updateAllMeasures(&marker, false, false);
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ(inst->windowStart(), 0.0);  // restarted although nothing was fed

    sim->updateAllMeasures(&marker, true, true);
    EXPECT_EQ(journal, (std::vector<std::string>{"r0 Timed accum marker@25", "r0 Acc accum marker@25"}));

    journal.clear();
    sim->fireWeight = 0.25;
    sim->updateAllMeasures(&marker, true, false);
    EXPECT_EQ(journal, (std::vector<std::string>{"r0 Inst accum marker@25", "r0 Timed accum marker@25",
                                                 "r0 Acc accum marker@25"}));
    EXPECT_EQ(inst->weights, (std::vector<double>{0.25}));
}

// ---------------------------------------------------------------------------
// The results file

namespace {

struct ResultsRun {
    std::string file;
    std::string console;
};

// Runs shutdown() of a driver of the given kind in a fresh directory that
// already holds an old results file; the clock stands at `reachedSeconds`
// (the stop time when negative).
ResultsRun shutdownOf(int simulationType, double startSeconds, double stopSeconds,
                      double samplingInterval, bool markNoStopTime, double reachedSeconds = -1.0) {
    testsupport::TempDir dir;
    dir.write("results.log", "old content that must go\n");
    testsupport::ScopedCwd cwd(dir.path());
    Net net;
    auto zeta = std::make_unique<JournalMeasure>("Zeta", &net, Kind::TimeAveraged, nullptr);
    auto alpha = std::make_unique<JournalMeasure>("Alpha", &net, Kind::TimeAveraged, nullptr);
    net.addMeasure(zeta.get());
    net.addMeasure(alpha.get());
    const DateTime start(startSeconds);
    ResultsRun r;
    std::ios savedFormat(nullptr);
    savedFormat.copyfmt(std::cout);
    {
        ProbeSimulation sim(&net, start, DateTime(stopSeconds), 3, simulationType, 0.01, 0u,
                            samplingInterval);
        sim.noStopTime = markNoStopTime;
        sim.updateSimulationTime(DateTime(reachedSeconds < 0.0 ? stopSeconds : reachedSeconds));
        sim.initMeasureList(true);
        testsupport::CaptureStream out(std::cout);
        sim.shutdown();
        r.console = out.text();
    }
    std::cout.copyfmt(savedFormat);  // shutdown leaves its number format on the stream
    r.file = dir.read("results.log");
    return r;
}

}  // namespace

TEST(SimulationResultsFile, HeaderTimeLineBlankLineThenBlocksInMeasureListOrder) {
    const ResultsRun r = shutdownOf(0, 0.0, 12345.678, 10.0, false);
    const std::vector<std::string> ls = splitLines(r.file);
    ASSERT_GE(ls.size(), 4u) << r.file;
    EXPECT_EQ(ls[0], "RESULTS OF TRANSIENT SIMULATION");
    EXPECT_EQ(ls[1], "SIMULATION TIME: 1.23e+04");
    EXPECT_EQ(ls[2], "");
    EXPECT_EQ(ls[3], "Measure: Zeta");
    const std::size_t zeta = r.file.find("Measure: Zeta\n");
    const std::size_t alpha = r.file.find("Measure: Alpha\n");
    ASSERT_NE(alpha, std::string::npos);
    EXPECT_LT(zeta, alpha);
    EXPECT_EQ(r.file.find("old content"), std::string::npos);
    // Standard output: two line ends that end the verdict, then the same
    // header and time line.
    EXPECT_EQ(r.console.rfind("\n\nRESULTS OF TRANSIENT SIMULATION\nSIMULATION TIME: 1.23e+04\n\nMeasure: Zeta\n", 0),
              0u)
        << r.console;
    EXPECT_LT(r.console.find("Measure: Zeta\n"), r.console.find("Measure: Alpha\n"));
}

TEST(SimulationResultsFile, TimeLineHasThreeSignificantDigits) {
    EXPECT_EQ(splitLines(shutdownOf(0, 0.0, 100.0, 25.0, false).file)[1], "SIMULATION TIME: 100");
    EXPECT_EQ(splitLines(shutdownOf(0, 0.0, 2.5, 1.0, false).file)[1], "SIMULATION TIME: 2.5");
    EXPECT_EQ(splitLines(shutdownOf(0, 0.0, 0.123456, 0.1, false).file)[1], "SIMULATION TIME: 0.123");
    EXPECT_EQ(splitLines(shutdownOf(1, 0.0, 2000.0, 0.0, false).file)[1], "SIMULATION TIME: 2e+03");
}

TEST(SimulationResultsFile, StationaryAndRestartRunsHaveTheStationaryHeader) {
    EXPECT_EQ(splitLines(shutdownOf(1, 0.0, 50.0, 0.0, false).file)[0], "RESULTS OF STATIONARY SIMULATION");
    EXPECT_EQ(splitLines(shutdownOf(2, 0.0, 50.0, 0.0, false).file)[0], "RESULTS OF STATIONARY SIMULATION");
}

TEST(SimulationResultsFile, StationaryRunsShowTheModelTimeTheyReached) {
    // Without a stop time: where the clock stands (not the start, as a run
    // of millions of events would otherwise say).
    EXPECT_EQ(splitLines(shutdownOf(1, 20.0, 10.0, 2.0, true, 4567.0).file)[1], "SIMULATION TIME: 4.57e+03");
    // Ended early (accuracy, dead marking, wall clock): short of the stop time.
    EXPECT_EQ(splitLines(shutdownOf(1, 0.0, 100.0, 0.0, false, 37.5).file)[1], "SIMULATION TIME: 37.5");
    // The event that passed the stop time ends the run at the stop time.
    EXPECT_EQ(splitLines(shutdownOf(1, 0.0, 100.0, 0.0, false, 100.4).file)[1], "SIMULATION TIME: 100");
    // A transient driver always shows its stop time.
    EXPECT_EQ(splitLines(shutdownOf(0, 20.0, 10.0, 2.0, true, 15.0).file)[1], "SIMULATION TIME: 10");
}

TEST(SimulationLifecycle, OnlyOneDriverAtATime) {
    Net net;
    const DateTime start(0.0);
    {
        ProbeSimulation first(&net, start, DateTime(10.0), 1, 1, 0.01, 0u);
        EXPECT_EQ(Simulation::sim, &first);
        EXPECT_DEATH(ProbeSimulation(&net, start, DateTime(10.0), 1, 1, 0.01, 0u), "sim == NULL");
    }
    EXPECT_EQ(Simulation::sim, nullptr);
}

// ---------------------------------------------------------------------------
// The result channel's messages, byte for byte, over a real connection

namespace {

// A watched (or unwatched) measure whose latest estimate the test sets.
class EstimateMeasure : public MeasureObj {
public:
    EstimateMeasure(const char* name, NetClass* net, bool watch, bool accumulating)
        : MeasureObj(name, net, watch), accumulating_(accumulating) {}
    double measure(double) override { return 0.0; }
    bool accumulative() override { return accumulating_; }
    bool timeaverage() override { return !accumulating_; }
    void accum(const Binding*, double) override {}
    void setEstimate(double mean, double halfWidth) {
        AveragedMean.push_back(mean);
        DeltaX.push_back(halfWidth);
    }

private:
    bool accumulating_;
};

std::string readAvailable(socket_t* peer) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const int n = peer->read(buffer, 0, sizeof buffer, 1);  // whatever arrives within a second
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace

TEST(ResultChannelMessages, EveryMessageHasItsExactText) {
    std::unique_ptr<socket_t> listener(socket_t::create_global(nullptr));
    ASSERT_TRUE(listener->is_ok());
    const std::string port = std::to_string(static_cast<win_socket*>(listener.get())->get_port());
    for (int kind : {0, 1}) {
        SCOPED_TRACE(kind == 0 ? "transient" : "stationary");
        Net net;
        EstimateMeasure accuracy("Binary_accuracy", &net, true, false);
        EstimateMeasure hidden("Hidden", &net, false, false);
        EstimateMeasure counted("Counted", &net, true, true);
        for (EstimateMeasure* m : {&accuracy, &hidden, &counted}) m->setEstimate(0.5, 0.125);
        Place pool(1, "P_thread_pool", &net, false, 0);
        const DateTime start(0.0);
        auto sim = std::make_unique<ProbeSimulation>(&net, start, DateTime(1000.0), 3, kind, 0.01, 0u, 20.0,
                                                     "127.0.0.1:" + port);
        testsupport::CaptureStream out(std::cout);
        sim->init();
        std::unique_ptr<socket_t> peer(listener->accept());
        ASSERT_TRUE(peer && peer->is_ok());
        EXPECT_EQ(out.text(), "Try to connect to: 127.0.0.1:" + port + "\nconnection established..\n");
        sim->analysisState = 1;
        sim->nextSamplingTime = DateTime(20.0);
        sim->updateSimulationTime(DateTime(12.5));
        for (EstimateMeasure* m : {&accuracy, &hidden, &counted}) sim->measureOut(m, m);
        sim->measureOut(&pool, 3.0);
        sim->displayOut(&pool, 1.0 / 3.0);
        sim->measureOut(&pool, 1000.0);
        sim.reset();  // the driver goes with its end message
        const std::string received = readAvailable(peer.get());
        // A transient estimate carries its sampling point, a stationary one the clock.
        const std::string t = kind == 0 ? "20" : "12.5";
        const std::string estimate = "<Result:Mean>,<-ConfMin>,<+ConfMax>;0.5,0.375,0.625\n";
        EXPECT_EQ(received,
                  "NETNAME;TestNet\nXTICKFORMAT;0\n" + std::string(kind == 0 ? "STARTTIME;0\nENDTIME;1000\n" : "") +
                      "TIME;0\n" + "TIME;" + t + "\nBinary_accuracy" + estimate + "TIME;" + t + "\n" +
                      "TIME;" + t + "\n" + (kind == 0 ? "Counted" + estimate : std::string()) +
                      "TIME;12.5\nP_thread_pool<Place>;3\n" +
                      "TIME;12.5\nP_thread_pool<Place:Display>;0.3333333333333333\n" +
                      "TIME;12.5\nP_thread_pool<Place>;1000\n" + "EXIT;0\n");
    }
}
