// What is particular to the local transport: the ring buffer's size, waiting
// for a listener, object names, and endpoints left by killed processes.
#include "platform/SocketTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <future>

using namespace sockettest;

TEST(LocalSocket, LongWriteWaitsForTheReader) {
    Pair p = connectPair(local, "long");
    ASSERT_TRUE(p.server && p.client && p.client->is_ok());
    std::vector<char> sent(10000);
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7);
    std::atomic<bool> done{false};
    auto writer = std::async(std::launch::async, [&] {
        const int result = p.client->write(sent.data(), sent.size());
        done = true;
        return result;
    });
    // 8175 bytes fit (one byte of the 8176 always stays free); the rest
    // waits for the reader.
    auto& server = dynamic_cast<local_win_socket&>(*p.server);
    const auto start = std::chrono::steady_clock::now();
    while (server.available() < 8175 && secondsSince(start) < 10) std::this_thread::yield();
    ASSERT_EQ(server.available(), 8175u);
    EXPECT_FALSE(done);

    std::vector<char> received(sent.size());
    EXPECT_EQ(p.server->read(received.data(), 1, received.size(), -1), 8175);
    EXPECT_EQ(p.server->read(received.data() + 8175, received.size() - 8175), 1);
    EXPECT_EQ(writer.get(), 1);
    EXPECT_EQ(received, sent);
    EXPECT_EQ(p.client->write("", 0), 1);
}

TEST(LocalSocket, ShutdownWakesTheBlockedReaderAndEndsThePeer) {
    Pair p = connectPair(local, "shutdown");
    ASSERT_TRUE(p.server && p.client && p.client->is_ok());
    auto reader = std::async(std::launch::async, [&] {
        char c;
        return p.server->read(&c, 1, 1, -1);
    });
    EXPECT_EQ(p.server->shutdown(), 1);
    EXPECT_EQ(reader.get(), -1);
    EXPECT_EQ(errorText(*p.server), "socket not opened");
    char c;
    EXPECT_EQ(p.client->read(&c, 1, 1, -1), -1);
    EXPECT_EQ(errorText(*p.client), "connection is broken");
}

TEST(LocalSocket, ConnectWithoutListenerTimesOut) {
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<socket_t> s(socket_t::connect(localName("absent").c_str(), socket_t::sock_local_domain, 1, 1));
    const double elapsed = secondsSince(start);
    EXPECT_EQ(errorText(*s), "connection timeout expired");
    EXPECT_EQ(dynamic_cast<local_win_socket&>(*s).errcode, local_win_socket::timeout_expired);
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LT(elapsed, 3.0);
}

TEST(LocalSocket, ObjectNames) {
    EXPECT_EQ(local_win_socket::object_name("a/b:1"), "/scpn-a_b:1");
    EXPECT_EQ(local_win_socket::object_name("localhost:2020"), "/scpn-localhost:2020");
}

TEST(LocalSocket, StaleEndpointOfAKilledListenerDoesNotBlockANewOne) {
    const std::string name = localName("stale");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = forkChild([&] {
        std::unique_ptr<socket_t> listener(socket_t::create_local(name.c_str()));
        const char ok = listener->is_ok() ? 'y' : 'n';
        if (write(ready[1], &ok, 1) != 1) return 1;
        pause();
        return 0;
    });
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    kill(child, SIGKILL);
    EXPECT_EQ(reap(child), 128 + SIGKILL);
    close(ready[0]);
    close(ready[1]);
    // The killed listener's memory and its four events are still there.
    EXPECT_EQ(shmEntries(name).size(), 5u);

    {
        Pair p = connectPair(local, "stale");
        ASSERT_TRUE(p.endpoint.listener->is_ok());
        ASSERT_TRUE(p.server && p.client && p.client->is_ok()) << errorText(*p.client);
        char buf[3];
        ASSERT_EQ(p.client->write("new", 3), 1);
        ASSERT_EQ(p.server->read(buf, 3), 1);
        EXPECT_EQ(std::string(buf, 3), "new");
    }
    EXPECT_TRUE(shmEntries(name).empty());
}
