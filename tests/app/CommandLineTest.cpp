// End-to-end tests of start-up and the command line: the real executable is
// run in a temporary working directory and its output and exit status checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MainClass.h"
#include "app/Server.h"
#include "platform/net/Socket.h"
#include "support/TestSupport.h"

using testsupport::runScpnsim;
using testsupport::TempDir;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Lines of the run summary that only a returning Server::start prints.
const char* const kSummary = "total simulation time: ";

}  // namespace

TEST(CommandLineEcho, EchoesArgumentsAndStartStamp) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-T", "--mstart", "0", "--mstop", "100", "--seed", "7"}, dir.path());
    EXPECT_TRUE(r.out.rfind("MainClass::main() beginning...\nSimulation called with arguments\n", 0) == 0)
        << r.out;
    EXPECT_TRUE(contains(r.out, std::string(SCPNSIM_EXE) + " -T --mstart 0 --mstop 100 --seed 7 \n"));
    EXPECT_TRUE(contains(r.out, "starting simulation at "));
    EXPECT_TRUE(contains(r.out, "netname: scpnsim\n"));
}

TEST(CommandLineParser, NoModeIsAParseErrorWithStatus1) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"--mstart", "0"}, dir.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.err, "PARSE ERROR")) << r.err;
    EXPECT_FALSE(contains(r.out, kSummary));
}

TEST(CommandLineParser, TwoModesAreAParseError) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-T", "-S", "--mstart", "0", "--mstop", "1"}, dir.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.err, "PARSE ERROR")) << r.err;
    EXPECT_FALSE(contains(r.out, kSummary));
}

TEST(CommandLineParser, MalformedValuesAreParseErrors) {
    testsupport::WorkDir dir;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-T", "--mstart", "abc", "--mstop", "1"},
             {"-T", "--mstart", "0", "--mstop", "1", "--secmax", "x"},
             {"-T", "--mstart", "0", "--mstop", "1", "--percentage", "maybe"},
             {"-T", "--mstart", "0", "--mstop", "1", "--unknown", "1"}}) {
        auto r = runScpnsim(args, dir.path());
        EXPECT_EQ(r.exitStatus, 1) << args[2];
        EXPECT_TRUE(contains(r.err, "PARSE ERROR")) << r.err;
        EXPECT_FALSE(contains(r.out, kSummary));
    }
}

TEST(CommandLineParser, ValuesThatWouldWrapOrVanishAreMalformed) {
    // Negative numbers for unsigned options used to wrap (--secmax -1 meant
    // "no limit"), numbers beyond the type wrapped too, and an empty value
    // silently kept the default.
    testsupport::WorkDir dir;
    // A transient run with `option` set to `value` and the other times and
    // the seed at sound values.
    auto commandLine = [](const std::string& option, const std::string& value) {
        std::map<std::string, std::string> values = {{"--mstart", "0"}, {"--mstop", "100"}, {"--seed", "1"}};
        values[option] = value;
        std::vector<std::string> args = {"-T"};
        for (const auto& [name, v] : values) {
            args.push_back(name);
            args.push_back(v);
        }
        return args;
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--secmax", "-1"},          {"--seed", "-5"},         {"--nofsampling", "-1"},
        {"--nofsampling", "4294967296"}, {"--secmax", "99999999999"}, {"--secmax", ""},
        {"--mstop", ""},             {"--mstart", " "},        {"--mstart", "nan"},
        {"--mstop", "inf"},          {"--mstop", "1e999"},     {"--confidence", "95%"},
        {"--epsmax", "0x10"},        {"--nofsampling", "5.0"}, {"--seed", "12abc"},
        {"--fcount", "1.5"},         {"--repeats", "3 4"},     {"--percentage", ""}};
    for (const auto& [option, value] : cases) {
        auto r = runScpnsim(commandLine(option, value), dir.path());
        EXPECT_EQ(r.exitStatus, 1) << option << " '" << value << "'";
        EXPECT_TRUE(contains(r.err, "PARSE ERROR: Argument: (--" + option.substr(2) + ")"))
            << option << " '" << value << "'\n" << r.err;
        EXPECT_TRUE(contains(r.err, "Couldn't read argument value from string '" + value + "'")) << r.err;
        EXPECT_FALSE(contains(r.out, "Running simulation from")) << option << " " << value;
    }
    // What stays accepted: blanks around a number, a plus sign, a signed
    // integer where the option is signed.
    for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{
             {"--secmax", " 1 "}, {"--nofsampling", "+3"}, {"--epsmax", "2.5e1"}, {"--repeats", "-2"}}) {
        auto r = runScpnsim(commandLine(extra[0], extra[1]), dir.path());
        EXPECT_EQ(r.exitStatus, 0) << extra[0] << r.err;
    }
}

