// The one event step of every run and the small objects a run owns around
// it: the hooks see the event at fixed stages (clock advanced, measures
// updated, fired), a hook can hold the event back, a dead marking fires
// nothing; the transient schedule, the run guard, the progress lines and
// the RESTART accounting each on their own.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "sim/Progress.h"
#include "sim/RestartAccounting.h"
#include "sim/RunGuard.h"
#include "sim/SimTestDoubles.h"
#include "sim/TransientSchedule.h"
#include "support/TestSupport.h"

using simtest::ClockNet;
using simtest::JournalMeasure;
using simtest::Kind;
using simtest::kNoLimit;
using simtest::ProbeSimulation;

namespace {

// Writes every stage it is called at into the measures' journal, so that
// the order of hooks, measure updates and firings is one list.
class JournalHooks : public StepHooks {
public:
    JournalHooks(std::vector<std::string>& journal, ClockNet& net) : journal_(journal), net_(net) {}
    bool beforeMeasures(Binding& b) override {
        note("beforeMeasures", &b);
        return holdAt != 1;
    }
    bool beforeFiring(Binding& b) override {
        note("beforeFiring", &b);
        return holdAt != 2;
    }
    void afterFiring() override { note("afterFiring", nullptr); }
    int holdAt = 0;

private:
    // The time of the event, where there still is one.
    void note(const char* stage, const Binding* b) {
        journal_.push_back(std::string(stage) + (b ? "@" + simtest::num(b->getTime().FullDateTime()) : "") +
                           " fires=" + std::to_string(net_.fires()));
    }
    std::vector<std::string>& journal_;
    ClockNet& net_;
};

// A clock net (Tick every second, dead after `limit` firings) with one
// journal measure, and a driver ready to step.
struct StepSetup {
    explicit StepSetup(int limit) : net(1.0, limit) {
        measure = new JournalMeasure("M", &net, Kind::Accumulative, &journal);
        net.addMeasure(measure);
        net.buildNet();
        sim = std::make_unique<ProbeSimulation>(&net, start, DateTime(100.0), 1, 1, 0.01, kNoLimit);
        sim->init();
    }
    ~StepSetup() { sim.reset(); }

    std::vector<std::string> journal;
    const DateTime start{0.0};
    ClockNet net;
    JournalMeasure* measure;
    std::unique_ptr<ProbeSimulation> sim;
};

}  // namespace

TEST(EventStep, TheHooksSeeTheClockAtTheEventThenTheMeasuresThenTheFiring) {
    StepSetup s(5);
    JournalHooks hooks(s.journal, s.net);
    EXPECT_EQ(s.sim->step(hooks), StepResult::Fired);
    EXPECT_EQ(s.sim->getCurrentSimulationTime(), DateTime(1.0));
    EXPECT_EQ(s.sim->getLastFiredTransition(), "Tick");
    const std::vector<std::string> expected = {"beforeMeasures@1 fires=0", "r0 M accum Tick@1",
                                               "beforeFiring@1 fires=0", "afterFiring fires=1"};
    EXPECT_EQ(s.journal, expected);
}

TEST(EventStep, AHookCanHoldTheEventBeforeTheMeasuresOrBeforeItFires) {
    {
        StepSetup s(5);
        JournalHooks hooks(s.journal, s.net);
        hooks.holdAt = 1;
        EXPECT_EQ(s.sim->step(hooks), StepResult::Held);
        // The clock moved to the event; nothing else happened.
        EXPECT_EQ(s.sim->getCurrentSimulationTime(), DateTime(1.0));
        EXPECT_EQ(s.journal, std::vector<std::string>{"beforeMeasures@1 fires=0"});
        EXPECT_EQ(s.net.fires(), 0);
    }
    {
        StepSetup s(5);
        JournalHooks hooks(s.journal, s.net);
        hooks.holdAt = 2;
        EXPECT_EQ(s.sim->step(hooks), StepResult::Held);
        const std::vector<std::string> expected = {"beforeMeasures@1 fires=0", "r0 M accum Tick@1",
                                                   "beforeFiring@1 fires=0"};
        EXPECT_EQ(s.journal, expected);
        EXPECT_EQ(s.net.fires(), 0);
    }
}

TEST(EventStep, ADeadMarkingFiresNothingAndCallsNoHook) {
    StepSetup s(2);
    StepHooks plain;
    EXPECT_EQ(s.sim->step(plain), StepResult::Fired);
    EXPECT_EQ(s.sim->step(plain), StepResult::Fired);
    JournalHooks hooks(s.journal, s.net);
    s.journal.clear();
    EXPECT_EQ(s.sim->step(hooks), StepResult::Dead);
    EXPECT_TRUE(s.journal.empty());
    EXPECT_EQ(s.sim->getCurrentSimulationTime(), DateTime(2.0));
    EXPECT_EQ(s.net.fires(), 2);
}

TEST(EventStep, TheFiringLineIsTracedUnlessTheHooksSayNot) {
    testsupport::TempDir logDir;
    enginetest::Traces traces(logDir);
    StepSetup s(5);
    StepHooks traced;
    StepHooks quiet;
    quiet.traceFiring = false;
    s.sim->step(traced);
    s.sim->step(quiet);
    s.sim->step(traced);
    const std::string log = traces.sim();
    int lines = 0;
    for (std::size_t at = log.find("FIRING: "); at != std::string::npos; at = log.find("FIRING: ", at + 1)) ++lines;
    EXPECT_EQ(lines, 2);
}

// ---------------------------------------------------------------------------
// The transient schedule

