// The stationary run: one trajectory cut into batches of 100 events (or
// closed early by the first event beyond the stop time); every batch gives
// each time-averaged measure one value, and from the fifth value on the batch
// values are analysed until the measures are accurate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimTestDoubles.h"
#include "support/TestSupport.h"

using simtest::ClockNet;
using simtest::JournalMeasure;
using simtest::Kind;
using simtest::kNoLimit;
using simtest::linesStartingWith;
using simtest::ProbeSimulation;

namespace {

const std::string kFewBatches =
    "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY.\n";
const std::string kDead = "WARNING: Stationary simulation stops at a dead marking.\n";
const std::string kSuccess = "\nSIMULATION SUCCESSFUL";
const std::string kModelTime = "\nABORTED SIMULATION. REACHED MAXIMUM MODEL TIME.";
const std::string kRunTime = "\nABORTED SIMULATION. REACHED MAXIMUM RUN TIME.";

int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Independent values, uniform in [10, 11), from a fixed generator.
std::function<double()> uniformAboveTen(std::uint64_t seed) {
    return [state = seed]() mutable {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return 10.0 + static_cast<double>(state >> 11) / 9007199254740992.0;
    };
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A clock net (Tick every second, dead after `limit` firings) run
// stationarily from `startAt` to `stop`.
struct StationarySetup {
    StationarySetup(int limit, double startAt, double stop, unsigned int maxRunTime, double epsMax = 1e-9,
                    int tokens = 1, int growth = 0)
        : start(startAt), net(1.0, limit, tokens, growth), stop_(stop), maxRunTime_(maxRunTime), epsMax_(epsMax) {}
    ~StationarySetup() { sim.reset(); }

    JournalMeasure* add(const char* name, Kind kind) {
        auto* m = new JournalMeasure(name, &net, kind, &journal);
        net.addMeasure(m);
        return m;
    }

    void run(double alpha = 0.2) {
        net.buildNet();
        net.createTokens();
        // As the command line gives it: one sampling point, no interval.
        sim = std::make_unique<ProbeSimulation>(&net, start, DateTime(stop_), 1, 1, epsMax_, maxRunTime_, 0.0,
                                                "NULL", percentRule);
        sim->init();
        testsupport::CaptureStream capture(std::cout);
        sim->run_stationary(alpha);
        out = capture.text();
    }

    bool percentRule = false;
    std::vector<std::string> journal;
    const DateTime start;
    ClockNet net;
    std::unique_ptr<ProbeSimulation> sim;
    std::string out;

private:
    double stop_;
    unsigned int maxRunTime_;
    double epsMax_;
};

}  // namespace

TEST(StationaryRun, TwoHundredFiftyEventsCloseTwoBatches) {
    testsupport::TempDir logDir;
    enginetest::Traces traces(logDir);
    StationarySetup s(250, 0.0, 10000.0, kNoLimit);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [&] { return s.net.fires(); };
    s.run();
    EXPECT_EQ(countOf(traces.sim(), "FIRING: Binding[FIRE, Tick,"), 250);

    EXPECT_EQ(s.net.fires(), 250);
    // The event that closes a batch is fed to the measures before the batch
    // value is read, and fired after it.
    EXPECT_EQ(linesStartingWith(s.journal, "r0 M measure="),
              (std::vector<std::string>{"r0 M measure=99", "r0 M measure=199"}));
    ASSERT_EQ(s.journal.size(), 252u);
    EXPECT_EQ(s.journal[99], "r0 M accum Tick@100");
    EXPECT_EQ(s.journal[100], "r0 M measure=99");
    EXPECT_EQ(s.journal[200], "r0 M accum Tick@200");
    EXPECT_EQ(s.journal[201], "r0 M measure=199");
    // Windows: opened at the start, then at the event that closed each batch.
    EXPECT_EQ(m->windowStarts, (std::vector<double>{0.0, 100.0}));
    EXPECT_EQ(m->windowStart(), 200.0);
    EXPECT_EQ(m->windowCount(), 50.0);  // events 201 to 250
    // The net was rebuilt once for the run, without the database tokens,
    // and the build it replaced was freed.
    EXPECT_EQ(s.net.builds, 2);
    EXPECT_EQ(s.net.tokenLoads, 1);
    EXPECT_EQ(s.net.transitionsDestroyed, 1);
    EXPECT_EQ(s.sim->analysisState, 0);  // -2, -1, 0
    // Then the marking is dead.
    EXPECT_NE(s.out.find(kDead), std::string::npos) << s.out;
    EXPECT_NE(s.out.find(kFewBatches), std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, kRunTime)) << s.out;
}

