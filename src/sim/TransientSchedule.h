#pragma once
// The sampling points of a transient run and where a replication stands
// among them. The points divide the interval from the start to the stop
// time evenly (one point alone stands at the stop time); each point counts
// the replications that have observed it, which the per-point statistics
// take as the number of observations already folded in.
#include <cstddef>
#include <vector>

#include "core/DateTime.h"

class TransientSchedule {
public:
    // `points` below 1 is taken as 1 (the command line refuses 0).
    TransientSchedule(const DateTime& start, const DateTime& stop, int points);

    std::size_t size() const { return observations_.size(); }
    // The model time between two points (the whole interval for one point).
    double interval() const { return interval_; }
    // Point k: start + k * interval, the last one the stop time itself
    // (computed, not summed, so that no rounding can lose it); k past the
    // last point gives the stop time too.
    DateTime at(std::size_t k) const;

    // A replication: starts at point 0 and visits every point once.
    void beginReplication() { index_ = 0; }
    std::size_t index() const { return index_; }
    bool done() const { return index_ >= size(); }
    // The point the replication is at is the last one.
    bool atLast() const { return index_ + 1 >= size(); }
    void advance() { ++index_; }

    // Counts an observation of point k and returns how many replications
    // had observed it before.
    int observe(std::size_t k);
    // Takes back the observations of a replication that was cut short
    // before the point it is at.
    void abandonReplication();

private:
    DateTime start_;
    DateTime stop_;
    double interval_;
    std::size_t index_ = 0;
    std::vector<int> observations_;
};
