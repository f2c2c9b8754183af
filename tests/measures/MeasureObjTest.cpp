#include "measures/MeasureObj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ios>
#include <iterator>
#include <list>
#include <sstream>
#include <string>
#include <vector>

#include "core/DateTime.h"

namespace {

// A measure whose value is set by the test; it exposes the statistics so
// that the tests can arrange and examine them.
class ProbeMeasure : public MeasureObj {
public:
    explicit ProbeMeasure(const char* name, bool watch = false, bool accumulating = false)
        : MeasureObj(name, nullptr, watch), accumulating_(accumulating) {}

    double measure(double) override { return value; }
    bool accumulative() override { return accumulating_; }
    bool timeaverage() override { return false; }
    void accum(const Binding*, double weight) override { value += weight; }

    using MeasureObj::AveragedMean;
    using MeasureObj::calls;
    using MeasureObj::d_iter;
    using MeasureObj::DeltaX;
    using MeasureObj::e_iter;
    using MeasureObj::Epsilon;
    using MeasureObj::EpsMax;
    using MeasureObj::firstTime;
    using MeasureObj::firstValue;
    using MeasureObj::lastTime;
    using MeasureObj::m2;
    using MeasureObj::m2_iter;
    using MeasureObj::m_iter;
    using MeasureObj::mean_transient;
    using MeasureObj::mean_transient_iter;
    using MeasureObj::name;
    using MeasureObj::PrecPortion;
    using MeasureObj::precision_reached;
    using MeasureObj::s_iter;
    using MeasureObj::SampleBlocks;
    using MeasureObj::v_iter;
    using MeasureObj::value;
    using MeasureObj::Variance;

private:
    bool accumulating_;
};

std::vector<double> items(const std::list<double>& l) { return {l.begin(), l.end()}; }

// Feeds batch values into the first block of a one-point run.
void feed(ProbeMeasure& m, const std::vector<double>& values) {
    m.prepareRun(1);
    for (double v : values) m.addBatchValue(v);
}

// t quantile for 4 degrees of freedom at level 0.975, from the table:
// between the 0.95 column (2.776) and the 0.98 column (3.747) at 5/6.
const double kT4 = 2.776 + (3.747 - 2.776) * 5.0 / 6.0;
// Same for 6 degrees of freedom (2.447 and 3.143).
const double kT6 = 2.447 + (3.143 - 2.447) * 5.0 / 6.0;

}  // namespace

// --- construction, accessors, window ----------------------------------------------------

TEST(MeasureObjTest, ConstructionSetsNameTypeWatchAndStartingState) {
    ProbeMeasure m("Throughput", true);
    EXPECT_EQ(m.getName(), "Throughput");
    EXPECT_EQ(m.getMeasureName(), "Throughput");
    EXPECT_EQ(m.name, "Throughput");
    EXPECT_EQ(m.getType(), "Result");
    EXPECT_EQ(m.getNet(), nullptr);
    EXPECT_TRUE(m.getWatch());
    EXPECT_FALSE(ProbeMeasure("Other").getWatch());
    EXPECT_EQ(m.getRefCount(), 0);
    EXPECT_FALSE(m.precisionReached());
    EXPECT_FALSE(m.PercentRule());
    EXPECT_EQ(m.PrecPortion, 1.0);
    EXPECT_TRUE(m.firstValue);
    EXPECT_TRUE(m.getFirstValue());
    EXPECT_EQ(m.calls, 0u);
    EXPECT_TRUE(m.SampleBlocks.empty());
    EXPECT_TRUE(m.AveragedMean.empty());
    EXPECT_TRUE(m.mean_transient.empty());
    EXPECT_EQ(MeasureObj::PREC_LIMIT, 1000u);
}

TEST(MeasureObjTest, AccessorsSetAndReadTheirMembers) {
    ProbeMeasure m("M");
    MeasureObj::hold(&m);
    MeasureObj::hold(&m);
    EXPECT_EQ(m.getRefCount(), 2);
    MeasureObj::release(&m);
    EXPECT_EQ(m.getRefCount(), 1);

    m.setPercentRule(true);
    EXPECT_TRUE(m.PercentRule());
    m.setPercentRule(false);
    EXPECT_FALSE(m.PercentRule());
    m.setPrecPortion(0.7);
    EXPECT_EQ(m.PrecPortion, 0.7);
    m.setEpsMax(0.05);
    EXPECT_EQ(m.EpsMax, 0.05);
    m.setFirstValue(false);
    EXPECT_FALSE(m.getFirstValue());
    m.precision_reached = true;
    EXPECT_TRUE(m.precisionReached());
}

TEST(MeasureObjTest, ResetOpensAWindowAndSetLastTimeMovesItsEnd) {
    ProbeMeasure m("M");
    m.value = 42.0;
    m.reset(DateTime(12.5));
    EXPECT_EQ(m.firstTime, 12.5);
    EXPECT_EQ(m.lastTime, 12.5);
    EXPECT_EQ(m.value, 0.0);

    m.value = 3.0;
    m.setLastTime(DateTime(20.25));
    EXPECT_EQ(m.firstTime, 12.5);
    EXPECT_EQ(m.lastTime, 20.25);
    EXPECT_EQ(m.value, 3.0);
}

TEST(MeasureObjTest, NotifyLeavesTheStatisticsAlone) {
    ProbeMeasure m("M");
    m.value = 5.0;
    m.reset(DateTime(1.0));
    m.value = 5.0;
    m.MeasureObj::notify();
    EXPECT_EQ(m.value, 5.0);
    EXPECT_EQ(m.firstTime, 1.0);
    EXPECT_EQ(m.lastTime, 1.0);
    EXPECT_TRUE(m.AveragedMean.empty());
}

// --- run preparation --------------------------------------------------------------------------

TEST(MeasureObjTest, PrepareRunCreatesOneBlockAndOneZeroPerSamplingPoint) {
    ProbeMeasure m("M");
    m.prepareRun(3);
    ASSERT_EQ(m.SampleBlocks.size(), 3u);
    for (const auto& block : m.SampleBlocks) EXPECT_EQ(block.units(), 0u);
    EXPECT_EQ(m.mean_transient, (std::vector<double>{0.0, 0.0, 0.0}));
    EXPECT_EQ(m.m2, (std::vector<double>{0.0, 0.0, 0.0}));
    EXPECT_TRUE(m.s_iter == m.SampleBlocks.begin());
    EXPECT_TRUE(m.mean_transient_iter == m.mean_transient.begin());
    EXPECT_TRUE(m.m2_iter == m.m2.begin());

    // A new run starts everything afresh, with the new number of points.
    m.mean_transient[0] = 7.0;
    m.addBatchValue(1.0);
    m.prepareRun(2);
    ASSERT_EQ(m.SampleBlocks.size(), 2u);
    EXPECT_EQ(m.SampleBlocks.front().units(), 0u);
    EXPECT_EQ(m.mean_transient, (std::vector<double>{0.0, 0.0}));
    EXPECT_EQ(m.m2, (std::vector<double>{0.0, 0.0}));
}

