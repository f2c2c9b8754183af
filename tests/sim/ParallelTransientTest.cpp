// Transient runs shared by the processes of an MPI run, end to end: the real
// program under mpirun gives the same results for any number of processes,
// stops at the same replication, streams the same estimates, keeps the
// wall-clock limit, ends cleanly when a process dies, and other modes refuse
// the switch.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/MonitorSupport.h"
#include "support/TestSupport.h"

using testsupport::RunningProcess;
using testsupport::RunResult;
using testsupport::runScpnsim;
using testsupport::WorkDir;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

#ifdef MPIRUN_EXE
std::vector<std::string> mpirunArgs(int processes, const std::vector<std::string>& args) {
    std::vector<std::string> all{"--oversubscribe", "-np", std::to_string(processes)};
    if (geteuid() == 0) all.insert(all.begin(), "--allow-run-as-root");
    all.push_back(SCPNSIM_EXE);
    all.insert(all.end(), args.begin(), args.end());
    all.push_back("--parallel");
    return all;
}

RunResult mpirun(int processes, const std::vector<std::string>& args, const WorkDir& dir) {
    return testsupport::run(MPIRUN_EXE, mpirunArgs(processes, args), dir.path());
}
#define REQUIRE_MPI()
#else
#define REQUIRE_MPI() GTEST_SKIP() << "scpnsim was built without MPI"
#endif

// The replication count of the verdict ("replications completed: N (S s)").
long replications(const std::string& out) {
    static const std::regex line("replications completed: ([0-9]+) \\(");
    long last = -1;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it)
        last = std::stol((*it)[1]);
    return last;
}

const std::vector<std::string> kShortRun{"-T",        "--mstart", "0",        "--mstop", "100",
                                         "--nofsampling", "5",    "--epsmax", "10",      "--secmax",
                                         "0",         "--seed",   "3"};

}  // namespace

TEST(ParallelTransient, OneTwoAndThreeProcessesGiveTheSameResultsAndStopAtTheSameReplication) {
    REQUIRE_MPI();
#ifdef MPIRUN_EXE
    std::string reference;
    long stoppedAt = -1;
    for (int n : {1, 2, 3}) {
        SCOPED_TRACE(n);
        WorkDir dir;
        const RunResult r = mpirun(n, kShortRun, dir);
        ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "parallel transient run: " + std::to_string(n) + " process")) << r.out;
        EXPECT_TRUE(contains(r.out, "\nSIMULATION SUCCESSFUL")) << r.out;
        // Only process 0 speaks: one header, one verdict.
        EXPECT_EQ(r.out.find("netname: "), r.out.rfind("netname: ")) << r.out;
        const std::string results = dir.read("results.log");
        ASSERT_TRUE(contains(results, "RESULTS OF TRANSIENT SIMULATION")) << results;
        if (n == 1) {
            reference = results;
            stoppedAt = replications(r.out);
            EXPECT_GT(stoppedAt, 6);
        } else {
            EXPECT_EQ(results, reference);
            EXPECT_EQ(replications(r.out), stoppedAt);
        }
    }
#endif
}

TEST(ParallelTransient, TheEstimatesStreamedToTheResultPortDoNotDependOnTheProcessCount) {
    REQUIRE_MPI();
#ifdef MPIRUN_EXE
    // The estimate lines as the monitor printed them, in the order sent.
    auto estimates = [](int n) {
        WorkDir dir;
        testsupport::Monitor monitor(dir.path(), false);
        std::vector<std::string> lines;
        if (!monitor.ready()) {
            ADD_FAILURE() << monitor.why();
            return lines;
        }
        std::vector<std::string> args = kShortRun;
        args[8] = "25";  // --epsmax: fewer replications, as every one streams its places
        args.insert(args.end(), {"--resport", monitor.address()});
        const RunResult r = mpirun(n, args, dir);
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
        const RunResult m = monitor.process().wait();
        std::istringstream in(m.out);
        for (std::string line; std::getline(in, line);)
            if (contains(line, "<Result:Mean>") || line.rfind("NETNAME;", 0) == 0 || line == "EXIT;0")
                lines.push_back(line);
        return lines;
    };
    const std::vector<std::string> one = estimates(1);
    ASSERT_GT(one.size(), 10u);
    EXPECT_EQ(one.front(), "NETNAME;scpnsim");
    EXPECT_EQ(one.back(), "EXIT;0");
    EXPECT_EQ(estimates(3), one);
#endif
}

