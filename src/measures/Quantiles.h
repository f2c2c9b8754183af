#pragma once
// Quantiles used by the confidence analysis of the performance measures.

// Upper-tail quantile of the standard normal distribution: the z with
// P(Z > z) = p, by the rational approximation of Abramowitz and Stegun
// (formula 26.2.23, absolute error below 4.5e-4). Valid for 0 < p <= 0.5.
double normal_distr(double p);

// Two-sided quantile of Student's t distribution with df degrees of freedom
// for the confidence level `level` (0.95 gives the t with
// P(|T| <= t) = 0.95).
//  - df > 30: the normal quantile normal_distr((1 - level) / 2).
//  - df 1..30: the tabulated value (three decimals) for the levels 0.90,
//    0.95, 0.98, 0.99, 0.995 and 0.999, linear interpolation between the two
//    neighbouring columns for any other level in [0.9, 0.999]; a level
//    outside that range is reported on standard output
//    ("student_distr: wrong level ...") and yields 0.
//  - df <= 0: reported on standard output ("t_student: invalid degree of
//    freedom."); the result is a quiet NaN so that it cannot be mistaken for
//    a quantile (no analysis asks for such a degree of freedom).
double student_distr(int df, double level);