TEST(MeasureObjTest, PrepareReplicationEmptiesTheResultsButKeepsRunningStatistics) {
    ProbeMeasure m("M");
    m.prepareRun(2);
    double alpha = 0.05;
    m.makeTransientAnalysis(alpha, 2.0, 0, false);
    m.makeTransientAnalysis(alpha, 6.0, 0, true);
    m.AveragedMean.push_back(1.0);
    m.DeltaX.push_back(0.5);
    m.Epsilon.push_back(0.5);
    ++m.s_iter;
    m.m_iter = m.AveragedMean.begin();

    m.prepareReplication();
    EXPECT_TRUE(m.AveragedMean.empty());
    EXPECT_TRUE(m.Variance.empty());
    EXPECT_TRUE(m.DeltaX.empty());
    EXPECT_TRUE(m.Epsilon.empty());
    EXPECT_TRUE(m.s_iter == m.SampleBlocks.begin());
    EXPECT_TRUE(m.m_iter == m.AveragedMean.begin());
    EXPECT_TRUE(m.v_iter == m.Variance.begin());
    EXPECT_TRUE(m.d_iter == m.DeltaX.begin());
    EXPECT_TRUE(m.e_iter == m.Epsilon.begin());
    EXPECT_TRUE(m.mean_transient_iter == m.mean_transient.begin());
    EXPECT_TRUE(m.m2_iter == m.m2.begin());
    EXPECT_EQ(m.mean_transient, (std::vector<double>{2.0, 6.0}));
    EXPECT_EQ(m.SampleBlocks.size(), 2u);
}

TEST(MeasureObjTest, BatchValuesGoToTheCurrentBlock) {
    ProbeMeasure m("M");
    EXPECT_FALSE(m.addBatchValue(1.0));  // no block before a run is prepared
    EXPECT_EQ(m.batchCount(), 0u);

    m.prepareRun(2);
    EXPECT_TRUE(m.addBatchValue(1.5));
    EXPECT_TRUE(m.addBatchValue(2.5));
    EXPECT_EQ(m.batchCount(), 2u);
    ++m.s_iter;
    EXPECT_TRUE(m.addBatchValue(9.0));
    EXPECT_EQ(m.SampleBlocks.front().units(), 2u);
    EXPECT_EQ(m.SampleBlocks.back().units(), 1u);
    EXPECT_EQ(m.batchCount(), 2u);

    // Batch values are kept across replications.
    m.prepareReplication();
    EXPECT_TRUE(m.addBatchValue(3.5));
    EXPECT_EQ(m.batchCount(), 3u);
}

TEST(MeasureObjTest, LastEstimateReadsTheLastMeanAndHalfWidth) {
    ProbeMeasure m("M");
    double mean = -1.0, half = -1.0;
    EXPECT_FALSE(m.lastEstimate(mean, half));
    EXPECT_EQ(mean, 0.0);
    EXPECT_EQ(half, 0.0);
    EXPECT_EQ(m.lastEpsilon(), 0.0);

    m.AveragedMean = {4.0};
    EXPECT_FALSE(m.lastEstimate(mean, half));
    EXPECT_EQ(mean, 4.0);
    EXPECT_EQ(half, 0.0);

    m.AveragedMean = {4.0, 5.0};
    m.DeltaX = {0.25, 0.75};
    m.Epsilon = {0.0625, 0.15};
    EXPECT_TRUE(m.lastEstimate(mean, half));
    EXPECT_EQ(mean, 5.0);
    EXPECT_EQ(half, 0.75);
    EXPECT_EQ(m.lastEpsilon(), 0.15);
}

// --- transient analysis -----------------------------------------------------------------------

TEST(MeasureObjTransientTest, FirstObservationGivesMeanAndZeroVarianceOnly) {
    ProbeMeasure m("M");
    m.prepareRun(1);
    double alpha = 0.05;
    EXPECT_FALSE(m.makeTransientAnalysis(alpha, 4.0, 0, true));
    EXPECT_EQ(items(m.AveragedMean), (std::vector<double>{4.0}));
    EXPECT_EQ(items(m.Variance), (std::vector<double>{0.0}));
    EXPECT_TRUE(m.DeltaX.empty());
    EXPECT_TRUE(m.Epsilon.empty());
    EXPECT_EQ(m.mean_transient, (std::vector<double>{4.0}));
    EXPECT_EQ(m.m2, (std::vector<double>{0.0}));
    EXPECT_TRUE(m.mean_transient_iter == m.mean_transient.end());
    EXPECT_TRUE(m.m2_iter == m.m2.end());
    EXPECT_EQ(alpha, 0.05);
}

TEST(MeasureObjTransientTest, WelfordOverReplicationsMatchesTwoPassStatistics) {
    // Seven replications, three sampling points.
    const std::vector<std::vector<double>> obs = {
        {1.0, 10.0, 7.0}, {2.5, 12.0, 9.0}, {0.5, 9.5, 14.0}, {3.0, 11.0, 10.0},
        {1.5, 10.5, 12.0}, {2.0, 13.0, 7.5}, {4.0, 8.0, 11.5},
    };
    const std::size_t points = 3;
    ProbeMeasure m("M");
    m.prepareRun(points);
    m.setEpsMax(1.0);  // every point's relative half-width is below 1 at the end
    double alpha = 0.05;
    for (std::size_t r = 0; r < obs.size(); ++r) {
        m.prepareReplication();
        for (std::size_t p = 0; p < points; ++p) {
            m.makeTransientAnalysis(alpha, obs[r][p], static_cast<int>(r), p + 1 == points);
        }
        EXPECT_EQ(m.AveragedMean.size(), points);
        EXPECT_EQ(m.Variance.size(), points);
        EXPECT_EQ(m.DeltaX.size(), r == 0 ? 0u : points);
        EXPECT_EQ(m.Epsilon.size(), r == 0 ? 0u : points);
    }

    const double n = static_cast<double>(obs.size());
    std::vector<double> means, variances;
    for (std::size_t p = 0; p < points; ++p) {
        double sum = 0.0;
        for (const auto& row : obs) sum += row[p];
        const double mean = sum / n;
        double squares = 0.0;
        for (const auto& row : obs) squares += (row[p] - mean) * (row[p] - mean);
        means.push_back(mean);
        variances.push_back(squares / n);  // divided by n, not n - 1
    }

    const std::vector<double> am = items(m.AveragedMean), var = items(m.Variance);
    const std::vector<double> dx = items(m.DeltaX), eps = items(m.Epsilon);
    for (std::size_t p = 0; p < points; ++p) {
        EXPECT_NEAR(m.mean_transient[p], means[p], 1e-12) << "point " << p;
        EXPECT_NEAR(m.m2[p] / n, variances[p], 1e-12) << "point " << p;
        EXPECT_NEAR(am[p], means[p], 1e-12) << "point " << p;
        EXPECT_NEAR(var[p], variances[p], 1e-12) << "point " << p;
        const double h = std::sqrt(variances[p]) * kT6 / std::sqrt(n);
        EXPECT_NEAR(dx[p], h, 1e-12) << "point " << p;
        EXPECT_NEAR(eps[p], h / means[p], 1e-12) << "point " << p;
    }
    EXPECT_TRUE(m.precisionReached());
}