TEST(CommandLineParser, HelpListsEveryOptionAndExitsZero) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"--help"}, dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    for (const char* text :
         {"REVU Simulation", "--tokengame", "--stat_simulation", "--trans_simulation",
          "--restart_simulation", "--performance", "--resport", "--start", "--stop", "--mstart",
          "--mstop", "--fcount", "--lcount", "--log", "--logdir", "--seed", "--confidence",
          "--epsmax", "--secmax", "--nofsampling", "--percentage", "--inittrans", "--thrmin",
          "--thrmax", "--thrnumber", "--repeats", "Per cent rule on or off.",
          "NULL or xxx.xxx.xxx.xxx (IP)", "Max. relative fault.", "Number of RESTART repeats"}) {
        EXPECT_TRUE(contains(r.out, text)) << text;
    }
    EXPECT_FALSE(contains(r.out, kSummary));
}

TEST(CommandLineParser, VersionTextIsNone) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"--version"}, dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(contains(r.out, "none")) << r.out;
}

TEST(CommandLineParser, TruthValuesAcceptWordsAndDigits) {
    testsupport::WorkDir dir;
    for (const char* v : {"true", "false", "on", "off", "1", "0"}) {
        auto r = runScpnsim({"-S", "--mstart", "0", "--mstop", "1", "--percentage", v,
                             "--inittrans", v, "--seed", "1"},
                            dir.path());
        EXPECT_FALSE(contains(r.err, "PARSE ERROR")) << v << r.err;
        EXPECT_TRUE(contains(r.out, "Running simulation from")) << v;
    }
}

// Each failed check after parsing: its text, the parser's error report,
// status 1 and no run summary.
struct FailedCheck {
    std::vector<std::string> args;
    std::string message;
};

class CommandLineChecks : public ::testing::TestWithParam<FailedCheck> {};

TEST_P(CommandLineChecks, ReportsMessageAndEndsWithStatus1) {
    testsupport::WorkDir dir;
    std::vector<std::string> args = GetParam().args;
    if (std::find(args.begin(), args.end(), "--seed") == args.end()) {
        args.push_back("--seed");
        args.push_back("5");
    }
    auto r = runScpnsim(args, dir.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.err, "PARSE ERROR:  \n             " + GetParam().message + "\n"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "Brief USAGE:")) << r.err;
    EXPECT_FALSE(contains(r.out, kSummary));
    EXPECT_FALSE(contains(r.out, "Running simulation from"));
    EXPECT_FALSE(contains(r.out, "Running in profiling mode"));
}

