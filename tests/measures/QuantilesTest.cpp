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

// Two-sided quantiles of Student's t distribution, written out from the
// reference table: rows are 1..30 degrees of freedom, columns the levels
// below.
const double kLevels[6] = {0.90, 0.95, 0.98, 0.99, 0.995, 0.999};
const double kTable[30][6] = {
    {6.314, 12.706, 31.821, 63.657, 127.321, 636.619},
    {2.920, 4.303, 6.965, 9.925, 14.089, 31.598},
    {2.353, 3.182, 4.541, 5.841, 7.453, 12.924},
    {2.132, 2.776, 3.747, 4.604, 5.598, 8.610},
    {2.015, 2.571, 3.365, 4.032, 4.773, 6.869},
    {1.943, 2.447, 3.143, 3.707, 4.317, 5.959},
    {1.895, 2.365, 2.998, 3.499, 4.029, 5.408},
    {1.860, 2.306, 2.896, 3.355, 3.833, 5.041},
    {1.833, 2.262, 2.821, 3.250, 3.690, 4.781},
    {1.812, 2.228, 2.764, 3.169, 3.581, 4.587},
    {1.796, 2.201, 2.718, 3.106, 3.497, 4.437},
    {1.782, 2.179, 2.681, 3.055, 3.428, 4.318},
    {1.771, 2.160, 2.650, 3.012, 3.372, 4.221},
    {1.761, 2.145, 2.624, 2.977, 3.326, 4.140},
    {1.753, 2.131, 2.602, 2.947, 3.286, 4.073},
    {1.746, 2.120, 2.583, 2.921, 3.252, 4.015},
    {1.740, 2.110, 2.567, 2.898, 3.223, 3.965},
    {1.734, 2.101, 2.552, 2.878, 3.197, 3.922},
    {1.729, 2.093, 2.539, 2.861, 3.174, 3.883},
    {1.725, 2.086, 2.528, 2.845, 3.153, 3.850},
    {1.721, 2.080, 2.518, 2.831, 3.135, 3.819},
    {1.717, 2.074, 2.508, 2.819, 3.119, 3.792},
    {1.714, 2.069, 2.500, 2.807, 3.104, 3.768},
    {1.711, 2.064, 2.492, 2.797, 3.090, 3.745},
    {1.708, 2.060, 2.485, 2.787, 3.078, 3.725},
    {1.706, 2.056, 2.479, 2.779, 3.067, 3.707},
    {1.703, 2.052, 2.473, 2.771, 3.057, 3.690},
    {1.701, 2.048, 2.467, 2.763, 3.047, 3.674},
    {1.699, 2.045, 2.462, 2.756, 3.038, 3.659},
    {1.697, 2.042, 2.457, 2.750, 3.030, 3.646},
};

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

TEST(StudentDistrTest, ReturnsEveryTableEntryAtTheTabulatedLevels) {
    CoutCapture out;
    for (int df = 1; df <= 30; ++df) {
        for (int c = 0; c < 6; ++c) {
            EXPECT_DOUBLE_EQ(student_distr(df, kLevels[c]), kTable[df - 1][c])
                << "df " << df << " level " << kLevels[c];
        }
    }
    EXPECT_EQ(out.text(), "");
}

TEST(StudentDistrTest, KnownTableValues) {
    EXPECT_DOUBLE_EQ(student_distr(10, 0.95), 2.228);
    EXPECT_DOUBLE_EQ(student_distr(30, 0.999), 3.646);
    EXPECT_DOUBLE_EQ(student_distr(1, 0.9), 6.314);
}

TEST(StudentDistrTest, TabulatedColumnIsChosenByTheLevelInThousandthsTruncated) {
    // 0.9995 is 999 thousandths after truncation: the 0.999 column, no
    // interpolation and no message.
    CoutCapture out;
    EXPECT_DOUBLE_EQ(student_distr(5, 0.9995), 6.869);
    EXPECT_DOUBLE_EQ(student_distr(5, 0.9509), 2.571);
    EXPECT_EQ(out.text(), "");
}

TEST(StudentDistrTest, InterpolatesLinearlyBetweenNeighbouringColumns) {
    CoutCapture out;
    // 0.975 lies between 0.95 and 0.98: f = 0.025 / 0.03 = 5/6.
    EXPECT_NEAR(student_distr(10, 0.975), 2.228 + (2.764 - 2.228) * 5.0 / 6.0, 1e-9);
    EXPECT_NEAR(student_distr(10, 0.975), 2.6747, 5e-5);
    EXPECT_NEAR(student_distr(4, 0.975), 3.5852, 5e-5);
    // One case per pair of columns, each halfway.
    EXPECT_NEAR(student_distr(1, 0.925), (6.314 + 12.706) / 2.0, 1e-9);
    EXPECT_NEAR(student_distr(3, 0.985), (4.541 + 5.841) / 2.0, 1e-9);
    EXPECT_NEAR(student_distr(3, 0.9925), (5.841 + 7.453) / 2.0, 1e-9);
    EXPECT_NEAR(student_distr(3, 0.997), (7.453 + 12.924) / 2.0, 1e-9);
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