TEST(MeasureObjTransientTest, AccuracyIsDecidedOverAllPointsAtTheCheckedPoint) {
    // Two replications, two points: point 0 observes 10 then 12 (mean 11,
    // variance 1, h = t / sqrt(2) with t about 28.635, epsilon about 1.84);
    // point 1 observes 100 then 102 (mean 101, the same h, epsilon about 0.20).
    ProbeMeasure m("M");
    m.prepareRun(2);
    double alpha = 0.05;  // level 0.975, df 1: between 12.706 and 31.821 at 5/6
    const double t1 = 12.706 + (31.821 - 12.706) * 5.0 / 6.0;
    m.setEpsMax(0.5);
    m.prepareReplication();
    m.makeTransientAnalysis(alpha, 10.0, 0, false);
    m.makeTransientAnalysis(alpha, 100.0, 0, true);
    m.prepareReplication();
    // Without check the decision is not made, even if the point is accurate.
    EXPECT_FALSE(m.makeTransientAnalysis(alpha, 12.0, 1, false));
    const double h0 = 1.0 * t1 / std::sqrt(2.0);
    EXPECT_NEAR(m.DeltaX.back(), h0, 1e-12);
    EXPECT_NEAR(m.Epsilon.back(), h0 / 11.0, 1e-12);
    // Point 0 misses 0.5, so the check fails.
    EXPECT_FALSE(m.makeTransientAnalysis(alpha, 102.0, 1, true));
    EXPECT_FALSE(m.precisionReached());

    // The same data with a tolerance that both points meet.
    ProbeMeasure ok("M");
    ok.prepareRun(2);
    ok.setEpsMax(2.0);
    ok.prepareReplication();
    ok.makeTransientAnalysis(alpha, 10.0, 0, false);
    ok.makeTransientAnalysis(alpha, 100.0, 0, true);
    ok.prepareReplication();
    ok.makeTransientAnalysis(alpha, 12.0, 1, false);
    EXPECT_TRUE(ok.makeTransientAnalysis(alpha, 102.0, 1, true));
    EXPECT_TRUE(ok.precisionReached());
}

TEST(MeasureObjTransientTest, CheckCountsThePointsAnalysedSoFarPlusTheCurrentOne) {
    // Per-cent rule at 2000 replications: allowed = floor(points - points * 0.8).
    // The checked point is the fifth (points = 5, allowed 1): two earlier
    // entries that miss make it fail, one is allowed.
    auto run = [](int misses) {
        ProbeMeasure m("M");
        m.prepareRun(5);
        m.setPercentRule(true);
        m.setEpsMax(0.1);
        m.prepareReplication();
        for (int i = 0; i < 4; ++i) {
            m.AveragedMean.push_back(1.0);
            m.Epsilon.push_back(i < misses ? 0.5 : 0.01);
        }
        m.mean_transient.assign(5, 3.0);  // running mean of a point observed 1999 times
        m.mean_transient_iter = m.mean_transient.begin() + 4;
        m.m2_iter = m.m2.begin() + 4;
        double alpha = 0.05;
        const bool reached = m.makeTransientAnalysis(alpha, 3.0, 1999, true);
        EXPECT_EQ(m.PrecPortion, 0.8);
        return reached;
    };
    EXPECT_TRUE(run(1));
    EXPECT_FALSE(run(2));
}

TEST(MeasureObjTransientTest, ZeroMeanGivesZeroEpsilon) {
    ProbeMeasure m("M");
    m.prepareRun(1);
    double alpha = 0.05;
    m.makeTransientAnalysis(alpha, 1.0, 0, false);
    m.prepareReplication();
    m.makeTransientAnalysis(alpha, -1.0, 1, false);
    EXPECT_EQ(items(m.AveragedMean), (std::vector<double>{0.0}));
    EXPECT_EQ(items(m.Variance), (std::vector<double>{1.0}));
    ASSERT_EQ(m.DeltaX.size(), 1u);
    EXPECT_GT(m.DeltaX.back(), 0.0);
    EXPECT_EQ(items(m.Epsilon), (std::vector<double>{0.0}));
}

TEST(MeasureObjTransientTest, ObservationsBeyondThePreparedPointsChangeNothing) {
    ProbeMeasure m("M");
    double alpha = 0.05;
    EXPECT_FALSE(m.makeTransientAnalysis(alpha, 1.0, 0, true));  // no run prepared
    EXPECT_TRUE(m.AveragedMean.empty());

    m.prepareRun(1);
    m.makeTransientAnalysis(alpha, 1.0, 0, false);
    m.makeTransientAnalysis(alpha, 5.0, 0, false);  // a second point does not exist
    EXPECT_EQ(items(m.AveragedMean), (std::vector<double>{1.0}));
    EXPECT_EQ(m.mean_transient, (std::vector<double>{1.0}));

    m.prepareReplication();
    m.makeTransientAnalysis(alpha, 5.0, -1, false);  // negative count
    EXPECT_TRUE(m.AveragedMean.empty());
    EXPECT_EQ(m.mean_transient, (std::vector<double>{1.0}));
}

// --- stationary analysis ------------------------------------------------------------------------

TEST(MeasureObjStationaryTest, OneToFiveAtNinetyFivePerCent) {
    ProbeMeasure m("M");
    feed(m, {1.0, 2.0, 3.0, 4.0, 5.0});
    m.setEpsMax(0.9);
    double alpha = 0.05;
    // Epsilon is below 0.9, but five batches (with a perfect trend) are no
    // evidence of accuracy: too few to test their correlation.
    EXPECT_FALSE(m.makeStationaryAnalysis(alpha, 0.0, 100.0));
    EXPECT_FALSE(m.precisionReached());
    EXPECT_EQ(alpha, 0.05);

    EXPECT_EQ(items(m.AveragedMean), (std::vector<double>{3.0}));
    EXPECT_EQ(items(m.Variance), (std::vector<double>{2.5}));
    ASSERT_EQ(m.DeltaX.size(), 1u);
    ASSERT_EQ(m.Epsilon.size(), 1u);
    const double t = m.DeltaX.back() / (std::sqrt(2.5) / std::sqrt(5.0));
    EXPECT_NEAR(t, kT4, 1e-12);
    EXPECT_NEAR(t, 3.5852, 5e-5);
    EXPECT_NEAR(m.DeltaX.back(), 2.5351, 5e-5);
    EXPECT_NEAR(m.Epsilon.back(), 0.8450, 5e-5);
    EXPECT_NEAR(m.Epsilon.back(), m.DeltaX.back() / 3.0, 1e-15);

    // A tighter tolerance is not met.
    ProbeMeasure tight("M");
    feed(tight, {1.0, 2.0, 3.0, 4.0, 5.0});
    tight.setEpsMax(0.5);
    EXPECT_FALSE(tight.makeStationaryAnalysis(alpha, 0.0, 100.0));
    EXPECT_FALSE(tight.precisionReached());
}

