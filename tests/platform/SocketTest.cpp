// The factory functions, the error codes and texts, and what is particular
// to TCP and UDP sockets.
#include "platform/net/LocalSocket.h"
#include "platform/net/Socket.h"
#include "platform/net/TcpSocket.h"
#include "platform/SocketTestSupport.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>

using namespace sockettest;

namespace {

// A TCP port on which nothing listens: bound, so that no one else takes it,
// but not listening, so that connections to it are refused.
struct ClosedPort {
    ClosedPort() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t length = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
        address = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    }
    ~ClosedPort() { close(fd); }
    int fd;
    std::string address;
};

}  // namespace

TEST(SocketAddress, ConnectChoosesTheTransportByTheAddress) {
    const ClosedPort closed;
    const std::string noListener = localName("nolistener");
    struct Case { std::string address; socket_t::socket_domain domain; bool local; };
    const Case cases[] = {
        {noListener, socket_t::sock_any_domain, true},
        {"localhost:0", socket_t::sock_any_domain, true},
        {closed.address, socket_t::sock_any_domain, false},
        {closed.address, socket_t::sock_local_domain, true},
        {noListener, socket_t::sock_global_domain, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        // One attempt with no wait: every one of these fails at once.
        std::unique_ptr<socket_t> s(socket_t::connect(c.address.c_str(), c.domain, 1, 0));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(dynamic_cast<local_win_socket*>(s.get()) != nullptr, c.local);
        EXPECT_FALSE(s->is_ok());
    }

    struct Name { const char* address; bool local; };
    const Name names[] = {{"scpn", true},          {"localhost", true},      {"localhost:2020", true},
                          {"localhostx:1", false}, {"localhos:1", false},    {"LOCALHOST:1", false},
                          {"host:2020", false},    {"127.0.0.1:2020", false}, {":2020", false}};
    for (const Name& n : names) EXPECT_EQ(socket_t::isLocalAddress(n.address), n.local) << n.address;
}

TEST(SocketAddress, GetIpResolvesDottedAddressesAndNames) {
    const std::pair<const char*, int> cases[] = {
        {"127.0.0.1", 0x7f000001}, {"10.1.2.3", 0x0a010203}, {"localhost", 0x7f000001},
        {"no-such-host.invalid", -1}, {"", -1}};
    for (const auto& [host, ip] : cases) EXPECT_EQ(socket_t::get_ip(host), ip) << host;
}

TEST(SocketError, EveryCodeHasItsText) {
    struct Case { bool local; int code; std::string text; };
    const Case cases[] = {
        {false, 0, "ok"}, {false, -1, "socket not opened"}, {false, -2, "bad address"},
        {false, -3, "exceed limit of attempts of connection to server"}, {false, -4, "connection is broken"},
        {false, -5, "invalid access mode"}, {false, -6, "sent message was truncated"},
        {false, EPIPE, std::strerror(EPIPE)}, {false, 99999, "unknown error code 99999"},
        {true, 0, "ok"}, {true, -1, "socket not opened"}, {true, -2, "connection is broken"},
        {true, -3, "connection timeout expired"}, {true, -5, "invalid access mode"},
        {true, -6, "sent message was truncated"}, {true, ECONNREFUSED, std::strerror(ECONNREFUSED)},
    };
    for (const Case& c : cases) {
        win_socket tcp(nullptr);
        local_win_socket local(nullptr);
        socket_t& s = c.local ? static_cast<socket_t&>(local) : tcp;
        (c.local ? local.errcode : tcp.errcode) = c.code;
        EXPECT_EQ(errorText(s), c.text) << c.code;
        EXPECT_EQ(s.is_ok() != 0, c.code == 0);
    }
    // Datagrams do not exist on the local transport.
    local_win_socket l("x");
    int ip = 0, port = 0;
    EXPECT_EQ(l.sendto(0x7f000001, 1, "x", 1), 0);
    EXPECT_EQ(l.recvfrom(ip, port, nullptr, 0), -1);
    EXPECT_EQ(errorText(l), "invalid access mode");
    // The text is cut to the buffer, terminating zero included.
    win_socket s(nullptr);
    s.errcode = win_socket::bad_address;
    char shortBuffer[5];
    s.get_error_text(shortBuffer, sizeof shortBuffer);
    EXPECT_STREQ(shortBuffer, "bad ");
}

TEST(TcpSocket, BadAddressesFailAtOnceWithMinusTwo) {
    struct Case { const char* address; bool listener; };
    const Case cases[] = {{"localhost", true},      {"localhost:", true},    {"localhost:port", true},
                          {"localhost:65536", true}, {"localhost:20a", true}, {"127.0.0.1:x", false},
                          {"no-such-host.invalid:80", false}, {"noport", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const auto start = std::chrono::steady_clock::now();
        // Three attempts five seconds apart if it tried again: it must not.
        std::unique_ptr<socket_t> s(c.listener ? socket_t::create_global(c.address)
                                               : socket_t::connect(c.address, socket_t::sock_global_domain, 3, 5));
        EXPECT_LT(secondsSince(start), 4.0);
        EXPECT_EQ(dynamic_cast<win_socket&>(*s).errcode, win_socket::bad_address);
        EXPECT_EQ(errorText(*s), "bad address");
        EXPECT_EQ(dynamic_cast<win_socket&>(*s).get_state(), socket_t::ss_close);
    }
}

TEST(TcpSocket, RefusedConnectionsAreTriedUntilTheAttemptsRunOut) {
    const ClosedPort closed;
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<socket_t> s(socket_t::connect(closed.address.c_str(), socket_t::sock_any_domain, 3, 1));
    const double elapsed = secondsSince(start);
    EXPECT_EQ(dynamic_cast<win_socket&>(*s).errcode, win_socket::connection_failed);
    EXPECT_EQ(errorText(*s), "exceed limit of attempts of connection to server");
    // Three attempts, one second apart.
    EXPECT_GE(elapsed, 1.9);
    EXPECT_LT(elapsed, 4.0);
}

TEST(TcpSocket, ListenerOnAGivenPortAndDatagrams) {
    std::unique_ptr<socket_t> any(socket_t::create_global("localhost:0"));
    ASSERT_TRUE(any->is_ok()) << errorText(*any);
    EXPECT_GT(dynamic_cast<win_socket&>(*any).get_port(), 0);

    std::unique_ptr<socket_t> a(socket_t::create_dgram("localhost:0", 1));
    std::unique_ptr<socket_t> b(socket_t::create_dgram("localhost:0", 0));
    ASSERT_TRUE(a->is_ok() && b->is_ok());
    const int portA = dynamic_cast<win_socket&>(*a).get_port();
    const int portB = dynamic_cast<win_socket&>(*b).get_port();
    EXPECT_EQ(a->sendto(0x7f000001, portB, "datagram", 8), 1);
    char text[16] = {};
    int ip = 0, port = 0;
    EXPECT_EQ(b->recvfrom(ip, port, text, sizeof text), 8);
    EXPECT_STREQ(text, "datagram");
    EXPECT_EQ(ip, 0x7f000001);
    EXPECT_EQ(port, portA);
}

TEST(SocketTask, ThreadsRunSleepAndExit) {
    task::initialize();
    task::reschedule();
    task* mainTask = task::current();
    ASSERT_NE(mainTask, nullptr);
    EXPECT_EQ(task::current(), mainTask);

    // The thread leaves through task::exit(): the unwinding destroys its
    // locals, which is when the promise is kept; nothing after exit() runs.
    struct Shared { std::promise<task*> seen; std::atomic<bool> afterExit{false}; } shared;
    std::future<task*> seen = shared.seen.get_future();
    task* handle = task::create([](void* arg) {
        auto* sh = static_cast<Shared*>(arg);
        struct OnUnwind { Shared* sh; ~OnUnwind() { sh->seen.set_value(task::current()); } } onUnwind{sh};
        task::exit();
        sh->afterExit = true;
    }, &shared);
    EXPECT_NE(handle, nullptr);
    const task* threadTask = seen.get();
    EXPECT_TRUE(threadTask != nullptr && threadTask != mainTask);
    EXPECT_FALSE(shared.afterExit);

    const auto start = std::chrono::steady_clock::now();
    task::sleep(30);
    EXPECT_GE(secondsSince(start), 0.029);
}
