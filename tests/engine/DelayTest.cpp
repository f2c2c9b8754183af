#include "engine/Delay.h"
#include "engine/RngStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <map>
#include <utility>

// Each distribution is checked draw by draw against a bare stream that starts
// in the same state as the Delay's own stream: the test computes the expected
// value from the stream's uniforms, and afterwards both must still produce the
// same next uniform, which shows the Delay used exactly as many draws.
namespace {

bool seedPackage(unsigned long k) {
    const unsigned long s[6] = {k, k + 11, k + 22, k + 33, k + 44, k + 55};
    return RngStream::SetPackageSeed(s);
}

struct Lockstep {
    explicit Lockstep(unsigned long k = 2024) : seeded(seedPackage(k)), reseeded(seedPackage(k)) {}
    bool seeded;  // initialised before `delay`, so the Delay's stream starts at seed k
    Delay delay;
    bool reseeded;  // initialised before `ref`, so `ref` starts at seed k as well
    RngStream ref;

    // One more draw from each; equal when both made the same number of draws.
    ::testing::AssertionResult inStep() {
        if (!seeded || !reseeded)
            return ::testing::AssertionFailure() << "package seed rejected";
        const double a = delay.randu01();
        const double b = ref.RandU01();
        if (a == b)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "Delay drew " << a << ", reference drew " << b;
    }
};

// The polar method on the reference stream: the returned and the cached
// standard deviates, and how many attempts (pairs of draws) it took.
struct Polar {
    double returned;
    double cached;
    int attempts;
};

Polar polar(RngStream& ref) {
    Polar p{0.0, 0.0, 0};
    double x, y, s;
    do {
        ++p.attempts;
        x = 2.0 * ref.RandU01() - 1.0;
        y = 2.0 * ref.RandU01() - 1.0;
        s = x * x + y * y;
    } while (s >= 1.0 || s == 0.0);
    const double f = std::sqrt(-2.0 * std::log(s) / s);
    p.returned = y * f;
    p.cached = x * f;
    return p;
}

// Triangular rejection on the reference stream: the accepted u1 and the attempts.
std::pair<double, int> triangular(RngStream& ref) {
    int attempts = 0;
    for (;;) {
        ++attempts;
        const double u1 = ref.RandU01();
        const double u2 = ref.RandU01() / 2.0;
        if ((u1 < 0.5 && u1 > u2) || (u1 >= 0.5 && u2 > u1 - 0.5))
            return {u1, attempts};
    }
}

// The first package seed k (from 1) whose stream satisfies `wanted`.
unsigned long findSeed(const std::function<bool(RngStream&)>& wanted) {
    for (unsigned long k = 1; k < 1000; ++k) {
        if (!seedPackage(k))
            break;
        RngStream probe;
        if (wanted(probe))
            return k;
    }
    ADD_FAILURE() << "no suitable seed found";
    return 1;
}

struct Moments {
    double mean;
    double sd;
};

template <typename Draw>
Moments moments(int n, Draw draw) {
    double sum = 0.0, sumSq = 0.0;
    for (int i = 0; i < n; ++i) {
        const double v = draw();
        sum += v;
        sumSq += v * v;
    }
    const double mean = sum / n;
    return {mean, std::sqrt((sumSq - n * mean * mean) / (n - 1))};
}

// Norm's cache is shared by every Delay in the process; start and leave each
// test without a cached deviate so the draw counts are known.
class DelayTest : public ::testing::Test {
protected:
    void SetUp() override { Delay::resetNormCache(); }
    void TearDown() override { Delay::resetNormCache(); }
};

}  // namespace

using DelayExp = DelayTest;
using DelayDet = DelayTest;
using DelayUni = DelayTest;
using DelayDUni = DelayTest;
using DelayTriang = DelayTest;
using DelayNorm = DelayTest;
using DelayLogNorm = DelayTest;
using DelayWei = DelayTest;

// ---------------------------------------------------------------------------

TEST_F(DelayExp, OneDrawPerValue) {
    Lockstep ls;
    for (int i = 0; i < 1000; ++i)
        ASSERT_DOUBLE_EQ(ls.delay.Exp(2.5), -std::log(1.0 - ls.ref.RandU01()) * 2.5);
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayExp, NegativeMeanGivesZeroWithoutDrawing) {
    Lockstep ls;
    EXPECT_EQ(ls.delay.Exp(-1.0), 0.0);
    EXPECT_EQ(ls.delay.Exp(-1e-9), 0.0);
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayExp, ZeroMeanGivesZeroAfterOneDraw) {
    Lockstep ls;
    EXPECT_EQ(ls.delay.Exp(0.0), 0.0);
    ls.ref.RandU01();
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayExp, SampleMeanIsTheMean) {
    Lockstep ls(7);
    double smallest = 1.0;
    const Moments m = moments(100000, [&] {
        const double v = ls.delay.Exp(2.0);
        smallest = std::min(smallest, v);
        return v;
    });
    // Standard error of the mean: 2 / sqrt(100000) = 0.0063.
    EXPECT_NEAR(m.mean, 2.0, 0.03);
    EXPECT_NEAR(m.sd, 2.0, 0.05);
    EXPECT_GT(smallest, 0.0);
}

