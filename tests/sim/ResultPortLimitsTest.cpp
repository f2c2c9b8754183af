// The result port never holds a run past its limits: a front end that stops
// reading, dies, or left stale names behind, and addresses that can never
// connect, each tried against the real program.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/LocalSocket.h"
#include "platform/net/Socket.h"
#include "platform/net/TcpSocket.h"
#include "support/MonitorSupport.h"
#include "support/TestSupport.h"

using testsupport::RunningProcess;
using testsupport::RunResult;
using testsupport::LocalAddress;
using testsupport::WorkDir;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void removeLocalNames(const std::string& address) {
    const std::string base = local_win_socket::object_name(address.c_str());
    shm_unlink((base + ".shr").c_str());
    for (char k : {'0', '1', '2', '3'}) sem_unlink((base + "." + k).c_str());
}

// A stationary run of the shipped model that streams until its wall-clock
// limit (the queues grow: it never finds an accurate estimate).
std::vector<std::string> untilTheLimit(const std::string& address, int seconds) {
    return {"-S",         "--mstart", "0",     "--mstop",    "0",       "--secmax", std::to_string(seconds),
            "--epsmax",   "0",        "--seed", "1",         "--percentage", "false", "--resport", address};
}

const char* const kDroppedLine = ": the front end did not keep up with the run; ";

// Waits for the run to end; a run that is still going after `bound` seconds
// is ended by `release` (which lets a blocked write go on) and reported.
RunResult waitBounded(RunningProcess& run, double bound, const std::function<void()>& release) {
    const auto start = std::chrono::steady_clock::now();
    const bool ended = run.waitForOutput("total simulation time: ", static_cast<int>(bound));
    if (!ended || secondsSince(start) > bound) {
        ADD_FAILURE() << "the run was still going after " << bound << " s";
        release();
    }
    return run.wait();
}

}  // namespace

