// scpn-monitor end to end: the real program, fed by a stand-in peer on
// loopback, names its file safely whatever net name it is sent, listens only
// on the host it is given (at a port the system chooses for port 0), stops
// at the end message and refuses a line past its limit.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "ResultStream.h"
#include "platform/net/Socket.h"
#include "support/TestSupport.h"

using testsupport::RunningProcess;
using testsupport::RunResult;
using testsupport::TempDir;

namespace {

namespace fs = std::filesystem;

// A monitor started on `address` in `dir`; `shown` is the address of its
// "listening on" line, empty when it did not get to listen.
struct Started {
    std::unique_ptr<RunningProcess> process;
    std::string shown;
};

Started startMonitor(const std::string& address, const fs::path& dir, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{address};
    args.insert(args.end(), extra.begin(), extra.end());
    Started s{std::make_unique<RunningProcess>(SCPN_MONITOR_EXE, args, dir), ""};
    if (!s.process->waitForOutput("waiting for a simulation")) return s;
    static const std::regex line("listening on (\\S+) \\(TCP\\); waiting for a simulation\\.\\.\n");
    std::smatch m;
    const std::string out = s.process->outputSoFar();
    if (std::regex_search(out, m, line)) s.shown = m[1];
    return s;
}

int portOf(const std::string& address) { return std::stoi(address.substr(address.rfind(':') + 1)); }

// True when a TCP connection to `ip` (IPv4 or IPv6 text) at `port` is taken.
bool connects(const std::string& ip, int port) {
    const bool v6 = ip.find(':') != std::string::npos;
    const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool ok = false;
    if (v6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<uint16_t>(port));
        ok = inet_pton(AF_INET6, ip.c_str(), &a.sin6_addr) == 1 &&
             connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        ok = inet_pton(AF_INET, ip.c_str(), &a.sin_addr) == 1 &&
             connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    close(fd);
    return ok;
}

// A peer on 127.0.0.1 at the monitor's port.
std::unique_ptr<socket_t> peerOf(const std::string& shown) {
    return std::unique_ptr<socket_t>(socket_t::connect(("127.0.0.1:" + std::to_string(portOf(shown))).c_str(),
                                                       socket_t::sock_global_domain, 1, 1));
}

// Waits (at most 20 s: the fault this guards against is a hang) for the
// process to end; true when it did.
bool ends(RunningProcess& p) {
    p.waitForOutput("\x01never printed\x01", 20);
    return p.describe().find("still running") == std::string::npos;
}

std::vector<fs::path> csvFilesBelow(const fs::path& root) {
    std::vector<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.path().extension() == ".csv") found.push_back(e.path());
    return found;
}

}  // namespace

TEST(MonitorProgram, NamesItsFileAfterTheNetInsideTheWorkingFolderWhateverNameItIsSent) {
    TempDir root;
    const fs::path work = root.path() / "a" / "b";
    fs::create_directories(work);
    const std::string names[] = {"../../x", (root.path() / "abs").string(), "..", "", "sub/dir", "ok-net"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Started m = startMonitor("127.0.0.1:0", work);
        ASSERT_FALSE(m.shown.empty()) << m.process->describe();
        std::unique_ptr<socket_t> peer = peerOf(m.shown);
        ASSERT_TRUE(peer->is_ok());
        const std::string wire = "NETNAME;" + name + "\nTIME;1\ne<Place>;1\nEXIT;0\n";
        ASSERT_TRUE(peer->write(wire.data(), wire.size()));
        ASSERT_TRUE(ends(*m.process)) << m.process->describe();
        const RunResult r = m.process->wait();
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;

        // One file, in the working folder, named after the reduced net name.
        const std::vector<fs::path> files = csvFilesBelow(root.path());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0].parent_path(), work);
        const std::string file = files[0].filename().string();
        EXPECT_EQ(file.rfind(monitor::fileStem(name) + "-", 0), 0u) << file;
        EXPECT_NE(r.out.find("estimates go to " + file + "\n"), std::string::npos) << r.out;
        std::ifstream in(files[0]);
        std::string header, row;
        std::getline(in, header);
        std::getline(in, row);
        EXPECT_EQ(row, "1,e,place,1,,");
        fs::remove(files[0]);
    }
}