// ---------------------------------------------------------------------------

TEST_F(DelayDet, ReturnsTheValueWithoutDrawing) {
    Lockstep ls;
    EXPECT_EQ(ls.delay.Det(3.25), 3.25);
    EXPECT_EQ(ls.delay.Det(0.0), 0.0);
    EXPECT_EQ(ls.delay.Det(-1.5), -1.5);
    EXPECT_EQ(ls.delay.Det(1e9), 1e9);
    EXPECT_TRUE(ls.inStep());
}

// ---------------------------------------------------------------------------

TEST_F(DelayUni, OneDrawPerValueAndSwappedBounds) {
    Lockstep ls;
    for (int i = 0; i < 1000; ++i) {
        const double v = ls.delay.Uni(5.0, 2.0);
        ASSERT_DOUBLE_EQ(v, 2.0 + 3.0 * ls.ref.RandU01());
        ASSERT_GE(v, 2.0);
        ASSERT_LE(v, 5.0);
        ASSERT_DOUBLE_EQ(ls.delay.Uni(-1.0, 1.0), -1.0 + 2.0 * ls.ref.RandU01());
    }
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayUni, EqualBoundsStillDraw) {
    Lockstep ls;
    EXPECT_EQ(ls.delay.Uni(4.0, 4.0), 4.0);
    ls.ref.RandU01();
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayUni, SampleMeanIsTheMidpoint) {
    Lockstep ls(8);
    const Moments m = moments(100000, [&] { return ls.delay.Uni(5.0, 2.0); });
    // Standard deviation 3 / sqrt(12) = 0.866; standard error of the mean 0.0027.
    EXPECT_NEAR(m.mean, 3.5, 0.015);
    EXPECT_NEAR(m.sd, 0.866, 0.01);
}

// ---------------------------------------------------------------------------

TEST_F(DelayDUni, SingleValueRangeGivesItWithOneDrawEach) {
    Lockstep ls;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(ls.delay.DUni(3, 3), 3.0);
        ls.ref.RandU01();
    }
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayDUni, SwappedBoundsCoverTheWholeRangeEvenly) {
    Lockstep ls(9);
    std::map<double, int> counts;
    for (int i = 0; i < 60000; ++i) {
        const double v = ls.delay.DUni(7, 2);
        ASSERT_EQ(v, 2.0 + static_cast<int>(6.0 * ls.ref.RandU01()));
        ++counts[v];
    }
    EXPECT_TRUE(ls.inStep());
    ASSERT_EQ(counts.size(), 6u);
    EXPECT_EQ(counts.begin()->first, 2.0);
    EXPECT_EQ(counts.rbegin()->first, 7.0);
    // Expected 10000 each, standard deviation about 91.
    for (const auto& [value, count] : counts)
        EXPECT_NEAR(count, 10000, 450) << "value " << value;
}

TEST_F(DelayDUni, NegativeRange) {
    Lockstep ls;
    for (int i = 0; i < 500; ++i) {
        const double v = ls.delay.DUni(-2, 2);
        ASSERT_EQ(v, -2.0 + static_cast<int>(5.0 * ls.ref.RandU01()));
        ASSERT_GE(v, -2.0);
        ASSERT_LE(v, 2.0);
    }
}

TEST_F(DelayDUni, BoundsBeyondTheIntRangeAreKept) {
    // Cut to int, these bounds used to give numbers outside the range.
    Lockstep ls;
    const long low = -5000000000L, high = 9000000000L;
    for (int i = 0; i < 2000; ++i) {
        const double v = ls.delay.DUni(low, high);
        const double u = ls.ref.RandU01();
        ASSERT_GE(v, static_cast<double>(low));
        ASSERT_LE(v, static_cast<double>(high));
        ASSERT_NEAR(v, low + std::floor((static_cast<double>(high) - low + 1.0) * u), 2.0);
    }
    EXPECT_TRUE(ls.inStep());
    // The whole long range, and the same range with the bounds swapped.
    RandomWrapper r;
    int negative = 0, beyondInt = 0;
    for (int i = 0; i < 1000; ++i) {
        if (r.randint(LONG_MIN, LONG_MAX) < 0) ++negative;
        const long w = r.randint(3000000000L, -3000000000L);
        ASSERT_TRUE(w >= -3000000000L && w <= 3000000000L) << w;
        if (w > INT_MAX || w < INT_MIN) ++beyondInt;
    }
    EXPECT_NEAR(negative, 500, 80);     // half of the range lies below 0
    EXPECT_NEAR(beyondInt, 284, 60);    // 1 - 2^32 / 6e9 of the range lies beyond int
}

