#include "engine/RandomWrapper.h"

RandomWrapper::RandomWrapper() : stream("") {}

double RandomWrapper::randu01() const { return stream.RandU01(); }

long RandomWrapper::randint(long low, long high) const {
    return stream.RandInt(static_cast<int>(low), static_cast<int>(high));
}

bool RandomWrapper::SetPackageSeed(const unsigned long seed[6]) {
    return RngStream::SetPackageSeed(seed);
}
