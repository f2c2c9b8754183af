// scpn-monitor: a stand-in for the graphical front end. It listens on a
// result port, accepts one simulation, writes every line the simulation sends
// to standard output and keeps the estimates (and the values of watched places
// and transitions) in a CSV file, one row per value: time, element, kind,
// mean, lower, upper, ready to plot.
//
//   scpn-monitor ADDRESS [--csv FILE]
//
// ADDRESS is what the simulation is given as --resport: "localhost:PORT"
// listens on the local transport (shared memory), any other "HOST:PORT" on
// TCP port PORT of that host's address only ("127.0.0.1:P" is not reachable
// from other machines; "0.0.0.0:P" is every interface; IPv6 as "[::1]:P").
// Port 0 lets the system choose; the "listening on" line tells the port.
// Without --csv the file is named after the net (reduced to a safe file
// name, see monitor::fileStem) and the moment the run began, in the working
// folder: NET-YYYYMMDD-HHMMSS.csv.
//
// Exit status: 0 when the simulation ended with "EXIT;0", 1 when the
// connection ended before that, the port could not be served or a line
// longer than 65536 bytes came (see monitor::ResultStream), 2 for a
// malformed command line.
#include <semaphore.h>
#include <sys/mman.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "ResultStream.h"
#include "platform/net/LocalSocket.h"
#include "platform/net/Socket.h"
#include "platform/net/TcpListen.h"

namespace {

// The named objects of a local-transport listener, removed when the monitor
// is interrupted (a killed listener would leave them for the next one).
char endpointNames[5][300];
int endpointCount = 0;

void onSignal(int sig) {
    for (int i = 0; i < endpointCount; ++i) {
        if (i == 0)
            shm_unlink(endpointNames[i]);
        else
            sem_unlink(endpointNames[i]);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void removeNamesOnSignal(const std::string& address) {
    const std::string base = local_win_socket::object_name(address.c_str());
    const std::string names[5] = {base + ".shr", base + ".0", base + ".1", base + ".2", base + ".3"};
    for (const std::string& n : names) {
        if (n.size() >= sizeof endpointNames[0]) return;
        std::strcpy(endpointNames[endpointCount++], n.c_str());
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);
}

int usage(const char* why) {
    std::cerr << "scpn-monitor: " << why << "\n"
              << "usage: scpn-monitor ADDRESS [--csv FILE]\n"
              << "  ADDRESS  localhost:PORT (local transport) or HOST:PORT (TCP on HOST's address;\n"
              << "           0.0.0.0 for every interface, PORT 0 for one the system chooses),\n"
              << "           as given to the simulation with --resport\n"
              << "  --csv    the file for the estimates (default: NET-YYYYMMDD-HHMMSS.csv)\n";
    return 2;
}

std::string errorText(socket_t* s) {
    char text[256];
    s->get_error_text(text, sizeof text);
    return text;
}

std::string stamp() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", std::localtime(&now));
    return text;
}

// The CSV file, opened at the first row (the net name is known by then).
class CsvFile {
public:
    explicit CsvFile(std::string path) : path_(std::move(path)) {}

    void add(const monitor::Row& row, const std::string& netName) {
        if (!out_.is_open() && !failed_) {
            // The name comes from the peer: reduced to a plain file name, so
            // that the file lands in the working folder whatever it sent.
            if (path_.empty()) path_ = monitor::fileStem(netName) + "-" + stamp() + ".csv";
            out_.open(path_, std::ios::out | std::ios::trunc);
            if (out_) {
                std::cout << "estimates go to " << path_ << std::endl;
                out_ << monitor::csvHeader();
            }
        }
        if (out_.is_open() && !failed_) {
            out_ << monitor::csvLine(row) << std::flush;  // readable while the run goes on
            ++rows_;
        }
        if (!failed_ && (!out_.is_open() || !out_)) {
            failed_ = true;
            std::cerr << "scpn-monitor: cannot write " << path_ << ": " << std::strerror(errno)
                      << "; the lines still go to standard output" << std::endl;
        }
    }

    std::string summary() const {
        if (rows_ == 0) return "no values to keep";
        return std::to_string(rows_) + " values in " + path_;
    }
    bool failed() const { return failed_; }

private:
    std::string path_;
    std::ofstream out_;
    long rows_ = 0;
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    std::string address, csvPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--csv") {
            if (i + 1 >= argc) return usage("--csv needs a file name");
            csvPath = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            usage("a stand-in for the front end of a simulation's result port");
            return 0;
        } else if (address.empty() && !arg.empty() && arg[0] != '-') {
            address = arg;
        } else {
            return usage(("unexpected argument \"" + arg + "\"").c_str());
        }
    }
    if (address.empty()) return usage("the address to listen on is missing");
    if (address.find(':') == std::string::npos) return usage("the address must be HOST:PORT");

    const bool local = socket_t::isLocalAddress(address.c_str());
    std::unique_ptr<socket_t> listener;
    std::string shown = address;
    if (local) {
        listener.reset(socket_t::create_local(address.c_str()));
        if (!listener->is_ok()) {
            std::cerr << "scpn-monitor: cannot listen on " << address << ": " << errorText(listener.get())
                      << std::endl;
            return 1;
        }
        removeNamesOnSignal(address);
    } else {
        std::string error;
        std::unique_ptr<tcp_listen::listener> tcp = tcp_listen::listen(address, 5, error);
        if (!tcp) {
            std::cerr << "scpn-monitor: cannot listen on " << address << ": " << error << std::endl;
            return 1;
        }
        shown = tcp->address();  // with the port the system chose for port 0
        listener = std::move(tcp);
    }
    std::cout << "listening on " << shown << (local ? " (local transport)" : " (TCP)")
              << "; waiting for a simulation.." << std::endl;

    std::unique_ptr<socket_t> peer(listener->accept());
    if (!peer || !peer->is_ok()) {
        std::cerr << "scpn-monitor: no simulation connected: "
                  << (peer ? errorText(peer.get()) : errorText(listener.get())) << std::endl;
        return 1;
    }
    // One simulation only: the listener (and, for the local transport, its
    // named objects) can go now.
    endpointCount = 0;
    listener.reset();
    std::cout << "simulation connected" << std::endl;

    CsvFile csv(csvPath);
    monitor::ResultStream stream(nullptr, nullptr);
    stream = monitor::ResultStream([](const std::string& line) { std::cout << line << "\n"; },
                                   [&](const monitor::Row& row) { csv.add(row, stream.netName()); });
    char buffer[4096];
    for (;;) {
        const int n = peer->read(buffer, 1, sizeof buffer, -1);
        if (n <= 0) break;
        stream.feed(buffer, static_cast<std::size_t>(n));
        std::cout << std::flush;
        if (stream.ended() || stream.failed()) break;
    }
    if (stream.failed()) {
        std::cerr << "scpn-monitor: " << stream.error() << "; the simulation's lines are not that long, "
                  << "so this peer is not followed further (" << csv.summary() << ")." << std::endl;
        return 1;
    }
    if (stream.ended()) {
        std::cout << "EXIT;0 received: the simulation has ended (" << csv.summary() << ")." << std::endl;
        return csv.failed() ? 1 : 0;
    }
    std::cout << std::flush;
    std::cerr << "scpn-monitor: the connection ended before the simulation sent EXIT;0 ("
              << errorText(peer.get()) << "; " << csv.summary() << ")." << std::endl;
    return 1;
}
