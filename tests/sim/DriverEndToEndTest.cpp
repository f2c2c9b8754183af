// The simulation modes of the real program, run in a working directory with
// a marking file: verdicts, the results file, reproducibility from the seed,
// a dead initial marking, and the modes and values that are refused.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

using testsupport::RunResult;
using testsupport::runScpnsim;
using testsupport::WorkDir;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool startsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }


// Standard output without the lines that depend on the wall clock.
std::string withoutWallClockLines(const std::string& text) {
    static const char* const kWallClock[] = {"starting simulation at", "total simulation time:",
                                             "replications completed:", "batches closed:",
                                             "remaining relative error"};
    std::istringstream in(text);
    std::string line, kept;
    while (std::getline(in, line)) {
        bool drop = false;
        for (const char* prefix : kWallClock) drop = drop || startsWith(line, prefix);
        if (!drop) kept += line + "\n";
    }
    return kept;
}

const std::vector<std::string> kMeasureBlocks = {
    "Measure: C1_in_use\n",      "Measure: Binary_accuracy\n", "Measure: Binary_specificity\n",
    "Measure: Binary_recall\n",  "Measure: Binary_precision\n", "Measure: Binary_f1Score\n",
    "Measure: fsdf\n",           "Measure: PlaceTP\n"};

const std::string kTransientSuccess = "\nSIMULATION SUCCESSFUL\n";
const std::string kTransientAbort = "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.\n";

}  // namespace

