#include "engine/RandomWrapper.h"

#include <climits>
#include <cmath>
#include <utility>

RandomWrapper::RandomWrapper() : stream("") {}

double RandomWrapper::randu01() const { return stream.RandU01(); }

long RandomWrapper::randint(long low, long high) const {
    if (low >= INT_MIN && low <= INT_MAX && high >= INT_MIN && high <= INT_MAX)
        return stream.RandInt(static_cast<int>(low), static_cast<int>(high));
    // Bounds beyond the int range: the same rule (low + floor((high - low + 1)
    // * U), one draw) in wide arithmetic instead of cutting the bounds to int.
    // Beyond 2^53 values apart not every whole number can be drawn, as a
    // double holds no more digits.
    if (high < low) std::swap(low, high);
    const unsigned long range = static_cast<unsigned long>(high) - static_cast<unsigned long>(low);
    const double offset = std::floor((static_cast<double>(range) + 1.0) * stream.RandU01());
    const unsigned long k = offset >= static_cast<double>(range) ? range : static_cast<unsigned long>(offset);
    return static_cast<long>(static_cast<unsigned long>(low) + k);
}

bool RandomWrapper::SetPackageSeed(const unsigned long seed[6]) {
    return RngStream::SetPackageSeed(seed);
}
