#pragma once
// scpn-monitor, the front end's stand-in, started for a test on an address
// no other test can hold at the same time: TCP on 127.0.0.1 at a port the
// system chooses (read back from the monitor's "listening on" line), or the
// local transport under a name made of the process id and a counter.
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

// "localhost:N" for the local transport, N unique to this process and call
// (the transport takes it as a name; it is numeric like a port all the same).
inline std::string uniqueLocalAddress() {
    static std::atomic<int> counter{0};
    return "localhost:" + std::to_string(static_cast<long long>(getpid()) * 1000 + counter++ % 1000);
}

class Monitor {
public:
    // Starts scpn-monitor in `dir` with `extra` arguments after the address
    // and waits until it listens.
    Monitor(const std::filesystem::path& dir, bool local, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{local ? uniqueLocalAddress() : std::string("127.0.0.1:0")};
        args.insert(args.end(), extra.begin(), extra.end());
        process_ = std::make_unique<RunningProcess>(SCPN_MONITOR_EXE, args, dir);
        if (!process_->waitForOutput("waiting for a simulation")) {
            why_ = "the monitor did not get to listen: " + process_->describe();
            return;
        }
        static const std::regex line("listening on (\\S+) \\((TCP|local transport)\\); waiting for a simulation");
        std::smatch m;
        const std::string out = process_->outputSoFar();
        if (!std::regex_search(out, m, line))
            why_ = "no address in the monitor's output: " + out;
        else if (m[1] == "127.0.0.1:0")
            why_ = "the monitor did not tell the port it listens on: " + out;
        else
            address_ = m[1];
    }

    bool ready() const { return !address_.empty(); }
    const std::string& why() const { return why_; }       // when not ready
    const std::string& address() const { return address_; }  // what --resport is given
    RunningProcess& process() { return *process_; }

private:
    std::unique_ptr<RunningProcess> process_;
    std::string address_;
    std::string why_;
};

}  // namespace testsupport
