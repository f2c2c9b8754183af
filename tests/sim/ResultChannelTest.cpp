// The result channel end to end: the real program streams a run to the
// monitor (the front end's stand-in) over TCP and over the local transport,
// and the lines arrive in the order and form the front end expects.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <semaphore.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/net/LocalSocket.h"
#include "support/MonitorSupport.h"
#include "support/TestSupport.h"

using testsupport::RunningProcess;
using testsupport::RunResult;
using testsupport::runScpnsim;
using testsupport::WorkDir;

namespace {

bool startsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The lines the simulation sent, as the monitor printed them: everything
// between "simulation connected" and the monitor's closing words.
std::vector<std::string> channelLines(const std::string& monitorOut) {
    std::vector<std::string> all = lines(monitorOut), sent;
    bool in = false;
    for (const std::string& l : all) {
        if (l == "simulation connected") {
            in = true;
        } else if (startsWith(l, "EXIT;0 received") || startsWith(l, "estimates go to ")) {
            continue;
        } else if (in) {
            sent.push_back(l);
        }
    }
    return sent;
}

struct Streamed {
    bool started = false;  // the monitor listened (else `why` says what it did)
    std::string why;
    RunResult simulation;
    RunResult monitor;
    std::vector<std::string> sent;
};

// A run streamed to a monitor on TCP (127.0.0.1, a port the system chose)
// or on the local transport.
Streamed streamRun(const WorkDir& dir, bool local, std::vector<std::string> args) {
    testsupport::Monitor monitor(dir.path(), local, {"--csv", "estimates.csv"});
    Streamed s;
    if (!monitor.ready()) {
        s.why = monitor.why();
        return s;
    }
    s.started = true;
    args.push_back("--resport");
    args.push_back(monitor.address());
    s.simulation = runScpnsim(args, dir.path());
    s.monitor = monitor.process().wait();
    s.sent = channelLines(s.monitor.out);
    return s;
}

// The last estimate line of a measure, split into time, mean, lower, upper.
std::vector<double> lastEstimate(const std::vector<std::string>& sent, const std::string& measure) {
    std::string time;
    std::vector<double> found;
    for (const std::string& l : sent) {
        if (startsWith(l, "TIME;")) time = l.substr(5);
        if (!startsWith(l, measure + "<Result:Mean>,<-ConfMin>,<+ConfMax>;")) continue;
        std::istringstream values(l.substr(l.find(">;") + 2));
        double mean = 0, lower = 0, upper = 0;
        char comma = 0;
        values >> mean >> comma >> lower >> comma >> upper;
        found = {std::stod(time), mean, lower, upper};
    }
    return found;
}

}  // namespace

