#include "sim/SteadyStateWatch.h"

#include "core/NetClass.h"
#include "core/Place.h"
#include "measures/Quantiles.h"

namespace {
// Kendall's test is one-sided (growth) at this level.
constexpr double kTrendLevel = 0.001;
}  // namespace

void SteadyStateWatch::begin() {
    samples_ = BatchMeans();
    first_ = last_ = 0;
}

void SteadyStateWatch::sample(const NetClass& net) {
    long tokens = 0;
    for (const auto& entry : net.getPlaces())
        if (!entry.second->getOutTransitions().empty()) tokens += entry.second->getMarkingSize();
    if (samples_.units() == 0) first_ = tokens;
    last_ = tokens;
    samples_.add(static_cast<double>(tokens), 1.0);
}

bool SteadyStateWatch::grows() const {
    const BatchMeans::Estimate e = samples_.analyse(0.2);
    if (!e.valid || e.batches < samples_.rules().minimumBatches || !e.drifting) return false;
    return last_ > first_ && e.trend > normal_distr(kTrendLevel);
}