// Only the newest estimate is ever read, so the lists do not grow with the
// run: each analysis replaces the entries of the one before.
TEST(MeasureObjStationaryTest, EveryAnalysisReplacesTheLastAndUsesAllValuesSoFar) {
    ProbeMeasure m("M");
    feed(m, {1.0, 2.0, 3.0, 4.0, 5.0});
    m.setEpsMax(0.01);
    double alpha = 0.05;
    m.makeStationaryAnalysis(alpha, 0.0, 0.0);
    m.addBatchValue(3.0);
    m.makeStationaryAnalysis(alpha, 0.0, 0.0);
    EXPECT_EQ(items(m.AveragedMean), (std::vector<double>{3.0}));
    EXPECT_EQ(items(m.Variance), (std::vector<double>{2.0}));
    EXPECT_EQ(m.DeltaX.size(), 1u);
    EXPECT_EQ(m.Epsilon.size(), 1u);
    // Six values: df 5 -> 2.571 + (3.365 - 2.571) * 5/6.
    const double t5 = 2.571 + (3.365 - 2.571) * 5.0 / 6.0;
    EXPECT_NEAR(m.DeltaX.back(), std::sqrt(2.0) * t5 / std::sqrt(6.0), 1e-12);
}

// A mean of exactly 0 has no relative error: nothing shows the accuracy,
// whether or not the values moved on the way (counting values that came
// back to a sum of 0 as accurate was a success nothing supported).
TEST(MeasureObjStationaryTest, ZeroMeanLeavesTheAccuracyAsItWas) {
    double alpha = 0.05;
    for (bool before : {false, true}) {
        ProbeMeasure m("M");
        feed(m, {1.0, -1.0, 1.0, -1.0, 0.0});
        m.setEpsMax(0.1);
        m.precision_reached = before;
        EXPECT_EQ(m.makeStationaryAnalysis(alpha, 0.0, 0.0), before);
        EXPECT_EQ(m.precisionReached(), before);
        EXPECT_EQ(items(m.AveragedMean), (std::vector<double>{0.0}));
        EXPECT_EQ(items(m.Variance), (std::vector<double>{1.0}));
        EXPECT_EQ(m.DeltaX.size(), 1u);
        EXPECT_EQ(items(m.Epsilon), (std::vector<double>{0.0}));
    }

    ProbeMeasure zeros("M");
    feed(zeros, {0.0, 0.0, 0.0, 0.0, 0.0});
    zeros.setEpsMax(0.1);
    EXPECT_FALSE(zeros.makeStationaryAnalysis(alpha, 0.0, 0.0));
    EXPECT_FALSE(zeros.precisionReached());
    EXPECT_EQ(items(zeros.AveragedMean), (std::vector<double>{0.0}));
    EXPECT_EQ(items(zeros.Variance), (std::vector<double>{0.0}));
    EXPECT_EQ(items(zeros.DeltaX), (std::vector<double>{0.0}));
    EXPECT_EQ(items(zeros.Epsilon), (std::vector<double>{0.0}));
}

TEST(MeasureObjStationaryTest, NegativeMeanKeepsTheSignOfEpsilon) {
    ProbeMeasure m("M");
    feed(m, {-1.0, -2.0, -3.0, -4.0, -5.0});
    m.setEpsMax(0.1);
    double alpha = 0.05;
    // The relative half-width keeps the sign of the mean, but it is its size
    // that counts: 84.5 % is far from 10 %.
    EXPECT_FALSE(m.makeStationaryAnalysis(alpha, 0.0, 0.0));
    EXPECT_NEAR(m.Epsilon.back(), -0.8450, 5e-5);
    EXPECT_FALSE(m.precisionReached());
}

TEST(MeasureObjStationaryTest, ReadsOnlyTheFirstBlock) {
    ProbeMeasure m("M");
    m.prepareRun(2);
    for (double v : {1.0, 2.0, 3.0, 4.0, 5.0}) m.addBatchValue(v);
    ++m.s_iter;
    for (double v : {100.0, 200.0}) m.addBatchValue(v);
    double alpha = 0.05;
    m.makeStationaryAnalysis(alpha, 0.0, 0.0);
    EXPECT_EQ(items(m.AveragedMean), (std::vector<double>{3.0}));
}

TEST(MeasureObjStationaryTest, FewerThanTwoValuesAppendNothing) {
    double alpha = 0.05;
    ProbeMeasure none("M");
    EXPECT_FALSE(none.makeStationaryAnalysis(alpha, 0.0, 0.0));  // no block at all
    ProbeMeasure one("M");
    feed(one, {4.0});
    one.precision_reached = true;
    EXPECT_TRUE(one.makeStationaryAnalysis(alpha, 0.0, 0.0));
    for (const ProbeMeasure* m : {&none, &one}) {
        EXPECT_TRUE(m->AveragedMean.empty());
        EXPECT_TRUE(m->Variance.empty());
        EXPECT_TRUE(m->DeltaX.empty());
        EXPECT_TRUE(m->Epsilon.empty());
    }
}

// --- accuracy decision -------------------------------------------------------------------------

TEST(MeasureObjPrecisionTest, PerCentRuleAtTwelvePointsAndTwoThousandReplications) {
    ProbeMeasure m("M");
    m.setPercentRule(true);
    m.setEpsMax(0.1);
    // Two of twelve points miss: allowed is floor(12 - 12 * 0.8) = 2.
    m.Epsilon = {0.2, 0.1, 0.05, 0.05, 0.05, 0.05, 0.05, 0.05, 0.05, 0.05, 0.05, 0.05};
    EXPECT_TRUE(m.measure_reached_precision(2000, 12, false));
    EXPECT_DOUBLE_EQ(m.PrecPortion, 0.8);
    EXPECT_EQ(m.PrecPortion, 1.0 - 2.0 / 10.0);
    EXPECT_EQ(std::floor(12.0 - 12.0 * m.PrecPortion), 2.0);
    // A third miss is one too many.
    m.Epsilon.back() = 0.3;
    EXPECT_FALSE(m.measure_reached_precision(2000, 12, false));
}

TEST(MeasureObjPrecisionTest, WithoutTheRuleEveryPointMustBeAccurate) {
    ProbeMeasure m("M");
    m.setEpsMax(0.1);
    m.Epsilon = {0.05, 0.099, 0.01};
    EXPECT_TRUE(m.measure_reached_precision(5000, 3, false));
    m.Epsilon.push_back(0.1);  // equal to the tolerance counts as a miss
    EXPECT_FALSE(m.measure_reached_precision(5000, 4, false));
    EXPECT_EQ(m.PrecPortion, 1.0);
}

