// The RESTART driver: levels, the splitting bookkeeping (snapshots, trials,
// weights) on a tiny net, a scripted run whose retrials replay the same
// path, and the command line's checks of a RESTART run.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/EngineTestDoubles.h"
#include "sim/SimTestDoubles.h"
#include "support/TestSupport.h"

using simtest::ClockNet;
using simtest::JournalMeasure;
using simtest::Kind;
using simtest::kNoLimit;
using simtest::ProbeSimulation;

TEST(RestartLevel, SlicesBetweenTheThresholds) {
    const std::pair<double, int> cases[] = {{-1.0, 0}, {0.0, 1}, {1.99, 1}, {2.0, 2}, {3.9, 2},
                                            {9.99, 5}, {10.0, 6}, {25.0, 6}, {1e300, 6}};
    for (const auto& [value, expected] : cases) EXPECT_EQ(Simulation::level(0.0, 10.0, value, 4), expected) << value;
    // No inner threshold: below, between and above.
    EXPECT_EQ(Simulation::level(1.0, 3.0, 0.5, 0), 0);
    EXPECT_EQ(Simulation::level(1.0, 3.0, 2.9, 0), 1);
    EXPECT_EQ(Simulation::level(1.0, 3.0, 3.0, 0), 2);
    EXPECT_EQ(Simulation::level(1.0, 3.0, -1e300, 0), 0);
}

namespace {

// A clock net (Tick every second) with a RESTART driver; levels are set by
// hand through crossLevels.
struct Splitting {
    Splitting() : start(0.0), net(1.0, 1000) {
        net.buildNet();
        sim = std::make_unique<ProbeSimulation>(&net, start, DateTime(100.0), 1, 2, 0.1, kNoLimit, 10.0);
        sim->init();
    }
    ~Splitting() { sim.reset(); }
    const DateTime start;
    ClockNet net;
    std::unique_ptr<ProbeSimulation> sim;
    int level = 0;
};

}  // namespace

TEST(RestartSplitting, ThreeRepeatsRestoreTwiceThenDrop) {
    Splitting s;
    s.sim->fireWeight = 1.0;
    s.sim->crossLevels(s.level, 1, 3);
    ASSERT_EQ(s.sim->savedStates.size(), 1u);
    EXPECT_EQ(s.sim->savedStates.back().getTrials(), 2);
    EXPECT_EQ(s.sim->savedStates.back().getStateLevel(), 1);
    EXPECT_DOUBLE_EQ(s.sim->fireWeight, 1.0 / 3);
    const long saved = s.net.getPlace("P")->getFullMarking().front()->getID();
    for (int trials = 1; trials >= 0; --trials) {
        s.net.getPlace("P")->removeCurrentMarking();  // whatever the path did
        s.sim->crossLevels(s.level, 0, 3);
        ASSERT_EQ(s.sim->savedStates.size(), 1u);
        EXPECT_EQ(s.sim->savedStates.back().getTrials(), trials);
        EXPECT_EQ(s.level, 1);  // the retrial starts at the snapshot's level
        EXPECT_DOUBLE_EQ(s.sim->fireWeight, 1.0 / 3);
        ASSERT_EQ(s.net.getPlace("P")->getFullMarking().size(), 1u);
        EXPECT_EQ(s.net.getPlace("P")->getFullMarking().front()->getID(), saved);
    }
    s.sim->crossLevels(s.level, 0, 3);  // the last retrial goes on
    EXPECT_TRUE(s.sim->savedStates.empty());
    EXPECT_EQ(s.level, 0);
    EXPECT_DOUBLE_EQ(s.sim->fireWeight, 1.0);
}