TEST(ResultChannel, ATransientRunStreamsItsHeaderEstimatesWatchedElementsAndEnd) {
    for (bool local : {false, true}) {
        SCOPED_TRACE(local ? "local transport" : "TCP");
        WorkDir dir;
        const Streamed s = streamRun(dir, local,
                                     {"-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "3",
                                      "--epsmax", "25", "--secmax", "0", "--seed", "11"});
        ASSERT_TRUE(s.started) << s.why;
        ASSERT_EQ(s.simulation.exitStatus, 0) << s.simulation.out << s.simulation.err;
        EXPECT_NE(s.simulation.out.find("connection established..\n"), std::string::npos) << s.simulation.out;
        EXPECT_EQ(s.monitor.exitStatus, 0) << s.monitor.out << s.monitor.err;
        ASSERT_GE(s.sent.size(), 6u) << s.monitor.out;
        const std::vector<std::string> header(s.sent.begin(), s.sent.begin() + 5);
        EXPECT_EQ(header, (std::vector<std::string>{"NETNAME;scpnsim", "XTICKFORMAT;0", "STARTTIME;0",
                                                     "ENDTIME;100", "TIME;0"}));
        EXPECT_EQ(s.sent.back(), "EXIT;0");

        // Every element line follows a TIME; line; estimates come only for
        // the watched measures, and only at sampling points.
        std::set<std::string> estimated, transitions;
        std::set<std::string> estimateTimes;
        std::string time;
        for (std::size_t k = 5; k + 1 < s.sent.size(); ++k) {
            const std::string& l = s.sent[k];
            if (startsWith(l, "TIME;")) {
                time = l.substr(5);
                continue;
            }
            ASSERT_TRUE(startsWith(s.sent[k - 1], "TIME;")) << l;
            const std::string name = l.substr(0, l.find('<'));
            if (l.find("<Result:Mean>,<-ConfMin>,<+ConfMax>;") != std::string::npos) {
                estimated.insert(name);
                estimateTimes.insert(time);
            } else if (l.find("<Transition>;") != std::string::npos) {
                transitions.insert(name);
            } else {
                ADD_FAILURE() << "unexpected line " << l;
            }
        }
        EXPECT_EQ(estimated, (std::set<std::string>{"C1_in_use", "fsdf", "PlaceTP"}));
        EXPECT_EQ(estimateTimes, (std::set<std::string>{"0", "50", "100"}));
        EXPECT_TRUE(transitions.count("S_ready")) << s.monitor.out.substr(0, 2000);

        // The last estimate is the one in results.log (shown with 7 digits).
        const std::vector<double> last = lastEstimate(s.sent, "C1_in_use");
        ASSERT_EQ(last.size(), 4u);
        EXPECT_EQ(last[0], 100.0);
        std::istringstream results(dir.read("results.log"));
        std::string line;
        double rowTime = 0, mean = 0;
        while (std::getline(results, line))
            if (line.find("e+02") != std::string::npos && rowTime == 0) {
                std::istringstream fields(line);
                fields >> rowTime >> mean;
            }
        EXPECT_NEAR(last[1], mean, 1e-6 * mean);

        // The CSV file has one row per element line.
        const std::vector<std::string> csv = lines(dir.read("estimates.csv"));
        ASSERT_FALSE(csv.empty());
        EXPECT_EQ(csv[0], "time,element,kind,mean,lower,upper");
        std::size_t elementLines = 0;
        for (const std::string& l : s.sent) elementLines += l.find(">;") != std::string::npos;
        EXPECT_EQ(csv.size() - 1, elementLines);
    }
}

TEST(ResultChannel, AStationaryRunSendsNoRunBounds) {
    WorkDir dir;
    const Streamed s = streamRun(dir, false,
                                 {"-S", "--mstart", "0", "--mstop", "2000", "--secmax", "0", "--seed", "7"});
    ASSERT_TRUE(s.started) << s.why;
    ASSERT_EQ(s.simulation.exitStatus, 0) << s.simulation.err;
    ASSERT_GE(s.sent.size(), 4u) << s.monitor.out;
    EXPECT_EQ(std::vector<std::string>(s.sent.begin(), s.sent.begin() + 3),
              (std::vector<std::string>{"NETNAME;scpnsim", "XTICKFORMAT;0", "TIME;0"}));
    for (const std::string& l : s.sent) {
        EXPECT_FALSE(startsWith(l, "STARTTIME;") || startsWith(l, "ENDTIME;")) << l;
        // Only the time-averaged measure takes part in a stationary run.
        if (l.find("<Result:") != std::string::npos) {
            EXPECT_TRUE(startsWith(l, "C1_in_use<")) << l;
        }
    }
    EXPECT_FALSE(lastEstimate(s.sent, "C1_in_use").empty());
    EXPECT_EQ(s.sent.back(), "EXIT;0");
}

