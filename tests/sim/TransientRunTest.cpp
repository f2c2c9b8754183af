// The transient run: replications of the interval from the start to the stop
// time, observed at equally spaced sampling points, until the measures are
// accurate at every point of a replication or the wall-clock limit ends the
// run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <utility>
#include <string>
#include <vector>

#include "sim/SimTestDoubles.h"
#include "support/TestSupport.h"

using simtest::ClockNet;
using simtest::JournalMeasure;
using simtest::Kind;
using simtest::linesStartingWith;
using simtest::ProbeSimulation;

namespace {

// A wall-clock limit far beyond what these runs need (milliseconds, a few
// seconds on a loaded machine): a run that should end on precision but
// does not fails instead of hanging.
constexpr unsigned int kSafetyLimit = 120;

const std::string kFewLoops =
    "WARNING NO ANALYSIS DONE: THE NUMBER OF LOOPS IN TRANSIENT SIMULATION LESS THAN TEN.\n";
const std::string kSuccess = "\nSIMULATION SUCCESSFUL";
const std::string kAbort = "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.";

int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A clock net (Tick every `period` seconds, dead after `limit` firings, or
// from the start when it has no token) run transiently from 0 to `stop`.
struct TransientSetup {
    TransientSetup(double period, int limit, int tokens, double stop, int points, unsigned int maxRunTime,
                   double epsMax = 0.01)
        : net(period, limit, tokens), stop_(stop), points_(points), maxRunTime_(maxRunTime), epsMax_(epsMax) {}
    ~TransientSetup() { sim.reset(); }  // the driver goes before the net

    JournalMeasure* add(const char* name, Kind kind) {
        auto* m = new JournalMeasure(name, &net, kind, &journal, &measuresDestroyed);
        net.addMeasure(m);  // the net keeps it across rebuilds and frees it at the end
        return m;
    }

    // What the command line does: build the model with its stored tokens,
    // create the driver, init() and run.
    void run(double alpha = 0.2) {
        net.buildNet();
        net.createTokens();
        sim = std::make_unique<ProbeSimulation>(&net, start, DateTime(stop_), points_, 0, epsMax_, maxRunTime_, 0.0,
                                                "NULL", percentRule);
        sim->init();
        testsupport::CaptureStream capture(std::cout);
        sim->run_transient(alpha);
        out = capture.text();
    }

    bool percentRule = false;
    std::vector<std::string> journal;
    int measuresDestroyed = 0;
    const DateTime start{0.0};
    ClockNet net;
    std::unique_ptr<ProbeSimulation> sim;
    std::string out;

private:
    double stop_;
    int points_;
    unsigned int maxRunTime_;
    double epsMax_;
};

}  // namespace

TEST(TransientRun, FiveSamplingPointsFromZeroToHundredAreZeroTwentyFiveFiftySeventyFiveHundred) {
    // Tick at 30, 60, 90, 120: every point lies between events.
    TransientSetup s(30.0, 50, 1, 100.0, 5, 0u);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [&] { return s.net.fires(); };
    s.run();

    EXPECT_EQ(s.sim->samplingInterval, 25.0);
    EXPECT_EQ(s.journal, (std::vector<std::string>{
                             "r0 M accum marker@0", "r0 M measure=0",     //
                             "r0 M accum marker@25", "r0 M measure=0",    //
                             "r0 M accum Tick@30",                        //
                             "r0 M accum marker@50", "r0 M measure=1",    //
                             "r0 M accum Tick@60",                        //
                             "r0 M accum marker@75", "r0 M measure=2",    //
                             "r0 M accum Tick@90",                        //
                             "r0 M accum marker@100", "r0 M measure=3"}));
    // Each point reads the value of its window.
    EXPECT_EQ(m->args, (std::vector<double>(5, -1.0)));
    // The window of the replication opened at the start time.
    EXPECT_EQ(m->accumWindowStarts.front(), 0.0);
    // The event at 120 lies beyond the stop time: it was not executed.
    EXPECT_EQ(s.net.fires(), 3);
}

TEST(TransientRun, AnEventAtASamplingPointIsEvaluatedAfterItFiresWithoutASecondUpdate) {
    // Tick at 25, 50, 75, 100: every point but the start coincides with an event.
    TransientSetup s(25.0, 50, 1, 100.0, 5, 0u);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [&] { return s.net.fires(); };
    s.run();

    EXPECT_EQ(s.journal, (std::vector<std::string>{"r0 M accum marker@0", "r0 M measure=0",  //
                                                   "r0 M accum Tick@25", "r0 M measure=1",   //
                                                   "r0 M accum Tick@50", "r0 M measure=2",   //
                                                   "r0 M accum Tick@75", "r0 M measure=3",   //
                                                   "r0 M accum Tick@100", "r0 M measure=4"}));
    // After the point at the stop time the replication ends: the event at 125
    // is never taken.
    EXPECT_EQ(s.net.fires(), 4);
    EXPECT_EQ(s.sim->getCurrentSimulationTime(), DateTime(100.0));
}

TEST(TransientRun, WhenTheNextEventLiesBeyondTheStopTheRemainingPointsAreSampledAndItIsNotExecuted) {
    // Tick at 60, then 120 (beyond 100).
    TransientSetup s(60.0, 50, 1, 100.0, 5, 0u);
    JournalMeasure* timed = s.add("M", Kind::TimeAveraged);
    JournalMeasure* inst = s.add("I", Kind::Instantaneous);
    // The importance function of RESTART runs is neither fed nor sampled.
    s.add("ImportanceFunction", Kind::TimeAveraged);
    timed->valueFn = [&] { return s.net.fires(); };
    inst->valueFn = [&] { return s.net.fires(); };
    s.run();

    EXPECT_EQ(linesStartingWith(s.journal, "r0 M "),
              (std::vector<std::string>{"r0 M accum marker@0", "r0 M measure=0",   //
                                        "r0 M accum marker@25", "r0 M measure=0",  //
                                        "r0 M accum marker@50", "r0 M measure=0",  //
                                        "r0 M accum Tick@60",                      //
                                        "r0 M accum marker@75", "r0 M measure=1",  //
                                        "r0 M accum marker@100", "r0 M measure=1"}));
    // Points before an event feed only time-based measures; the point at the
    // stop time, sampled when the next event lies beyond it, feeds all.
    EXPECT_EQ(linesStartingWith(s.journal, "r0 I "),
              (std::vector<std::string>{"r0 I measure=0", "r0 I measure=0", "r0 I measure=0",
                                        "r0 I accum Tick@60", "r0 I measure=1", "r0 I accum marker@100",
                                        "r0 I measure=1"}));
    EXPECT_TRUE(linesStartingWith(s.journal, "r0 ImportanceFunction").empty());
    EXPECT_EQ(s.net.fires(), 1);
    // The clock stands at the event that was not executed.
    EXPECT_EQ(s.sim->getCurrentSimulationTime(), DateTime(120.0));
}

TEST(TransientRun, OnlyExecutedEventsAreTracedAsFirings) {
    testsupport::TempDir logDir;
    enginetest::Traces traces(logDir);
    TransientSetup s(60.0, 50, 1, 100.0, 5, 0u);
    s.add("M", Kind::TimeAveraged);
    s.run();
    const std::string text = traces.sim();
    EXPECT_EQ(countOf(text, "FIRING: "), 1) << text;
    EXPECT_EQ(countOf(text, "FIRING: Binding[FIRE, Tick,"), 1) << text;
    EXPECT_EQ(countOf(text, "************** starting init()... *****************"), 2) << text;
}

TEST(TransientRun, OneSamplingPointObservesTheStateAtTheStopTime) {
    // A single point is the end of the interval (the start would only show
    // the initial marking, and no interval could be formed from it).
    TransientSetup s(10.0, 50, 1, 100.0, 1, 0u);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [&] { return s.net.fires(); };
    s.run();
    EXPECT_EQ(s.sim->samplingInterval, 100.0);
    std::vector<std::string> expected;
    for (int t = 10; t <= 100; t += 10) expected.push_back("r0 M accum Tick@" + std::to_string(t));
    expected.push_back("r0 M measure=10");  // the tick at 100 fired before the point was read
    EXPECT_EQ(s.journal, expected);
    EXPECT_EQ(s.net.fires(), 10);
}

TEST(TransientRun, NoWallClockTimeEndsTheRunAfterItsFirstReplicationWithTheWarning) {
    TransientSetup s(30.0, 50, 1, 100.0, 5, 0u);
    s.add("M", Kind::TimeAveraged);
    s.run();
    EXPECT_EQ(s.sim->getLoopCount(), 1);
    // The replication was completed (and counted) before the limit was looked at.
    EXPECT_EQ(linesStartingWith(s.journal, "r0 M measure=").size(), 5u);
    EXPECT_EQ(s.net.fires(), 3);
    const std::size_t warning = s.out.find(kFewLoops);
    ASSERT_NE(warning, std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, kAbort)) << s.out;
    EXPECT_LT(warning, s.out.size() - kAbort.size());
    EXPECT_EQ(s.out.find(kSuccess), std::string::npos);
}

