#pragma once
// Whether the net itself shows a steady state over a stationary or RESTART
// run. A net whose queues grow without bound has none, whatever its
// measures show: a bounded measure such as the use of a pool can look
// stationary (pinned at its maximum most of the time) while the queue in
// front of the pool grows, and its batch means then pass every test of
// their own. So at every batch end the watch samples the tokens on the
// places that some transition takes from (queues, pools, buffers; not the
// sinks that only count what arrived, which grow in any model that has
// them), and at the end tells whether those samples rise steadily: their
// batch means are correlated (see BatchMeans) and Kendall's rank test
// finds an upward trend at level 0.001.
#include <cstddef>

#include "measures/BatchMeans.h"

class NetClass;

class SteadyStateWatch {
public:
    // Forgets the samples of an earlier run.
    void begin();
    // Samples the tokens on the places that transitions take from.
    void sample(const NetClass& net);
    // The samples rise steadily: the net has no steady state.
    bool grows() const;
    // The first and the last sample.
    long firstTokens() const { return first_; }
    long lastTokens() const { return last_; }
    std::size_t samples() const { return samples_.units(); }

private:
    BatchMeans samples_;
    long first_ = 0;
    long last_ = 0;
};
