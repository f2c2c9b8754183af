// The listener bound to one host: its address syntax, the port the system
// chooses for port 0, and an accept() that cancel_accept() wakes.
#include "platform/net/TcpListen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

TEST(TcpListen, SplitsHostAndPortWithIPv6InBracketsOrBare) {
    const struct {
        const char* address;
        bool ok;
        const char* host;
        int port;
    } cases[] = {
        {"127.0.0.1:2020", true, "127.0.0.1", 2020}, {"0.0.0.0:0", true, "0.0.0.0", 0},
        {"[::1]:65535", true, "::1", 65535},         {"::1:7", true, "::1", 7},
        {":5", true, "", 5},                         {"127.0.0.1:65536", false, "", 0},
        {"127.0.0.1:", false, "", 0},                {"127.0.0.1:1x", false, "", 0},
        {"nocolon", false, "", 0},                   {"[::1:0", false, "", 0},
        {"a]:1", false, "", 0},                      {"127.0.0.1:000001", false, "", 0},
    };
    for (const auto& c : cases) {
        std::string host = "unset";
        int port = -1;
        EXPECT_EQ(tcp_listen::split_address(c.address, host, port), c.ok) << c.address;
        if (!c.ok) continue;
        EXPECT_EQ(host, c.host) << c.address;
        EXPECT_EQ(port, c.port) << c.address;
    }
}

TEST(TcpListen, ListensAtTheChosenPortAndCancelWakesAnAccept) {
    std::string error;
    std::unique_ptr<tcp_listen::listener> l = tcp_listen::listen("127.0.0.1:0", 5, error);
    ASSERT_TRUE(l) << error;
    ASSERT_GT(l->port(), 0);
    EXPECT_EQ(l->address(), "127.0.0.1:" + std::to_string(l->port()));

    // A client reaches it at the told port, and what it writes arrives.
    std::unique_ptr<socket_t> client(socket_t::connect(l->address().c_str(), socket_t::sock_global_domain, 1, 1));
    ASSERT_TRUE(client->is_ok());
    std::unique_ptr<socket_t> served(l->accept());
    ASSERT_TRUE(served);
    ASSERT_TRUE(client->write("hi", 2));
    char got[2];
    ASSERT_EQ(served->read(got, 2), 1);
    EXPECT_EQ(std::string(got, 2), "hi");

    // A blocked accept() returns (with nothing) once cancelled.
    std::future<socket_t*> waiting = std::async(std::launch::async, [&] { return l->accept(); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    l->cancel_accept();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), nullptr);
}

TEST(TcpListen, SaysWhyItCannotListen) {
    std::string error;
    EXPECT_FALSE(tcp_listen::listen("127.0.0.1:x", 5, error));
    EXPECT_NE(error.find("bad address \"127.0.0.1:x\""), std::string::npos) << error;
    std::unique_ptr<tcp_listen::listener> first = tcp_listen::listen("127.0.0.1:0", 5, error);
    ASSERT_TRUE(first) << error;
    // The port is held, though SO_REUSEADDR is set: a second listener there fails.
    error.clear();
    EXPECT_FALSE(tcp_listen::listen(first->address(), 5, error));
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
}
