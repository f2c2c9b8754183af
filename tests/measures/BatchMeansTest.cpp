// The batch-means analysis of stationary and RESTART runs: fixed memory,
// the longest batches that leave enough of them, the ratio estimator of
// weighted units, the correlation test and the effective sample size.
#include "measures/BatchMeans.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "measures/Quantiles.h"

namespace {

// Uniform numbers in [0, 1) from a fixed linear congruential generator, so
// that every test sees the same "random" series.
class Lcg {
public:
    explicit Lcg(std::uint64_t seed) : state_(seed) {}
    double next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state_ >> 11) / 9007199254740992.0;
    }

private:
    std::uint64_t state_;
};

BatchMeans::Rules rules(std::size_t capacity, std::size_t minimum) {
    BatchMeans::Rules r;
    r.capacity = capacity;
    r.minimumBatches = minimum;
    return r;
}

}  // namespace

TEST(BatchMeansStorage, NeighboursMergeWhenTheStoreIsFullSoMemoryStaysFixed) {
    BatchMeans b(rules(8, 2));
    for (int i = 0; i < 7; ++i) b.add(1.0, 1.0);
    EXPECT_EQ(b.storedBatches(), 7u);
    EXPECT_EQ(b.batchUnits(), 1u);
    b.add(1.0, 1.0);  // the eighth fills the store: four batches of two
    EXPECT_EQ(b.storedBatches(), 4u);
    EXPECT_EQ(b.batchUnits(), 2u);
    b.add(1.0, 1.0);  // half a batch: not yet stored
    EXPECT_EQ(b.storedBatches(), 4u);
    for (int i = 0; i < 1000000 - 9; ++i) b.add(1.0, 1.0);
    EXPECT_EQ(b.units(), 1000000u);
    EXPECT_LT(b.storedBatches(), 8u);
    EXPECT_GE(b.storedBatches(), 4u);
    EXPECT_EQ(b.batchUnits() * b.storedBatches() <= 1000000u, true);
    EXPECT_GT(b.batchUnits() * (b.storedBatches() + 1), 1000000u / 2);
}

TEST(BatchMeansStorage, OddRulesAreMadeUsable) {
    BatchMeans b(rules(5, 0));
    EXPECT_EQ(b.rules().capacity, 6u);
    EXPECT_EQ(b.rules().minimumBatches, 2u);
    EXPECT_EQ(BatchMeans(rules(1, 3)).rules().capacity, 4u);
}

TEST(BatchMeansEstimate, FewerThanTwoBatchesGiveNoInterval) {
    BatchMeans b;
    EXPECT_FALSE(b.analyse(0.05).valid);
    b.add(4.0, 1.0);
    EXPECT_FALSE(b.analyse(0.05).valid);
}

TEST(BatchMeansEstimate, OneToFiveIsTheClassicalInterval) {
    BatchMeans b;
    for (double v : {1.0, 2.0, 3.0, 4.0, 5.0}) b.add(v, 1.0);
    const BatchMeans::Estimate e = b.analyse(0.05);
    ASSERT_TRUE(e.valid);
    EXPECT_EQ(e.batches, 5u);  // fewer than the minimum: nothing is merged
    EXPECT_EQ(e.batchUnits, 1u);
    EXPECT_DOUBLE_EQ(e.mean, 3.0);
    EXPECT_DOUBLE_EQ(e.variance, 2.5);
    EXPECT_NEAR(e.halfWidth, std::sqrt(2.5 / 5.0) * student_distr(4, 0.975), 1e-12);
    // A perfect trend: von Neumann's ratio is 1 - 4 / (2 * 10) = 0.8.
    EXPECT_NEAR(e.lag1, 0.8, 1e-12);
    EXPECT_FALSE(e.independent);
    EXPECT_FALSE(e.noSpread);
}

TEST(BatchMeansEstimate, TimeAveragesWeighEveryUnitByItsLength) {
    // Two kinds of units: value 1 over 1 s, value 4 over 3 s. The time
    // average is (1 + 12) / 4 = 3.25, not the plain mean 2.5.
    BatchMeans b;
    for (int i = 0; i < 6; ++i) {
        b.add(1.0, 1.0);
        b.add(4.0, 3.0);
    }
    const BatchMeans::Estimate e = b.analyse(0.2);
    ASSERT_TRUE(e.valid);
    EXPECT_DOUBLE_EQ(e.mean, 3.25);
    // Units of no model time at all count alike.
    BatchMeans instant;
    for (int i = 0; i < 6; ++i) {
        instant.add(1.0, 0.0);
        instant.add(4.0, 0.0);
    }
    EXPECT_DOUBLE_EQ(instant.analyse(0.2).mean, 2.5);
}