INSTANTIATE_TEST_SUITE_P(
    AllChecks, CommandLineChecks,
    ::testing::Values(
        FailedCheck{{"-p", "--lcount", "2"}, "Missing argument firecount."},
        FailedCheck{{"-p", "--fcount", "2"}, "Missing argument loopcount."},
        FailedCheck{{"-T", "--start", "0:00:00@01/01/2000", "--mstop", "5"},
                    "Format of start time invalid."},
        FailedCheck{{"-T", "--mstart", "-1", "--mstop", "5"}, "Start time < 0.0"},
        FailedCheck{{"-T", "--mstop", "5"}, "Missing argument starttime."},
        FailedCheck{{"-t"}, "Missing argument starttime."},
        FailedCheck{{"-S", "--mstart", "0", "--stop", "00:00:00@01/01/2039"},
                    "Format of stoptime invalid."},
        FailedCheck{{"-T", "--mstart", "5", "--mstop", "5"}, "Stop time < Start time."},
        FailedCheck{{"-S", "--mstart", "5", "--mstop", "4"}, "Stop time < Start time."},
        FailedCheck{{"-R", "--mstart", "0"}, "Missing argument stop."},
        FailedCheck{{"-T", "--mstart", "0", "--mstop", "1", "--seed", "4294967296"},
                    "Seed must be an integer from 0 to 4294967295."},
        // Outside 80 to 99.8 the quantiles are 0: every interval would be
        // empty and every run "accurate".
        FailedCheck{{"-T", "--mstart", "0", "--mstop", "1", "--confidence", "50"},
                    "Confidence must be from 80.0 to 99.8."},
        FailedCheck{{"-S", "--mstart", "0", "--mstop", "1", "--confidence", "0"},
                    "Confidence must be from 80.0 to 99.8."},
        FailedCheck{{"-T", "--mstart", "0", "--mstop", "1", "--confidence", "99.9"},
                    "Confidence must be from 80.0 to 99.8."},
        FailedCheck{{"-T", "--mstart", "0", "--mstop", "1", "--epsmax", "-1"},
                    "Max. relative fault must not be negative."},
        FailedCheck{{"-T", "--mstart", "0", "--mstop", "1", "--nofsampling", "100001"},
                    "Number of sampling points must be at most 100000."},
        FailedCheck{{"-T", "--mstart", "0", "--mstop", "1", "--nofsampling", "100000000"},
                    "Number of sampling points must be at most 100000."},
        // RESTART: weights 1/repeats^k need repeats >= 1, levels need slices.
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "0", "--thrmin", "1", "--thrmax", "3"},
                    "Number of RESTART repeats must be at least 1."},
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "0", "--repeats", "-2", "--thrmin", "1", "--thrmax", "3"},
                    "Number of RESTART repeats must be at least 1."},
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "0", "--repeats", "2", "--thrmin", "3", "--thrmax", "3"},
                    "Thresholds max value must be greater than thresholds min value."},
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "0", "--repeats", "2", "--thrmax", "3", "--thrnumber", "-1"},
                    "Thresholds number must not be negative."},
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "0", "--repeats", "2", "--thrmax", "3", "--batchtime", "0"},
                    "RESTART batch time must be a positive number."},
        FailedCheck{{"-S", "--mstart", "0", "--mstop", "1", "--batchtime", "5"},
                    "--batchtime applies to RESTART simulations (-R) only."},
        // The top level thrnumber + 2 must be an int, and repeats^levels must
        // leave the weights numbers.
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "0", "--repeats", "2", "--thrmax", "3", "--thrnumber",
                     "2147483647"},
                    "Thresholds number must be at most 2147483645."},
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "0", "--repeats", "10", "--thrmax", "3", "--thrnumber",
                     "300"},
                    "Thresholds number and repeats give path weights below 1e-300: repeats^(thrnumber + 2) must "
                    "stay below 1e300."},
        // A batch time that does not move the clock on would never end a batch.
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "0", "--repeats", "2", "--thrmax", "3", "--batchtime",
                     "1e-300"},
                    "RESTART batch time is too small to advance the clock between the start and the stop time."},
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "1", "--repeats", "2", "--thrmax", "3", "--batchtime",
                     "1e-17"},
                    "RESTART batch time is too small to advance the clock between the start and the stop time."},
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "1e12", "--repeats", "2", "--thrmax", "3", "--batchtime",
                     "1e-6"},
                    "Stop time must lie before 00:00:00@12/31/9999 (315538070400 s), the time that stands for "
                    "no event."},
        FailedCheck{{"-R", "--mstart", "0", "--mstop", "1e10", "--repeats", "2", "--thrmax", "3", "--batchtime",
                     "1e-7"},
                    "RESTART batch time is too small to advance the clock between the start and the stop time."},
        // DateTime::MAX is the time of no event: nothing could be fired there.
        FailedCheck{{"-T", "--mstart", "6e11", "--mstop", "7e11"},
                    "Start time must lie before 00:00:00@12/31/9999 (315538070400 s), the time that stands for "
                    "no event."},
        FailedCheck{{"-S", "--mstart", "315538070400", "--mstop", "0"},
                    "Start time must lie before 00:00:00@12/31/9999 (315538070400 s), the time that stands for "
                    "no event."},
        FailedCheck{{"-T", "--mstart", "0", "--mstop", "4e11"},
                    "Stop time must lie before 00:00:00@12/31/9999 (315538070400 s), the time that stands for "
                    "no event."}));

