// The result channel's writer against real connections of both transports:
// a peer that reads gets every message whole and in order; a peer that stops
// reading holds the writer no longer than the stall bound or the deadline,
// and what it later receives is still made of whole messages.
#include "platform/net/ChannelWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>

#include "platform/SocketTestSupport.h"

using namespace std::chrono_literals;
using sockettest::secondsSince;

namespace {

// Message k: "message k" padded with dots to about 100 bytes, one line.
std::string message(int k) { return "message " + std::to_string(k) + " " + std::string(88, '.') + "\n"; }

// Everything the peer receives until the connection ends.
std::string readAll(socket_t& s) {
    std::string all;
    char buffer[4096];
    for (;;) {
        const int n = s.read(buffer, 1, sizeof buffer, -1);
        if (n <= 0) return all;
        all.append(buffer, static_cast<std::size_t>(n));
    }
}

// The whole lines received, checked to be messages in increasing order; a
// last line without its end (cut by the close) is left out.
int wholeMessagesInOrder(const std::string& received) {
    std::istringstream in(received);
    int count = 0, last = -1;
    for (std::string line; std::getline(in, line);) {
        if (in.eof()) break;  // no line feed: cut short
        const int k = std::stoi(line.substr(8));
        EXPECT_EQ(line + "\n", message(k));
        EXPECT_GT(k, last);
        last = k;
        ++count;
    }
    return count;
}

class ChannelWriterTest : public ::testing::TestWithParam<sockettest::Transport> {};

}  // namespace

TEST_P(ChannelWriterTest, APeerThatReadsGetsEveryMessageInOrder) {
    sockettest::Pair p = sockettest::connectPair(GetParam(), "writer-reads");
    ASSERT_TRUE(p.client && p.client->is_ok() && p.server && p.server->is_ok());
    std::string received;
    std::thread reader([&] { received = readAll(*p.server); });
    {
        // A backlog of 8 KiB at most: the writer has to wait for the reader.
        ChannelWriter writer(p.client.get(), 5000ms, 8192);
        for (int k = 0; k < 20000; ++k) ASSERT_TRUE(writer.send(message(k))) << k;
        writer.finish();
        EXPECT_FALSE(writer.stalled());
        EXPECT_EQ(writer.dropped(), 0u);
        EXPECT_EQ(writer.pendingBytes(), 0u);
    }
    p.client->close();
    reader.join();
    EXPECT_EQ(wholeMessagesInOrder(received), 20000);
}

TEST_P(ChannelWriterTest, APeerThatStopsReadingHoldsTheWriterOnlyForTheStallBound) {
    sockettest::Pair p = sockettest::connectPair(GetParam(), "writer-stalls");
    ASSERT_TRUE(p.client && p.client->is_ok() && p.server && p.server->is_ok());
    ChannelWriter writer(p.client.get(), 300ms, 16384);
    const auto start = std::chrono::steady_clock::now();
    int sent = 0;
    // Far more than the transport's buffers and the backlog hold.
    for (; sent < 100000; ++sent) writer.send(message(sent));
    // One wait of the stall bound, then never again (a hang bound only).
    EXPECT_LT(secondsSince(start), 20.0);
    EXPECT_TRUE(writer.stalled());
    EXPECT_GT(writer.dropped(), 0u);
    EXPECT_EQ(writer.droppedAfterDeadline(), 0u);
    EXPECT_LE(writer.pendingBytes(), 16384u);

    // The peer comes back: it gets whole messages, and together with the
    // dropped ones they are every message sent.
    std::string received;
    std::thread reader([&] { received = readAll(*p.server); });
    for (int k = 0; k < 2000; ++k, ++sent) writer.send(message(sent));
    writer.finish();
    p.client->close();
    reader.join();
    EXPECT_EQ(static_cast<std::uint64_t>(wholeMessagesInOrder(received)) + writer.dropped(),
              static_cast<std::uint64_t>(sent));
}

TEST_P(ChannelWriterTest, NoWaitGoesPastTheDeadline) {
    sockettest::Pair p = sockettest::connectPair(GetParam(), "writer-deadline");
    ASSERT_TRUE(p.client && p.client->is_ok() && p.server && p.server->is_ok());
    // A stall bound far beyond the test: only the deadline can end the waits.
    ChannelWriter writer(p.client.get(), 600000ms, 16384);
    std::atomic<int> asked{0};
    writer.setDeadline([&] {
        ++asked;
        return ChannelWriter::clock::now();
    });
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < 50000; ++k) writer.send(message(k));
    EXPECT_LT(secondsSince(start), 20.0);
    EXPECT_FALSE(writer.stalled());
    EXPECT_GT(asked.load(), 0);
    EXPECT_GT(writer.dropped(), 0u);
    EXPECT_EQ(writer.droppedAfterDeadline(), writer.dropped());
}

TEST_P(ChannelWriterTest, AClosedPeerBreaksTheChannelWithoutCountingStalls) {
    sockettest::Pair p = sockettest::connectPair(GetParam(), "writer-broken");
    ASSERT_TRUE(p.client && p.client->is_ok() && p.server && p.server->is_ok());
    p.server->close();
    ChannelWriter writer(p.client.get(), 300ms, 16384);
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < 100000 && !writer.broken(); ++k) writer.send(message(k));
    EXPECT_TRUE(writer.broken());
    EXPECT_LT(secondsSince(start), 20.0);
    EXPECT_FALSE(writer.send(message(0)));
    writer.finish();
    EXPECT_EQ(writer.dropped(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Transports, ChannelWriterTest, ::testing::Values(sockettest::tcp, sockettest::local),
                         [](const auto& info) { return std::string(info.param.name); });
