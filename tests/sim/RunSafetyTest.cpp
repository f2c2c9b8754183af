// What the real program does when its output cannot be written, when the
// wall clock or a signal ends a run, and that no result is lost or faked on
// the way: "results.log" is written whole or not at all, failures end with a
// message and status 1, and the previous results survive them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"

using testsupport::RunOptions;
using testsupport::RunResult;
using testsupport::runScpnsim;
using testsupport::WorkDir;

namespace fs = std::filesystem;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

const std::vector<std::string> kShortRun = {"-T", "--mstart", "0", "--mstop", "100", "--nofsampling",
                                            "3", "--epsmax", "50", "--secmax", "5", "--seed", "1"};
const std::string kOldResults = "RESULTS OF AN EARLIER RUN\n";

}  // namespace

// ---------------------------------------------------------------------------
// results.log

TEST(ResultsFile, ReplacesTheOldFileWholeAndLeavesNoTemporaryFileBehind) {
    WorkDir dir;
    dir.write("results.log", kOldResults);
    fs::permissions(dir.path() / "results.log", fs::perms::owner_read | fs::perms::owner_write |
                                                    fs::perms::group_read);
    const RunResult r = runScpnsim(kShortRun, dir.path());
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(contains(dir.read("results.log"), "RESULTS OF TRANSIENT SIMULATION\n"));
    EXPECT_EQ(fs::status(dir.path() / "results.log").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        ++files;
        EXPECT_TRUE(entry.path().filename() == "results.log" || entry.path().filename() == "marking.xml")
            << entry.path();
    }
    EXPECT_EQ(files, 2);
}

TEST(ResultsFile, AFileThatCannotBeWrittenIsAnErrorAndTheOldResultsSurvive) {
    struct Case {
        const char* name;
        RunOptions options;
        void (*prepare)(const WorkDir&);
    };
    RunOptions unprivileged;
    unprivileged.asUnprivileged = true;
    RunOptions tinyFiles;
    tinyFiles.fileSizeLimit = 1000;  // bytes: the error line fits, the results do not
    tinyFiles.discardOutput = true;  // standard output would pass the limit first
    const Case cases[] = {
        {"read-only folder", unprivileged,
         [](const WorkDir& d) {
             d.write("results.log", kOldResults);
             fs::permissions(d.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                           fs::perms::others_read | fs::perms::others_exec);
         }},
        {"results.log is a folder", {}, [](const WorkDir& d) { fs::create_directory(d.path() / "results.log"); }},
        {"full disk", {}, [](const WorkDir& d) { fs::create_symlink("/dev/full", d.path() / "results.log"); }},
        {"file-size limit", tinyFiles, [](const WorkDir& d) { d.write("results.log", kOldResults); }},
    };
    for (const Case& c : cases) {
        WorkDir dir;
        c.prepare(dir);
        const RunResult r = runScpnsim(kShortRun, dir.path(), c.options);
        EXPECT_EQ(r.exitStatus, 1) << c.name << "\n" << r.out << r.err;
        EXPECT_TRUE(contains(r.err, "ERROR: results.log could not be written (")) << c.name << r.err;
        // The run itself happened; only its file is missing.
        if (!c.options.discardOutput) {
            EXPECT_TRUE(contains(r.out, "RESULTS OF TRANSIENT SIMULATION")) << c.name;
        }
        if (fs::is_regular_file(dir.path() / "results.log")) {
            EXPECT_EQ(dir.read("results.log"), kOldResults) << c.name;
        }
        for (const auto& entry : fs::directory_iterator(dir.path()))
            EXPECT_NE(entry.path().filename().string().rfind(".results.log", 0), 0u) << c.name;
    }
}

TEST(ResultsFile, AFolderThatTakesNoNewFileStillGetsAWritableResultsFileRewritten) {
    WorkDir dir;
    // Longer than the new results: nothing of it may stay behind them.
    std::string old;
    while (old.size() < 100000) old += kOldResults;
    dir.write("results.log", old);
    fs::permissions(dir.path() / "results.log", fs::perms::all);  // writable by anyone
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    RunOptions unprivileged;
    unprivileged.asUnprivileged = true;
    const RunResult r = runScpnsim(kShortRun, dir.path(), unprivileged);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const std::string results = dir.read("results.log");
    EXPECT_EQ(results.rfind("RESULTS OF TRANSIENT SIMULATION\n", 0), 0u) << results.substr(0, 200);
    EXPECT_FALSE(contains(results, kOldResults));
}

