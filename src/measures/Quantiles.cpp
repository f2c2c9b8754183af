#include "measures/Quantiles.h"

#include <cmath>
#include <iostream>
#include <limits>

namespace {

// Two-sided quantiles of Student's t distribution; row i is i + 1 degrees of
// freedom, the columns are the levels 0.90, 0.95, 0.98, 0.99, 0.995, 0.999.
constexpr int kTableRows = 30;
constexpr double kStudentTable[kTableRows][6] = {
    {6.314, 12.706, 31.821, 63.657, 127.321, 636.619},
    {2.920, 4.303, 6.965, 9.925, 14.089, 31.599},
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
    {1.740, 2.110, 2.567, 2.898, 3.222, 3.965},
    {1.734, 2.101, 2.552, 2.878, 3.197, 3.922},
    {1.729, 2.093, 2.539, 2.861, 3.174, 3.883},
    {1.725, 2.086, 2.528, 2.845, 3.153, 3.850},
    {1.721, 2.080, 2.518, 2.831, 3.135, 3.819},
    {1.717, 2.074, 2.508, 2.819, 3.119, 3.792},
    {1.714, 2.069, 2.500, 2.807, 3.104, 3.768},
    {1.711, 2.064, 2.492, 2.797, 3.091, 3.745},
    {1.708, 2.060, 2.485, 2.787, 3.078, 3.725},
    {1.706, 2.056, 2.479, 2.779, 3.067, 3.707},
    {1.703, 2.052, 2.473, 2.771, 3.057, 3.690},
    {1.701, 2.048, 2.467, 2.763, 3.047, 3.674},
    {1.699, 2.045, 2.462, 2.756, 3.038, 3.659},
    {1.697, 2.042, 2.457, 2.750, 3.030, 3.646},
};

enum Column { L900, L950, L980, L990, L995, L999 };

}  // namespace

double normal_distr(double p) {
    const double c0 = 2.515517, c1 = 0.802853, c2 = 0.010328;
    const double d0 = 1.0, d1 = 1.432788, d2 = 0.189269, d3 = 0.001308;
    const double t = std::sqrt(std::log(1.0 / (p * p)));
    return t - (c0 + c1 * t + c2 * t * t) / (d0 + d1 * t + d2 * t * t + d3 * t * t * t);
}

double student_distr(int df, double level) {
    if (df <= 0) {
        std::cout << "t_student: invalid degree of freedom." << std::endl;
        // Not a quantile: callers that misuse the function see NaN propagate
        // instead of a plausible number.
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (df > kTableRows) return normal_distr((1.0 - level) / 2.0);

    const double* row = kStudentTable[df - 1];
    // The tabulated levels are recognised by the level in thousandths,
    // truncated toward zero.
    switch (static_cast<int>(level * 1000.0)) {
        case 900: return row[L900];
        case 950: return row[L950];
        case 980: return row[L980];
        case 990: return row[L990];
        case 995: return row[L995];
        case 999: return row[L999];
        default: break;
    }
    if (level < 0.9 || level > 0.999) {
        std::cout << "student_distr: wrong level " << level << " by degree of freedom " << df
                  << std::endl;
        return 0.0;
    }

    double low, high, f;
    if (level > 0.995) {
        low = row[L995]; high = row[L999]; f = (level - 0.995) / 0.004;
    } else if (level > 0.99) {
        low = row[L990]; high = row[L995]; f = (level - 0.99) / 0.005;
    } else if (level > 0.98) {
        low = row[L980]; high = row[L990]; f = (level - 0.98) / 0.01;
    } else if (level > 0.95) {
        low = row[L950]; high = row[L980]; f = (level - 0.95) / 0.03;
    } else {
        low = row[L900]; high = row[L950]; f = (level - 0.9) / 0.05;
    }
    return low + (high - low) * f;
}
