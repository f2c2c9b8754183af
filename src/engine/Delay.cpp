#include "engine/Delay.h"

#include <cmath>
#include <utility>

bool Delay::iset = false;
double Delay::gset = 0.0;

double Delay::Exp(double mean) const {
    if (mean < 0)
        return 0.0;
    return -std::log(1.0 - randu01()) * mean;
}

double Delay::Det(double value) const { return value; }

double Delay::Uni(double low, double high) const {
    if (low > high)
        std::swap(low, high);
    return low + (high - low) * randu01();
}

double Delay::DUni(long low, long high) const {
    if (high < low)
        std::swap(low, high);
    return static_cast<double>(randint(low, high));
}

double Delay::Triang(double low, double high) const {
    if (low > high)
        std::swap(low, high);
    // (u1, u2) is uniform on [0, 1) x [0, 0.5); keeping the points under the
    // triangle with its peak at u1 = 0.5 leaves u1 with a triangular density.
    double u1, u2;
    for (;;) {
        u1 = randu01();
        u2 = randu01() / 2.0;
        if ((u1 < 0.5 && u1 > u2) || (u1 >= 0.5 && u2 > u1 - 0.5))
            break;
    }
    return low + (high - low) * u1;
}

double Delay::Norm(double mu, double sigma) const {
    if (iset) {
        iset = false;
        return gset * sigma + mu;
    }
    double x, y, s;
    do {
        x = 2.0 * randu01() - 1.0;
        y = 2.0 * randu01() - 1.0;
        s = x * x + y * y;
    } while (s >= 1.0 || s == 0.0);
    const double f = std::sqrt(-2.0 * std::log(s) / s);
    gset = x * f;
    iset = true;
    return y * f * sigma + mu;
}

double Delay::LogNorm(double mu, double sigma) const { return std::exp(Norm(mu, sigma)); }

double Delay::Wei(double scale, double shape) const {
    return std::pow(-std::log(1.0 - randu01()), 1.0 / shape) * scale;
}

void Delay::resetNormCache() {
    iset = false;
    gset = 0.0;
}