// A path's weight is 1/R for every snapshot it was split at, and nothing
// more: a run that starts at level 1 (a first threshold at or below the
// lowest importance) has split nothing and weighs 1, and so does any path
// once the stack is empty again, whatever its level.
TEST(RestartSplitting, JumpsSaveOnceAndTheWeightCountsOnlyTheSplits) {
    Splitting s;
    s.level = 1;
    s.sim->fireWeight = 1.0;  // nothing split yet
    s.sim->crossLevels(s.level, 4, 2);  // straight from 1 to 4
    ASSERT_EQ(s.sim->savedStates.size(), 1u);
    EXPECT_EQ(s.sim->savedStates.back().getStateLevel(), 4);
    EXPECT_DOUBLE_EQ(s.sim->fireWeight, 0.5);
    s.sim->crossLevels(s.level, 5, 2);
    EXPECT_EQ(s.sim->savedStates.size(), 2u);
    EXPECT_DOUBLE_EQ(s.sim->fireWeight, 0.25);
    // Falling to 2 restores the newest snapshot (level 5) first.
    s.sim->crossLevels(s.level, 2, 2);
    EXPECT_EQ(s.level, 5);
    EXPECT_EQ(s.sim->savedStates.back().getTrials(), 0);
    EXPECT_DOUBLE_EQ(s.sim->fireWeight, 0.25);
    // Again: 5 is dropped, then 4 (with a trial left) is restored.
    s.sim->crossLevels(s.level, 2, 2);
    EXPECT_EQ(s.sim->savedStates.size(), 1u);
    EXPECT_EQ(s.level, 4);
    EXPECT_DOUBLE_EQ(s.sim->fireWeight, 0.5);
    s.sim->crossLevels(s.level, 2, 2);  // 4 is dropped: the stack is empty
    EXPECT_TRUE(s.sim->savedStates.empty());
    EXPECT_EQ(s.level, 2);
    EXPECT_DOUBLE_EQ(s.sim->fireWeight, 1.0);
    // A fall with an empty stack leaves the weight of an unsplit path.
    s.sim->crossLevels(s.level, 1, 2);
    EXPECT_DOUBLE_EQ(s.sim->fireWeight, 1.0);
    s.sim->fireWeight = 0.3;
    s.sim->crossLevels(s.level, 0, 2);
    EXPECT_DOUBLE_EQ(s.sim->fireWeight, 1.0);
}

TEST(RestartSplitting, OneRepeatNeverSplits) {
    Splitting s;
    s.sim->fireWeight = 1.0;
    s.sim->crossLevels(s.level, 1, 1);
    ASSERT_EQ(s.sim->savedStates.size(), 1u);
    EXPECT_EQ(s.sim->savedStates.back().getTrials(), 0);
    s.sim->crossLevels(s.level, 2, 1);
    s.sim->crossLevels(s.level, 0, 1);  // both dropped at the first fall
    EXPECT_TRUE(s.sim->savedStates.empty());
    EXPECT_EQ(s.level, 0);
    EXPECT_DOUBLE_EQ(s.sim->fireWeight, 1.0);
}

// A run whose importance follows the clock: 1 at t = 1, 2 at t = 2, 0
// otherwise. A restore sets the clock back (the restored Tick is due at the
// saved time), so every retrial replays the same path and the weights of
// the accumulations are known exactly.
struct ReplayedPath {
    std::vector<std::string> journal;  // outlives the net and its measures
    ClockNet net{1.0, 1000};
    JournalMeasure* importance = new JournalMeasure("ImportanceFunction", &net, Kind::TimeAveraged, nullptr);
    JournalMeasure* m = new JournalMeasure("M", &net, Kind::TimeAveraged, &journal);
    ReplayedPath() {
        net.addMeasure(m);
        net.addMeasure(importance);
        net.buildNet();
        importance->valueFn = [] {
            const double t = Simulation::sim->getCurrentSimulationTime().FullDateTime();
            return t == 1.0 ? 1.0 : t == 2.0 ? 2.0 : 0.0;
        };
    }
};