TEST(TransientRun, AModelWithoutMeasuresEndsAReplicationAtTheFirstEventBeyondTheStop) {
    // Without a limit on the events the net would tick 50 times.
    testsupport::TempDir logDir;
    enginetest::Traces traces(logDir);
    TransientSetup s(30.0, 50, 1, 100.0, 5, 0u);
    s.run();
    EXPECT_EQ(s.net.fires(), 3);  // 30, 60, 90; 120 is beyond the stop time
    EXPECT_EQ(countOf(traces.sim(), "FIRING: "), 3);
    EXPECT_EQ(s.sim->getCurrentSimulationTime(), DateTime(120.0));
    EXPECT_TRUE(endsWith(s.out, kAbort)) << s.out;
}

TEST(TransientRun, ADeadMarkingSamplesEveryPointInEveryReplication) {
    TransientSetup s(1.0, 50, 0, 100.0, 5, kSafetyLimit);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [] { return 2.0; };
    s.run();
    ASSERT_TRUE(endsWith(s.out, kSuccess)) << s.out;
    // The first six replications cannot end the run; each samples all five
    // points with the final (initial) state.
    for (int k = 0; k < 6; ++k) {
        const std::string r = "r" + std::to_string(k) + " ";
        EXPECT_EQ(linesStartingWith(s.journal, r),
                  (std::vector<std::string>{r + "M accum marker@0", r + "M measure=2",    //
                                            r + "M accum marker@25", r + "M measure=2",   //
                                            r + "M accum marker@50", r + "M measure=2",   //
                                            r + "M accum marker@75", r + "M measure=2",   //
                                            r + "M accum marker@100", r + "M measure=2"}))
            << "replication " << k + 1;
    }
    EXPECT_EQ(s.net.fires(), 0);
    EXPECT_EQ(s.out.find(kFewLoops), std::string::npos);
}