TEST(StationaryRun, TheFirstEventBeyondTheStopClosesABatchIsFiredAndEndsTheRunOnModelTime) {
    StationarySetup s(1000, 0.0, 50.5, kNoLimit);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [&] { return s.net.fires(); };
    s.run();

    EXPECT_EQ(linesStartingWith(s.journal, "r0 M measure="), (std::vector<std::string>{"r0 M measure=50"}));
    EXPECT_EQ(linesStartingWith(s.journal, "r0 M accum").size(), 51u);
    EXPECT_EQ(s.journal.back(), "r0 M measure=50");
    EXPECT_EQ(s.net.fires(), 51);
    EXPECT_EQ(s.sim->getCurrentSimulationTime(), DateTime(51.0));
    EXPECT_EQ(s.out.find(kDead), std::string::npos);
    const std::size_t few = s.out.find(kFewBatches);
    ASSERT_NE(few, std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, kModelTime)) << s.out;
}

TEST(StationaryRun, ABatchClosedBeyondTheStopThatLeavesNothingToEstimateIsASuccess) {
    StationarySetup s(1000, 0.0, 50.5, kNoLimit);
    s.add("Acc", Kind::Accumulative);
    s.run();
    EXPECT_EQ(s.net.fires(), 51);
    EXPECT_NE(s.out.find(kFewBatches), std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, kSuccess)) << s.out;
}

TEST(StationaryRun, StopEqualToStartMeansNoStopTimeAndBatchesOnlyEveryHundredEvents) {
    StationarySetup s(250, 0.0, 0.0, kNoLimit);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [&] { return s.net.fires(); };
    s.run();

    EXPECT_TRUE(s.sim->noStopTime);
    // All 250 events lie beyond the stop time; none of them ends the run or
    // closes a batch early.
    EXPECT_EQ(s.net.fires(), 250);
    EXPECT_EQ(linesStartingWith(s.journal, "r0 M measure="),
              (std::vector<std::string>{"r0 M measure=99", "r0 M measure=199"}));
    EXPECT_NE(s.out.find(kDead), std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, kRunTime)) << s.out;
}

TEST(StationaryRun, OnlyAccumulativeAndInstantaneousMeasuresEndTheRunAtTheFirstBatch) {
    StationarySetup s(1000, 0.0, 10000.0, kNoLimit);
    JournalMeasure* acc = s.add("Acc", Kind::Accumulative);
    JournalMeasure* inst = s.add("Inst", Kind::Instantaneous);
    s.run();

    // Neither takes part in a stationary run.
    EXPECT_TRUE(s.sim->getLastFiredTransition() == "Tick");
    EXPECT_TRUE(s.net.getMeasureList().empty());
    EXPECT_TRUE(s.journal.empty());
    EXPECT_TRUE(acc->args.empty());
    EXPECT_TRUE(inst->args.empty());
    // The first batch (100 events) finds nothing left to estimate; its
    // closing event is still fired.
    EXPECT_EQ(s.net.fires(), 100);
    const std::size_t few = s.out.find(kFewBatches);
    ASSERT_NE(few, std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, kSuccess)) << s.out;
    EXPECT_NE(s.out.find("Ignoring Measure Acc"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("Ignoring Measure Inst"), std::string::npos) << s.out;
}

// A constant value has no spread: it counts as accurate only from
// ln(2 / alpha) / epsmax values on (ln(10) / 0.01, so 231), at the first
// review (a power of two of batches) after that.
TEST(StationaryRun, AConstantBatchValueIsAccurateAtTheFirstReviewWithEnoughValues) {
    StationarySetup s(100000, 0.0, 1e9, kNoLimit, 0.01);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [] { return 3.0; };
    s.add("ImportanceFunction", Kind::TimeAveraged);  // never sampled, never analysed
    s.run();
    EXPECT_TRUE(linesStartingWith(s.journal, "r0 ImportanceFunction").empty());
    EXPECT_EQ(linesStartingWith(s.journal, "r0 M measure=").size(), 256u);
    EXPECT_EQ(s.net.fires(), 25600);
    EXPECT_EQ(s.sim->analysisState, 1);
    EXPECT_TRUE(m->precisionReached());
    ASSERT_EQ(m->means().size(), 1u);
    EXPECT_EQ(m->means().front(), 3.0);
    EXPECT_EQ(s.out.find(kFewBatches), std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, kSuccess)) << s.out;
}

TEST(StationaryRun, NoWallClockTimeMeansTheLoopNeverStarts) {
    StationarySetup s(1000, 0.0, 100.0, 0u);
    s.add("M", Kind::TimeAveraged);
    s.run();
    EXPECT_EQ(s.net.fires(), 0);
    EXPECT_TRUE(s.journal.empty());
    EXPECT_EQ(s.out, kFewBatches + kRunTime);
}