TEST(DriverEndToEnd, TransientRunPrintsAVerdictAndWritesTheResultsFile) {
    WorkDir dir;
    const RunResult r = runScpnsim(
        {"-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "5", "--secmax", "2", "--seed", "1"},
        dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(contains(r.out, kTransientSuccess) || contains(r.out, kTransientAbort)) << r.out;
    ASSERT_TRUE(dir.exists("results.log"));
    const std::string results = dir.read("results.log");
    EXPECT_TRUE(startsWith(results, "RESULTS OF TRANSIENT SIMULATION\nSIMULATION TIME: 100\n\n")) << results;
    // Every measure has a block, in the order of the model's measure list.
    std::size_t previous = 0;
    for (const std::string& block : kMeasureBlocks) {
        const std::size_t at = results.find(block);
        ASSERT_NE(at, std::string::npos) << block;
        EXPECT_GT(at, previous) << block;
        previous = at;
    }
    // The results also go to standard output.
    EXPECT_TRUE(contains(r.out, "\n\nRESULTS OF TRANSIENT SIMULATION\nSIMULATION TIME: 100\n\n")) << r.out;
}

TEST(DriverEndToEnd, StationaryRunPrintsAVerdictAndWritesTheResultsFile) {
    WorkDir dir;
    const RunResult r =
        runScpnsim({"-S", "--mstart", "0", "--mstop", "100", "--secmax", "0", "--seed", "1"}, dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    // The shipped model's queues grow from the start: the run says that it
    // found no steady state.
    EXPECT_TRUE(contains(r.out, "\nABORTED SIMULATION. NO STEADY STATE FOUND.\n")) << r.out;
    ASSERT_TRUE(dir.exists("results.log"));
    const std::string results = dir.read("results.log");
    EXPECT_TRUE(startsWith(results, "RESULTS OF STATIONARY SIMULATION\nSIMULATION TIME: 100\n\n")) << results;
    // Only the time-averaged measure takes part in a stationary run.
    EXPECT_TRUE(contains(results, "Measure: C1_in_use\n")) << results;
    EXPECT_FALSE(contains(results, "Measure: Binary_recall\n")) << results;
    EXPECT_TRUE(contains(r.out, "Ignoring Measure Binary_recall")) << r.out;
    EXPECT_TRUE(contains(r.out, "Ignoring Measure fsdf")) << r.out;
}

// The shipped model has no steady state: jobs queue for its four threads
// faster than they leave. The time average C1_in_use then looks settled
// (pinned near its maximum of 5), but the queues grow, and a stationary
// run says so instead of a success; the exit status stays 0.
TEST(DriverEndToEnd, AStationaryRunOfTheShippedModelFindsNoSteadyState) {
    WorkDir dir;
    const RunResult r = runScpnsim(
        {"-S", "--mstart", "0", "--mstop", "10000", "--secmax", "0", "--seed", "1", "--epsmax", "5"}, dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "WARNING: the net shows no steady state: the tokens on the places that its "
                                "transitions take from rose steadily from "))
        << r.out;
    EXPECT_TRUE(contains(r.out, "no estimate of this run (C1_in_use) describes a long-run state.")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nABORTED SIMULATION. NO STEADY STATE FOUND.\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "SIMULATION SUCCESSFUL")) << r.out;
    EXPECT_TRUE(contains(r.out, "Measure C1_in_use: ")) << r.out;
    EXPECT_TRUE(dir.exists("results.log"));
}

// A stationary run without wall-clock limit that ends on the model time, and
// a transient run that ends on precision, are the same run for the same seed.
TEST(DriverEndToEnd, TheSameSeedGivesTheSameRun) {
    struct Case {
        std::vector<std::string> args;
        std::string verdict;
    };
    const std::vector<Case> cases = {
        {{"-S", "--mstart", "0", "--mstop", "2000", "--secmax", "0", "--seed", "7"},
         "\nABORTED SIMULATION. NO STEADY STATE FOUND.\n"},
        {{"-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "5", "--secmax", "0", "--seed", "1",
          "--epsmax", "50"},
         kTransientSuccess},
    };
    for (const Case& c : cases) {
        WorkDir first, second;
        const RunResult a = runScpnsim(c.args, first.path());
        const RunResult b = runScpnsim(c.args, second.path());
        ASSERT_EQ(a.exitStatus, 0) << a.err;
        ASSERT_EQ(b.exitStatus, 0) << b.err;
        EXPECT_TRUE(contains(a.out, c.verdict)) << a.out;
        EXPECT_TRUE(contains(b.out, c.verdict)) << b.out;
        const std::string resultsA = first.read("results.log");
        EXPECT_FALSE(resultsA.empty());
        EXPECT_EQ(resultsA, second.read("results.log")) << c.args[0];
        EXPECT_EQ(withoutWallClockLines(a.out), withoutWallClockLines(b.out)) << c.args[0];
        EXPECT_TRUE(contains(a.out, "Global fire count: ")) << a.out;

        // Another seed gives another run.
        std::vector<std::string> otherArgs = c.args;
        for (std::size_t i = 0; i + 1 < otherArgs.size(); ++i)
            if (otherArgs[i] == "--seed") otherArgs[i + 1] = "12345";
        WorkDir third;
        const RunResult other = runScpnsim(otherArgs, third.path());
        ASSERT_EQ(other.exitStatus, 0) << other.err;
        EXPECT_NE(third.read("results.log"), resultsA) << c.args[0];
    }
}

TEST(DriverEndToEnd, WithoutThreadsTheMarkingIsDead) {
    {
        WorkDir dir(0, 5);
        const RunResult r =
            runScpnsim({"-S", "--mstart", "0", "--mstop", "100", "--secmax", "0", "--seed", "1"}, dir.path());
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(contains(r.out, "WARNING: Stationary simulation stops at a dead marking.\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED "
                                    "ACCURACY.\n"))
            << r.out;
        EXPECT_TRUE(contains(r.out, "\nABORTED SIMULATION. REACHED MAXIMUM RUN TIME.\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "Global fire count: 0\n")) << r.out;
        EXPECT_TRUE(dir.exists("results.log"));
    }
    {
        // Every replication samples the unchanged marking, so the estimates
        // are exact and the run ends on precision.
        WorkDir dir(0, 5);
        const RunResult r = runScpnsim(
            {"-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "5", "--secmax", "0", "--seed", "1"},
            dir.path());
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(contains(r.out, kTransientSuccess)) << r.out;
        EXPECT_TRUE(contains(r.out, "Global fire count: 0\n")) << r.out;
        const std::string results = dir.read("results.log");
        EXPECT_TRUE(startsWith(results, "RESULTS OF TRANSIENT SIMULATION\n")) << results;
        EXPECT_FALSE(contains(results, "Has not reached predefined accuracy")) << results;
    }
}

TEST(DriverEndToEnd, ZeroSamplingPointsAreRefusedForATransientRun) {
    WorkDir dir;
    const RunResult r = runScpnsim(
        {"-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "0", "--secmax", "1", "--seed", "1"},
        dir.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.err + r.out, "Number of sampling points must be at least 1.")) << r.out << r.err;
    EXPECT_FALSE(dir.exists("results.log"));
    EXPECT_FALSE(contains(r.out, "SIMULATION")) << r.out;
}

TEST(DriverEndToEnd, AResultPortThatCannotBeReachedIsReportedAndTheRunGoesOn) {
    WorkDir dir;
    const RunResult r = runScpnsim({"-S", "--mstart", "0", "--mstop", "100", "--secmax", "2", "--seed", "1",
                                    "--resport", "no-such-host.invalid:7777"},
                                   dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Try to connect to: no-such-host.invalid:7777\n"
                                "Sim::init Connection to server no-such-host.invalid:7777 failed: bad address\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "\nRESULTS OF STATIONARY SIMULATION\n")) << r.out;
    EXPECT_TRUE(dir.exists("results.log"));
}

namespace {

// The rows of one measure's transient table: the sampling time and the
// mean of every row.
std::vector<std::pair<double, double>> rowsOf(const std::string& results, const std::string& measure) {
    std::vector<std::pair<double, double>> rows;
    std::size_t at = results.find("Measure: " + measure + "\n");
    if (at == std::string::npos) return rows;
    const std::size_t end = results.find("Measure: ", at + 1);
    std::istringstream block(results.substr(at, end == std::string::npos ? std::string::npos : end - at));
    std::string line;
    while (std::getline(block, line)) {
        if (line.size() < 2 || line[0] != '\t' || !std::isdigit(static_cast<unsigned char>(line[1]))) continue;
        std::istringstream fields(line);
        double time = 0.0, mean = 0.0;
        fields >> time >> mean;
        rows.emplace_back(time, mean);
    }
    return rows;
}

}  // namespace

TEST(DriverEndToEnd, EveryReplicationReachesTheLastSamplingPointWhateverTheStamps) {
    // Calendar stamps are large second counts: summing the interval onto
    // them never met the stop time exactly, so no replication was judged.
    struct Case {
        std::vector<std::string> times;
        std::size_t points;
        double lastRow;
    };
    const std::vector<Case> cases = {
        {{"--start", "00:00:00@01/01/2000", "--stop", "00:01:40@01/01/2000"}, 4, 6.308254e10},  // shown with 7 digits
        {{"--mstart", "0", "--mstop", "100"}, 7, 100.0},  // 100/6 is not exact in binary
    };
    for (const Case& c : cases) {
        WorkDir dir;
        std::vector<std::string> args = {"-T", "--nofsampling", std::to_string(c.points), "--epsmax", "20",
                                         "--seed", "1", "--secmax", "20"};
        args.insert(args.end(), c.times.begin(), c.times.end());
        const RunResult r = runScpnsim(args, dir.path());
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(contains(r.out, kTransientSuccess)) << r.out;
        const std::string results = dir.read("results.log");
        for (const std::string& block : kMeasureBlocks) {
            const std::string name = block.substr(9, block.size() - 10);
            const auto rows = rowsOf(results, name);
            ASSERT_EQ(rows.size(), c.points) << name << "\n" << results;
            EXPECT_NEAR(rows.back().first, c.lastRow, c.lastRow * 1e-6) << name;
        }
    }
}

TEST(DriverEndToEnd, OneSamplingPointIsTheStopTime) {
    WorkDir dir;
    const RunResult r =
        runScpnsim({"-T", "--mstart", "0", "--mstop", "100", "--epsmax", "10", "--secmax", "20", "--seed", "1"},
                   dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(contains(r.out, kTransientSuccess)) << r.out;
    const std::string results = dir.read("results.log");
    EXPECT_FALSE(contains(results + r.out, "nan")) << results;
    const auto rows = rowsOf(results, "C1_in_use");
    ASSERT_EQ(rows.size(), 1u) << results;
    EXPECT_EQ(rows[0].first, 100.0);
    // The semaphore is busy for part of the interval: not the initial state.
    EXPECT_GT(rows[0].second, 0.0);
}

TEST(DriverEndToEnd, FsdfCountsEveryTruePositiveFiringOnBothOfItsPaths) {
    // The model attaches "fsdf" to "Binary_ct_tp" and the driver updates it
    // on every event too, so each firing, which leaves one token on
    // "Binary_tp", counts twice; in every replication of every build.
    WorkDir dir;
    const RunResult r = runScpnsim({"-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "5",
                                    "--epsmax", "20", "--seed", "3", "--secmax", "20"},
                                   dir.path());
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::string results = dir.read("results.log");
    const auto fsdf = rowsOf(results, "fsdf");
    const auto placeTP = rowsOf(results, "PlaceTP");
    ASSERT_EQ(fsdf.size(), 5u);
    ASSERT_EQ(placeTP.size(), 5u);
    EXPECT_GT(placeTP.back().second, 0.0);
    for (std::size_t k = 0; k < fsdf.size(); ++k)
        EXPECT_NEAR(fsdf[k].second, 2.0 * placeTP[k].second, 2e-6 * fsdf[k].second) << k;  // 7 digits shown
}