// Every replication folds its observation of a point into the point's running
// mean and variance; the accuracy counts only from the seventh replication on.
// Values 11, 10, 10, ...: after seven replications the mean is 10 + 1/7 and
// the variance (sum of squared deviations over n) is 6/49. With a confidence
// of 80 % (t = 1.943 for 6 degrees of freedom) the relative half-width is
// about 0.0253, below 5 %: the seventh replication ends the run.
TEST(TransientRun, PrecisionReachedInTheSeventhReplicationEndsTheRunThere) {
    TransientSetup s(1.0, 50, 0, 100.0, 1, kSafetyLimit, 0.05);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [] { return Simulation::sim->getLoopCount() == 0 ? 11.0 : 10.0; };
    s.run(0.2);

    EXPECT_EQ(s.sim->getLoopCount(), 7);
    EXPECT_EQ(s.sim->analysisState, 1);
    EXPECT_TRUE(endsWith(s.out, kSuccess)) << s.out;
    EXPECT_EQ(s.out.find(kFewLoops), std::string::npos) << s.out;
    EXPECT_EQ(linesStartingWith(s.journal, "r6 M measure=").size(), 1u);
    EXPECT_TRUE(linesStartingWith(s.journal, "r7 ").empty());
    EXPECT_TRUE(m->precisionReached());

    // The lists hold the analysis of the seventh replication.
    ASSERT_EQ(m->means().size(), 1u);
    EXPECT_NEAR(m->means().front(), 10.0 + 1.0 / 7.0, 1e-12);
    ASSERT_EQ(m->variances().size(), 1u);
    EXPECT_NEAR(m->variances().front(), 6.0 / 49.0, 1e-12);
    const double halfWidth = std::sqrt(6.0 / 49.0) * 1.943 / std::sqrt(7.0);
    ASSERT_EQ(m->halfWidths().size(), 1u);
    EXPECT_NEAR(m->halfWidths().front(), halfWidth, 1e-9);
    ASSERT_EQ(m->epsilons().size(), 1u);
    EXPECT_NEAR(m->epsilons().front(), halfWidth / (10.0 + 1.0 / 7.0), 1e-9);
}