TEST(BatchMeansEstimate, TheIntervalRestsOnTheLongestBatchesThatLeaveTheMinimum) {
    BatchMeans b(rules(64, 10));
    Lcg random(1);
    double sum = 0.0;
    for (int i = 0; i < 40; ++i) {
        const double v = random.next();
        sum += v;
        b.add(v, 1.0);
    }
    // 40 units: 20 batches of 2, then 10 batches of 4 (10 < 20 stops).
    const BatchMeans::Estimate e = b.analyse(0.2);
    EXPECT_EQ(e.batches, 10u);
    EXPECT_EQ(e.batchUnits, 4u);
    EXPECT_NEAR(e.mean, sum / 40.0, 1e-12);
    // 39 units: 19 batches of 2, the oldest of 3; nothing is left out.
    BatchMeans odd(rules(64, 10));
    for (int i = 0; i < 39; ++i) odd.add(1.0 + i % 2, 1.0);
    const BatchMeans::Estimate f = odd.analyse(0.2);
    EXPECT_EQ(f.batches, 19u);
    EXPECT_EQ(f.batchUnits, 2u);
    EXPECT_DOUBLE_EQ(f.mean, 58.0 / 39.0);  // twenty 1s and nineteen 2s
    // The batch being filled counts for the estimate: with 64 stored batches
    // of 2 units plus one unit, the estimate is that of all 129 units.
    BatchMeans partly(rules(64, 10));
    for (int i = 0; i < 129; ++i) partly.add(i == 128 ? 130.0 : 1.0, 1.0);
    EXPECT_EQ(partly.storedBatches(), 32u);
    EXPECT_EQ(partly.batchUnits(), 4u);
    EXPECT_DOUBLE_EQ(partly.analyse(0.2).mean, 258.0 / 129.0);
}

TEST(BatchMeansEstimate, TheRatioEstimatorsVarianceAndEffectiveSize) {
    // Four units (value, weight): integrals 2, 2, 9, 3 over lengths 1, 2, 3, 1:
    // R = 16 / 7; residuals I - R L: -2/7, -18/7, 15/7, 5/7; s^2 = (4 + 324 +
    // 225 + 25) / 49 / 3; the variance is s^2 / Lbar^2 with Lbar = 7/4.
    BatchMeans b;
    b.add(2.0, 1.0);
    b.add(1.0, 2.0);
    b.add(3.0, 3.0);
    b.add(3.0, 1.0);
    const BatchMeans::Estimate e = b.analyse(0.2);
    ASSERT_TRUE(e.valid);
    EXPECT_DOUBLE_EQ(e.mean, 16.0 / 7.0);
    const double s2 = (4.0 + 324.0 + 225.0 + 25.0) / 49.0 / 3.0;
    const double variance = s2 / (49.0 / 16.0);
    EXPECT_NEAR(e.variance, variance, 1e-12);
    EXPECT_NEAR(e.halfWidth, std::sqrt(variance / 4.0) * student_distr(3, 0.9), 1e-12);
    EXPECT_DOUBLE_EQ(e.meanLength, 7.0 / 4.0);
    // Each unit is a batch here: the run is worth exactly its four units.
    EXPECT_NEAR(e.effectiveSize, 4.0, 1e-9);
}

TEST(BatchMeansEstimate, ALargeLevelCostsNoPrecision) {
    // Values of about 1e8 that differ in their last digits: the sums are
    // taken about the first value, so the spread is not lost in rounding.
    BatchMeans b;
    Lcg random(13);
    for (int i = 0; i < 4096; ++i) b.add(1e8 + random.next(), 1.0);
    const BatchMeans::Estimate e = b.analyse(0.2);
    EXPECT_NEAR(e.mean, 1e8 + 0.5, 0.05);
    // Batches of b units have a variance of (1/12) / b.
    EXPECT_NEAR(std::sqrt(e.variance * static_cast<double>(e.batchUnits)), std::sqrt(1.0 / 12.0), 0.1);
    EXPECT_GT(e.effectiveSize, 4096 / 3.0);
    EXPECT_LT(e.effectiveSize, 4096 * 3.0);
    // A first unit without weight (every event at one instant) neither sets
    // the shift nor, whatever its value, enters a weighted sum.
    BatchMeans late;
    late.add(std::nan(""), 0.0);
    Lcg again(13);
    for (int i = 0; i < 4096; ++i) late.add(1e8 + again.next(), 1.0);
    const BatchMeans::Estimate f = late.analyse(0.2);
    EXPECT_NEAR(f.mean, e.mean, 1e-6);
    EXPECT_TRUE(std::isfinite(f.variance));
    EXPECT_GT(f.effectiveSize, 4096 / 3.0);
    EXPECT_LT(f.effectiveSize, 4096 * 3.0);
}

