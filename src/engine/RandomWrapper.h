#pragma once
// One random stream behind a short interface. Every object that needs
// randomness owns its own wrapper, so each draws from its own stream and its
// draws do not shift anybody else's.
#include "engine/RngStream.h"

class RandomWrapper {
public:
    // Takes the package's next stream.
    RandomWrapper();

    // The next uniform number in (0, 1).
    double randu01() const;
    // A whole number from low to high inclusive, each with equal chance, from
    // one uniform draw. Bounds within the int range give exactly the
    // package's RandInt; wider bounds are kept, not cut to int.
    long randint(long low, long high) const;

    // Draws from now on from substream k of this wrapper's stream (from
    // its start). Independent replications of a run each take their own
    // substream, so replication k draws the same numbers wherever it runs.
    void useSubstream(unsigned long k) { stream.SetSubstream(k); }

    // Seed of the streams created from now on; see RngStream::SetPackageSeed.
    static bool SetPackageSeed(const unsigned long seed[6]);

private:
    // Drawing changes only the stream's position, not anything the owner
    // exposes, so drawing is allowed from const operations (the delay
    // distributions are const).
    mutable RngStream stream;
};
