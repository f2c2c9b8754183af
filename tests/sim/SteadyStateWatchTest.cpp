// The watch over a net's queues: it counts the tokens on the places that a
// transition takes from (not the sinks), and calls a net without a steady
// state only when those counts rise steadily.
#include "sim/SteadyStateWatch.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "engine/EngineTestDoubles.h"
#include "support/TestNet.h"

namespace {

// A queue that transition T takes from, and a sink T only puts into.
struct QueueAndSink {
    QueueAndSink() {
        queue = new Place(1, "Queue", &net, false, 0);
        sink = new Place(2, "Sink", &net, false, 0);
        net.addPlace(queue);
        net.addPlace(sink);
        auto* t = new enginetest::TestTransition(1, "T", &net);
        net.addTransition(t);
        t->in(queue)->out(sink);
    }
    // Sets the number of tokens on a place.
    static void fill(Place* p, int n) {
        while (p->getMarkingSize() > n) p->removeToken(p->getFullMarking().front());
        while (p->getMarkingSize() < n) p->addToken(testnet::intToken(0));
    }
    testnet::TestNet net;
    Place* queue;
    Place* sink;
};

}  // namespace

TEST(SteadyStateWatch, CountsTheTokensTransitionsTakeFromNotTheSinks) {
    QueueAndSink n;
    SteadyStateWatch watch;
    watch.begin();
    QueueAndSink::fill(n.queue, 2);
    QueueAndSink::fill(n.sink, 5);
    watch.sample(n.net);
    QueueAndSink::fill(n.queue, 3);
    watch.sample(n.net);
    EXPECT_EQ(watch.firstTokens(), 2);
    EXPECT_EQ(watch.lastTokens(), 3);
    EXPECT_EQ(watch.samples(), 2u);
    EXPECT_FALSE(watch.grows());  // far too few samples to tell
    watch.begin();
    EXPECT_EQ(watch.samples(), 0u);
}

TEST(SteadyStateWatch, AQueueThatRisesHasNoSteadyStateASinkThatRisesIsNoSign) {
    QueueAndSink rising;
    SteadyStateWatch up;
    up.begin();
    for (int k = 0; k < 400; ++k) {
        QueueAndSink::fill(rising.queue, k / 4 + (k % 3));
        up.sample(rising.net);
    }
    EXPECT_TRUE(up.grows());

    // The sink fills up while the queue only fluctuates.
    QueueAndSink counting;
    SteadyStateWatch steady;
    steady.begin();
    std::uint64_t state = 21;
    for (int k = 0; k < 400; ++k) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        QueueAndSink::fill(counting.queue, static_cast<int>(state >> 61));  // 0 to 7
        QueueAndSink::fill(counting.sink, k);
        steady.sample(counting.net);
    }
    EXPECT_FALSE(steady.grows());

    // A queue that falls steadily is no growth either.
    QueueAndSink draining;
    SteadyStateWatch down;
    down.begin();
    for (int k = 0; k < 400; ++k) {
        QueueAndSink::fill(draining.queue, 500 - k);
        down.sample(draining.net);
    }
    EXPECT_FALSE(down.grows());
}