// Values that all agree have an interval of no width, which seven of them
// do not make evidence of accuracy: the run needs ln(2 / alpha) / epsmax of
// them (ln(10) / 0.05, so 47), after which a value that differs by as much
// as the mean with a probability of 5 % per replication would have shown
// with probability 90 %.
TEST(TransientRun, ValuesWithoutSpreadNeedTheReplicationsThatMakeThemEvidence) {
    EXPECT_EQ(MeasureObj::spreadlessMinimum(0.2, 0.05), 47.0);
    TransientSetup s(1.0, 50, 0, 100.0, 1, kSafetyLimit, 0.05);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [] { return 10.0; };
    s.run(0.2);
    EXPECT_EQ(s.sim->getLoopCount(), 47);
    EXPECT_TRUE(endsWith(s.out, kSuccess)) << s.out;
    ASSERT_EQ(m->means().size(), 1u);
    EXPECT_EQ(m->means().front(), 10.0);
}

// Each replication starts from a fresh build of the net (the database tokens
// of the first build are not loaded again) and frees the build it replaces;
// the measures and their statistics survive all replications.
TEST(TransientRun, EveryReplicationRebuildsTheNetAndFreesThePreviousBuildWhileMeasuresSurvive) {
    TransientSetup s(1.0, 50, 0, 100.0, 1, kSafetyLimit, 0.05);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [] { return Simulation::sim->getLoopCount() == 0 ? 11.0 : 10.0; };
    s.run(0.2);
    ASSERT_EQ(s.sim->getLoopCount(), 7);
    EXPECT_EQ(s.net.builds, 1 + 7);
    EXPECT_EQ(s.net.tokenLoads, 1);
    EXPECT_EQ(s.net.transitionsDestroyed, 7);
    EXPECT_EQ(s.measuresDestroyed, 0);
    EXPECT_EQ(s.net.getMeasureList(), (std::list<MeasureObj*>{m}));
    // Every replication observed the same measure object.
    EXPECT_EQ(linesStartingWith(s.journal, "r").size(), 7u * 2u);
}

TEST(TransientRun, EveryReplicationReopensTheMeasureWindowsAtTheStart) {
    TransientSetup s(1.0, 50, 0, 100.0, 1, kSafetyLimit, 0.05);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    // The value is the number of accumulations since the window opened: the
    // marker of the one point (the stop time) only, in every replication.
    m->valueFn = [m] { return m->windowCount(); };
    s.run(0.2);
    // Always 1: a value without spread, which takes 47 replications.
    ASSERT_EQ(s.sim->getLoopCount(), 47);
    std::vector<std::string> expected;
    for (int r = 0; r < 47; ++r) {
        expected.push_back("r" + std::to_string(r) + " M accum marker@100");
        expected.push_back("r" + std::to_string(r) + " M measure=1");
    }
    EXPECT_EQ(linesStartingWith(s.journal, "r"), expected);
}

// 0 + 3 x (100 / 3) is 100.00000000000001 in double arithmetic; the final
// point must still be the stop time itself and be observed in every
// replication.
TEST(TransientRun, TheFinalSamplingPointIsTheStopTimeDespiteRounding) {
    TransientSetup s(1000.0, 50, 0, 100.0, 4, 0u);  // dead marking: only the points
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [] { return 1.0; };
    s.run();
    EXPECT_EQ(linesStartingWith(s.journal, "r0 M measure=").size(), 4u);
    EXPECT_EQ(linesStartingWith(s.journal, "r0 M accum marker@100").size(), 1u);
}

// Accuracy is decided at the final point of a replication only: a measure
// that is accurate everywhere still gets its stop-time row before the run
// ends, and the decision has seen every point.
TEST(TransientRun, AccuracyIsDecidedAtTheFinalPointWithEveryRowPresent) {
    TransientSetup s(1000.0, 50, 0, 100.0, 5, kSafetyLimit, 0.05);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [] { return Simulation::sim->getLoopCount() == 0 ? 11.0 : 10.0; };
    s.run(0.2);
    EXPECT_TRUE(endsWith(s.out, kSuccess)) << s.out;
    EXPECT_TRUE(m->precisionReached());
    // One row per sampling point 0, 25, 50, 75, 100 in the final analysis.
    EXPECT_EQ(m->means().size(), 5u);
    // Every replication up to the one that reached the accuracy observed all
    // five points, the last one included. The points before the final one
    // could not yet report accuracy in that replication, so one more
    // replication, in which the measure is no longer observed, ends the run.
    const int reps = s.sim->getLoopCount();
    ASSERT_GE(reps, 8);
    for (int r = 0; r < reps - 1; ++r)
        EXPECT_EQ(linesStartingWith(s.journal, "r" + std::to_string(r) + " M accum marker@100").size(), 1u)
            << "replication " << r;
    EXPECT_TRUE(linesStartingWith(s.journal, "r" + std::to_string(reps - 1) + " ").empty());
}

