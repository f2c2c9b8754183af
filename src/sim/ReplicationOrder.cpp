#include "sim/ReplicationOrder.h"

#include <utility>

long ReplicationOrder::take() {
    if (nextToTake_ - nextToAnalyse_ >= window_) return -1;
    return nextToTake_++;
}

bool ReplicationOrder::arrive(long k, std::vector<double> values) {
    if (k < nextToAnalyse_ || k >= nextToTake_) return false;
    return early_.emplace(k, std::move(values)).second;
}

bool ReplicationOrder::next(std::vector<double>& out) {
    auto it = early_.find(nextToAnalyse_);
    if (it == early_.end()) return false;
    out = std::move(it->second);
    early_.erase(it);
    ++nextToAnalyse_;
    return true;
}