TEST(CommandLineTimes, StationaryAcceptsEqualStartAndStop) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-S", "--mstart", "5", "--mstop", "5", "--seed", "1"}, dir.path());
    EXPECT_TRUE(contains(r.out, "Running simulation from 00:00:05@12/31/0000 to 00:00:05@12/31/0000 "
                                ":: displayaddress=NULL\n"))
        << r.out;
}

TEST(CommandLineTimes, RestartDoesNotCheckTheOrderOfPlainTimes) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-R", "--mstart", "5", "--mstop", "1", "--seed", "1", "--repeats", "2", "--thrmin", "1",
                         "--thrmax", "3"},
                        dir.path());
    EXPECT_TRUE(contains(r.out, "Running simulation from")) << r.out << r.err;
}

TEST(CommandLineTimes, CalendarStampsInWrongOrderEndTransientRuns) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-T", "--start", "00:00:00@01/02/2000", "--stop", "00:00:00@01/01/2000",
                         "--seed", "1"},
                        dir.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.out, "Running simulation from 00:00:00@01/02/2000 to 00:00:00@01/01/2000"));
    EXPECT_TRUE(contains(r.out, "\nStop time of simulation must be after the start time.\n"));
    EXPECT_FALSE(contains(r.out, kSummary));
}

TEST(CommandLineTimes, CalendarStampsInWrongOrderAreAcceptedForStationaryRuns) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-S", "--start", "00:00:00@01/02/2000", "--stop", "00:00:00@01/01/2000",
                         "--seed", "1"},
                        dir.path());
    EXPECT_FALSE(contains(r.out, "Stop time of simulation must be after the start time."));
    EXPECT_TRUE(contains(r.out, "Running simulation from 00:00:00@01/02/2000 to 00:00:00@01/01/2000"));
}

TEST(CommandLineTimes, CalendarStampWinsOverPlainStart) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-S", "--start", "12:30:15@01/01/2000", "--mstart", "3", "--mstop",
                         "63082585816", "--seed", "1"},
                        dir.path());
    EXPECT_TRUE(contains(r.out, "Running simulation from 12:30:15@01/01/2000 to 12:30:16@01/01/2000"))
        << r.out;
}

TEST(CommandLineSeed, SplitsSeedIntoSixNumbers) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-S", "--mstart", "0", "--mstop", "1", "--seed", "4194305"}, dir.path());
    EXPECT_TRUE(contains(r.out,
                         "Random seed set to 4194305\n"
                         "Setting individual seed number 0 to 1\n"
                         "Setting individual seed number 1 to 0\n"
                         "Setting individual seed number 2 to 1\n"
                         "Setting individual seed number 3 to 1\n"
                         "Setting individual seed number 4 to 0\n"
                         "Setting individual seed number 5 to 1\n"
                         "Was the seed accepted? true\n"
                         "Result port set to NULL\n"))
        << r.out;
}

