#include "sim/TransientSchedule.h"

#include <algorithm>

TransientSchedule::TransientSchedule(const DateTime& start, const DateTime& stop, int points)
    : start_(start),
      stop_(stop),
      observations_(static_cast<std::size_t>(std::max(points, 1)), 0) {
    const std::size_t n = observations_.size();
    interval_ = n > 1 ? (stop - start) / static_cast<double>(n - 1) : stop - start;
}

DateTime TransientSchedule::at(std::size_t k) const {
    if (k + 1 >= size()) return stop_;
    return start_ + static_cast<double>(k) * interval_;
}

int TransientSchedule::observe(std::size_t k) { return k < size() ? observations_[k]++ : 0; }

void TransientSchedule::abandonReplication() {
    for (std::size_t k = 0; k < index_ && k < size(); ++k) --observations_[k];
}