TEST(MeasureObjPrecisionTest, PortionDropsPerThousandSamplesDownToZero) {
    ProbeMeasure m("M");
    m.setPercentRule(true);
    m.setEpsMax(0.1);
    m.Epsilon = {0.5};
    m.measure_reached_precision(999, 10, false);
    EXPECT_EQ(m.PrecPortion, 1.0);
    m.measure_reached_precision(1000, 10, false);
    EXPECT_DOUBLE_EQ(m.PrecPortion, 0.9);
    m.measure_reached_precision(1999, 10, false);
    EXPECT_DOUBLE_EQ(m.PrecPortion, 0.9);
    m.measure_reached_precision(9000, 10, false);
    EXPECT_DOUBLE_EQ(m.PrecPortion, 0.1);
    // From 10,000 samples on nothing needs to be accurate.
    EXPECT_TRUE(m.measure_reached_precision(10000, 1, true));
    EXPECT_EQ(m.PrecPortion, 0.0);
    EXPECT_TRUE(m.measure_reached_precision(25000, 1, true));
    EXPECT_EQ(m.PrecPortion, 0.0);
    // Below 10,000 a single stationary point must still be accurate.
    m.setPrecPortion(1.0);
    EXPECT_FALSE(m.measure_reached_precision(9999, 1, true));
}

TEST(MeasureObjPrecisionTest, SingleLooksAtTheLastEpsilonOnly) {
    ProbeMeasure m("M");
    m.setEpsMax(0.1);
    m.Epsilon = {0.9, 0.9, 0.05};
    EXPECT_TRUE(m.measure_reached_precision(10, 1, true));
    m.Epsilon = {0.05, 0.2};
    EXPECT_FALSE(m.measure_reached_precision(10, 1, true));
    // Without any relative half-width nothing shows the accuracy.
    m.Epsilon.clear();
    EXPECT_FALSE(m.measure_reached_precision(10, 1, true));
}

TEST(MeasureObjPrecisionTest, NaNAndNegativeRelativeErrorsCountBySize) {
    ProbeMeasure m("M");
    m.setEpsMax(0.1);
    m.Epsilon = {std::nan("")};
    EXPECT_FALSE(m.measure_reached_precision(10, 1, true));
    m.setPercentRule(true);  // not even the rule passes a NaN
    EXPECT_FALSE(m.measure_reached_precision(20000, 1, true));
    m.setPercentRule(false);
    m.setPrecPortion(1.0);
    m.Epsilon = {-0.5};  // a negative mean: 50 % in size
    EXPECT_FALSE(m.measure_reached_precision(10, 1, true));
    m.Epsilon = {-0.05};
    EXPECT_TRUE(m.measure_reached_precision(10, 1, true));
    m.Epsilon = {0.05, std::nan(""), 0.05};
    EXPECT_FALSE(m.measure_reached_precision(10, 3, false));
    EXPECT_EQ(m.missedPoints(), 1u);
    EXPECT_TRUE(std::isnan(m.largestEpsilon()));
}

TEST(MeasureObjPrecisionTest, SuccessByThePerCentRuleIsKnownAsSuch) {
    ProbeMeasure m("M");
    m.setEpsMax(0.1);
    m.setPercentRule(true);
    m.Epsilon = {0.05, 0.3, 0.02, 0.04, 0.01, 0.03, 0.02, 0.04, 0.01, 0.03};
    EXPECT_TRUE(m.measure_reached_precision(1500, 10, false));  // one miss allowed from 1,000 on
    m.precision_reached = true;
    EXPECT_TRUE(m.reachedOnlyByRule());
    EXPECT_EQ(m.missedPoints(), 1u);
    EXPECT_EQ(m.decidedPoints(), 10u);
    EXPECT_DOUBLE_EQ(m.largestEpsilon(), 0.3);
    *std::next(m.Epsilon.begin()) = 0.05;
    EXPECT_TRUE(m.measure_reached_precision(1500, 10, false));
    EXPECT_FALSE(m.reachedOnlyByRule());
}

namespace {
// Feeds `count` batch values from `value(n)` to a one-point stationary
// measure, analysing from the fifth on as the driver does; the result of the
// last analysis.
template <class Value>
bool analyseSeries(ProbeMeasure& m, unsigned count, Value value, unsigned* firstReached = nullptr) {
    m.prepareRun(1);
    double alpha = 0.2;
    bool reached = false;
    for (unsigned n = 1; n <= count; ++n) {
        m.addBatchValue(value(n));
        if (n > 4) reached = m.makeStationaryAnalysis(alpha, 0.0, 0.0);
        if (reached && firstReached != nullptr && *firstReached == 0) *firstReached = n;
    }
    return reached;
}
}  // namespace

// A stationary measure is judged at reviews only (a power of two of batch
// values), on batches that pass the correlation test and are worth at
// least 200 independent values.
TEST(MeasureObjStationaryTest, AccuracyIsDecidedAtReviewsWithEnoughEvidence) {
    ProbeMeasure m("M");
    m.setEpsMax(0.05);
    std::uint64_t state = 3;
    unsigned reachedAt = 0;
    analyseSeries(m, 2000, [&state](unsigned) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return 10.0 + static_cast<double>(state >> 11) / 9007199254740992.0;
    }, &reachedAt);
    // Epsilon is below 5 % from the first analyses on.
    EXPECT_EQ(reachedAt, 256u);
    EXPECT_FALSE(m.reachedOnlyByRule());
    EXPECT_GE(m.batchEstimate().effectiveSize, 200.0);
    EXPECT_EQ(m.AveragedMean.size(), 1u);
}

TEST(MeasureObjStationaryTest, ThePerCentRuleGrantsFromTenThousandValuesAndSaysSo) {
    for (bool rule : {false, true}) {
        ProbeMeasure m("M");
        m.setEpsMax(1e-6);  // never met
        m.setPercentRule(rule);
        unsigned first = 0;
        EXPECT_EQ(analyseSeries(m, 10000, [](unsigned n) { return n % 2 == 0 ? 1.0 : 3.0; }, &first), rule);
        EXPECT_EQ(first, rule ? 10000u : 0u);
        EXPECT_EQ(m.reachedOnlyByRule(), rule);
    }
}

TEST(MeasureObjStationaryTest, AMeanThatStaysZeroIsAccurateOnlyByTheRule) {
    for (bool rule : {false, true}) {
        ProbeMeasure m("M");
        m.setEpsMax(0.1);
        m.setPercentRule(rule);
        EXPECT_EQ(analyseSeries(m, 10000, [](unsigned) { return 0.0; }), rule);
        EXPECT_EQ(m.precisionReached(), rule);
        EXPECT_EQ(m.reachedOnlyByRule(), rule);
        EXPECT_EQ(m.Epsilon.back(), 0.0);
    }
}