TEST(CommandLineSeed, ZeroSeedIsRejectedByTheRandomPackage) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-S", "--mstart", "0", "--mstop", "1", "--seed", "0"}, dir.path());
    EXPECT_TRUE(contains(r.out, "Random seed set to 0\n")) << r.out;
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(contains(r.out, "Setting individual seed number " + std::to_string(i) + " to 0\n"));
    EXPECT_TRUE(contains(r.out, "Was the seed accepted? false\n"));
    EXPECT_TRUE(contains(r.err, "ERROR: First 3 seeds = 0.")) << r.err;
    // The run goes on with the previous seed.
    EXPECT_TRUE(contains(r.out, "Running simulation from"));
}

TEST(CommandLineSeed, DefaultSeedIsTheWallClock) {
    testsupport::WorkDir dir;
    const long before = static_cast<long>(time(nullptr));
    auto r = runScpnsim({"-S", "--mstart", "0", "--mstop", "1"}, dir.path());
    const long after = static_cast<long>(time(nullptr));
    const auto pos = r.out.find("Random seed set to ");
    ASSERT_NE(pos, std::string::npos);
    const long seed = std::stol(r.out.substr(pos + 19));
    EXPECT_GE(seed, before);
    EXPECT_LE(seed, after);
}

TEST(CommandLineSplit, SeedSplitTakesBitGroups) {
    EXPECT_EQ(Server::splitSeed(4194305), (std::array<unsigned long, 6>{1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(Server::splitSeed(0xFFFFFFFFUL),
              (std::array<unsigned long, 6>{1023, 1023, 4095, 1023, 1023, 4095}));
    EXPECT_EQ(Server::splitSeed(4096), (std::array<unsigned long, 6>{0, 1, 0, 0, 1, 0}));
}

TEST(CommandLineModelName, DerivedFromProgramPath) {
    EXPECT_EQ(Server::modelName("C:\\models\\Net.sim.exe"), "Net.sim");
    EXPECT_EQ(Server::modelName("/opt/run/Net"), "Net");
    EXPECT_EQ(Server::modelName("Net.exe"), "Net");
    EXPECT_EQ(Server::modelName("C:/a\\b/c.d/Net"), "Net");
    EXPECT_EQ(Server::modelName(""), "");
}

TEST(CommandLineModelName, PrintedFromArgv0) {
    testsupport::WorkDir dir;
    auto r = testsupport::run(SCPNSIM_EXE, {"-S", "--mstart", "0", "--mstop", "1", "--seed", "1"},
                              dir.path(), "/opt/run/Net.sim.exe");
    EXPECT_TRUE(contains(r.out, "netname: Net.sim\n")) << r.out;
}

TEST(CommandLineModes, ProfilingReadsNoTimes) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-p", "--fcount", "10", "--lcount", "3", "--seed", "1"}, dir.path());
    EXPECT_TRUE(contains(r.out, "Running in profiling mode 10*3\n")) << r.out;
}

TEST(CommandLineModes, TokenGameNeedsOnlyAStartTime) {
    testsupport::PortLock port(2020);
    testsupport::WorkDir dir;
    testsupport::RunningProcess game(
        SCPNSIM_EXE, {"-t", "--mstart", "0", "--seed", "1", "--resport", "no-such-host.invalid:1"}, dir.path());
    ASSERT_TRUE(game.waitForOutput("waiting for socket connection from GUI.."));
    std::unique_ptr<socket_t> gui(socket_t::connect("127.0.0.1:2020", socket_t::sock_global_domain, 10, 1));
    gui->write("EXIT#", 5);
    const testsupport::RunResult r = game.wait();
    EXPECT_TRUE(contains(r.out, "Result port set to no-such-host.invalid:1\n"));
    EXPECT_TRUE(contains(r.out, "Running tokengame from 00:00:00@12/31/0000 :: displayaddress=no-such-host.invalid:1\n"))
        << r.out;
    // A result port that cannot be reached is reported; the game is played anyway.
    EXPECT_TRUE(contains(r.out, "Sim::init Connection to server no-such-host.invalid:1 failed: bad address\n"))
        << r.out;
    EXPECT_EQ(r.exitStatus, 0);
}

TEST(CommandLineModes, RestartOnAModelWithoutImportanceFunctionFails) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-R", "--mstart", "0", "--mstop", "100", "--seed", "1", "--repeats", "2", "--thrmin", "1",
                         "--thrmax", "3"},
                        dir.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.out, "\nRESTART simulation starts.\n\nParameters: \n"
                                "Error: no Importance Function ('ImportanceFunction') measure was defined!\n"))
        << r.out;
    EXPECT_FALSE(dir.exists("results.log"));
    EXPECT_FALSE(contains(r.out, kSummary));
}