TEST(ResultsFile, ARewriteInPlaceThatFailsLeavesTheOldFileWhole) {
    // The folder takes no new file, so results.log is rewritten in place; the
    // file-size limit stops the write after 1,024 bytes. That used to leave
    // those 1,024 bytes of new text where the old results had been.
    WorkDir dir;
    std::string old;
    for (int i = 0; old.size() < 3400; ++i) old += "old result line " + std::to_string(i) + "\n";
    dir.write("results.log", old);
    fs::permissions(dir.path() / "results.log", fs::perms::all);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    RunOptions limited;
    limited.asUnprivileged = true;
    limited.fileSizeLimit = 1024;
    limited.discardOutput = true;  // standard output would pass the limit first
    const RunResult r = runScpnsim(kShortRun, dir.path(), limited);
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "ERROR: results.log could not be written (")) << r.err;
    EXPECT_FALSE(contains(r.err, "could not be put back")) << r.err;
    EXPECT_EQ(dir.read("results.log"), old);
}

TEST(ResultsFile, AReadOnlyResultsFileIsNotReplacedEvenForRoot) {
    // access() grants root every write; the file's mode says read-only.
    WorkDir dir;
    dir.write("results.log", kOldResults);
    fs::permissions(dir.path() / "results.log", fs::perms::owner_read | fs::perms::group_read |
                                                    fs::perms::others_read);
    const RunResult r = runScpnsim(kShortRun, dir.path());
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "ERROR: results.log could not be written (results.log cannot be replaced"))
        << r.err;
    EXPECT_EQ(dir.read("results.log"), kOldResults);
    EXPECT_EQ(fs::status(dir.path() / "results.log").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

// ---------------------------------------------------------------------------
// Traces

TEST(Traces, ATraceThatCanNoLongerBeWrittenEndsTheRunClearly) {
    WorkDir dir;
    dir.write("results.log", kOldResults);
    RunOptions limited;
    limited.fileSizeLimit = 200 * 1024;  // a trace passes this within milliseconds
    const RunResult r =
        runScpnsim({"-S", "--mstart", "0", "--mstop", "100000", "--secmax", "20", "--seed", "1", "-l"},
                   dir.path(), limited);
    EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "ERROR: the trace Log/")) << r.err;
    EXPECT_TRUE(contains(r.err, " could not be written")) << r.err;
    EXPECT_EQ(dir.read("results.log"), kOldResults);
}

TEST(Traces, ASecondRunIsRefusedTheLogFolderOfARunningOne) {
    WorkDir dir;
    // Never accurate, no stop time, no limit: it runs until it is signalled.
    testsupport::RunningProcess first(SCPNSIM_EXE,
                                      {"-S", "--mstart", "0", "--mstop", "0", "--secmax", "0", "--epsmax", "0",
                                       "--percentage", "false", "--seed", "1", "-l"},
                                      dir.path());
    ASSERT_TRUE(first.waitForOutput("Running simulation from"));
    for (int i = 0; i < 6000 && fs::file_size(dir.path() / "Log/sim.log") == 0; ++i) usleep(10000);
    ASSERT_GT(fs::file_size(dir.path() / "Log/sim.log"), 0u);

    const auto traced = fs::file_size(dir.path() / "Log/sim.log");
    const RunResult second = runScpnsim({"-S", "--mstart", "0", "--mstop", "10", "--seed", "2", "-l"}, dir.path());
    EXPECT_EQ(second.exitStatus, 1) << second.out << second.err;
    EXPECT_TRUE(contains(second.err, "ERROR: cannot write the traces in the folder \"Log\": another run is "
                                     "writing its traces there (it holds Log/.lock)"))
        << second.err;
    EXPECT_FALSE(contains(second.out, "Running simulation from")) << second.out;
    // The first run's traces were not emptied (a trace only grows).
    EXPECT_GE(fs::file_size(dir.path() / "Log/sim.log"), traced);
    // Another folder is free.
    const RunResult elsewhere = runScpnsim(
        {"-S", "--mstart", "0", "--mstop", "10", "--seed", "2", "-l", "--logdir", "Other"}, dir.path());
    EXPECT_EQ(elsewhere.exitStatus, 0) << elsewhere.out << elsewhere.err;

    first.sendSignal(SIGKILL);
    EXPECT_EQ(first.wait().signal, SIGKILL);
    // A killed run leaves no lock behind.
    const RunResult after = runScpnsim({"-S", "--mstart", "0", "--mstop", "10", "--seed", "2", "-l"}, dir.path());
    EXPECT_EQ(after.exitStatus, 0) << after.out << after.err;
}