TEST(MeasureObjStationaryTest, ABatchSeriesThatClimbsShowsNoSteadyState) {
    ProbeMeasure m("M");
    m.prepareRun(1);
    m.setEpsMax(0.5);
    double alpha = 0.2;
    for (int n = 1; n <= 200; ++n) m.addBatchValue(n);
    EXPECT_FALSE(m.makeStationaryAnalysis(alpha, 0.0, 0.0));
    EXPECT_TRUE(m.showsNoSteadyState());
    EXPECT_FALSE(m.stillCorrelated());
    ProbeMeasure calm("M");
    calm.prepareRun(1);
    for (int n = 1; n <= 200; ++n) calm.addBatchValue(n % 3);
    calm.makeStationaryAnalysis(alpha, 0.0, 0.0);
    EXPECT_FALSE(calm.showsNoSteadyState());
    EXPECT_FALSE(calm.stillCorrelated());
    // A slow swing, up and down again: correlated, but no drift.
    ProbeMeasure wave("M");
    wave.prepareRun(1);
    for (int n = 1; n <= 4096; ++n) wave.addBatchValue(5.0 + std::sin(n * 6.283185307179586 / 2048.0));
    wave.makeStationaryAnalysis(alpha, 0.0, 0.0);
    EXPECT_FALSE(wave.showsNoSteadyState());
    EXPECT_TRUE(wave.stillCorrelated());
}

// Transient points whose observations all agree are no evidence of
// accuracy before spreadlessMinimum observations, however small their
// interval: a ratio that is 1 in most replications shows exactly this.
TEST(MeasureObjTransientTest, PointsWithoutSpreadNeedEnoughObservations) {
    ProbeMeasure m("M");
    m.prepareRun(2);
    m.setEpsMax(0.05);
    double alpha = 0.2;
    const int needed = static_cast<int>(MeasureObj::spreadlessMinimum(alpha, 0.05));
    EXPECT_EQ(needed, 47);
    for (int r = 0; r < needed; ++r) {
        m.prepareReplication();
        m.makeTransientAnalysis(alpha, r % 2 == 0 ? 10.0 : 10.5, r, false);  // spread
        const bool reached = m.makeTransientAnalysis(alpha, 1.0 - 1e-8 / (1 + r % 5), r, true);  // none
        if (r + 1 < needed) {
            ASSERT_FALSE(reached) << r;
        } else {
            EXPECT_TRUE(reached);
        }
    }
    EXPECT_EQ(m.observationCount(), 47u);
    EXPECT_TRUE(std::isinf(MeasureObj::spreadlessMinimum(alpha, 0.0)));
}

// --- results file ----------------------------------------------------------------------------------

namespace {

// Three sampling points, 100 s, 100.5 s and 101 s.
void arrangeTransient(ProbeMeasure& m) {
    m.AveragedMean = {1.5, 2.0, 2.5};
    m.Variance = {0.25, 0.5, 0.75};
    m.DeltaX = {0.25, 0.5, 0.125};
    m.Epsilon = {0.125, 0.25, 0.0625};
}

// Two analyses; the block shows the last one.
void arrangeStationary(ProbeMeasure& m) {
    m.AveragedMean = {7.0, 3.0};
    m.Variance = {1.0, 2.5};
    m.DeltaX = {0.5, 0.75};
    m.Epsilon = {0.1, 0.25};
}

const char* const kAccuracyWarning =
    "WARNING:\n"
    "\tMeasure Throughput: Has not reached predefined accuracy!\n"
    "\tCurrent Values:\n"
    "\n";

}  // namespace

TEST(MeasureObjWriteResultTest, TransientTableWithAccuracyWarning) {
    ProbeMeasure m("Throughput");
    arrangeTransient(m);
    std::ostringstream file, console;
    const DateTime start(100.0);
    double interval = 0.5;
    m.writeResult(file, console, 0, &start, &interval);

    EXPECT_EQ(file.str(),
              std::string("Measure: Throughput\n") + kAccuracyWarning +
                  "\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
                  "\n"
                  "\t1.000000e+02\t1.500000e+00\t2.500000e-01\t[1.250000e+00;1.750000e+00]\t1.250000e-01\n"
                  "\t1.005000e+02\t2.000000e+00\t5.000000e-01\t[1.500000e+00;2.500000e+00]\t2.500000e-01\n"
                  "\t1.010000e+02\t2.500000e+00\t7.500000e-01\t[2.375000e+00;2.625000e+00]\t6.250000e-02\n"
                  "\n\n\n");
    EXPECT_EQ(console.str(),
              std::string("Measure: Throughput\n") + kAccuracyWarning +
                  "\tSim.Time\t                    Mean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
                  "\n"
                  "\t1.000000e+02\t                  1.500000e+00\t2.500000e-01\t\t[1.250000e+00;1.750000e+00]\t1.250000e-01\n"
                  "\t1.005000e+02\t                  2.000000e+00\t5.000000e-01\t\t[1.500000e+00;2.500000e+00]\t2.500000e-01\n"
                  "\t1.010000e+02\t                  2.500000e+00\t7.500000e-01\t\t[2.375000e+00;2.625000e+00]\t6.250000e-02\n"
                  "\n\n\n");
}

TEST(MeasureObjWriteResultTest, TransientTableOfAnAccurateMeasureHasNoWarning) {
    ProbeMeasure m("Busy");
    m.precision_reached = true;
    m.AveragedMean = {-4.0, 0.0};
    m.Variance = {16.0, 0.0};
    m.DeltaX = {1.0, 0.0};
    m.Epsilon = {-0.25, 0.0};
    std::ostringstream file, console;
    const DateTime start(0.0);
    double interval = 60.0;
    m.writeResult(file, console, 0, &start, &interval);

    EXPECT_EQ(file.str(),
              "Measure: Busy\n"
              "\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
              "\n"
              "\t0.000000e+00\t-4.000000e+00\t1.600000e+01\t[-5.000000e+00;-3.000000e+00]\t-2.500000e-01\n"
              "\t6.000000e+01\t0.000000e+00\t0.000000e+00\t[0.000000e+00;0.000000e+00]\t0.000000e+00\n"
              "\n\n\n");
    EXPECT_EQ(console.str(),
              "Measure: Busy\n"
              "\tSim.Time\t                    Mean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
              "\n"
              "\t0.000000e+00\t                 -4.000000e+00\t1.600000e+01\t\t[-5.000000e+00;-3.000000e+00]\t-2.500000e-01\n"
              "\t6.000000e+01\t                  0.000000e+00\t0.000000e+00\t\t[0.000000e+00;0.000000e+00]\t0.000000e+00\n"
              "\n\n\n");
}

