#pragma once
// What one batch of a stationary or RESTART run is worth to each measure.
// The batch analysis (Simulation::updateSamplingPoints) is the same for
// both; they differ in what a batch covers: a stretch of events of one
// trajectory, or a stretch of the main path's model time with everything
// split off in it.
#include <cstddef>

class MeasureObj;

class BatchValues {
public:
    virtual ~BatchValues() = default;
    // The value of measure `m` (at `position` in the measure list) for the
    // batch that closes now, and the weight it carries in the analysis.
    virtual double value(MeasureObj& m, std::size_t position, double& weight) = 0;
    // After the value has been added: the measure starts the next batch.
    virtual void closed(MeasureObj& m) { (void)m; }
};
