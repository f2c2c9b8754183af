#pragma once
// L'Ecuyer's combined multiple-recursive generator MRG32k3a, split into
// streams 2^127 steps apart, each split into substreams 2^76 steps apart.
//
// Each stream is created at the package's "next seed", which then jumps ahead
// one stream; the whole process is therefore reproducible for a given package
// seed and a given order of stream creation.
//
// The state of each component is kept in doubles: every value is an integer
// below 2^32, and all arithmetic on it is exact (products that could exceed
// 2^53 are split, see multModM in the source).
#include <array>
#include <string>

class RngStream {
public:
    // Moduli and multipliers of the two component recurrences
    //   x(n) = (a12 x(n-2) - a13n x(n-3)) mod m1,
    //   y(n) = (a21 y(n-1) - a23n y(n-3)) mod m2.
    static constexpr double m1 = 4294967087.0;
    static constexpr double m2 = 4294944443.0;
    static constexpr double a12 = 1403580.0;
    static constexpr double a13n = 810728.0;
    static constexpr double a21 = 527612.0;
    static constexpr double a23n = 1370589.0;

    // One step of each component as a matrix on the column vector of its three
    // state values (oldest first); negative entries are reduced modulo m when
    // the matrices are multiplied.
    static constexpr double A1p0[3][3] = {
        {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, {-810728.0, 1403580.0, 0.0}};
    static constexpr double A2p0[3][3] = {
        {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, {-1370589.0, 0.0, 527612.0}};

    // One step backwards: the inverses of A1p0 modulo m1 and A2p0 modulo m2.
    static constexpr double InvA1[3][3] = {
        {184888585.0, 0.0, 1945170933.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}};
    static constexpr double InvA2[3][3] = {
        {0.0, 360363334.0, 4225571728.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}};

    // Jump to the next substream: A1p0^(2^76) mod m1 and A2p0^(2^76) mod m2,
    // obtained by squaring the step matrices 76 times.
    static constexpr double A1p76[3][3] = {
        {82758667.0, 1871391091.0, 4127413238.0},
        {3672831523.0, 69195019.0, 1871391091.0},
        {3672091415.0, 3528743235.0, 69195019.0}};
    static constexpr double A2p76[3][3] = {
        {1511326704.0, 3759209742.0, 1610795712.0},
        {4292754251.0, 1511326704.0, 3889917532.0},
        {3859662829.0, 4292754251.0, 3708466080.0}};

    // Jump to the next stream: A1p0^(2^127) mod m1 and A2p0^(2^127) mod m2,
    // obtained by squaring the step matrices 127 times.
    static constexpr double A1p127[3][3] = {
        {2427906178.0, 3580155704.0, 949770784.0},
        {226153695.0, 1230515664.0, 3580155704.0},
        {1988835001.0, 986791581.0, 1230515664.0}};
    static constexpr double A2p127[3][3] = {
        {1464411153.0, 277697599.0, 1610723613.0},
        {32183930.0, 1464411153.0, 1022607788.0},
        {2824425944.0, 32183930.0, 2093834863.0}};

    // A new stream starting at the package's next seed; the next seed then
    // moves on by 2^127 steps. `name` only labels the state printouts.
    explicit RngStream(const char* name = "");

    // Sets the seed of the next stream to be created. The first three values
    // must be below m1 and not all 0, the last three below m2 and not all 0;
    // otherwise the problem is reported on standard error, nothing changes and
    // the result is false. Existing streams are not affected.
    static bool SetPackageSeed(const unsigned long seed[6]);

    // The seed the next stream will be created at, and a way back to it
    // moved on by k substreams: streams created after
    // SetPackageSeedSubstream(base, k) are the streams that would have been
    // created at `base`, each at its substream k. A run whose k-th part
    // creates its streams this way draws the same numbers in that part
    // whatever ran before it.
    using Seed = std::array<double, 6>;
    static Seed PackageSeed();
    static void SetPackageSeedSubstream(const Seed& base, unsigned long k);

    // Back to the start of the stream (which also becomes the current substream).
    void ResetStartStream();
    // To the start of substream k of the stream (k = 0 is the stream's start),
    // reached by one jump of A^(k * 2^76) computed by repeated squaring, so
    // that any substream costs about 2 log2(k) matrix products.
    void SetSubstream(unsigned long k);
    // Back to the start of the current substream.
    void ResetStartSubstream();
    // On to the start of the next substream.
    void ResetNextSubstream();

    // In antithetic mode RandU01 returns 1 - u instead of u.
    void SetAntithetic(bool a);
    // In increased-precision mode RandU01 combines two draws into one number
    // with 53 bits of resolution instead of 32.
    void IncreasedPrecis(bool incp);

    // Restarts this stream (stream, substream and current state) at `seed`,
    // checked as by SetPackageSeed; on a bad seed nothing changes.
    bool SetSeed(const unsigned long seed[6]);

    // Moves the current state by 2^e + c steps when e > 0, by -2^-e + c steps
    // when e < 0 and by c steps when e == 0 (c may be negative). The starts of
    // the stream and of the substream are not changed.
    void AdvanceState(long e, long c);

    // The current state.
    void GetState(unsigned long seed[6]) const;

    // Prints the current state, or all of the stream's state, to standard output.
    void WriteState() const;
    void WriteStateFull() const;

    // The next uniform number in (0, 1).
    double RandU01();
    // A whole number from i to j inclusive, from one RandU01 draw.
    int RandInt(int i, int j);

private:
    double Cg[6];  // current state
    double Bg[6];  // start of the current substream
    double Ig[6];  // start of the stream
    bool anti;
    bool incPrec;
    std::string name;

    static double nextSeed[6];

    double U01();
    double U01d();
};
