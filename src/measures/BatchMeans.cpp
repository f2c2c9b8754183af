#include "measures/BatchMeans.h"

#include <algorithm>
#include <cmath>

#include "measures/Quantiles.h"

namespace {

// Batch values whose standard deviation is below this share of their mean
// agree to about six digits: they show no spread (a measure that is
// constant, or a ratio that differs only by the rounding of its guard).
constexpr double kNoSpread = 1e-6;

}  // namespace

BatchMeans::BatchMeans(const Rules& rules) : rules_(rules) {
    // Pairwise merging needs an even capacity, and an analysis at least two
    // batches.
    if (rules_.capacity < 4) rules_.capacity = 4;
    if (rules_.capacity % 2 != 0) ++rules_.capacity;
    if (rules_.minimumBatches < 2) rules_.minimumBatches = 2;
    batches_.reserve(rules_.capacity);
}

void BatchMeans::add(double value, double weight) {
    // A unit of no weight adds nothing to a weighted sum, whatever its value
    // (which may then be anything, even not a number).
    const double integral = weight != 0.0 ? weight * value : 0.0;
    auto fold = [](UnitSums& u, double x, double l) {
        // The sums are taken about the ratio of the first unit that has a
        // weight; units without one add nothing to them whatever the shift.
        if (!u.shifted && l != 0.0) {
            u.shift = x / l;
            u.shifted = true;
        }
        const double z = x - u.shift * l;
        u.x += x;
        u.l += l;
        u.zz += z * z;
        u.zl += z * l;
        u.ll += l * l;
    };
    fold(weightedUnits_, integral, weight);
    fold(plainUnits_, value, 1.0);
    partial_.add({integral, weight, value, 1.0});
    ++units_;
    plainSum_ += value;
    if (plainSum_ != 0.0) someNonZero_ = true;
    if (partial_.count < static_cast<double>(size_)) return;
    batches_.push_back(partial_);
    partial_ = Batch();
    if (batches_.size() < rules_.capacity) return;
    // Full: neighbours merge, and the batches to come are twice as long.
    for (std::size_t i = 0; i < batches_.size() / 2; ++i) {
        Batch merged = batches_[2 * i];
        merged.add(batches_[2 * i + 1]);
        batches_[i] = merged;
    }
    batches_.resize(batches_.size() / 2);
    size_ *= 2;
}

void BatchMeans::mergePairs(std::vector<Pair>& series) {
    // With an odd count the oldest three merge into one: nothing is left
    // out, and the ratio estimator takes a batch of another length in its
    // stride.
    std::vector<Pair> merged;
    merged.reserve(series.size() / 2);
    std::size_t i = 0;
    if (series.size() % 2 != 0 && series.size() >= 3) {
        merged.push_back({series[0].x + series[1].x + series[2].x, series[0].l + series[1].l + series[2].l});
        i = 3;
    }
    for (; i + 1 < series.size(); i += 2)
        merged.push_back({series[i].x + series[i + 1].x, series[i].l + series[i + 1].l});
    series.swap(merged);
}

double BatchMeans::ratioOf(const std::vector<Pair>& series) {
    double x = 0.0, l = 0.0;
    for (const Pair& p : series) {
        x += p.x;
        l += p.l;
    }
    return l != 0.0 ? x / l : 0.0;
}

double BatchMeans::lag1Correlation(const std::vector<Pair>& series, double ratio) {
    // 1 - sum (e_{j+1} - e_j)^2 / (2 sum e_j^2), an estimate of the lag-1
    // correlation of the residuals e_j.
    double squares = 0.0, differences = 0.0, previous = 0.0;
    for (std::size_t j = 0; j < series.size(); ++j) {
        const double e = series[j].x - ratio * series[j].l;
        squares += e * e;
        if (j > 0) differences += (e - previous) * (e - previous);
        previous = e;
    }
    if (!(squares > 0.0)) return 0.0;  // no spread, no correlation to speak of
    return 1.0 - differences / (2.0 * squares);
}

