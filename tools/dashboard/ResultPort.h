#pragma once
// The dashboard's result port: accepts one simulation at a time (TCP, or the
// local transport for "localhost:PORT") and feeds what it sends into the run
// feed, each connection a new run.
#include <atomic>
#include <memory>
#include <string>

namespace dashboard {

class RunFeed;

class ResultPort {
public:
    ResultPort(std::string address, RunFeed& feed);
    ~ResultPort();
    ResultPort(const ResultPort&) = delete;
    ResultPort& operator=(const ResultPort&) = delete;

    // False (with the reason) when the address cannot be listened on.
    bool listening(std::string& why) const;
    bool local() const;
    // True when `address` names the local transport, not TCP.
    static bool localAddress(const std::string& address);
    // The address as given, with the port the system chose for port 0.
    std::string address() const;
    // Serves until stop(); blocks.
    void serve();
    void stop();

private:
    struct Listener;
    std::string address_;
    RunFeed& feed_;
    std::unique_ptr<Listener> listener_;
    std::atomic<bool> stopping_{false};
};

}  // namespace dashboard
