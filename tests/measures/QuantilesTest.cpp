#include "measures/Quantiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ios>
#include <iostream>
#include <string>

#include "support/TestSupport.h"

using testsupport::CaptureStream;

namespace {

// Captures std::cout with its default number format, restoring the previous
// format afterwards, so that messages containing numbers read the same
// whatever other tests left on the stream.
class CoutCapture {
public:
    CoutCapture() : saved_(nullptr) {
        saved_.copyfmt(std::cout);
        std::ios defaults(nullptr);
        std::cout.copyfmt(defaults);
        capture_ = new CaptureStream(std::cout);
    }
    ~CoutCapture() {
        delete capture_;
        std::cout.copyfmt(saved_);
    }
    std::string text() const { return capture_->text(); }

private:
    std::ios saved_;
    CaptureStream* capture_;
};

// The levels the table lists; rows are 1..30 degrees of freedom.
const double kLevels[6] = {0.90, 0.95, 0.98, 0.99, 0.995, 0.999};

// The regularized incomplete beta function I_x(a, b), by its continued
// fraction (modified Lentz), which converges fast for x < (a + 1) / (a + b + 2);
// the other side uses I_x(a, b) = 1 - I_(1-x)(b, a).
double betaContinuedFraction(double a, double b, double x) {
    constexpr double kTiny = 1e-300;
    double c = 1.0;
    double d = 1.0 - (a + b) * x / (a + 1.0);
    if (std::fabs(d) < kTiny) d = kTiny;
    d = 1.0 / d;
    double h = d;
    for (int m = 1; m <= 10000; ++m) {
        const double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((a + m2 - 1.0) * (a + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < kTiny) d = kTiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < kTiny) c = kTiny;
        d = 1.0 / d;
        h *= d * c;
        aa = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1.0));
        d = 1.0 + aa * d;
        if (std::fabs(d) < kTiny) d = kTiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < kTiny) c = kTiny;
        d = 1.0 / d;
        const double step = d * c;
        h *= step;
        if (std::fabs(step - 1.0) < 1e-15) break;
    }
    return h;
}

double regularizedBeta(double a, double b, double x) {
    if (x <= 0.0) return 0.0;
    if (x >= 1.0) return 1.0;
    const double front =
        std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x));
    if (x < (a + 1.0) / (a + b + 2.0)) return front * betaContinuedFraction(a, b, x) / a;
    return 1.0 - front * betaContinuedFraction(b, a, 1.0 - x) / b;
}

// P(|T| <= t) for Student's t with df degrees of freedom, t >= 0.
double twoSidedCoverage(int df, double t) {
    const double n = df;
    return 1.0 - regularizedBeta(n / 2.0, 0.5, n / (n + t * t));
}

// The t with P(|T| <= t) = level, by bisection on the coverage, which grows
// with t; to far better than the table's three decimals.
double twoSidedQuantile(int df, double level) {
    double low = 0.0;
    double high = 1e4;
    for (int i = 0; i < 200 && high - low > 1e-12 * high; ++i) {
        const double mid = (low + high) / 2.0;
        (twoSidedCoverage(df, mid) < level ? low : high) = mid;
    }
    return (low + high) / 2.0;
}

}  // namespace

TEST(NormalDistrTest, MatchesKnownUpperTailQuantilesWithinTheApproximationError) {
    // normal_distr(0.025) is 1.9604 to four decimals.
    EXPECT_NEAR(normal_distr(0.025), 1.9604, 5e-5);
    // True quantiles; the approximation's error is below 4.5e-4.
    EXPECT_NEAR(normal_distr(0.025), 1.959964, 4.5e-4);
    EXPECT_NEAR(normal_distr(0.05), 1.644854, 4.5e-4);
    EXPECT_NEAR(normal_distr(0.075), 1.439531, 4.5e-4);
    EXPECT_NEAR(normal_distr(0.005), 2.575829, 4.5e-4);
    EXPECT_NEAR(normal_distr(0.5), 0.0, 4.5e-4);
}

TEST(NormalDistrTest, IsTheRationalApproximationItself) {
    // p = 0.025: t = sqrt(ln(1600)) and the correction of formula 26.2.23.
    const double t = std::sqrt(std::log(1600.0));
    const double expected = t - (2.515517 + 0.802853 * t + 0.010328 * t * t) /
                                    (1.0 + 1.432788 * t + 0.189269 * t * t + 0.001308 * t * t * t);
    EXPECT_DOUBLE_EQ(normal_distr(0.025), expected);
}

