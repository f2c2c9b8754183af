#pragma once
// The bookkeeping of a RESTART run that turns its split paths into batch
// values: the main path's model time (the run's time axis, advanced only
// while no snapshot has retrials left) and, at the end of the last batch,
// that time and every measure's weighted integral. A batch's value is the
// weighted integral of its stretch per unit of main-path time, weighted by
// that time, so the estimate is the run's total weighted integral over its
// total main-path time.
#include <cstddef>
#include <vector>

#include "core/DateTime.h"
#include "sim/BatchValues.h"

class RestartAccounting final : public BatchValues {
public:
    // `mainPathTime` is the driver's restartTime, which this accounting
    // advances; it starts at 0 with the clock at `start`.
    RestartAccounting(double& mainPathTime, const DateTime& start, std::size_t measures);

    // The clock is at `now` on the main path: the time since the last
    // event of the main path counts.
    void advanceMainPath(const DateTime& now);
    // A batch under way has some main-path time to close.
    bool batchOpen() const { return mainPathTime_ > timeAtBatch_; }
    // The batch analysis has taken every value: the next batch starts.
    void batchClosed();
    long batches() const { return batches_; }

    double value(MeasureObj& m, std::size_t position, double& weight) override;

private:
    double& mainPathTime_;
    DateTime lastAccounting_;
    double timeAtBatch_ = 0.0;
    std::vector<double> integralAtBatch_;
    long batches_ = 0;
};