// ---------------------------------------------------------------------------
// The wall clock inside a replication, and signals

TEST(RunGuards, TheWallClockLimitEndsAReplicationThatWouldNeverEnd) {
    // From model time 0 to a calendar stop: about 6e10 s of model time, far
    // more than any replication gets through.
    WorkDir dir;
    const RunResult r = runScpnsim({"-T", "--mstart", "0", "--stop", "00:00:00@01/01/2000",
                                    "--nofsampling", "3", "--secmax", "1", "--seed", "1"},
                                   dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "replications completed: 0 (")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.\n")) << r.out;
    // The cut replication is taken back: no measure shows a row of it.
    const std::string results = dir.read("results.log");
    EXPECT_EQ(countOf(results, "Measure: "), 8) << results;
    const std::size_t blocks = results.find("Measure: ");
    ASSERT_NE(blocks, std::string::npos);
    EXPECT_EQ(countOf(results.substr(blocks), "e+"), 0) << results;
}

TEST(RunGuards, ASignalEndsTheRunBetweenEventsAndKeepsTheOldResults) {
    for (int sig : {SIGINT, SIGTERM}) {
        WorkDir dir;
        dir.write("results.log", kOldResults);
        fs::create_directory(dir.path() / "Log");
        // Never accurate, no stop time, no limit: only the signal ends it.
        testsupport::RunningProcess run(SCPNSIM_EXE,
                                        {"-S", "--mstart", "0", "--mstop", "0", "--secmax", "0",
                                         "--epsmax", "0", "--percentage", "false", "--seed", "1", "-l"},
                                        dir.path());
        ASSERT_TRUE(run.waitForOutput("Running simulation from"));
        // The event loop has begun once the event trace reaches the file.
        for (int i = 0; i < 6000 && fs::file_size(dir.path() / "Log/sim.log") == 0; ++i) usleep(10000);
        ASSERT_GT(fs::file_size(dir.path() / "Log/sim.log"), 0u);
        run.sendSignal(sig);
        const RunResult r = run.wait();
        EXPECT_EQ(r.signal, sig) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, std::string("\nRUN INTERRUPTED by ") + (sig == SIGINT ? "SIGINT" : "SIGTERM")))
            << r.out;
        EXPECT_TRUE(contains(r.out, "results.log is left as it was.\n")) << r.out;
        EXPECT_EQ(dir.read("results.log"), kOldResults);
        // Every trace ends with a whole line.
        for (const char* trace : {"Log/sim.log", "Log/trans.log"}) {
            const std::string text = dir.read(trace);
            EXPECT_TRUE(text.empty() || text.back() == '\n') << trace;
        }
    }
}

TEST(RunGuards, ASignalEndsAProfilingRunBetweenEventsWithWholeTraceLines) {
    // The profiling loop once let a signal end the process at once, in the
    // middle of a trace line.
    for (int sig : {SIGINT, SIGTERM}) {
        WorkDir dir;
        dir.write("results.log", kOldResults);
        testsupport::RunningProcess run(
            SCPNSIM_EXE, {"-p", "--fcount", "2000000000", "--lcount", "1000", "--seed", "1", "-l"}, dir.path());
        ASSERT_TRUE(run.waitForOutput("firing 1000 * 2000000000 times"));
        // The loop has begun once the transition trace reaches the file.
        for (int i = 0; i < 6000 && (!fs::exists(dir.path() / "Log/trans.log") ||
                                     fs::file_size(dir.path() / "Log/trans.log") < 100000);
             ++i)
            usleep(10000);
        ASSERT_GE(fs::file_size(dir.path() / "Log/trans.log"), 100000u);
        run.sendSignal(sig);
        const RunResult r = run.wait();
        const std::string name = sig == SIGINT ? "SIGINT" : "SIGTERM";
        EXPECT_EQ(r.signal, sig) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "\nRUN INTERRUPTED by " + name + " at model time ")) << r.out;
        EXPECT_TRUE(contains(r.out, "results.log is left as it was.\n")) << r.out;
        EXPECT_EQ(dir.read("results.log"), kOldResults);
        for (const char* trace : {"Log/sim.log", "Log/trans.log"}) {
            const std::string text = dir.read(trace);
            EXPECT_TRUE(text.empty() || text.back() == '\n') << trace;
        }
    }
}
