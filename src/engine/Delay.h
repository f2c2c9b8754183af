#pragma once
// Firing-delay distributions, each drawing from the object's own stream.
// All results are in seconds.
#include "engine/RandomWrapper.h"

class Delay : public RandomWrapper {
public:
    // Exponential with the given mean: -ln(1 - U) * mean, one draw; 0 without
    // a draw when mean < 0.
    double Exp(double mean) const;
    // Always `value`; no draw.
    double Det(double value) const;
    // Uniform on [low, high] (bounds swapped when low > high); one draw.
    double Uni(double low, double high) const;
    // Uniform whole number from low to high inclusive (bounds swapped when
    // high < low); one draw, also when low == high.
    double DUni(long low, long high) const;
    // Symmetric triangular on [low, high] with its peak at the midpoint (bounds
    // swapped when low > high), by rejection: two draws per attempt.
    double Triang(double low, double high) const;
    // Normal with mean mu and standard deviation sigma, by the polar method:
    // each accepted pair of draws yields two deviates, the second of which is
    // cached and returned by the next Norm call of any Delay object (scaled
    // with that call's own mu and sigma) without drawing.
    double Norm(double mu, double sigma) const;
    // e raised to Norm(mu, sigma): mu and sigma belong to the underlying normal.
    double LogNorm(double mu, double sigma) const;
    // Weibull: (-ln(1 - U))^(1 / shape) * scale; one draw.
    double Wei(double scale, double shape) const;

    // Drops the cached normal deviate. The cache is process-wide, so whether a
    // Norm call draws depends on every earlier Norm call in the process; code
    // (such as a test) that needs a known number of draws clears it first.
    static void resetNormCache();

private:
    static bool iset;    // a second normal deviate is cached in gset
    static double gset;  // the cached standard normal deviate
};