TEST(TransientRun, EveryPointIsObservedAndTheLastAtTheStopTimeWhateverTheRounding) {
    // 100 / 12344 is not exact in binary: summed up 12344 times it misses
    // 100, and the replication never reached its final point.
    for (const auto& [stop, points] : std::vector<std::pair<double, int>>{{100.0, 12345}, {86400.0, 10001}, {0.3, 4}}) {
        TransientSetup s(1e9, 50, 1, stop, points, kSafetyLimit, 0.05);
        JournalMeasure* m = s.add("M", Kind::TimeAveraged);
        m->valueFn = [] { return 1.0; };
        s.run();
        ASSERT_TRUE(endsWith(s.out, kSuccess)) << stop;
        const std::vector<std::string> first = linesStartingWith(s.journal, "r0 M measure=");
        EXPECT_EQ(first.size(), static_cast<std::size_t>(points)) << stop;
        const std::vector<std::string> markers = linesStartingWith(s.journal, "r0 M accum marker@");
        ASSERT_FALSE(markers.empty());
        std::ostringstream last;
        last << "r0 M accum marker@" << stop;
        EXPECT_EQ(markers.back(), last.str()) << stop;
    }
}

TEST(TransientRun, AZeroDelayCycleIsEndedByTheWallClockInsideTheReplication) {
    // The clock never advances: without a look at the wall clock inside the
    // replication the run would never return.
    TransientSetup s(0.0, std::numeric_limits<int>::max(), 1, 100.0, 3, 1u);
    JournalMeasure* m = s.add("M", Kind::TimeAveraged);
    m->valueFn = [] { return 1.0; };
    s.run();
    EXPECT_TRUE(endsWith(s.out, kAbort)) << s.out;
    EXPECT_EQ(s.sim->getLoopCount(), 0);
    EXPECT_TRUE(s.out.find("replications completed: 0 (") != std::string::npos) << s.out;
    EXPECT_GT(s.net.fires(), 1000);
    EXPECT_EQ(s.sim->getCurrentSimulationTime(), DateTime(0.0));
}

// From 1,000 replications on the per-cent rule lets one of ten points miss
// the accuracy: the run succeeds, and says before its verdict which measure
// passed only by the rule, and how far its worst point is.
TEST(TransientRun, ASuccessByThePerCentRuleIsNamedBeforeTheVerdict) {
    TransientSetup s(1000.0, 50, 0, 90.0, 10, kSafetyLimit, 0.05);  // dead marking: only the points
    s.percentRule = true;
    JournalMeasure* m = s.add("Ratio", Kind::Instantaneous);
    std::uint64_t calls = 0, state = 9;
    m->valueFn = [&] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const double noise = static_cast<double>(state >> 11) / 9007199254740992.0;
        // Point 0 of every replication: 0, 0, 0 or 30, which stays far from
        // 5 % for a thousand replications; the other points are near 100.
        return calls++ % 10 == 0 ? (noise < 0.75 ? 0.0 : 30.0) : 100.0 + noise;
    };
    s.run(0.2);
    // Accurate (by the rule) in the 1,000th replication; with several points
    // the run ends in the replication after it.
    EXPECT_EQ(s.sim->getLoopCount(), 1001);
    EXPECT_TRUE(m->reachedOnlyByRule());
    EXPECT_NE(s.out.find("WARNING: Measure Ratio counts as accurate only by the per-cent rule: 1 of 10 sampling "
                         "points missed --epsmax 5 % (largest Epsilon"),
              std::string::npos)
        << s.out;
    EXPECT_NE(s.out.find("Measure Ratio: 1000 replications."), std::string::npos) << s.out;
    EXPECT_TRUE(endsWith(s.out, kSuccess)) << s.out;
}
