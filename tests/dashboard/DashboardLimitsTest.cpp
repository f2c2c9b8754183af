// The real scpn-dashboard under load and against hostile clients: many open
// pages (live streams), clients that send their request a byte at a time,
// and a run naming tens of thousands of elements. The dashboard picks its
// own ports (port 0) and says which; every client here is a raw loopback
// socket or httplib's client.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

using nlohmann::json;
using testsupport::RunningProcess;
using testsupport::WorkDir;
using Clock = std::chrono::steady_clock;

namespace {

// scpn-dashboard on system-chosen ports; its output goes to a file, from
// which the ports are read.
struct Dashboard {
    WorkDir dir;
    std::unique_ptr<RunningProcess> process;
    int httpPort = 0;
    int resultPort = 0;

    Dashboard() {
        process = std::make_unique<RunningProcess>(
            "/bin/sh",
            std::vector<std::string>{"-c", "exec \"$0\" \"$@\" >dashboard.out 2>&1", SCPN_DASHBOARD_EXE, "--listen",
                                     "127.0.0.1:0", "--resport", "127.0.0.1:0"},
            dir.path());
        const std::regex page("dashboard at http://127\\.0\\.0\\.1:([0-9]+)/");
        const std::regex results("result port 127\\.0\\.0\\.1:([0-9]+) \\(TCP\\)");
        const auto end = Clock::now() + std::chrono::seconds(30);
        std::string out;
        while (Clock::now() < end) {
            out = dir.read("dashboard.out");
            std::smatch p, r;
            if (std::regex_search(out, p, page) && std::regex_search(out, r, results)) {
                httpPort = std::stoi(p[1]);
                resultPort = std::stoi(r[1]);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        throw std::runtime_error("the dashboard did not say where it serves:\n" + out);
    }

    ~Dashboard() {
        process->sendSignal(SIGTERM);
        process->waitForOutput("\x01never printed\x01", 10);  // returns as soon as it ended
        process->sendSignal(SIGKILL);                         // nothing when it already ended
        process->wait();
    }

    httplib::Result get(const std::string& path) const {
        httplib::Client client("127.0.0.1", httpPort);
        client.set_connection_timeout(30);
        client.set_read_timeout(30);
        return client.Get(path.c_str());
    }

    json state(const std::string& path = "/api/state") const {
        const httplib::Result res = get(path);
        if (!res || res->status != 200) throw std::runtime_error("GET " + path + " failed");
        return json::parse(res->body);
    }

    std::string host() const { return "127.0.0.1:" + std::to_string(httpPort); }
};

// A loopback TCP connection, closed when the object goes.
class Socket {
public:
    explicit Socket(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (fd_ < 0) throw std::runtime_error("no socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
    ~Socket() { close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // False when the peer is gone.
    bool send(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    // What arrives until `text` has (or the peer closed, or `timeout` passed).
    std::string readUntil(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(20)) {
        const auto end = Clock::now() + timeout;
        while (received_.find(text) == std::string::npos && !closed_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) closed_ = true;  // end of stream, or reset
            else received_.append(buffer, static_cast<std::size_t>(n));
        }
        return received_;
    }

    // True when the peer closed the connection by `end`.
    bool closedByPeer(Clock::time_point end) {
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(end - Clock::now());
        readUntil("\x01never sent\x01", std::max(left, std::chrono::seconds(0)));
        return closed_;
    }
    bool closedByPeer() { return closedByPeer(Clock::now() + std::chrono::seconds(20)); }

private:
    int fd_;
    std::string received_;
    bool closed_ = false;
};

std::string eventsRequest(const Dashboard& d) { return "GET /events HTTP/1.1\r\nHost: " + d.host() + "\r\n\r\n"; }

// The status code of a response head ("HTTP/1.1 200 OK..."), 0 for none.
int statusOf(const std::string& head) {
    std::smatch m;
    if (!std::regex_search(head, m, std::regex("^HTTP/1\\.[01] ([0-9]{3}) "))) return 0;
    return std::stoi(m[1]);
}

}  // namespace

TEST(DashboardLimits, StreamsPastTheLimitAreRefusedAndPagesAreStillServed) {
    Dashboard d;
    const json before = d.state("/api/streams");
    const int limit = before.at("limit").get<int>();
    // Fewer than the 32 worker threads, so that some are left for the pages.
    ASSERT_GT(limit, 0);
    ASSERT_LT(limit, 32);
    EXPECT_EQ(before.at("open"), 0);

    const int pages = 40;
    std::vector<std::unique_ptr<Socket>> streaming;
    int refused = 0;
    for (int i = 0; i < pages; ++i) {
        auto s = std::make_unique<Socket>(d.httpPort);
        ASSERT_TRUE(s->send(eventsRequest(d)));
        const std::string head = s->readUntil("\r\n\r\n");
        const int status = statusOf(head);
        if (status == 200) {
            // A live stream: its first message comes at once.
            EXPECT_NE(head.find("text/event-stream"), std::string::npos) << head;
            EXPECT_NE(s->readUntil("event: update\n").find("event: update\n"), std::string::npos) << "stream " << i;
            streaming.push_back(std::move(s));
            continue;
        }
        ASSERT_EQ(status, 503) << "stream " << i << ":\n" << head;
        ++refused;
        EXPECT_TRUE(std::regex_search(head, std::regex("\r\nRetry-After: [0-9]+\r\n"))) << head;
        EXPECT_NE(s->readUntil("close one").find("too many open pages"), std::string::npos) << "stream " << i;
        // The refused client is not kept on a worker thread.
        EXPECT_TRUE(s->closedByPeer()) << "stream " << i;
    }
    EXPECT_EQ(static_cast<int>(streaming.size()), limit);
    EXPECT_EQ(refused, pages - limit);

    // With every stream the dashboard allows open, the page and its calls
    // are answered.
    for (const char* path : {"/", "/app.js", "/api/state", "/api/game/state", "/api/streams"}) {
        const httplib::Result res = d.get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 200) << path;
    }
    EXPECT_EQ(d.state("/api/streams").at("open"), limit);
    EXPECT_EQ(d.state().at("run").at("status"), "waiting");

    // A page that goes gives its place to the next.
    streaming.back()->close();
    streaming.pop_back();
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (d.state("/api/streams").at("open").get<int>() >= limit && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Socket next(d.httpPort);
    ASSERT_TRUE(next.send(eventsRequest(d)));
    EXPECT_EQ(statusOf(next.readUntil("\r\n\r\n")), 200);
}

namespace {

// Sends each of its connections one more byte of an endless request every
// `interval`, until it goes.
class Trickler {
public:
    Trickler(std::vector<std::unique_ptr<Socket>>& sockets, std::string request, std::chrono::milliseconds interval)
        : sockets_(sockets), request_(std::move(request)), interval_(interval), thread_([this] { run(); }) {}
    ~Trickler() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    void run() {
        std::vector<bool> open(sockets_.size(), true);
        for (std::size_t k = 0;; ++k) {
            for (std::size_t i = 0; i < sockets_.size(); ++i)
                if (open[i]) open[i] = sockets_[i]->send(std::string(1, request_[k % request_.size()]));
            std::unique_lock lock(mutex_);
            if (cv_.wait_for(lock, interval_, [this] { return stop_; })) return;
        }
    }

    std::vector<std::unique_ptr<Socket>>& sockets_;
    const std::string request_;
    const std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stop_ = false;
    std::thread thread_;
};

// A request line and then header lines without end.
std::string endlessRequest(const Dashboard& d) {
    return "GET / HTTP/1.1\r\nHost: " + d.host() + "\r\nX-Padding: " + std::string(4000, 'a') + "\r\n";
}

}  // namespace

TEST(DashboardLimits, ClientsSendingTheirRequestSlowlyDoNotStopThePages) {
    Dashboard d;
    // More of them than the dashboard has worker threads, each sending a
    // byte every two seconds.
    std::vector<std::unique_ptr<Socket>> slow;
    for (int i = 0; i < 34; ++i) slow.push_back(std::make_unique<Socket>(d.httpPort));
    {
        Trickler trickler(slow, endlessRequest(d), std::chrono::milliseconds(2000));
        const auto asked = Clock::now();
        const httplib::Result res = d.get("/");
        const double seconds = std::chrono::duration<double>(Clock::now() - asked).count();
        ASSERT_TRUE(res) << "no answer within 30 s while 34 clients trickle";
        EXPECT_EQ(res->status, 200);
        // A generous bound: they are dropped after a second's silence.
        EXPECT_LT(seconds, 15.0);
        const auto end = Clock::now() + std::chrono::seconds(30);
        for (std::size_t i = 0; i < slow.size(); ++i) EXPECT_TRUE(slow[i]->closedByPeer(end)) << "slow client " << i;
    }
}

TEST(DashboardLimits, ARequestTricklingFasterThanTheReadTimeOutIsStillCutOff) {
    Dashboard d;
    // A byte every 0.2 s never lets a read wait long, but the request has to
    // arrive whole within a few seconds.
    std::vector<std::unique_ptr<Socket>> slow;
    for (int i = 0; i < 34; ++i) slow.push_back(std::make_unique<Socket>(d.httpPort));
    Trickler trickler(slow, endlessRequest(d), std::chrono::milliseconds(200));
    const auto end = Clock::now() + std::chrono::seconds(60);
    for (std::size_t i = 0; i < slow.size(); ++i) EXPECT_TRUE(slow[i]->closedByPeer(end)) << "slow client " << i;
    const httplib::Result res = d.get("/");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}

TEST(DashboardLimits, ARunNamingThirtyThousandElementsListsThemAllInTheirOrder) {
    Dashboard d;
    const int names = 30000;
    std::string run = "NETNAME;many\nXTICKFORMAT;0\nTIME;1\n";
    for (int i = 0; i < names; ++i) run += "element" + std::to_string(i) + "<Place>;" + std::to_string(i % 7) + "\n";
    // Known names again, and a known name as another kind: a series of its own.
    run += "TIME;2\nelement0<Place>;5\nelement" + std::to_string(names - 1) + "<Place>;6\n";
    run += "element0<Result:Mean>,<-ConfMin>,<+ConfMax>;1,0.5,1.5\nEXIT;0\n";
    {
        Socket simulation(d.resultPort);
        ASSERT_TRUE(simulation.send(run));
    }
    json state;
    const auto end = Clock::now() + std::chrono::seconds(120);
    do {
        state = d.state();
        if (state["run"]["status"] == "ended") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (Clock::now() < end);
    ASSERT_EQ(state["run"]["status"], "ended");
    EXPECT_EQ(state["run"]["garbageLines"], 0);
    const json& series = state["series"];
    ASSERT_EQ(series.size(), static_cast<std::size_t>(names + 1));
    int misplaced = 0;
    for (int i = 0; i < names; ++i) {
        const json& s = series[static_cast<std::size_t>(i)];
        if (s["id"] != i || s["name"] != "element" + std::to_string(i) || s["kind"] != "place") ++misplaced;
    }
    EXPECT_EQ(misplaced, 0);
    EXPECT_EQ(series[0]["points"], json::parse("[[1, 0], [2, 5]]"));
    EXPECT_EQ(series[names - 1]["points"], json::parse("[[1, " + std::to_string((names - 1) % 7) + "], [2, 6]]"));
    EXPECT_EQ(series[names]["name"], "element0");
    EXPECT_EQ(series[names]["kind"], "estimate");
    EXPECT_EQ(series[names]["points"], json::parse("[[2, 1, 0.5, 1.5]]"));
    EXPECT_EQ(series[1]["total"], 1);
}
