#pragma once
// scpn-monitor, the front end's stand-in, started for a test on an address
// no other test can hold at the same time: TCP on 127.0.0.1 at a port the
// system chooses (read back from the monitor's "listening on" line), or the
// local transport under a name that a lock keeps to this test.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

// A local-transport address ("localhost:N", N from 40000 to 59999 so that it
// passes as a port) that no other test uses while this object lives: N is
// taken by an exclusive lock on a file of its own.
class LocalAddress {
public:
    LocalAddress() {
        for (int k = 0; k < 20000 && fd_ < 0; ++k) {
            const int n = 40000 + (static_cast<int>(getpid()) * 13 + k) % 20000;
            const std::string path =
                (std::filesystem::temp_directory_path() / ("scpnsim-local-" + std::to_string(n) + ".lock")).string();
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
                fd_ = fd;
                text_ = "localhost:" + std::to_string(n);
            } else if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    ~LocalAddress() {
        if (fd_ >= 0) ::close(fd_);
    }
    LocalAddress(const LocalAddress&) = delete;
    LocalAddress& operator=(const LocalAddress&) = delete;
    const std::string& text() const { return text_; }

private:
    int fd_ = -1;
    std::string text_;
};

class Monitor {
public:
    // Starts scpn-monitor in `dir` with `extra` arguments after the address
    // and waits until it listens.
    Monitor(const std::filesystem::path& dir, bool local, const std::vector<std::string>& extra = {}) {
        if (local) localName_ = std::make_unique<LocalAddress>();
        std::vector<std::string> args{local ? localName_->text() : std::string("127.0.0.1:0")};
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
    std::unique_ptr<LocalAddress> localName_;  // held while the monitor may use it
    std::unique_ptr<RunningProcess> process_;
    std::string address_;
    std::string why_;
};

}  // namespace testsupport