TEST(MeasureObjWriteResultTest, TransientRowWithoutHalfWidthSaysSo) {
    ProbeMeasure m("Queue");
    m.precision_reached = true;
    m.AveragedMean = {4.0};
    m.Variance = {0.0};
    std::ostringstream file, console;
    const DateTime start(10.0);
    double interval = 1.0;
    m.writeResult(file, console, 0, &start, &interval);

    EXPECT_EQ(file.str(),
              "Measure: Queue\n"
              "\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
              "\n"
              "\t1.000000e+01\t4.000000e+00\t0.000000e+00\tno confidence interval: a single observation\n"
              "\n\n\n");
    EXPECT_EQ(console.str(),
              "Measure: Queue\n"
              "\tSim.Time\t                    Mean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
              "\n"
              "\t1.000000e+01\t                  4.000000e+00\t0.000000e+00\t\tno confidence interval: a single observation\n"
              "\n\n\n");
}

TEST(MeasureObjWriteResultTest, TransientTableStartsAtTheFirstEntryAfterReplications) {
    // The driver places the iterators on the empty lists at the start of a
    // replication; the table still shows every entry added afterwards.
    ProbeMeasure m("Throughput");
    m.prepareRun(3);
    m.prepareReplication();
    arrangeTransient(m);
    m.precision_reached = true;
    std::ostringstream file, console;
    const DateTime start(100.0);
    double interval = 0.5;
    m.writeResult(file, console, 0, &start, &interval);
    EXPECT_EQ(file.str(),
              "Measure: Throughput\n"
              "\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
              "\n"
              "\t1.000000e+02\t1.500000e+00\t2.500000e-01\t[1.250000e+00;1.750000e+00]\t1.250000e-01\n"
              "\t1.005000e+02\t2.000000e+00\t5.000000e-01\t[1.500000e+00;2.500000e+00]\t2.500000e-01\n"
              "\t1.010000e+02\t2.500000e+00\t7.500000e-01\t[2.375000e+00;2.625000e+00]\t6.250000e-02\n"
              "\n\n\n");
}

TEST(MeasureObjWriteResultTest, StationaryBlockShowsTheLastAnalysis) {
    for (int kind : {1, 2}) {
        ProbeMeasure m("Utilisation");
        arrangeStationary(m);
        m.precision_reached = true;
        std::ostringstream file, console;
        const DateTime start(0.0);
        double interval = 10.0;
        m.writeResult(file, console, kind, &start, &interval);

        EXPECT_EQ(file.str(),
                  "Measure: Utilisation\n"
                  "\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
                  "\n"
                  "\t3.000000e+00\t2.500000e+00\t[2.250000e+00;3.750000e+00]\t2.500000e-01\n"
                  "\n"
                  "\n")
            << "kind " << kind;
        EXPECT_EQ(console.str(),
                  "Measure: Utilisation\n"
                  "\tMean Value\t                      Variance\t\tConf.Interval\t\t\tEpsilon\n"
                  "\n"
                  "\t3.000000e+00\t                  2.500000e+00\t\t[2.250000e+00;3.750000e+00]\t2.500000e-01\n"
                  "\n"
                  "\n")
            << "kind " << kind;
    }
}

TEST(MeasureObjWriteResultTest, StationaryBlockOfAnInaccurateMeasureStartsWithTheWarning) {
    ProbeMeasure m("Throughput");
    arrangeStationary(m);
    std::ostringstream file, console;
    m.writeResult(file, console, 1, nullptr, nullptr);
    EXPECT_EQ(file.str(),
              std::string("Measure: Throughput\n") + kAccuracyWarning +
                  "\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
                  "\n"
                  "\t3.000000e+00\t2.500000e+00\t[2.250000e+00;3.750000e+00]\t2.500000e-01\n"
                  "\n"
                  "\n");
    EXPECT_EQ(console.str(),
              std::string("Measure: Throughput\n") + kAccuracyWarning +
                  "\tMean Value\t                      Variance\t\tConf.Interval\t\t\tEpsilon\n"
                  "\n"
                  "\t3.000000e+00\t                  2.500000e+00\t\t[2.250000e+00;3.750000e+00]\t2.500000e-01\n"
                  "\n"
                  "\n");
}

TEST(MeasureObjWriteResultTest, StationaryBlockWithoutAnalysisSaysNoEstimateExists) {
    ProbeMeasure m("Throughput");
    m.prepareRun(1);
    m.addBatchValue(1.0);  // too few values for an analysis
    std::ostringstream file, console;
    m.writeResult(file, console, 1, nullptr, nullptr);
    EXPECT_EQ(file.str(),
              std::string("Measure: Throughput\n") + kAccuracyWarning +
                  "\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
                  "\n"
                  "\tno estimate: no confidence analysis of the batch values was made\n"
                  "\n"
                  "\n");
    EXPECT_EQ(console.str(),
              std::string("Measure: Throughput\n") + kAccuracyWarning +
                  "\tMean Value\t                      Variance\t\tConf.Interval\t\t\tEpsilon\n"
                  "\n"
                  "\tno estimate: no confidence analysis of the batch values was made\n"
                  "\n"
                  "\n");
}

TEST(MeasureObjWriteResultTest, AccumulativeMeasureIsOnlyTabulatedInTransientRuns) {
    ProbeMeasure m("Fired", false, true);
    arrangeStationary(m);
    std::ostringstream file, console;
    m.writeResult(file, console, 1, nullptr, nullptr);
    const std::string cumulative =
        "Measure: Fired\n"
        "WARNING:\n"
        "\tMeasure Fired: Was chosen cumulative.\n"
        "\n";
    EXPECT_EQ(file.str(), cumulative);
    EXPECT_EQ(console.str(), cumulative);

    // Even an accurate accumulative measure has no stationary estimate.
    m.precision_reached = true;
    std::ostringstream file2, console2;
    m.writeResult(file2, console2, 2, nullptr, nullptr);
    EXPECT_EQ(file2.str(), cumulative);
    EXPECT_EQ(console2.str(), cumulative);

    // In a transient run the full table is written.
    ProbeMeasure t("Fired", false, true);
    t.precision_reached = true;
    t.AveragedMean = {2.0};
    t.Variance = {1.0};
    t.DeltaX = {0.5};
    t.Epsilon = {0.25};
    std::ostringstream file3, console3;
    const DateTime start(5.0);
    double interval = 5.0;
    t.writeResult(file3, console3, 0, &start, &interval);
    EXPECT_EQ(file3.str(),
              "Measure: Fired\n"
              "\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
              "\n"
              "\t5.000000e+00\t2.000000e+00\t1.000000e+00\t[1.500000e+00;2.500000e+00]\t2.500000e-01\n"
              "\n\n\n");
    EXPECT_EQ(console3.str(),
              "Measure: Fired\n"
              "\tSim.Time\t                    Mean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n"
              "\n"
              "\t5.000000e+00\t                  2.000000e+00\t1.000000e+00\t\t[1.500000e+00;2.500000e+00]\t2.500000e-01\n"
              "\n\n\n");
}