TEST(ResultPortLimits, AListenerThatNeverReadsDoesNotHoldTheRun) {
    WorkDir dir;
    // A listener with a small receive buffer (the accepted connection
    // inherits it), so that what the kernel holds for it is small beside
    // what the run sends even on a slow, loaded machine.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    const int small = 4096;
    ASSERT_EQ(::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int port = ntohs(address.sin_port);
    int connection = -1;
    std::thread acceptor([&] { connection = ::accept(listener, nullptr, nullptr); });

    const int limit = 8;
    const auto start = std::chrono::steady_clock::now();
    RunningProcess run(SCPNSIM_EXE, untilTheLimit("127.0.0.1:" + std::to_string(port), limit), dir.path());
    acceptor.join();
    ASSERT_GE(connection, 0);
    // The limit, one stall bound and slack; before, the run waited for as
    // long as the listener held the connection.
    const RunResult r = waitBounded(run, 60, [&] { ::shutdown(connection, SHUT_RDWR); });
    const double seconds = secondsSince(start);
    ::close(connection);
    ::close(listener);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_LT(seconds, limit + 5 + 6) << r.out;
    EXPECT_NE(r.out.find("\nABORTED SIMULATION."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Result port 127.0.0.1:" + std::to_string(port) + kDroppedLine), std::string::npos)
        << r.out;
    EXPECT_TRUE(dir.exists("results.log"));
}

TEST(ResultPortLimits, AStoppedOrKilledMonitorOnTheLocalTransportDoesNotHoldTheRun) {
    for (int sig : {SIGSTOP, SIGKILL}) {
        SCOPED_TRACE(sig == SIGSTOP ? "stopped" : "killed");
        WorkDir dir;
        const LocalAddress name;
        const std::string address = name.text();
        ASSERT_FALSE(address.empty());
        RunningProcess monitor(SCPN_MONITOR_EXE, {address, "--csv", "estimates.csv"}, dir.path());
        ASSERT_TRUE(monitor.waitForOutput("waiting for a simulation")) << monitor.wait().err;
        const auto start = std::chrono::steady_clock::now();
        RunningProcess run(SCPNSIM_EXE, untilTheLimit(address, 4), dir.path());
        // Early in the run (fire counts stream from the first firing), so
        // that far more is sent afterwards than any buffer holds.
        ASSERT_TRUE(monitor.waitForOutput("<Transition>;"));
        monitor.sendSignal(sig);
        const RunResult r = waitBounded(run, 40, [&] { monitor.sendSignal(SIGKILL); });
        const double seconds = secondsSince(start);
        monitor.sendSignal(SIGKILL);
        monitor.sendSignal(SIGCONT);
        monitor.wait();
        removeLocalNames(address);
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
        // Before, a stopped monitor froze the run and a killed one made every
        // write wait 50 ms to find it gone again.
        EXPECT_LT(seconds, 4 + 5 + 8) << r.out;
        EXPECT_NE(r.out.find("\nABORTED SIMULATION."), std::string::npos) << r.out;
        if (sig == SIGSTOP) {
            EXPECT_NE(r.out.find(kDroppedLine), std::string::npos) << r.out;
        }
    }
}

TEST(ResultPortLimits, NamesLeftByAKilledMonitorDoNotTurnARunAway) {
    WorkDir dir;
    const LocalAddress name;
    const std::string address = name.text();
    ASSERT_FALSE(address.empty());
    {
        RunningProcess dead(SCPN_MONITOR_EXE, {address}, dir.path());
        ASSERT_TRUE(dead.waitForOutput("waiting for a simulation"));
        dead.sendSignal(SIGKILL);
        dead.wait();
    }
    const std::string shm = "/dev/shm" + local_win_socket::object_name(address.c_str()) + ".shr";
    ASSERT_TRUE(std::filesystem::exists(shm));

    // With nobody behind the names, the run waits for a front end as long as
    // its limit allows, and says that none came.
    {
        const auto start = std::chrono::steady_clock::now();
        const RunResult r = testsupport::runScpnsim(
            {"-T", "--mstart", "0", "--mstop", "10", "--secmax", "2", "--seed", "1", "--resport", address},
            dir.path());
        EXPECT_GE(secondsSince(start), 1.5) << r.out;
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("connection timeout expired"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("connection is broken"), std::string::npos) << r.out;
    }
    // A monitor started while the run waits gets the run.
    RunningProcess run(SCPNSIM_EXE,
                       {"-T", "--mstart", "0", "--mstop", "10", "--secmax", "60", "--epsmax", "25", "--seed", "1",
                        "--resport", address},
                       dir.path());
    ASSERT_TRUE(run.waitForOutput("Try to connect to: " + address));
    RunningProcess monitor(SCPN_MONITOR_EXE, {address, "--csv", "estimates.csv"}, dir.path());
    const RunResult r = run.wait();
    const RunResult m = monitor.wait();
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("connection established.."), std::string::npos) << r.out;
    EXPECT_EQ(m.exitStatus, 0) << m.out << m.err;
    EXPECT_NE(m.out.find("EXIT;0 received"), std::string::npos) << m.out;
    removeLocalNames(address);
}

TEST(ResultPortLimits, AMalformedAddressIsRefusedAtOnce) {
    WorkDir dir;
    for (const std::string& address :
         {std::string("127.0.0.1"), std::string("127.0.0.1:0"), std::string(""), std::string("null"),
          std::string(":2020"), std::string("127.0.0.1:65536"), std::string("127.0.0.1:20x"),
          std::string("localhost:")}) {
        SCOPED_TRACE("--resport \"" + address + "\"");
        const auto start = std::chrono::steady_clock::now();
        const RunResult r = testsupport::runScpnsim(
            {"-S", "--mstart", "0", "--mstop", "100", "--secmax", "2", "--resport", address}, dir.path());
        EXPECT_LT(secondsSince(start), 10.0);
        EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find("Result port \"" + address +
                                       "\" is malformed: give HOST:PORT with a port from 1 to 65535, or NULL "
                                       "for no result port."),
                  std::string::npos)
            << r.out << r.err;
        EXPECT_FALSE(dir.exists("results.log"));
    }
}

TEST(ResultPortLimits, ConnectionAttemptsStayWithinTheWallClockLimit) {
    // A port that is bound but not listening refuses every connection.
    WorkDir dir;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    socklen_t length = sizeof any;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&any), &length), 0);
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(any.sin_port));

    const auto start = std::chrono::steady_clock::now();
    const RunResult r = testsupport::runScpnsim(
        {"-T", "--mstart", "0", "--mstop", "10", "--secmax", "2", "--seed", "1", "--resport", address}, dir.path());
    ::close(fd);
    // Before, about a hundred attempts a second apart.
    EXPECT_LT(secondsSince(start), 15.0) << r.out;
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("exceed limit of attempts of connection to server"), std::string::npos) << r.out;
    EXPECT_TRUE(dir.exists("results.log"));
}