TEST(StationaryRun, ADeadMarkingAtTheStartStopsAtOnceWithTheWarning) {
    StationarySetup s(1000, 0.0, 100.0, kNoLimit, 1e-9, 0);
    s.add("M", Kind::TimeAveraged);
    s.run();
    EXPECT_EQ(s.net.fires(), 0);
    EXPECT_TRUE(s.journal.empty());
    EXPECT_NE(s.out.find(kFewBatches), std::string::npos) << s.out;
    EXPECT_NE(s.out.find(kDead), std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, kRunTime)) << s.out;
}

// Batch values that keep rising show no steady state: the measure is named
// and the verdict says so instead of the model time.
TEST(StationaryRun, ADriftingMeasureIsNamedAndEndsTheRunWithoutASteadyState) {
    StationarySetup s(1000000, 0.0, 3000.5, kNoLimit, 0.5);
    JournalMeasure* m = s.add("Drift", Kind::TimeAveraged);
    m->valueFn = [&] { return 1.0 + s.net.fires() / 1000.0; };
    s.run();
    EXPECT_FALSE(m->precisionReached());
    EXPECT_TRUE(m->showsNoSteadyState());
    EXPECT_EQ(m->batchCount(), 31u);  // the last closed by the event beyond the stop time
    EXPECT_NE(s.out.find("WARNING: Measure Drift shows no steady state: its batch means drift"),
              std::string::npos)
        << s.out;
    EXPECT_EQ(s.out.find(kModelTime), std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, "\nABORTED SIMULATION. NO STEADY STATE FOUND.")) << s.out;
}

// Uncorrelated batch values reach the accuracy at a review (a power of two
// of batches) once they are worth 200 independent values: 256 batches.
TEST(StationaryRun, IndependentBatchValuesAreAccurateAtTheFirstReviewWithEnoughEvidence) {
    StationarySetup s(1000000, 0.0, 1e9, kNoLimit, 0.05);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = uniformAboveTen(11);
    s.run();
    EXPECT_TRUE(m->precisionReached());
    EXPECT_FALSE(m->reachedOnlyByRule());
    EXPECT_EQ(m->batchCount(), 256u);
    EXPECT_EQ(s.net.fires(), 25600);
    EXPECT_TRUE(m->batchEstimate().independent);
    EXPECT_GE(m->batchEstimate().effectiveSize, 200.0);
    EXPECT_NE(s.out.find("Measure M: "), std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, kSuccess)) << s.out;
}

// A queue that grows without bound: whatever its measures show, the net has
// no steady state, and the run says so.
TEST(StationaryRun, ANetWhoseQueuesGrowHasNoSteadyState) {
    StationarySetup s(1000000, 0.0, 1000.5, kNoLimit, 0.05, 1, 1);  // one more token per firing
    JournalMeasure* m = s.add("Level", Kind::TimeAveraged);
    m->valueFn = uniformAboveTen(5);
    s.run();
    EXPECT_FALSE(m->showsNoSteadyState());  // the measure alone looks stationary
    EXPECT_NE(s.out.find("WARNING: the net shows no steady state: the tokens on the places that its transitions "
                         "take from rose steadily from 100 to 1001 over 11 batches"),
              std::string::npos)
        << s.out;
    EXPECT_NE(s.out.find("no estimate of this run (Level) describes a long-run state."), std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, "\nABORTED SIMULATION. NO STEADY STATE FOUND.")) << s.out;
}

// Batch means that swing slowly, up and down, are correlated without a
// drift: the run ends as it would, with a warning that it was too short for
// the measure's interval.
TEST(StationaryRun, ASlowSwingIsWarnedAboutButIsNoDrift) {
    StationarySetup s(1000000, 0.0, 409600.5, kNoLimit, 1e-9);
    JournalMeasure* m = s.add("Swing", Kind::TimeAveraged);
    m->valueFn = [&] { return 5.0 + std::sin(s.net.fires() * 6.283185307179586 / 204800.0); };
    s.run();
    EXPECT_TRUE(m->stillCorrelated());
    EXPECT_NE(s.out.find("WARNING: Measure Swing: its batch means are still correlated (lag-1 correlation "),
              std::string::npos)
        << s.out;
    EXPECT_NE(s.out.find("the run is too short for its interval, which may be too narrow."), std::string::npos)
        << s.out;
    EXPECT_TRUE(endsWith(s.out, kModelTime)) << s.out;
}