TEST(MeasureObjWriteResultTest, ImportanceFunctionWritesNothing) {
    for (int kind : {0, 1, 2}) {
        ProbeMeasure m("ImportanceFunction");
        arrangeStationary(m);
        std::ostringstream file, console;
        const DateTime start(0.0);
        double interval = 1.0;
        m.writeResult(file, console, kind, &start, &interval);
        EXPECT_EQ(file.str(), "") << "kind " << kind;
        EXPECT_EQ(console.str(), "") << "kind " << kind;
    }
}

TEST(MeasureObjWriteResultTest, NumberFormatStaysSetOnBothStreams) {
    ProbeMeasure m("Utilisation");
    arrangeStationary(m);
    m.precision_reached = true;
    std::ostringstream file, console;
    m.writeResult(file, console, 1, nullptr, nullptr);
    file.str("");
    console.str("");
    file << 0.5;
    console << 0.5;
    EXPECT_EQ(file.str(), "5.000000e-01");
    EXPECT_EQ(console.str(), "5.000000e-01");
    EXPECT_EQ(file.flags() & std::ios::adjustfield, std::ios::right);
    EXPECT_EQ(console.flags() & std::ios::adjustfield, std::ios::right);
}

// --- batches of different lengths -----------------------------------------------------------------

TEST(MeasureObjStationaryTest, BatchesAreWeightedByTheirLength) {
    // Three batches of a time average: 1.0 over 1 s, 3.0 over 3 s, 2.0 over
    // 2 s, ... The run's time average is the total integral over the total
    // time, not the plain mean of the batch values (which over-weights the
    // short batches).
    const std::vector<std::pair<double, double>> batches = {{1.0, 1.0}, {3.0, 3.0}, {2.0, 2.0},
                                                            {4.0, 1.0}, {2.5, 2.0}, {1.5, 4.0}};
    ProbeMeasure m("M");
    m.prepareRun(1);
    double integral = 0.0, time = 0.0;
    for (const auto& [value, length] : batches) {
        m.addBatchValue(value, length);
        integral += value * length;
        time += length;
    }
    m.setEpsMax(10.0);
    double alpha = 0.05;
    m.makeStationaryAnalysis(alpha, 0.0, 0.0);
    const double ratio = integral / time;
    EXPECT_NEAR(m.AveragedMean.back(), ratio, 1e-14);
    // The ratio estimator's variance in the measure's units:
    // sum(w^2 (y - R)^2) / (n - 1) / wbar^2.
    const double n = static_cast<double>(batches.size());
    double residuals = 0.0;
    for (const auto& [value, length] : batches) residuals += length * length * (value - ratio) * (value - ratio);
    const double wbar = time / n;
    EXPECT_NEAR(m.Variance.back(), residuals / (n - 1.0) / (wbar * wbar), 1e-12);
    const double t5 = 2.571 + (3.365 - 2.571) * 5.0 / 6.0;
    EXPECT_NEAR(m.DeltaX.back(), std::sqrt(m.Variance.back() / n) * t5, 1e-12);
    EXPECT_NEAR(m.Epsilon.back(), m.DeltaX.back() / ratio, 1e-14);
}

TEST(MeasureObjStationaryTest, EqualWeightsGiveThePlainMeanAndSampleVariance) {
    for (double w : {1.0, 0.25, 40.0}) {
        ProbeMeasure m("M");
        m.prepareRun(1);
        for (double v : {1.0, 2.0, 3.0, 4.0, 5.0}) m.addBatchValue(v, w);
        double alpha = 0.05;
        m.makeStationaryAnalysis(alpha, 0.0, 0.0);
        EXPECT_DOUBLE_EQ(m.AveragedMean.back(), 3.0) << w;
        EXPECT_DOUBLE_EQ(m.Variance.back(), 2.5) << w;
    }
    // Batches without any model time (every event at one instant) carry no
    // weight; when no batch has any, they count alike instead of dividing by 0.
    ProbeMeasure m("M");
    m.prepareRun(1);
    for (double v : {1.0, 2.0, 3.0, 4.0, 5.0}) m.addBatchValue(v, 0.0);
    double alpha = 0.05;
    m.makeStationaryAnalysis(alpha, 0.0, 0.0);
    EXPECT_EQ(m.AveragedMean.back(), 3.0);
    EXPECT_EQ(m.Variance.back(), 2.5);
}

TEST(MeasureObjStationaryTest, ANearlyConstantSeriesKeepsItsSmallVariance) {
    // Sums taken about the first value keep a tiny spread around a large
    // level from vanishing in rounding.
    ProbeMeasure m("M");
    m.prepareRun(1);
    const std::vector<double> values = {1e9 + 1.0, 1e9 + 2.0, 1e9 + 3.0, 1e9 + 4.0, 1e9 + 5.0};
    for (double v : values) m.addBatchValue(v, 3.0);
    double alpha = 0.05;
    m.makeStationaryAnalysis(alpha, 0.0, 0.0);
    EXPECT_DOUBLE_EQ(m.AveragedMean.back(), 1e9 + 3.0);
    EXPECT_NEAR(m.Variance.back(), 2.5, 1e-9);
}

// --- a replication taken back -----------------------------------------------------------------------

TEST(MeasureObjTransientTest, AnAbandonedReplicationLeavesNoTrace) {
    // Replications 1 and 2 complete; replication 3 is cut after two of its
    // three points; replication 4 then sees exactly what it would have seen
    // had replication 3 never started.
    auto replicate = [](ProbeMeasure& m, const std::vector<double>& xs, int a, bool complete) {
        double alpha = 0.1;
        m.prepareReplication();
        for (std::size_t k = 0; k < xs.size(); ++k) m.makeTransientAnalysis(alpha, xs[k], a, k + 1 == 3);
        if (complete) m.completeReplication();
    };
    ProbeMeasure cut("M"), clean("M");
    for (ProbeMeasure* m : {&cut, &clean}) {
        m->prepareRun(3);
        m->setEpsMax(0.5);
        replicate(*m, {1.0, 2.0, 3.0}, 0, true);
        replicate(*m, {2.0, 4.0, 5.0}, 1, true);
    }
    const std::vector<double> meansAfterTwo = items(cut.AveragedMean);
    replicate(cut, {9.0, 9.0}, 2, false);
    cut.abandonReplication();
    EXPECT_EQ(items(cut.AveragedMean), meansAfterTwo);  // the last complete table is back
    EXPECT_EQ(cut.mean_transient, clean.mean_transient);
    EXPECT_EQ(cut.m2, clean.m2);

    replicate(cut, {3.0, 1.0, 4.0}, 2, true);
    replicate(clean, {3.0, 1.0, 4.0}, 2, true);
    EXPECT_EQ(items(cut.AveragedMean), items(clean.AveragedMean));
    EXPECT_EQ(items(cut.Variance), items(clean.Variance));
    EXPECT_EQ(items(cut.DeltaX), items(clean.DeltaX));
    EXPECT_EQ(items(cut.Epsilon), items(clean.Epsilon));
    // Nothing is left to take back once a replication is complete.
    cut.abandonReplication();
    EXPECT_EQ(items(cut.AveragedMean), items(clean.AveragedMean));
}