TEST(StudentQuantileCheck, TheIndependentQuantilesAreRight) {
    // The check's own quantiles, on cases known in closed form: one degree of
    // freedom is the Cauchy distribution, t = tan(pi * level / 2); two
    // degrees of freedom give t = sqrt(2 / (1 - level^2) - 2).
    const double pi = std::acos(-1.0);
    for (double level : kLevels) {
        EXPECT_NEAR(twoSidedQuantile(1, level), std::tan(pi * level / 2.0), 1e-9 * std::tan(pi * level / 2.0));
        EXPECT_NEAR(twoSidedQuantile(2, level), std::sqrt(2.0 / (1.0 - level * level) - 2.0), 1e-9);
    }
    // Far out, the t distribution approaches the normal one.
    EXPECT_NEAR(twoSidedQuantile(100000, 0.95), 1.959964, 1e-4);
}

TEST(StudentDistrTest, EveryTableEntryIsTheQuantileToThreeDecimals) {
    // The table holds the quantiles rounded to three decimals: every entry
    // is within half a unit of the last place of the true value.
    CoutCapture out;
    for (int df = 1; df <= 30; ++df) {
        for (double level : kLevels) {
            const double expected = twoSidedQuantile(df, level);
            EXPECT_NEAR(student_distr(df, level), expected, 5e-4 + 1e-9 * expected)
                << "df " << df << " level " << level;
        }
    }
    EXPECT_EQ(out.text(), "");
}

TEST(StudentDistrTest, TabulatedColumnIsChosenByTheLevelInThousandthsTruncated) {
    // 0.9995 is 999 thousandths after truncation: the 0.999 column, no
    // interpolation and no message.
    CoutCapture out;
    EXPECT_DOUBLE_EQ(student_distr(5, 0.9995), student_distr(5, 0.999));
    EXPECT_NEAR(student_distr(5, 0.999), twoSidedQuantile(5, 0.999), 5e-4);
    EXPECT_DOUBLE_EQ(student_distr(5, 0.9509), student_distr(5, 0.95));
    EXPECT_NEAR(student_distr(5, 0.95), twoSidedQuantile(5, 0.95), 5e-4);
    EXPECT_EQ(out.text(), "");
}

TEST(StudentDistrTest, InterpolatesLinearlyBetweenNeighbouringColumns) {
    CoutCapture out;
    // 0.975 lies between 0.95 and 0.98: f = 0.025 / 0.03 = 5/6.
    const double t95 = student_distr(10, 0.95);
    const double t98 = student_distr(10, 0.98);
    EXPECT_NEAR(student_distr(10, 0.975), t95 + (t98 - t95) * 5.0 / 6.0, 1e-9);
    // Linear interpolation of a convex curve lies above it, but not by much.
    EXPECT_GT(student_distr(10, 0.975), twoSidedQuantile(10, 0.975));
    EXPECT_LT(student_distr(10, 0.975), twoSidedQuantile(10, 0.975) * 1.02);
    // One case per pair of columns, each halfway.
    const double halfway[4][3] = {{1, 0.925, 0}, {3, 0.985, 2}, {3, 0.9925, 3}, {3, 0.997, 4}};
    for (const auto& row : halfway) {
        const int df = static_cast<int>(row[0]);
        const int column = static_cast<int>(row[2]);
        const double lower = student_distr(df, kLevels[column]);
        const double upper = student_distr(df, kLevels[column + 1]);
        EXPECT_NEAR(student_distr(df, row[1]), (lower + upper) / 2.0, 1e-9) << "df " << df << " level " << row[1];
    }
    EXPECT_EQ(out.text(), "");
}

TEST(StudentDistrTest, MoreThanThirtyDegreesOfFreedomUseTheNormalQuantile) {
    CoutCapture out;
    EXPECT_NEAR(student_distr(40, 0.95), normal_distr(0.025), 1e-12);
    EXPECT_NEAR(student_distr(40, 0.95), 1.9604, 5e-5);
    // No level check above 30 degrees of freedom.
    EXPECT_NEAR(student_distr(31, 0.85), normal_distr(0.075), 1e-12);
    EXPECT_NEAR(student_distr(31, 0.85), 1.4398, 5e-5);
    EXPECT_EQ(out.text(), "");
}

TEST(StudentDistrTest, LevelOutsideTheTableIsReportedAndYieldsZero) {
    CoutCapture out;
    EXPECT_EQ(student_distr(5, 0.85), 0.0);
    EXPECT_EQ(student_distr(30, 1.0), 0.0);
    EXPECT_EQ(out.text(),
              "student_distr: wrong level 0.85 by degree of freedom 5\n"
              "student_distr: wrong level 1 by degree of freedom 30\n");
}

TEST(StudentDistrTest, NonPositiveDegreeOfFreedomIsReportedAndYieldsNaN) {
    CoutCapture out;
    EXPECT_TRUE(std::isnan(student_distr(0, 0.95)));
    EXPECT_TRUE(std::isnan(student_distr(-3, 0.975)));
    EXPECT_EQ(out.text(),
              "t_student: invalid degree of freedom.\n"
              "t_student: invalid degree of freedom.\n");
}