TEST(BatchMeansTrend, KendallsStatisticOfTheStoredBatches) {
    BatchMeans rising(rules(64, 10));
    for (int i = 0; i < 10; ++i) rising.add(i, 1.0);
    // All 45 pairs rise: S = 45 over sqrt(10 * 9 * 25 / 18).
    EXPECT_NEAR(rising.trend(), 45.0 / std::sqrt(125.0), 1e-12);
    BatchMeans falling(rules(64, 10));
    for (int i = 0; i < 10; ++i) falling.add(-i, 1.0);
    EXPECT_NEAR(falling.trend(), -45.0 / std::sqrt(125.0), 1e-12);
    BatchMeans flat(rules(64, 10));
    for (int i = 0; i < 10; ++i) flat.add(2.0, 1.0);
    EXPECT_EQ(flat.trend(), 0.0);
    EXPECT_EQ(BatchMeans().trend(), 0.0);
}

TEST(BatchMeansEstimate, IndependentValuesPassTheTestAndCountFully) {
    BatchMeans b;
    Lcg random(7);
    for (int i = 0; i < 4096; ++i) b.add(random.next(), 1.0);
    const BatchMeans::Estimate e = b.analyse(0.2);
    EXPECT_TRUE(e.independent);
    EXPECT_FALSE(e.drifting);
    EXPECT_NEAR(e.mean, 0.5, 0.03);
    // Independent units: the run is worth about as many values as it has.
    EXPECT_GT(e.effectiveSize, 4096 / 3.0);
    EXPECT_LT(e.effectiveSize, 4096 * 3.0);
}

TEST(BatchMeansEstimate, CorrelationWithoutATrendIsNoDrift) {
    // A slow oscillation: neighbouring batch means are strongly correlated,
    // but the series rises and falls alike, as a slow stationary process
    // does over a short run.
    BatchMeans wave;
    for (int i = 0; i < 4096; ++i) wave.add(std::sin(i * 6.283185307179586 / 2048.0), 1.0);
    const BatchMeans::Estimate w = wave.analyse(0.2);
    EXPECT_FALSE(w.independent);
    EXPECT_GT(w.lag1, 0.5);
    EXPECT_LT(std::fabs(w.trend), 3.0);
    EXPECT_FALSE(w.drifting);
    // Rare spikes of a measure that is mostly 0: no drift either.
    BatchMeans spikes;
    for (int i = 0; i < 4096; ++i) spikes.add(i >= 1500 && i < 1900 ? 1.0 : 0.0, 1.0);
    EXPECT_FALSE(spikes.analyse(0.2).drifting);
}

TEST(BatchMeansEstimate, ATrendIsADriftAndShortMemoryIsNot) {
    // A slow trend under noise: the batch means climb.
    BatchMeans trend;
    Lcg random(3);
    for (int i = 0; i < 4096; ++i) trend.add(i / 1000.0 + random.next(), 1.0);
    const BatchMeans::Estimate t = trend.analyse(0.2);
    EXPECT_FALSE(t.independent);
    EXPECT_TRUE(t.drifting);
    EXPECT_GT(t.lag1, 0.5);

    // An AR(1) series with correlation 0.9 from unit to unit: its memory
    // is short next to batches of hundreds of units, which the test finds
    // independent, while the effective size counts its correlation:
    // about n (1 - 0.9) / (1 + 0.9).
    BatchMeans ar;
    double x = 0.0;
    Lcg noise(5);
    for (int i = 0; i < 16384; ++i) {
        x = 0.9 * x + (noise.next() - 0.5);
        ar.add(x, 1.0);
    }
    const BatchMeans::Estimate a = ar.analyse(0.2);
    EXPECT_TRUE(a.independent) << a.lag1;
    EXPECT_FALSE(a.drifting);
    EXPECT_GT(a.effectiveSize, 16384 * 0.053 / 2.0);
    EXPECT_LT(a.effectiveSize, 16384 * 0.053 * 2.0);
}

TEST(BatchMeansEstimate, ValuesThatAgreeShowNoSpreadAndNoCorrelation) {
    BatchMeans b;
    for (int i = 0; i < 100; ++i) b.add(3.0, 2.0);
    const BatchMeans::Estimate e = b.analyse(0.2);
    EXPECT_TRUE(e.noSpread);
    EXPECT_EQ(e.variance, 0.0);
    EXPECT_EQ(e.halfWidth, 0.0);
    EXPECT_EQ(e.lag1, 0.0);
    EXPECT_TRUE(e.independent);
    // The rounding of a ratio's guard is not spread either.
    BatchMeans nearly;
    for (int i = 0; i < 100; ++i) nearly.add(1.0 - 1e-8 / (1 + i % 7), 1.0);
    EXPECT_TRUE(nearly.analyse(0.2).noSpread);
    BatchMeans zeros;
    for (int i = 0; i < 20; ++i) zeros.add(0.0, 1.0);
    EXPECT_TRUE(zeros.analyse(0.2).noSpread);
    EXPECT_FALSE(zeros.someNonZero());
}
