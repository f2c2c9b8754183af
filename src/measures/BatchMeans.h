#pragma once
// Batch-means analysis of one long run, in a fixed amount of memory.
//
// A stationary or RESTART run closes a batch every 100 events (or every
// batch time). On a correlated process such short batches are far from
// independent, and an interval computed as if they were is too narrow: on an
// M/M/1 queue at utilisation 0.9 their lag-1 correlation is about 0.87 and
// the true standard error three times the naive one. This class takes the
// driver's batches as its units and analyses long batches made of them, by
// the fixed-number-of-batches rule with von Neumann's test of independence,
// as LABATCH.2 does (Fishman and Yarberry 1997, "An implementation of the
// batch means method", INFORMS Journal on Computing 9(3), 296-310):
//
//  - Storage. The units are folded into batches of `size` units; at most
//    `capacity` complete batches are kept, and when that many exist,
//    neighbours merge pairwise and `size` doubles. Memory does not grow with
//    the run.
//  - Batches. The interval rests on the longest batches that leave at least
//    minimumBatches of them: the stored ones, merged pairwise while at least
//    2 * minimumBatches remain (an odd oldest one joins the first pair), so
//    between minimumBatches and twice as many. The estimate itself is the
//    whole run's, the batch being filled included.
//    Long batches are what makes batch means independent; with this many of
//    them (Schmeiser 1982, "Batch size effects in the analysis of
//    simulation output", found 10 to 30 best) the t quantile costs little
//    precision. The batches grow with the run, so their correlation fades
//    if the process has a steady state.
//  - Independence. Von Neumann's ratio test on those batch means: a lag-1
//    correlation significant at `testLevel` means the batches are not yet
//    long enough and the interval is no evidence of accuracy. Significant at
//    the much stricter `driftLevel`, together with a trend of the stored
//    batch means (Kendall's rank test at `trendLevel`), it means that the
//    measure drifts: it shows no steady state within the run.
//  - Interval. Time averages weight every unit by its model time: a batch
//    holds the integral and the length of its units, the estimate is the
//    ratio of their sums and the variance that of the ratio estimator,
//    s^2 / Lbar^2 with s^2 = sum (I_j - R L_j)^2 / (n - 1). The half-width is
//    t(n - 1) * sqrt(variance / n) at the two-sided level 1 - alpha / 2.
//
// No warm-up is deleted. MSER (White 1997), tried on these batches, chose
// to delete early excursions of the queue more often than a transient and
// biased the M/M/1 estimates at utilisation 0.9 by -0.5 standard errors
// (coverage 79 % at nominal 90 %); kept whole, a run that starts empty is
// biased by less than 0.1 standard errors there (see the README).
//
// A unit is the value y and weight w of one driver batch (w = the model
// time it lasted for a time average, 1 otherwise). When no unit has any
// weight (every event at one instant), the units count alike.
#include <cstddef>
#include <vector>

class BatchMeans {
public:
    struct Rules {
        std::size_t capacity = 64;        // batches kept; even, at least 4
        std::size_t minimumBatches = 10;  // fewest batches an interval rests on once there are that many
        double testLevel = 0.10;          // correlation significant: not yet evidence of accuracy
        double driftLevel = 0.01;         // correlation significant ...
        double trendLevel = 0.001;        // ... and a trend (two-sided): no steady state
        double minimumEffective = 200.0;  // fewest effective observations an accurate estimate rests on
    };

    // What one analysis found.
    struct Estimate {
        bool valid = false;          // at least two batches: an interval exists
        double mean = 0.0;
        double variance = 0.0;       // of the batch values the interval rests on
        double halfWidth = 0.0;
        std::size_t batches = 0;     // batches the interval rests on
        std::size_t batchUnits = 0;  // units per such batch (the oldest may hold 1.5 times as many)
        double meanLength = 0.0;     // their mean weight: model time, or units where there is none
        double lag1 = 0.0;           // lag-1 correlation of their means (von Neumann's estimate)
        bool independent = false;    // the correlation is not significant at testLevel
        bool correlated = false;     // the correlation is significant at driftLevel
        double trend = 0.0;          // Kendall's statistic of the stored batch means (see trend())
        bool drifting = false;       // significant at driftLevel, with a trend at trendLevel
        bool noSpread = false;       // the batch values agree to about six digits
        // Effective sample size: the variance of one unit over that of the
        // estimate, the number of independent values the run is worth.
        double effectiveSize = 0.0;
    };

    BatchMeans() : BatchMeans(Rules{}) {}
    explicit BatchMeans(const Rules& rules);

    // Folds one unit in.
    void add(double value, double weight);
    // Analyses every complete batch (a partly filled one is left for later).
    Estimate analyse(double alpha) const;

    // Kendall's rank test of the stored batch means against their order:
    // the statistic S = sum over pairs i < j of sign(y_j - y_i), divided by
    // its standard deviation for independent values, sqrt(n (n - 1)
    // (2n + 5) / 18); about normal, and large and positive for a rising
    // series. 0 with fewer than three batches.
    double trend() const;

    // Units folded in so far.
    std::size_t units() const { return units_; }
    // Units per stored batch, and the number of complete batches stored.
    std::size_t batchUnits() const { return size_; }
    std::size_t storedBatches() const { return batches_.size(); }
    // Whether a partial sum of the unit values was ever different from 0 (a
    // measure whose values never moved from 0 has no relative error).
    bool someNonZero() const { return someNonZero_; }
    const Rules& rules() const { return rules_; }

private:
    struct Batch {
        double integral = 0.0;  // sum of w * y over its units
        double length = 0.0;    // sum of w
        double sum = 0.0;       // sum of y
        double count = 0.0;     // units
        void add(const Batch& b) {
            integral += b.integral;
            length += b.length;
            sum += b.sum;
            count += b.count;
        }
    };
    // A batch as the analysis sees it: its integral and length, or (when
    // the run has no model time) its plain sum and unit count.
    struct Pair {
        double x;
        double l;
    };

    static void mergePairs(std::vector<Pair>& series);
    static double ratioOf(const std::vector<Pair>& series);
    // Von Neumann's ratio of the residuals x_j - R l_j.
    static double lag1Correlation(const std::vector<Pair>& series, double ratio);
    // True when `lag1` from n batches is significant at `level` (one-sided:
    // positive correlation is what makes intervals too narrow).
    static bool significant(double lag1, std::size_t n, double level);

    // Sums over all units, about the first unit's value (z = x - shift * l),
    // for the variance of a single unit.
    struct UnitSums {
        bool shifted = false;
        double shift = 0.0;
        double x = 0.0, l = 0.0, zz = 0.0, zl = 0.0, ll = 0.0;
    };
    double unitVariance(bool weighted) const;

    Rules rules_;
    UnitSums weightedUnits_, plainUnits_;
    std::vector<Batch> batches_;
    Batch partial_;
    std::size_t size_ = 1;
    std::size_t units_ = 0;
    double plainSum_ = 0.0;
    bool someNonZero_ = false;
};