TEST(CommandLineLogging, OffByDefaultCreatesNoFiles) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-S", "--mstart", "0", "--mstop", "1", "--seed", "1"}, dir.path());
    EXPECT_TRUE(contains(r.out, "logging off\n"));
    EXPECT_FALSE(dir.exists("Log"));
}

TEST(CommandLineLogging, MissingFolderIsCreated) {
    testsupport::WorkDir dir;
    auto r = runScpnsim({"-S", "--mstart", "0", "--mstop", "1", "--seed", "1", "-l", "--logdir",
                         "traces/today"},
                        dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "logging on (folder: traces/today)\n")) << r.out;
    for (const char* file : {"sim.log", "trans.log", "server.log"})
        EXPECT_TRUE(dir.exists(std::string("traces/today/") + file)) << file;
}

TEST(CommandLineLogging, AFolderThatCannotHoldTheTracesEndsTheProgramBeforeTheRun) {
    testsupport::WorkDir dir;
    dir.write("plain-file", "x");
    std::filesystem::create_directory(dir.path() / "locked");
    std::filesystem::permissions(dir.path() / "locked", std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_exec |
                                                            std::filesystem::perms::others_read |
                                                            std::filesystem::perms::others_exec);
    testsupport::RunOptions unprivileged;
    unprivileged.asUnprivileged = true;  // root could write into "locked" anyway
    const struct {
        std::string folder;
        testsupport::RunOptions options;
    } cases[] = {{"plain-file", {}},
                 {"plain-file/below", {}},
                 {"/proc/self", {}},  // a folder of a file system that takes no files
                 {std::string(100 * 1024, 'n'), {}},
                 {"locked", unprivileged}};
    for (const auto& c : cases) {
        auto r = runScpnsim({"-S", "--mstart", "0", "--mstop", "1", "--seed", "1", "-l", "--logdir",
                             c.folder},
                            dir.path(), c.options);
        const std::string shown = c.folder.substr(0, 40);
        EXPECT_EQ(r.exitStatus, 1) << shown << r.out << r.err;
        EXPECT_TRUE(contains(r.err, "ERROR: cannot write the traces in the folder \"" + c.folder + "\": "))
            << shown << r.err;
        EXPECT_FALSE(contains(r.out, "Running simulation from")) << shown;
        EXPECT_FALSE(dir.exists("results.log")) << shown;
    }
}

TEST(CommandLineLogging, AFailedOptionCheckLeavesTheLastRunsTracesAlone) {
    testsupport::WorkDir dir;
    std::filesystem::create_directory(dir.path() / "Log");
    dir.write("Log/sim.log", "the last run\n");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-T", "--mstart", "0", "--mstop", "1", "-l", "--confidence", "50"},
             {"-T", "--mstart", "5", "--mstop", "1", "-l"},
             {"-T", "--start", "00:00:00@01/02/2000", "--stop", "00:00:00@01/01/2000", "-l"}}) {
        auto r = runScpnsim(args, dir.path());
        EXPECT_EQ(r.exitStatus, 1) << args[2];
        EXPECT_TRUE(contains(r.out, "logging on (folder: Log)\n")) << r.out;
        EXPECT_EQ(dir.read("Log/sim.log"), "the last run\n") << args[2];
    }
}

