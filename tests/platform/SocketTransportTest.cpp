// What both transports do alike: connect, accept, read and write within one
// process and between two, and notice a peer that closed or was killed.
#include "platform/SocketTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <future>

using namespace sockettest;

class TransportTest : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Socket, TransportTest, ::testing::Values(tcp, local),
                         [](const ::testing::TestParamInfo<Transport>& info) { return info.param.name; });

TEST_P(TransportTest, ExchangesDataWithinOneProcess) {
    const Transport& t = GetParam();
    const std::string name = localName("pair");
    {
        Pair p = connectPair(t, "pair");
        ASSERT_TRUE(p.server && p.client);
        ASSERT_TRUE(p.client->is_ok()) << errorText(*p.client);
        char buf[32] = {};
        ASSERT_EQ(p.client->write("hello", 5), 1);
        ASSERT_EQ(p.server->read(buf, 5), 1);
        EXPECT_EQ(std::string(buf, 5), "hello");

        // At least 3 bytes wanted: all 6 that came.
        ASSERT_EQ(p.server->write("world!", 6), 1);
        EXPECT_EQ(p.client->read(buf, 3, sizeof buf, -1), 6);
        EXPECT_EQ(std::string(buf, 6), "world!");

        // 5 wanted, 3 come: the count so far once the second has passed.
        ASSERT_EQ(p.server->write("abc", 3), 1);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(p.client->read(buf, 5, sizeof buf, 1), 3);
        EXPECT_GE(secondsSince(start), 0.9);
        EXPECT_TRUE(p.client->is_ok());

        // A minimum of 0: TCP returns with the first bytes, the local
        // transport at once with none (they stay for the next read).
        ASSERT_EQ(p.server->write("xy", 2), 1);
        EXPECT_EQ(p.client->read(buf, 0, sizeof buf, -1), t.local ? 0 : 2);
        if (t.local) {
            EXPECT_EQ(p.client->read(buf, 2), 1);
        }
        EXPECT_EQ(std::string(buf, 2), "xy");

        // The client leaves: the server's reads (over TCP also one with a
        // minimum of 0) and writes fail.
        p.client->close();
        EXPECT_EQ(p.server->read(buf, t.local ? 1 : 0, sizeof buf, -1), -1);
        EXPECT_EQ(errorText(*p.server), "connection is broken");
        EXPECT_TRUE(writeUntilFailure(*p.server));
        EXPECT_EQ(errorText(*p.server), "connection is broken");

        // A closed socket neither reads nor writes.
        p.server->close();
        EXPECT_EQ(p.server->read(buf, 1, 1, -1), -1);
        EXPECT_EQ(p.server->write("z", 1), 0);
        EXPECT_EQ(errorText(*p.server), "socket not opened");
    }
    // Nothing stays behind in /dev/shm: neither the listener's names nor
    // the private channel's.
    EXPECT_TRUE(shmEntries(name).empty());
    EXPECT_TRUE(shmEntries("scpn." + std::to_string(getpid()) + ".").empty());
}

TEST_P(TransportTest, ExchangesDataWithAnotherProcess) {
    Endpoint e = listen(GetParam(), "fork");
    ASSERT_TRUE(e.listener->is_ok()) << errorText(*e.listener);
    const pid_t child = forkChild([&e] {
        std::unique_ptr<socket_t> s(socket_t::connect(e.address.c_str(), e.domain, 20, 1));
        char reply[4];
        if (!s->is_ok()) return 1;
        if (s->write("ping", 4) != 1) return 2;
        if (s->read(reply, 4) != 1 || std::memcmp(reply, "pong", 4) != 0) return 3;
        return s->close() == 1 ? 0 : 4;
    });
    std::unique_ptr<socket_t> server(e.listener->accept());
    ASSERT_NE(server, nullptr) << errorText(*e.listener);
    char buf[4];
    ASSERT_EQ(server->read(buf, 4), 1);
    EXPECT_EQ(std::string(buf, 4), "ping");
    ASSERT_EQ(server->write("pong", 4), 1);
    // The child closes after the reply.
    EXPECT_EQ(server->read(buf, 1, 4, -1), -1);
    EXPECT_EQ(errorText(*server), "connection is broken");
    EXPECT_EQ(reap(child), 0);
}

TEST_P(TransportTest, KilledPeerProcessIsNoticedPromptly) {
    const Transport& t = GetParam();
    struct Case {
        bool childAccepts;  // the killed child is the server (else the client)
        bool read;          // the survivor reads (else writes)
    };
    for (const Case c : {Case{false, true}, Case{false, false}, Case{true, true}}) {
        SCOPED_TRACE(std::string(c.childAccepts ? "server" : "client") + " killed, survivor " +
                     (c.read ? "reads" : "writes"));
        Endpoint e = listen(t, "killed");
        ASSERT_TRUE(e.listener->is_ok());
        const pid_t child = forkChild([&e, &c] {
            std::unique_ptr<socket_t> s(c.childAccepts ? e.listener->accept()
                                                       : socket_t::connect(e.address.c_str(), e.domain, 20, 1));
            if (s == nullptr || s->write("r", 1) != 1) return 1;
            pause();
            return 0;
        });
        std::unique_ptr<socket_t> s(c.childAccepts ? socket_t::connect(e.address.c_str(), e.domain, 20, 1)
                                                   : e.listener->accept());
        ASSERT_NE(s, nullptr);
        char buf[1];
        ASSERT_EQ(s->read(buf, 1), 1);  // the child is connected and waits
        kill(child, SIGKILL);
        // Not reaped before the read or write: the peer is a zombie then,
        // which must count as dead all the same.
        const auto start = std::chrono::steady_clock::now();
        if (c.read)
            EXPECT_EQ(s->read(buf, 1, 1, -1), -1);
        else
            EXPECT_TRUE(writeUntilFailure(*s));
        EXPECT_LT(secondsSince(start), 2.0);
        EXPECT_FALSE(s->is_ok());
        EXPECT_EQ(errorText(*s), "connection is broken");
        EXPECT_EQ(reap(child), 128 + SIGKILL);
        // The handshake removed the private channel's names before the kill.
        EXPECT_TRUE(shmEntries("scpn." + std::to_string(child) + ".").empty());
        EXPECT_TRUE(shmEntries("scpn." + std::to_string(getpid()) + ".").empty());
    }
}

TEST_P(TransportTest, CancelAcceptReleasesABlockedAccept) {
    Endpoint e = listen(GetParam(), "cancel");
    ASSERT_TRUE(e.listener->is_ok());
    std::promise<socket_t*> accepted;
    std::thread acceptor([&] { accepted.set_value(e.listener->accept()); });
    EXPECT_EQ(e.listener->cancel_accept(), 1);
    acceptor.join();
    EXPECT_EQ(accepted.get_future().get(), nullptr);
    EXPECT_EQ(errorText(*e.listener), "socket not opened");
}