// ---------------------------------------------------------------------------

TEST_F(DelayTriang, RejectedAttemptsDrawAgain) {
    // A stream whose first pair (u1, u2 / 2) lies outside the triangle.
    const unsigned long k = findSeed([](RngStream& g) {
        const double u1 = g.RandU01();
        const double u2 = g.RandU01() / 2.0;
        return !((u1 < 0.5 && u1 > u2) || (u1 >= 0.5 && u2 > u1 - 0.5));
    });
    Lockstep ls(k);
    const auto [u1, attempts] = triangular(ls.ref);
    EXPECT_GE(attempts, 2);
    EXPECT_DOUBLE_EQ(ls.delay.Triang(1.0, 5.0), 1.0 + 4.0 * u1);
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayTriang, TwoDrawsPerAttempt) {
    Lockstep ls;
    int rejected = 0;
    for (int i = 0; i < 2000; ++i) {
        const bool swapped = i % 2 == 1;
        const double v = swapped ? ls.delay.Triang(5.0, 1.0) : ls.delay.Triang(1.0, 5.0);
        const auto [u1, attempts] = triangular(ls.ref);
        rejected += attempts - 1;
        ASSERT_DOUBLE_EQ(v, 1.0 + 4.0 * u1);
        ASSERT_GE(v, 1.0);
        ASSERT_LE(v, 5.0);
    }
    EXPECT_TRUE(ls.inStep());
    // Half of all attempts are rejected on average.
    EXPECT_GT(rejected, 1500);
    EXPECT_LT(rejected, 2500);
}

TEST_F(DelayTriang, ShapeIsSymmetricTriangle) {
    Lockstep ls(10);
    const int n = 100000;
    int middleHalf = 0, lowTenth = 0, highTenth = 0;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double v = ls.delay.Triang(0.0, 1.0);
        sum += v;
        middleHalf += (v >= 0.25 && v < 0.75);
        lowTenth += (v < 0.1);
        highTenth += (v >= 0.9);
    }
    // Density 4x below the peak: P(< 0.25) = 0.125, P(< 0.1) = 0.02.
    EXPECT_NEAR(sum / n, 0.5, 0.005);
    EXPECT_NEAR(middleHalf / double(n), 0.75, 0.01);
    EXPECT_NEAR(lowTenth / double(n), 0.02, 0.003);
    EXPECT_NEAR(highTenth / double(n), 0.02, 0.003);
}

// ---------------------------------------------------------------------------

TEST_F(DelayNorm, FirstCallDrawsTwiceSecondCallNotAtAll) {
    // A stream whose first pair is accepted.
    const unsigned long k = findSeed([](RngStream& g) {
        const double x = 2.0 * g.RandU01() - 1.0;
        const double y = 2.0 * g.RandU01() - 1.0;
        const double s = x * x + y * y;
        return s < 1.0 && s != 0.0;
    });
    Lockstep ls(k);
    const Polar p = polar(ls.ref);
    ASSERT_EQ(p.attempts, 1);
    EXPECT_DOUBLE_EQ(ls.delay.Norm(1.0, 2.0), p.returned * 2.0 + 1.0);
    EXPECT_DOUBLE_EQ(ls.delay.Norm(1.0, 2.0), p.cached * 2.0 + 1.0);
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayNorm, RejectedAttemptsDrawAgain) {
    const unsigned long k = findSeed([](RngStream& g) {
        const double x = 2.0 * g.RandU01() - 1.0;
        const double y = 2.0 * g.RandU01() - 1.0;
        return x * x + y * y >= 1.0;
    });
    Lockstep ls(k);
    const Polar p = polar(ls.ref);
    EXPECT_GE(p.attempts, 2);
    EXPECT_DOUBLE_EQ(ls.delay.Norm(0.0, 1.0), p.returned);
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayNorm, CachedDeviateServesAnyDelayWithItsOwnParameters) {
    Lockstep first(31);
    Lockstep second(32);
    const Polar p = polar(first.ref);
    EXPECT_DOUBLE_EQ(first.delay.Norm(0.0, 1.0), p.returned);
    // Another object's call takes the cached deviate, scaled its own way,
    // without drawing from its stream.
    EXPECT_DOUBLE_EQ(second.delay.Norm(10.0, 3.0), p.cached * 3.0 + 10.0);
    // The cache is used up: the next call draws (from its own stream).
    const Polar q = polar(second.ref);
    EXPECT_DOUBLE_EQ(second.delay.Norm(-4.0, 0.5), q.returned * 0.5 - 4.0);
    EXPECT_TRUE(first.inStep());
    EXPECT_TRUE(second.inStep());
}

