// The checks of the option values, called directly on option sets: every
// refusal with its message, the cases that pass, and the order in which the
// program reports them.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/RunOptions.h"
#include "app/Server.h"
#include "sim/Simulation.h"

namespace {

using Mode = RunOptions::Mode;

const char* const kStartPastNoEvent =
    "Start time must lie before 00:00:00@12/31/9999 (315538070400 s), the time that stands for no event.";
const char* const kStopPastNoEvent =
    "Stop time must lie before 00:00:00@12/31/9999 (315538070400 s), the time that stands for no event.";
const char* const kBatchTooSmall =
    "RESTART batch time is too small to advance the clock between the start and the stop time.";

// A run that passes every check: `mode` from model time 0 to 100.
RunOptions sound(Mode mode) {
    RunOptions o;
    o.mode = mode;
    o.seed = 5;
    if (mode == Mode::Profiling) {
        o.fcount = 10;
        o.lcount = 3;
        return o;
    }
    o.mstart = 0.0;
    if (mode == Mode::TokenGame) return o;
    o.mstop = 100.0;
    if (mode == Mode::Restart) {
        o.repeats = 2;
        o.thrmin = 1.0;
        o.thrmax = 3.0;
    }
    return o;
}

struct Refusal {
    const char* name;
    Mode mode;
    std::function<void(RunOptions&)> change;
    std::string message;
};

std::vector<Refusal> refusals() {
    return {
        {"NoFirecount", Mode::Profiling, [](RunOptions& o) { o.fcount.reset(); }, "Missing argument firecount."},
        {"NoLoopcount", Mode::Profiling, [](RunOptions& o) { o.lcount.reset(); }, "Missing argument loopcount."},
        {"BadStartStamp", Mode::Transient, [](RunOptions& o) { o.start = "0:00:00@01/01/2000"; },
         "Format of start time invalid."},
        {"NegativeStart", Mode::Transient, [](RunOptions& o) { o.mstart = -1.0; }, "Start time < 0.0"},
        {"NoStart", Mode::Transient, [](RunOptions& o) { o.mstart.reset(); }, "Missing argument starttime."},
        {"TokenGameNoStart", Mode::TokenGame, [](RunOptions& o) { o.mstart.reset(); },
         "Missing argument starttime."},
        {"StartAtNoEvent", Mode::Stationary, [](RunOptions& o) { o.mstart = 315538070400.0; }, kStartPastNoEvent},
        {"TokenGameStartAtNoEvent", Mode::TokenGame, [](RunOptions& o) { o.mstart = 6e11; }, kStartPastNoEvent},
        {"BadStopStamp", Mode::Stationary, [](RunOptions& o) { o.stop = "00:00:00@01/01/2039"; },
         "Format of stoptime invalid."},
        {"TransientEmpty", Mode::Transient, [](RunOptions& o) { o.mstart = o.mstop = 5.0; },
         "Stop time < Start time."},
        {"StationaryBackwards", Mode::Stationary,
         [](RunOptions& o) {
             o.mstart = 5.0;
             o.mstop = 4.0;
         },
         "Stop time < Start time."},
        {"NoStop", Mode::Restart, [](RunOptions& o) { o.mstop.reset(); }, "Missing argument stop."},
        {"StopAtNoEvent", Mode::Transient, [](RunOptions& o) { o.mstop = 4e11; }, kStopPastNoEvent},
        {"NoSamplingPoint", Mode::Transient, [](RunOptions& o) { o.nofsampling = 0; },
         "Number of sampling points must be at least 1."},
        {"TooManySamplingPoints", Mode::Transient,
         [](RunOptions& o) { o.nofsampling = Simulation::kMaxSamplingPoints + 1; },
         "Number of sampling points must be at most " + std::to_string(Simulation::kMaxSamplingPoints) + "."},
        {"ConfidenceLow", Mode::Transient, [](RunOptions& o) { o.confidence = 79.99; },
         "Confidence must be from 80.0 to 99.8."},
        {"ConfidenceHigh", Mode::Stationary, [](RunOptions& o) { o.confidence = 99.9; },
         "Confidence must be from 80.0 to 99.8."},
        {"RestartConfidence", Mode::Restart, [](RunOptions& o) { o.confidence = 50.0; },
         "Confidence must be from 80.0 to 99.8."},
        {"NegativeTolerance", Mode::Transient, [](RunOptions& o) { o.epsmax = -1.0; },
         "Max. relative fault must not be negative."},
        {"NoRepeats", Mode::Restart, [](RunOptions& o) { o.repeats = 0; },
         "Number of RESTART repeats must be at least 1."},
        {"NegativeRepeats", Mode::Restart, [](RunOptions& o) { o.repeats = -2; },
         "Number of RESTART repeats must be at least 1."},
        {"NegativeThresholds", Mode::Restart, [](RunOptions& o) { o.thrnumber = -1; },
         "Thresholds number must not be negative."},
        {"ThresholdsPastInt", Mode::Restart, [](RunOptions& o) { o.thrnumber = 2147483647; },
         "Thresholds number must be at most 2147483645."},
        {"WeightsTooSmall", Mode::Restart,
         [](RunOptions& o) {
             o.repeats = 10;
             o.thrnumber = 300;
         },
         "Thresholds number and repeats give path weights below 1e-300: repeats^(thrnumber + 2) must stay below "
         "1e300."},
        {"EqualThresholds", Mode::Restart, [](RunOptions& o) { o.thrmin = o.thrmax = 3.0; },
         "Thresholds max value must be greater than thresholds min value."},
        {"ThresholdSpanOverflows", Mode::Restart,
         [](RunOptions& o) {
             o.thrmin = -1.7e308;
             o.thrmax = 1.7e308;
         },
         "Thresholds max value must be greater than thresholds min value."},
        {"ZeroBatchTime", Mode::Restart, [](RunOptions& o) { o.batchtime = 0.0; },
         "RESTART batch time must be a positive number."},
        {"NegativeBatchTime", Mode::Restart, [](RunOptions& o) { o.batchtime = -1.0; },
         "RESTART batch time must be a positive number."},
        {"BatchTimeWithoutStop", Mode::Restart,
         [](RunOptions& o) {
             o.mstop = 0.0;
             o.batchtime = 1e-300;
         },
         kBatchTooSmall},
        {"BatchTimeBelowStopResolution", Mode::Restart,
         [](RunOptions& o) {
             o.mstop = 1.0;
             o.batchtime = 1e-17;
         },
         kBatchTooSmall},
        {"BatchTimeTooManyPoints", Mode::Restart,
         [](RunOptions& o) {
             o.mstop = 1e10;
             o.batchtime = 1e-7;
         },
         kBatchTooSmall},
        {"BatchTimeOutsideRestart", Mode::Stationary, [](RunOptions& o) { o.batchtime = 5.0; },
         "--batchtime applies to RESTART simulations (-R) only."},
        {"BatchTimeInTransient", Mode::Transient, [](RunOptions& o) { o.batchtime = 5.0; },
         "--batchtime applies to RESTART simulations (-R) only."},
        {"SeedPast32Bits", Mode::Transient, [](RunOptions& o) { o.seed = 4294967296UL; },
         "Seed must be an integer from 0 to 4294967295."},
        {"ParallelStationary", Mode::Stationary, [](RunOptions& o) { o.parallel = true; },
         "--parallel applies to transient simulations (-T) only; stationary, RESTART, token game and profiling "
         "runs are not shared among processes."},
        {"ParallelProfiling", Mode::Profiling, [](RunOptions& o) { o.parallel = true; },
         "--parallel applies to transient simulations (-T) only; stationary, RESTART, token game and profiling "
         "runs are not shared among processes."},
    };
}

class RunOptionsRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(RunOptionsRefusal, GivesItsMessage) {
    RunOptions o = sound(GetParam().mode);
    ASSERT_EQ(checkOptions(o), std::nullopt);
    GetParam().change(o);
    EXPECT_EQ(checkOptions(o), std::optional<std::string>(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(EveryCheck, RunOptionsRefusal, ::testing::ValuesIn(refusals()),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(RunOptionsAccepted, EveryModeWithSoundValues) {
    for (Mode mode : {Mode::TokenGame, Mode::Stationary, Mode::Transient, Mode::Restart, Mode::Profiling})
        EXPECT_EQ(checkOptions(sound(mode)), std::nullopt) << static_cast<int>(mode);
}

TEST(RunOptionsAccepted, BoundariesThatStillPass) {
    std::vector<std::function<void(RunOptions&)>> changes = {
        [](RunOptions& o) { o.confidence = 80.0; },
        [](RunOptions& o) { o.confidence = 99.8; },
        [](RunOptions& o) { o.epsmax = 0.0; },
        [](RunOptions& o) { o.nofsampling = Simulation::kMaxSamplingPoints; },
        [](RunOptions& o) { o.seed = 4294967295UL; },
        [](RunOptions& o) { o.seed = 0; },  // refused later by the random package, not here
        [](RunOptions& o) { o.resport = "127.0.0.1:1"; },
        [](RunOptions& o) { o.resport = "no-such-host.invalid:65535"; },  // reachability is not checked
        [](RunOptions& o) { o.secmax = 0u; },
    };
    for (std::size_t k = 0; k < changes.size(); ++k) {
        RunOptions o = sound(Mode::Transient);
        changes[k](o);
        EXPECT_EQ(checkOptions(o), std::nullopt) << "change " << k;
    }
}

TEST(RunOptionsAccepted, StationaryMayBeEmptyAndRestartDoesNotOrderPlainTimes) {
    RunOptions stationary = sound(Mode::Stationary);
    stationary.mstart = stationary.mstop = 5.0;
    EXPECT_EQ(checkOptions(stationary), std::nullopt);
    RunOptions restart = sound(Mode::Restart);
    restart.mstart = 5.0;
    restart.mstop = 1.0;
    EXPECT_EQ(checkOptions(restart), std::nullopt);
}

TEST(RunOptionsAccepted, TokenGameAndProfilingIgnoreTheSimulationOptions) {
    for (Mode mode : {Mode::TokenGame, Mode::Profiling}) {
        RunOptions o = sound(mode);
        o.confidence = 10.0;
        o.nofsampling = 0;
        o.repeats = -1;
        if (mode == Mode::Profiling) o.mstart = -1.0;  // profiling reads no times
        EXPECT_EQ(checkOptions(o), std::nullopt) << static_cast<int>(mode);
    }
}

TEST(RunOptionsAccepted, CalendarStampsInWrongOrderPassButEndTransientRuns) {
    // The checks let them through; the run refuses them after building the
    // model, and only a transient run.
    for (Mode mode : {Mode::Transient, Mode::Stationary}) {
        RunOptions o = sound(mode);
        o.start = "00:00:00@01/02/2000";
        o.stop = "00:00:00@01/01/2000";
        EXPECT_EQ(checkOptions(o), std::nullopt) << static_cast<int>(mode);
        EXPECT_EQ(o.stopBeforeStart(), mode == Mode::Transient);
    }
    EXPECT_FALSE(sound(Mode::Transient).stopBeforeStart());
}

TEST(RunOptionsAccepted, ParallelTransientNeedsOnlyMpi) {
    RunOptions o = sound(Mode::Transient);
    o.parallel = true;
    if (kBuiltWithMpi)
        EXPECT_EQ(checkOptions(o), std::nullopt);
    else
        EXPECT_EQ(checkOptions(o), std::optional<std::string>("This scpnsim was built without MPI, so --parallel "
                                                              "is not available (install Open MPI and build "
                                                              "again)."));
}

TEST(RunOptionsResultPort, MalformedAddressesAreRefusedWithTheirText) {
    for (const char* port : {"127.0.0.1", "127.0.0.1:0", "", "null", ":2020", "127.0.0.1:65536", "127.0.0.1:20x",
                             "localhost:"}) {
        RunOptions o = sound(Mode::Stationary);
        o.resport = port;
        EXPECT_EQ(checkResultPort(o), std::optional<std::string>("Result port \"" + std::string(port) +
                                                                 "\" is malformed: give HOST:PORT with a port from "
                                                                 "1 to 65535, or NULL for no result port."))
            << port;
    }
}

TEST(RunOptionsResultPort, OnlyTheFirstProcessOfAParallelRunHasOne) {
    RunOptions o = sound(Mode::Transient);
    o.resport = "127.0.0.1:5000";
    EXPECT_EQ(o.resultPort(), "127.0.0.1:5000");
    o.parallelRank = 2;
    EXPECT_EQ(o.resultPort(), "NULL");
    o.resport = "malformed";
    EXPECT_EQ(checkResultPort(o), std::nullopt);  // this process does not use it
}

TEST(RunOptionsOrder, ReportedInTheOrderTheProgramChecks) {
    // Parallel, then the seed, then the result port, then the mode's options.
    RunOptions o = sound(Mode::Stationary);
    o.confidence = 1.0;
    const std::optional<std::string> run = checkRunOptions(o);
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(checkOptions(o), run);
    o.resport = "bad";
    const std::optional<std::string> port = checkResultPort(o);
    ASSERT_TRUE(port.has_value());
    EXPECT_EQ(checkOptions(o), port);
    o.seed = 1UL << 40;
    const std::optional<std::string> seed = checkSeed(o);
    ASSERT_TRUE(seed.has_value());
    EXPECT_EQ(checkOptions(o), seed);
    o.parallel = true;
    const std::optional<std::string> parallel = checkParallelOptions(o);
    ASSERT_TRUE(parallel.has_value());
    EXPECT_EQ(checkOptions(o), parallel);
}

TEST(RunOptionsDerived, TimesPreferCalendarStamps) {
    RunOptions o = sound(Mode::Stationary);
    EXPECT_TRUE(o.modelTimeAxis());
    EXPECT_EQ(o.startTime().FullDateTime(), 0.0);
    EXPECT_EQ(o.stopTime().FullDateTime(), 100.0);
    o.start = "12:30:15@01/01/2000";
    EXPECT_FALSE(o.modelTimeAxis());
    EXPECT_EQ(o.startTime(), DateTime(std::string("12:30:15@01/01/2000")));
}

TEST(RunOptionsDerived, RestartBatchTimeDefaults) {
    RunOptions o = sound(Mode::Restart);
    o.mstop = 50.0;
    EXPECT_EQ(o.restartBatchTime(), 0.5);  // a hundredth of the span
    o.mstop = 0.0;
    EXPECT_EQ(o.restartBatchTime(), RunOptions::kDefaultRestartBatchTime);  // no stop time
    o.mstart = 5.0;
    o.mstop = 1.0;
    EXPECT_EQ(o.restartBatchTime(), RunOptions::kDefaultRestartBatchTime);  // no span
    o.batchtime = 2.5;
    EXPECT_EQ(o.restartBatchTime(), 2.5);
}

TEST(RunOptionsDerived, WallClockLimitAndTraceFolder) {
    RunOptions o = sound(Mode::Transient);
    EXPECT_EQ(o.maxRunTime(), 0u);
    o.secmax = 12u;
    EXPECT_EQ(o.maxRunTime(), 12u);
    o.secmax = 0u;
    EXPECT_EQ(o.maxRunTime(), Simulation::kNoRunTimeLimit);
    EXPECT_EQ(o.logFolder(), "Log");
    o.logdir = "traces";
    EXPECT_EQ(o.logFolder(), "traces");
    o.parallelRank = 3;
    EXPECT_EQ(o.logFolder(), "traces/rank3");
}

TEST(RunOptionsSettings, TheDriverGetsTheModesSettings) {
    RunOptions t = sound(Mode::Transient);
    t.mstart = 10.0;
    t.mstop = 210.0;
    t.nofsampling = 7;
    t.epsmax = 5.0;
    t.percentage = false;
    t.resport = "127.0.0.1:5000";
    const SimulationSettings transient = Server::simulationSettings("net", t);
    EXPECT_EQ(transient.netName, "net");
    EXPECT_EQ(transient.resultPort, "127.0.0.1:5000");
    EXPECT_EQ(transient.simulationType, 0);
    EXPECT_EQ(transient.samplingPoints, 7u);
    EXPECT_DOUBLE_EQ(transient.samplingInterval, 2.0);
    EXPECT_DOUBLE_EQ(transient.epsMax, 0.05);
    EXPECT_FALSE(transient.percentRule);
    EXPECT_TRUE(transient.modelTimeAxis);

    RunOptions s = sound(Mode::Stationary);
    s.nofsampling = 7;
    const SimulationSettings stationary = Server::simulationSettings("net", s);
    EXPECT_EQ(stationary.simulationType, 1);
    EXPECT_EQ(stationary.samplingPoints, 1u);
    EXPECT_EQ(stationary.samplingInterval, 0.0);

    RunOptions r = sound(Mode::Restart);
    r.thrnumber = 3;
    r.batchtime = 2.5;
    const SimulationSettings restart = Server::simulationSettings("net", r);
    EXPECT_EQ(restart.simulationType, 2);
    EXPECT_EQ(restart.samplingInterval, 2.5);
    EXPECT_EQ(restart.repeats, 2);
    EXPECT_EQ(restart.thrmin, 1.0);
    EXPECT_EQ(restart.thrmax, 3.0);
    EXPECT_EQ(restart.thrnumber, 3);
}

}  // namespace