TEST(CommandLineLogging, ExistingFolderGetsTheThreeFiles) {
    testsupport::WorkDir dir;
    std::filesystem::create_directory(dir.path() / "Log");
    auto r = runScpnsim({"-S", "--mstart", "0", "--mstop", "1", "--seed", "1", "--log"}, dir.path());
    EXPECT_FALSE(contains(r.out, "could not open"));
    EXPECT_TRUE(dir.exists("Log/sim.log"));
    EXPECT_TRUE(dir.exists("Log/trans.log"));
    EXPECT_TRUE(dir.exists("Log/server.log"));
}

TEST(CommandLineLogging, LogdirChoosesTheFolder) {
    testsupport::WorkDir dir;
    std::filesystem::create_directory(dir.path() / "traces");
    auto r = runScpnsim({"-S", "--mstart", "0", "--mstop", "1", "--seed", "1", "-l", "--logdir",
                         "traces"},
                        dir.path());
    EXPECT_TRUE(contains(r.out, "logging on (folder: traces)\n"));
    EXPECT_TRUE(dir.exists("traces/sim.log"));
}

TEST(RunSummary, SplitsElapsedSeconds) {
    auto e = MainClass::split(3725);
    EXPECT_EQ(e.days, 0);
    EXPECT_EQ(e.hours, 1);
    EXPECT_EQ(e.minutes, 2);
    EXPECT_EQ(e.seconds, 5);
    e = MainClass::split(86400);
    EXPECT_EQ(e.days, 1);
    EXPECT_EQ(e.hours, 0);
    EXPECT_EQ(e.minutes, 0);
    EXPECT_EQ(e.seconds, 0);
    e = MainClass::split(0);
    EXPECT_EQ(e.days + e.hours + e.minutes + e.seconds, 0);
    e = MainClass::split(2 * 86400 + 23 * 3600 + 59 * 60 + 59);
    EXPECT_EQ(e.days, 2);
    EXPECT_EQ(e.hours, 23);
    EXPECT_EQ(e.minutes, 59);
    EXPECT_EQ(e.seconds, 59);
}

namespace {
SimulationSettings lastSettings;
double lastAlpha = -1.0;
void recordSettings(const SimulationSettings& s, double alpha) {
    lastSettings = s;
    lastAlpha = alpha;
}

std::string runMainInProcess(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    testsupport::WorkDir dir;
    testsupport::ScopedCwd cwd(dir.path());
    testsupport::CaptureStream capture(std::cout);
    Server::simulationRunner = &recordSettings;
    MainClass program;
    EXPECT_EQ(program.main(static_cast<int>(argv.size()), argv.data()), 0);
    Server::simulationRunner = nullptr;
    return capture.text();
}
}  // namespace

TEST(RunSummary, PrintedAfterAReturningRun) {
    const std::string out =
        runMainInProcess({"/x/Model.exe", "-T", "--mstart", "10", "--mstop", "210", "--seed", "4194305"});
    EXPECT_TRUE(contains(out, "/x/Model.exe -T --mstart 10 --mstop 210 --seed 4194305 \n")) << out;
    EXPECT_TRUE(contains(out, "netname: Model\n"));
    EXPECT_TRUE(contains(out, "Running simulation from 00:00:10@12/31/0000 to 00:03:30@12/31/0000 "
                              ":: displayaddress=NULL\n"));
    // Whole wall-clock seconds: a run of a few milliseconds may straddle one.
    EXPECT_TRUE(contains(out, "total simulation time: 0 seconds (0 days, 0 hours, 0 minutes, 0 seconds)\n") ||
                contains(out, "total simulation time: 1 seconds (0 days, 0 hours, 0 minutes, 1 seconds)\n"))
        << out;
    EXPECT_TRUE(contains(out, "\nTotal # tokens allocated: "));
    EXPECT_TRUE(contains(out, "\nMax # tokens at the same time: "));
    EXPECT_TRUE(contains(out, "\nGlobal fire count: "));
}

