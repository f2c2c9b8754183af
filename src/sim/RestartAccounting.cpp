#include "sim/RestartAccounting.h"

#include "measures/MeasureObj.h"

RestartAccounting::RestartAccounting(double& mainPathTime, const DateTime& start, std::size_t measures)
    : mainPathTime_(mainPathTime), lastAccounting_(start), integralAtBatch_(measures, 0.0) {
    mainPathTime_ = 0.0;
}

void RestartAccounting::advanceMainPath(const DateTime& now) {
    mainPathTime_ += now - lastAccounting_;
    lastAccounting_ = now;
}

void RestartAccounting::batchClosed() {
    timeAtBatch_ = mainPathTime_;
    ++batches_;
}

double RestartAccounting::value(MeasureObj& m, std::size_t position, double& weight) {
    // The batch covers the main path's model time since the last batch; its
    // value is the weighted integral of that stretch (over every path split
    // off in it) per unit of it.
    const double length = mainPathTime_ - timeAtBatch_;
    const double integral = mainPathTime_ > 0.0 ? m.measure(mainPathTime_) * mainPathTime_ : 0.0;
    const double v = length > 0.0 ? (integral - integralAtBatch_[position]) / length : 0.0;
    weight = length;
    integralAtBatch_[position] = integral;
    return v;
}