TEST(ResultChannel, AMonitorThatDiesDoesNotStopTheRun) {
    for (bool local : {false, true}) {
        SCOPED_TRACE(local ? "local transport" : "TCP");
        WorkDir dir;
        testsupport::Monitor started(dir.path(), local, {"--csv", "estimates.csv"});
        ASSERT_TRUE(started.ready()) << started.why();
        const std::string address = started.address();
        RunningProcess& monitor = started.process();
        RunningProcess simulation(SCPNSIM_EXE,
                                  {"-S", "--mstart", "0", "--mstop", "0", "--secmax", "2", "--epsmax", "0",
                                   "--percentage", "false", "--seed", "1", "--resport", address},
                                  dir.path());
        ASSERT_TRUE(monitor.waitForOutput("C1_in_use<Result:Mean>"))
            << monitor.describe() << "\nsimulation: " << simulation.describe();
        monitor.sendSignal(SIGKILL);
        monitor.wait();
        if (local) {
            // A killed listener cannot remove its named objects; a new one
            // would take them over, but the test leaves nothing behind.
            const std::string base = local_win_socket::object_name(address.c_str());
            shm_unlink((base + ".shr").c_str());
            for (char k : {'0', '1', '2', '3'}) sem_unlink((base + "." + k).c_str());
        }
        const RunResult r = simulation.wait();
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
        // The run went on to its wall-clock limit, where it finds (given
        // enough batches) that the shipped model's queues grow.
        EXPECT_TRUE(r.out.find("\nABORTED SIMULATION. NO STEADY STATE FOUND.") != std::string::npos ||
                    r.out.find("\nABORTED SIMULATION. REACHED MAXIMUM RUN TIME.") != std::string::npos)
            << r.out;
        const std::size_t total = r.out.find("total simulation time: ");
        ASSERT_NE(total, std::string::npos) << r.out;
        EXPECT_GE(std::atoi(r.out.c_str() + total + 23), 2) << r.out;
        EXPECT_TRUE(dir.exists("results.log"));
    }
}

TEST(ResultChannel, TheMonitorSaysHowTheConnectionEnded) {
    // A simulation that never ends its stream (killed): the monitor reports
    // the lost connection with status 1; a malformed command line is 2.
    WorkDir dir;
    testsupport::Monitor started(dir.path(), false);
    ASSERT_TRUE(started.ready()) << started.why();
    RunningProcess& monitor = started.process();
    RunningProcess simulation(SCPNSIM_EXE,
                              {"-S", "--mstart", "0", "--mstop", "0", "--secmax", "0", "--epsmax", "0",
                               "--percentage", "false", "--seed", "1", "--resport", started.address()},
                              dir.path());
    ASSERT_TRUE(monitor.waitForOutput("NETNAME;scpnsim"))
        << monitor.describe() << "\nsimulation: " << simulation.describe();
    simulation.sendSignal(SIGKILL);
    simulation.wait();
    const RunResult m = monitor.wait();
    EXPECT_EQ(m.exitStatus, 1) << m.out << m.err;
    EXPECT_NE(m.err.find("the connection ended before the simulation sent EXIT;0"), std::string::npos) << m.err;

    // Interrupted while it waits, a monitor on the local transport leaves
    // no named object behind.
    testsupport::Monitor waitingMonitor(dir.path(), true);
    ASSERT_TRUE(waitingMonitor.ready()) << waitingMonitor.why();
    RunningProcess& waiting = waitingMonitor.process();
    const std::string base = "/dev/shm" + local_win_socket::object_name(waitingMonitor.address().c_str());
    EXPECT_TRUE(std::filesystem::exists(base + ".shr"));
    waiting.sendSignal(SIGTERM);
    EXPECT_EQ(waiting.wait().signal, SIGTERM);
    EXPECT_FALSE(std::filesystem::exists(base + ".shr"));

    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"nocolon"}, {"a:1", "b:2"}, {"a:1", "--csv"}}) {
        const RunResult r = testsupport::run(SCPN_MONITOR_EXE, args, dir.path());
        EXPECT_EQ(r.exitStatus, 2) << r.err;
        EXPECT_NE(r.err.find("usage: scpn-monitor ADDRESS"), std::string::npos) << r.err;
    }
}