TEST(RunSummary, DriverReceivesTheSettingsOfTheCommandLine) {
    runMainInProcess({"scpnsim", "-T", "--mstart", "10", "--mstop", "210", "--seed", "3",
                      "--nofsampling", "7", "--confidence", "95", "--epsmax", "5", "--percentage",
                      "false", "--secmax", "0", "--resport", "127.0.0.1:5000"});
    EXPECT_EQ(lastSettings.netName, "scpnsim");
    EXPECT_EQ(lastSettings.resultPort, "127.0.0.1:5000");
    EXPECT_EQ(lastSettings.start.FullDateTime(), 10.0);
    EXPECT_EQ(lastSettings.stop.FullDateTime(), 210.0);
    EXPECT_EQ(lastSettings.samplingPoints, 7u);
    EXPECT_EQ(lastSettings.simulationType, 0);
    EXPECT_TRUE(lastSettings.modelTimeAxis);
    EXPECT_FALSE(lastSettings.percentRule);
    EXPECT_DOUBLE_EQ(lastSettings.epsMax, 0.05);
    EXPECT_DOUBLE_EQ(lastSettings.samplingInterval, 2.0);
    EXPECT_EQ(lastSettings.maxRunTime, 4294967295u);
    EXPECT_NEAR(lastAlpha, 0.05, 1e-12);
}

TEST(RunSummary, StationaryRunsGetOneSamplingPointAndNoInterval) {
    runMainInProcess({"scpnsim", "-S", "--start", "00:00:00@01/01/2000", "--stop",
                      "00:00:00@01/02/2000", "--seed", "3", "--nofsampling", "7"});
    EXPECT_EQ(lastSettings.simulationType, 1);
    EXPECT_EQ(lastSettings.samplingPoints, 1u);
    EXPECT_EQ(lastSettings.samplingInterval, 0.0);
    EXPECT_FALSE(lastSettings.modelTimeAxis);
    EXPECT_TRUE(lastSettings.percentRule);
    EXPECT_EQ(lastSettings.maxRunTime, 0u);  // no --secmax
    EXPECT_NEAR(lastAlpha, 0.2, 1e-12);
}

TEST(RunSummary, RestartGetsItsThresholds) {
    runMainInProcess({"scpnsim", "-R", "--mstart", "0", "--mstop", "50", "--seed", "3",
                      "--repeats", "4", "--thrmin", "1.5", "--thrmax", "9", "--thrnumber", "3",
                      "--secmax", "12"});
    EXPECT_EQ(lastSettings.simulationType, 2);
    EXPECT_EQ(lastSettings.repeats, 4);
    EXPECT_EQ(lastSettings.thrmin, 1.5);
    EXPECT_EQ(lastSettings.thrmax, 9.0);
    EXPECT_EQ(lastSettings.thrnumber, 3);
    EXPECT_EQ(lastSettings.maxRunTime, 12u);
    EXPECT_EQ(lastSettings.samplingInterval, 0.5);  // a hundredth of the span
    runMainInProcess({"scpnsim", "-R", "--mstart", "0", "--mstop", "0", "--seed", "3", "--repeats", "2", "--thrmax",
                      "9"});
    EXPECT_EQ(lastSettings.samplingInterval, 100.0);  // no stop time
    runMainInProcess({"scpnsim", "-R", "--mstart", "0", "--mstop", "50", "--seed", "3", "--repeats", "2", "--thrmax",
                      "9", "--batchtime", "2.5"});
    EXPECT_EQ(lastSettings.samplingInterval, 2.5);
}