TEST_F(DelayNorm, LongRunFollowsThePolarMethod) {
    Lockstep ls;
    bool cached = false;
    double cachedDeviate = 0.0;
    int rejected = 0;
    for (int i = 0; i < 2000; ++i) {
        const double mu = i % 7 - 3.0;
        const double sigma = 0.5 + i % 5;
        const double v = ls.delay.Norm(mu, sigma);
        double expected;
        if (cached) {
            expected = cachedDeviate * sigma + mu;
            cached = false;
        } else {
            const Polar p = polar(ls.ref);
            rejected += p.attempts - 1;
            expected = p.returned * sigma + mu;
            cachedDeviate = p.cached;
            cached = true;
        }
        ASSERT_DOUBLE_EQ(v, expected) << "call " << i;
    }
    EXPECT_TRUE(ls.inStep());
    // 1 - pi / 4 of the attempts are rejected: about 273 in 1000 accepted pairs.
    EXPECT_GT(rejected, 150);
    EXPECT_LT(rejected, 450);
}

TEST_F(DelayNorm, ResetDropsTheCachedDeviate) {
    Lockstep ls;
    const Polar p = polar(ls.ref);
    EXPECT_DOUBLE_EQ(ls.delay.Norm(0.0, 1.0), p.returned);
    Delay::resetNormCache();
    const Polar q = polar(ls.ref);
    EXPECT_DOUBLE_EQ(ls.delay.Norm(0.0, 1.0), q.returned);
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayNorm, SampleMomentsAreMuAndSigma) {
    Lockstep ls(11);
    const Moments m = moments(100000, [&] { return ls.delay.Norm(5.0, 2.0); });
    // Standard errors: 0.0063 for the mean, 0.0045 for the deviation.
    EXPECT_NEAR(m.mean, 5.0, 0.03);
    EXPECT_NEAR(m.sd, 2.0, 0.025);
}

// ---------------------------------------------------------------------------

TEST_F(DelayLogNorm, IsExpOfNormAndSharesItsCache) {
    Lockstep ls;
    const Polar p = polar(ls.ref);
    EXPECT_DOUBLE_EQ(ls.delay.LogNorm(0.5, 0.25), std::exp(p.returned * 0.25 + 0.5));
    EXPECT_DOUBLE_EQ(ls.delay.Norm(1.0, 2.0), p.cached * 2.0 + 1.0);

    const Polar q = polar(ls.ref);
    EXPECT_DOUBLE_EQ(ls.delay.Norm(0.0, 1.0), q.returned);
    EXPECT_DOUBLE_EQ(ls.delay.LogNorm(-1.0, 0.1), std::exp(q.cached * 0.1 - 1.0));
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayLogNorm, ParametersAreThoseOfTheUnderlyingNormal) {
    Lockstep ls(12);
    const int n = 100000;
    double sum = 0.0, sumLog = 0.0, smallest = 1.0;
    for (int i = 0; i < n; ++i) {
        const double v = ls.delay.LogNorm(1.0, 0.5);
        smallest = std::min(smallest, v);
        sum += v;
        sumLog += std::log(v);
    }
    EXPECT_GT(smallest, 0.0);
    EXPECT_NEAR(sumLog / n, 1.0, 0.008);  // standard error 0.0016
    // Mean exp(mu + sigma^2 / 2) = 3.080; standard error about 0.005.
    EXPECT_NEAR(sum / n, std::exp(1.0 + 0.125), 0.03);
}

// ---------------------------------------------------------------------------

TEST_F(DelayWei, OneDrawPerValue) {
    Lockstep ls;
    for (int i = 0; i < 1000; ++i) {
        const double v = ls.delay.Wei(3.0, 2.0);
        ASSERT_DOUBLE_EQ(v, std::pow(-std::log(1.0 - ls.ref.RandU01()), 0.5) * 3.0);
        ASSERT_GT(v, 0.0);
    }
    EXPECT_TRUE(ls.inStep());
}

TEST_F(DelayWei, SampleMeanMatchesScaleAndShape) {
    Lockstep ls(13);
    const Moments m = moments(100000, [&] { return ls.delay.Wei(3.0, 2.0); });
    // Mean scale * Gamma(1 + 1 / shape) = 2.659; standard error 0.0044.
    EXPECT_NEAR(m.mean, 3.0 * std::tgamma(1.5), 0.02);
    // Shape 1 is the exponential distribution with mean `scale`.
    const Moments e = moments(100000, [&] { return ls.delay.Wei(2.0, 1.0); });
    EXPECT_NEAR(e.mean, 2.0, 0.03);
}