// The split path replayed by every retrial.
TEST(RestartRun, RetrialsReplayTheSplitPathWithTheirWeights) {
    const DateTime start(0.0);
    ReplayedPath path;
    auto& net = path.net;
    auto& journal = path.journal;
    auto* m = path.m;
    auto sim = std::make_unique<ProbeSimulation>(&net, start, DateTime(5.0), 1, 2, 0.1, kNoLimit, 100.0);
    sim->init();
    testsupport::CaptureStream capture(std::cout);
    double alpha = 0.05;
    sim->run_restart(alpha, 2, 1.0, 2.0, 0);
    const std::string out = capture.text();

    EXPECT_EQ(journal, (std::vector<std::string>{"r0 M accum Tick@1", "r0 M accum Tick@2", "r0 M accum Tick@3",
                                                 "r0 M accum Tick@3", "r0 M accum Tick@2", "r0 M accum Tick@3",
                                                 "r0 M accum Tick@3", "r0 M accum Tick@4", "r0 M accum Tick@5",
                                                 // The event beyond the stop time, on the main path, ends
                                                 // the batch under way.
                                                 "r0 M measure=0"}));
    // Each stretch of time is covered by weights summing to 1.
    EXPECT_EQ(m->weights, (std::vector<double>{1, 0.5, 0.25, 0.25, 0.5, 0.25, 0.25, 1, 1}));
    EXPECT_TRUE(sim->savedStates.empty());
    // The main path ran from 0 to the last event before the stop time.
    EXPECT_DOUBLE_EQ(sim->restartTime, 5.0);
    EXPECT_NE(out.find("\nRESTART simulation starts.\n\nParameters: \n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nABORT SIMULATION. REACHED MAXIMUM MODEL TIME."), std::string::npos) << out;
    sim.reset();
}

// The same path with a sampling point every second. Batches end at the
// first main-path event at or after a point (after the event's measure
// update): the retrials, whose clock runs ahead and is set back, pass the
// points at 2 and 3 without ending a batch or using the points up, and the
// main path ends the batches there when it gets to them.
TEST(RestartRun, RetrialsNeitherEndABatchNorUseUpItsPoint) {
    const DateTime start(0.0);
    ReplayedPath path;
    auto& net = path.net;
    auto& journal = path.journal;
    auto* m = path.m;
    auto sim = std::make_unique<ProbeSimulation>(&net, start, DateTime(5.0), 1, 2, 0.1, kNoLimit, 1.0);
    sim->init();
    testsupport::CaptureStream capture(std::cout);
    double alpha = 0.05;
    sim->run_restart(alpha, 2, 1.0, 2.0, 0);

    EXPECT_EQ(journal, (std::vector<std::string>{
                           "r0 M accum Tick@1", "r0 M measure=0",                      // main path: point 1
                           "r0 M accum Tick@2", "r0 M accum Tick@3", "r0 M accum Tick@3",  // retrials
                           "r0 M accum Tick@2", "r0 M measure=0",                      // main again: point 2
                           "r0 M accum Tick@3",                                        // a retrial
                           "r0 M accum Tick@3", "r0 M measure=0",                      // main: point 3
                           "r0 M accum Tick@4", "r0 M measure=0", "r0 M accum Tick@5", "r0 M measure=0"}));
    EXPECT_EQ(m->batchCount(), 5u);
    EXPECT_DOUBLE_EQ(sim->restartTime, 5.0);
    sim.reset();
}

// An event far beyond the next point ends one batch, and the point after it
// is the first one past the clock: no step for every point jumped.
TEST(RestartRun, AJumpOverManyPointsEndsOneBatch) {
    const DateTime start(0.0);
    ClockNet net(10.0, 1000);
    auto* importance = new JournalMeasure("ImportanceFunction", &net, Kind::TimeAveraged, nullptr);
    auto* m = new JournalMeasure("M", &net, Kind::TimeAveraged, nullptr);
    net.addMeasure(m);
    net.addMeasure(importance);
    net.buildNet();
    auto sim = std::make_unique<ProbeSimulation>(&net, start, DateTime(100.5), 1, 2, 0.1, kNoLimit, 1.0);
    sim->init();
    testsupport::CaptureStream capture(std::cout);
    double alpha = 0.05;
    sim->run_restart(alpha, 2, 1.0, 2.0, 0);
    EXPECT_EQ(m->batchCount(), 10u);  // events at 10, 20, ..., 100
    EXPECT_EQ(sim->nextSamplingTime, DateTime(101.0));
    EXPECT_DOUBLE_EQ(sim->fireWeight, 1.0);
    sim.reset();
}