bool BatchMeans::significant(double lag1, std::size_t batches, double level) {
    const double n = static_cast<double>(batches);
    if (n < 3.0) return false;  // nothing to test
    // Under independence the ratio is about normal with mean 0 and this
    // variance.
    const double sd = std::sqrt((n - 2.0) / ((n - 1.0) * (n + 1.0)));
    return lag1 > normal_distr(level) * sd;
}

double BatchMeans::unitVariance(bool weighted) const {
    // The ratio estimator's variance for a single unit, as for the batches.
    const UnitSums& u = weighted ? weightedUnits_ : plainUnits_;
    const double n = static_cast<double>(units_);
    if (n < 2.0 || u.l == 0.0) return 0.0;
    const double r = u.x / u.l - u.shift;
    const double residuals = std::max(0.0, u.zz - 2.0 * r * u.zl + r * r * u.ll);
    const double meanLength = u.l / n;
    return residuals / (n - 1.0) / (meanLength * meanLength);
}

double BatchMeans::trend() const {
    const std::size_t n = batches_.size();
    if (n < 3) return 0.0;
    // The batch means as the estimate weighs them: time averages where the
    // batches have model time, plain means otherwise.
    double length = 0.0;
    for (const Batch& b : batches_) length += b.length;
    std::vector<double> y;
    y.reserve(n);
    for (const Batch& b : batches_) {
        if (length > 0.0) y.push_back(b.length > 0.0 ? b.integral / b.length : 0.0);
        else y.push_back(b.count > 0.0 ? b.sum / b.count : 0.0);
    }
    double s = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) s += (y[j] > y[i]) - (y[j] < y[i]);
    const double m = static_cast<double>(n);
    return s / std::sqrt(m * (m - 1.0) * (2.0 * m + 5.0) / 18.0);
}

BatchMeans::Estimate BatchMeans::analyse(double alpha) const {
    Estimate e;
    if (batches_.size() < 2) return e;

    // The estimate is the whole run's: every stored batch and the one being
    // filled. The interval and the test read the complete batches.
    double totalLength = partial_.length;
    for (const Batch& b : batches_) totalLength += b.length;
    const bool weighted = totalLength > 0.0;
    auto pairOf = [weighted](const Batch& b) { return weighted ? Pair{b.integral, b.length} : Pair{b.sum, b.count}; };
    std::vector<Pair> series;
    series.reserve(batches_.size());
    for (const Batch& b : batches_) series.push_back(pairOf(b));
    std::vector<Pair> whole = series;
    whole.push_back(pairOf(partial_));
    const double ratio = ratioOf(whole);

    std::size_t unitsPer = size_;
    while (series.size() >= 2 * rules_.minimumBatches) {
        mergePairs(series);
        unitsPer *= 2;
    }

    const std::size_t n = series.size();
    double residuals = 0.0, length = 0.0;
    for (const Pair& p : series) {
        const double r = p.x - ratio * p.l;
        residuals += r * r;
        length += p.l;
    }
    const double meanLength = length / static_cast<double>(n);
    const double variance =
        meanLength != 0.0 ? residuals / static_cast<double>(n - 1) / (meanLength * meanLength) : 0.0;
    const double t = student_distr(static_cast<int>(n) - 1, 1.0 - alpha / 2.0);

    e.valid = true;
    e.mean = ratio;
    e.variance = variance;
    e.halfWidth = std::sqrt(variance / static_cast<double>(n)) * t;
    e.batches = n;
    e.batchUnits = unitsPer;
    e.meanLength = meanLength;
    e.lag1 = lag1Correlation(series, ratio);
    e.independent = !significant(e.lag1, n, rules_.testLevel);
    // A drift shows as batch means that are correlated and move one way:
    // correlation alone also comes from a slow stationary process, or from
    // the rare spikes of a measure that is mostly 0.
    e.trend = trend();
    e.correlated = significant(e.lag1, n, rules_.driftLevel);
    e.drifting = e.correlated && std::fabs(e.trend) > normal_distr(rules_.trendLevel / 2.0);
    e.noSpread = !(std::sqrt(variance) > kNoSpread * std::fabs(ratio));
    const double ofEstimate = variance / static_cast<double>(n);
    e.effectiveSize = ofEstimate > 0.0 ? unitVariance(weighted) / ofEstimate : HUGE_VAL;
    return e;
}