TEST(TransientSchedule, PointsDivideTheIntervalAndTheLastIsTheStopTime) {
    TransientSchedule five(DateTime(0.0), DateTime(100.0), 5);
    ASSERT_EQ(five.size(), 5u);
    EXPECT_DOUBLE_EQ(five.interval(), 25.0);
    for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(five.at(k), DateTime(25.0 * static_cast<double>(k)));
    EXPECT_EQ(five.at(9), DateTime(100.0));  // past the last point: the stop time

    // An interval that does not divide evenly still ends on the stop time.
    TransientSchedule odd(DateTime(0.0), DateTime(1.0), 4);
    EXPECT_EQ(odd.at(3), DateTime(1.0));

    // One point (or none asked for) stands at the stop time.
    TransientSchedule one(DateTime(10.0), DateTime(30.0), 1);
    EXPECT_EQ(one.size(), 1u);
    EXPECT_EQ(one.at(0), DateTime(30.0));
    EXPECT_DOUBLE_EQ(one.interval(), 20.0);
    EXPECT_EQ(TransientSchedule(DateTime(0.0), DateTime(5.0), 0).size(), 1u);
}

TEST(TransientSchedule, AReplicationVisitsEveryPointOnceAndACutOneIsTakenBack) {
    TransientSchedule s(DateTime(0.0), DateTime(30.0), 4);
    s.beginReplication();
    EXPECT_EQ(s.observe(0), 0);
    EXPECT_FALSE(s.atLast());
    s.advance();
    EXPECT_EQ(s.observe(1), 0);
    s.advance();
    s.advance();
    EXPECT_TRUE(s.atLast());
    s.advance();
    EXPECT_TRUE(s.done());

    // The second replication is cut after two points: only those are taken back.
    s.beginReplication();
    EXPECT_EQ(s.observe(0), 1);
    s.advance();
    EXPECT_EQ(s.observe(1), 1);
    s.advance();
    EXPECT_EQ(s.observe(2), 0);
    s.abandonReplication();
    s.beginReplication();
    EXPECT_EQ(s.observe(0), 1);
    EXPECT_EQ(s.observe(1), 1);
    EXPECT_EQ(s.observe(2), 1);  // observed in the cut replication, not before its index
    EXPECT_EQ(s.observe(7), 0);  // no such point: nothing counted
}

// ---------------------------------------------------------------------------
// The run guard and the progress lines

TEST(RunGuard, LooksOnceEveryStretchOfEventsAndStopsAtTheLimit) {
    const DateTime clock(3.0);
    int looks = 0;
    bool stop = false;
    RunGuard guard(RunTimeLimit{std::time(nullptr), 0, true}, clock);
    guard.onLook([&] { ++looks; });
    guard.stopWhen([&] { return stop; });
    for (unsigned k = 0; k < 3 * RunGuard::kEvents; ++k) EXPECT_FALSE(guard.mustStop(0));
    EXPECT_EQ(looks, 3);
    stop = true;
    bool stopped = false;
    for (unsigned k = 0; k < RunGuard::kEvents && !stopped; ++k) stopped = guard.mustStop(0);
    EXPECT_TRUE(stopped);

    // A limit of 0 s has passed at once, unless the caller asks for a minimum.
    RunGuard limited(RunTimeLimit{std::time(nullptr), 0, false}, clock);
    EXPECT_FALSE(limited.mustStop(1000));
    RunGuard atOnce(RunTimeLimit{std::time(nullptr), 0, false}, clock);
    EXPECT_TRUE(atOnce.mustStop(0));
    // A run started an hour ago with a day's limit is within it.
    EXPECT_TRUE((RunTimeLimit{std::time(nullptr) - 3600, 86400, false}.within()));
    EXPECT_FALSE((RunTimeLimit{std::time(nullptr) - 3600, 60, false}.within()));
}

TEST(Progress, ALineIsDueTenSecondsAfterTheLast) {
    std::time_t last = 1000;
    EXPECT_FALSE(progress::due(last, 1009));
    EXPECT_EQ(last, 1000);
    EXPECT_TRUE(progress::due(last, 1010));
    EXPECT_EQ(last, 1010);
    EXPECT_FALSE(progress::due(last, 1015));
    EXPECT_TRUE(progress::due(last, 1100));
}

// ---------------------------------------------------------------------------
// RESTART accounting

TEST(RestartAccounting, ABatchIsItsStretchOfTheWeightedIntegralPerUnitOfMainPathTime) {
    ClockNet net(1.0, 1);
    JournalMeasure m("M", &net, Kind::TimeAveraged, nullptr);
    double running = 2.0;  // the measure's running mean over the main path
    m.valueFn = [&] { return running; };
    double mainPath = 99.0;
    RestartAccounting accounting(mainPath, DateTime(10.0), 1);
    EXPECT_EQ(mainPath, 0.0);
    EXPECT_FALSE(accounting.batchOpen());

    accounting.advanceMainPath(DateTime(14.0));
    EXPECT_DOUBLE_EQ(mainPath, 4.0);
    ASSERT_TRUE(accounting.batchOpen());
    double weight = 0.0;
    EXPECT_DOUBLE_EQ(accounting.value(m, 0, weight), 2.0);  // 2 * 4 over 4
    EXPECT_DOUBLE_EQ(weight, 4.0);
    EXPECT_EQ(m.args.back(), 4.0);  // the measure is read over the main path's time
    accounting.batchClosed();
    EXPECT_EQ(accounting.batches(), 1);
    EXPECT_FALSE(accounting.batchOpen());

    // The mean over 10 units rises to 5: the second stretch of 6 carried 50 - 8.
    running = 5.0;
    accounting.advanceMainPath(DateTime(20.0));
    EXPECT_DOUBLE_EQ(accounting.value(m, 0, weight), 42.0 / 6.0);
    EXPECT_DOUBLE_EQ(weight, 6.0);
}
