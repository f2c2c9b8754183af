#pragma once
// The order in which a parallel transient run analyses its replications.
// Replications are handed out by number to whichever process asks and come
// back in any order; the analysis takes them strictly by number, keeping the
// early ones until their turn, so that the statistics, the stopping
// replication and the results are those of one sequence of replications
// whatever the number of processes. Handing out stops `window` replications
// ahead of the analysis, which bounds what waits in memory when one process
// lags behind.
#include <cstddef>
#include <map>
#include <vector>

class ReplicationOrder {
public:
    explicit ReplicationOrder(long window) : window_(window < 1 ? 1 : window) {}

    // The next replication to simulate, or -1 while the window is full.
    long take();
    // A replication's values are in. False (and nothing kept) for a number
    // never handed out or already in: such a message cannot be trusted.
    bool arrive(long k, std::vector<double> values);
    // The values of the next replication in order, when they are in; the
    // replication then counts as analysed.
    bool next(std::vector<double>& out);

    long analysed() const { return nextToAnalyse_; }
    long handedOut() const { return nextToTake_; }
    std::size_t waiting() const { return early_.size(); }

private:
    long window_;
    long nextToTake_ = 0;
    long nextToAnalyse_ = 0;
    std::map<long, std::vector<double>> early_;
};