TEST(MonitorProgram, ListensOnlyOnTheHostItIsGivenAtThePortTheSystemChose) {
    TempDir dir;
    {
        Started m = startMonitor("127.0.0.1:0", dir.path());
        ASSERT_FALSE(m.shown.empty()) << m.process->describe();
        const int port = portOf(m.shown);
        EXPECT_GT(port, 0);
        EXPECT_EQ(m.shown, "127.0.0.1:" + std::to_string(port));
        // Another loopback address of this machine: nobody listens there.
        EXPECT_FALSE(connects("127.0.0.2", port));
        std::unique_ptr<socket_t> peer = peerOf(m.shown);
        ASSERT_TRUE(peer->is_ok());
        ASSERT_TRUE(peer->write("EXIT;0\n", 7));
        ASSERT_TRUE(ends(*m.process));
        EXPECT_EQ(m.process->wait().exitStatus, 0);
    }
    {
        // 0.0.0.0 is every interface.
        Started m = startMonitor("0.0.0.0:0", dir.path());
        ASSERT_FALSE(m.shown.empty()) << m.process->describe();
        const int port = portOf(m.shown);
        EXPECT_EQ(m.shown, "0.0.0.0:" + std::to_string(port));
        EXPECT_TRUE(connects("127.0.0.2", port));  // taken and dropped: the monitor sees its end
        ASSERT_TRUE(ends(*m.process));
        const RunResult r = m.process->wait();
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_NE(r.err.find("the connection ended before the simulation sent EXIT;0"), std::string::npos) << r.err;
    }
    // IPv6 loopback, where the machine has it.
    const int probe = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 loop{};
    loop.sin6_family = AF_INET6;
    loop.sin6_addr = in6addr_loopback;
    const bool v6 = probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&loop), sizeof loop) == 0;
    if (probe >= 0) close(probe);
    if (!v6) GTEST_SKIP() << "no IPv6 loopback here";
    for (const char* address : {"[::1]:0", "::1:0"}) {
        SCOPED_TRACE(address);
        Started m = startMonitor(address, dir.path());
        ASSERT_FALSE(m.shown.empty()) << m.process->describe();
        const int port = portOf(m.shown);
        EXPECT_EQ(m.shown, "[::1]:" + std::to_string(port));
        EXPECT_FALSE(connects("127.0.0.1", port));
        EXPECT_TRUE(connects("::1", port));
        ASSERT_TRUE(ends(*m.process));
        EXPECT_EQ(m.process->wait().exitStatus, 1);
    }
}

TEST(MonitorProgram, RefusesAddressesItCannotListenOn) {
    TempDir dir;
    for (const char* address : {"127.0.0.1:x", "127.0.0.1:70000", "[::1:0", "127.0.0.1:"}) {
        const RunResult r = testsupport::run(SCPN_MONITOR_EXE, {address}, dir.path());
        EXPECT_EQ(r.exitStatus, 1) << address << r.out;
        EXPECT_NE(r.err.find(std::string("scpn-monitor: cannot listen on ") + address + ": "), std::string::npos)
            << r.err;
        EXPECT_EQ(r.out.find("waiting for a simulation"), std::string::npos) << r.out;
    }
}

TEST(MonitorProgram, StopsAtTheEndMessageEvenWithMoreInTheSameRead) {
    TempDir dir;
    Started m = startMonitor("127.0.0.1:0", dir.path(), {"--csv", "e.csv"});
    ASSERT_FALSE(m.shown.empty()) << m.process->describe();
    std::unique_ptr<socket_t> peer = peerOf(m.shown);
    ASSERT_TRUE(peer->is_ok());
    const std::string wire = "NETNAME;n\nTIME;1\na<Place>;1\nEXIT;0\nTIME;2\nafter<Place>;2\n";
    ASSERT_TRUE(peer->write(wire.data(), wire.size()));
    ASSERT_TRUE(ends(*m.process)) << m.process->describe();
    const RunResult r = m.process->wait();
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("\nEXIT;0\nEXIT;0 received: the simulation has ended (1 values in e.csv).\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("TIME;2"), std::string::npos) << r.out;
    EXPECT_EQ(dir.read("e.csv"), "time,element,kind,mean,lower,upper\n1,a,place,1,,\n");
}

TEST(MonitorProgram, ALineLongerThanTheLimitEndsTheMonitorWithStatusOne) {
    for (bool ended : {false, true}) {
        SCOPED_TRACE(ended ? "with its line end" : "without a line end");
        TempDir dir;
        Started m = startMonitor("127.0.0.1:0", dir.path(), {"--csv", "e.csv"});
        ASSERT_FALSE(m.shown.empty()) << m.process->describe();
        std::unique_ptr<socket_t> peer = peerOf(m.shown);
        ASSERT_TRUE(peer->is_ok());
        const std::string head = "NETNAME;n\nTIME;1\na<Place>;1\n";
        ASSERT_TRUE(peer->write(head.data(), head.size()));
        if (ended) {
            // One byte over the limit, then the line end and the end message.
            const std::string line = std::string(65537, 'x') + "\nEXIT;0\n";
            peer->write(line.data(), line.size());
        } else {
            // 1 MiB in one line; the monitor may stop reading (and the
            // writes fail) once it has seen enough.
            const std::string chunk(65536, 'x');
            for (int k = 0; k < 16 && peer->write(chunk.data(), chunk.size()); ++k) {
            }
        }
        // The connection stays open: only the limit ends the monitor.
        ASSERT_TRUE(ends(*m.process)) << m.process->describe();
        const RunResult r = m.process->wait();
        EXPECT_EQ(r.exitStatus, 1) << r.out;
        EXPECT_NE(r.err.find("scpn-monitor: a line of "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("bytes came, longer than the 65536 a line may have"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("\nNETNAME;n\nTIME;1\na<Place>;1\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("xxxx"), std::string::npos);
        EXPECT_EQ(dir.read("e.csv"), "time,element,kind,mean,lower,upper\n1,a,place,1,,\n");
    }
}