TEST(ParallelTransient, TheWallClockLimitEndsTheRunWithTheAbortVerdictAndTheResultsSoFar) {
    REQUIRE_MPI();
#ifdef MPIRUN_EXE
    WorkDir dir;
    const RunResult r = mpirun(2,
                               {"-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "5", "--epsmax",
                                "0.01", "--secmax", "2", "--seed", "1"},
                               dir);
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.")) << r.out;
    EXPECT_GT(replications(r.out), 6) << r.out;
    EXPECT_TRUE(contains(dir.read("results.log"), "Has not reached predefined accuracy!"));

    // Without --secmax (a limit of 0 s) one replication is analysed, as in
    // the sequential run.
    WorkDir once;
    const RunResult first = mpirun(2, {"-T", "--mstart", "0", "--mstop", "100", "--seed", "1"}, once);
    ASSERT_EQ(first.exitStatus, 0) << first.out << first.err;
    EXPECT_EQ(replications(first.out), 1) << first.out;
    EXPECT_TRUE(contains(first.out, "WARNING NO ANALYSIS DONE")) << first.out;
#endif
}

TEST(ParallelTransient, AProcessThatDiesEndsTheRunWithTheResultsAnalysedSoFar) {
    REQUIRE_MPI();
#ifdef MPIRUN_EXE
    WorkDir dir;
    // The launcher kills the processes it told to end a second later; a
    // loaded machine may need longer to save the results, so the test gives
    // them time (the program's side does not depend on it).
    std::vector<std::string> args = mpirunArgs(3, {"-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "5",
                                                   "--epsmax", "0.01", "--secmax", "600", "--seed", "1"});
    args.insert(args.begin(), {"--mca", "odls_base_sigkill_timeout", "30"});
    RunningProcess run(MPIRUN_EXE, args, dir.path());
    ASSERT_TRUE(run.waitForOutput("parallel transient run: 3 processes")) << run.describe();
    // Process 2 of this run: its working directory is this test's.
    int victim = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path() / "cwd", ec) != dir.path() || ec) continue;
        std::ifstream environ(entry.path() / "environ");
        const std::string env((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
        if (contains(env, std::string("OMPI_COMM_WORLD_RANK=2") + '\0')) victim = std::stoi(pid);
    }
    ASSERT_GT(victim, 0);
    ASSERT_EQ(kill(victim, SIGKILL), 0);
    const RunResult r = run.wait();  // mpirun ends the others: no hang
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_TRUE(contains(r.out, "RUN INTERRUPTED by SIGTERM after ")) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "results.log holds the replications analysed so far")) << r.out;
    ASSERT_TRUE(dir.exists("results.log")) << r.out;
    EXPECT_EQ(dir.read("results.log").rfind("RESULTS OF TRANSIENT SIMULATION\n", 0), 0u);
#endif
}

TEST(ParallelTransient, OtherModesRefuseTheSwitch) {
    WorkDir dir;
    for (const std::vector<std::string>& mode :
         {std::vector<std::string>{"-S", "--mstart", "0", "--mstop", "100"},
          std::vector<std::string>{"-R", "--mstart", "0", "--mstop", "100", "--repeats", "2", "--thrmax", "5"},
          std::vector<std::string>{"-t", "--mstart", "0"},
          std::vector<std::string>{"-p", "--fcount", "10", "--lcount", "1"}}) {
        SCOPED_TRACE(mode[0]);
        std::vector<std::string> args = mode;
        args.push_back("--parallel");
        const RunResult r = runScpnsim(args, dir.path());
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_TRUE(contains(r.err, "--parallel applies to transient simulations (-T) only")) << r.err;
        EXPECT_FALSE(dir.exists("results.log"));
    }
}
