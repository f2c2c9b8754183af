#include "engine/RandomWrapper.h"
#include "engine/RngStream.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "support/TestSupport.h"

// The tests check the generator against an independent model written with
// exact integer arithmetic: the two recurrences, their matrices, and jumps
// obtained by squaring those matrices.
namespace {

using u128 = unsigned __int128;
using Mat = std::array<std::array<std::uint64_t, 3>, 3>;
using Vec = std::array<std::uint64_t, 3>;
using Seed = std::array<unsigned long, 6>;

constexpr std::uint64_t M1 = 4294967087ULL;
constexpr std::uint64_t M2 = 4294944443ULL;
constexpr std::uint64_t A12 = 1403580, A13N = 810728;  // x(n) = A12 x(n-2) - A13N x(n-3)
constexpr std::uint64_t A21 = 527612, A23N = 1370589;  // y(n) = A21 y(n-1) - A23N y(n-3)
constexpr double NORM = 2.328306549295728e-10;

// One step on (oldest, middle, newest).
Mat stepMatrix1() { return Mat{{{0, 1, 0}, {0, 0, 1}, {M1 - A13N, A12, 0}}}; }
Mat stepMatrix2() { return Mat{{{0, 1, 0}, {0, 0, 1}, {M2 - A23N, 0, A21}}}; }

Mat identity() { return Mat{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }

Mat mul(const Mat& a, const Mat& b, std::uint64_t m) {
    Mat c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            u128 sum = 0;
            for (int k = 0; k < 3; ++k)
                sum += static_cast<u128>(a[i][k]) * b[k][j];
            c[i][j] = static_cast<std::uint64_t>(sum % m);
        }
    return c;
}

// a^(2^k) mod m by k squarings.
Mat squareTimes(Mat a, int k, std::uint64_t m) {
    for (int i = 0; i < k; ++i)
        a = mul(a, a, m);
    return a;
}

Vec apply(const Mat& a, const Vec& v, std::uint64_t m) {
    Vec r{};
    for (int i = 0; i < 3; ++i) {
        u128 sum = 0;
        for (int k = 0; k < 3; ++k)
            sum += static_cast<u128>(a[i][k]) * v[k];
        r[i] = static_cast<std::uint64_t>(sum % m);
    }
    return r;
}

// A matrix of the class, entries reduced into [0, m); fails on non-integers.
Mat reduce(const double a[3][3], std::uint64_t m) {
    Mat r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double x = a[i][j];
            EXPECT_EQ(x, static_cast<double>(static_cast<long long>(x)));
            long long v = static_cast<long long>(x) % static_cast<long long>(m);
            if (v < 0)
                v += static_cast<long long>(m);
            r[i][j] = static_cast<std::uint64_t>(v);
        }
    return r;
}

// Both components of a six-value state moved by the given matrices.
Seed jump(const Seed& s, const Mat& j1, const Mat& j2) {
    const Vec x = apply(j1, Vec{s[0], s[1], s[2]}, M1);
    const Vec y = apply(j2, Vec{s[3], s[4], s[5]}, M2);
    return Seed{x[0], x[1], x[2], y[0], y[1], y[2]};
}

Seed jumpSteps2Pow(const Seed& s, int k) {
    return jump(s, squareTimes(stepMatrix1(), k, M1), squareTimes(stepMatrix2(), k, M2));
}

// The generator itself, stepped one value at a time with integers.
class RefMrg {
public:
    explicit RefMrg(const Seed& s) : s_(s) {}
    double next() {
        const std::uint64_t p1 = static_cast<std::uint64_t>(
            (static_cast<u128>(A12) * s_[1] + static_cast<u128>(M1 - A13N) * s_[0]) % M1);
        const std::uint64_t p2 = static_cast<std::uint64_t>(
            (static_cast<u128>(A21) * s_[5] + static_cast<u128>(M2 - A23N) * s_[3]) % M2);
        s_ = Seed{s_[1], s_[2], p1, s_[4], s_[5], p2};
        const long long d = static_cast<long long>(p1) - static_cast<long long>(p2);
        return p1 > p2 ? static_cast<double>(d) * NORM
                       : static_cast<double>(d + static_cast<long long>(M1)) * NORM;
    }
    void skip(int n) {
        for (int i = 0; i < n; ++i)
            next();
    }
    const Seed& state() const { return s_; }

private:
    Seed s_;
};

Seed stateOf(const RngStream& g) {
    Seed s{};
    g.GetState(s.data());
    return s;
}

const Seed kDefaultSeed{12345, 12345, 12345, 12345, 12345, 12345};
const Seed kSomeSeed{987654321, 123456789, 42, 1, 2718281828, 3141592653};

// The published figures are the first ten decimals of the values.
::testing::AssertionResult hasTenDecimals(double u, double published) {
    if (u >= published && u < published + 1e-10)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << std::setprecision(15) << u << " does not begin with " << published;
}

void setPackageSeed(const Seed& s) { ASSERT_TRUE(RngStream::SetPackageSeed(s.data())); }

// The text written to standard error by SetPackageSeed, and its result.
std::pair<bool, std::string> trySeed(const Seed& s) {
    testsupport::CaptureStream capture(std::cerr);
    const bool ok = RngStream::SetPackageSeed(s.data());
    return {ok, capture.text()};
}

std::string firstComponentError(int index) {
    return "****************************************\nERROR: Seed[" + std::to_string(index) +
           "] >= 4294967087, Seed is not set.\n****************************************\n\n";
}

std::string secondComponentError(int index) {
    return "*****************************************\nERROR: Seed[" + std::to_string(index) +
           "] >= 4294944443, Seed is not set.\n*****************************************\n\n";
}

const std::string kFirstZero =
    "****************************\nERROR: First 3 seeds = 0.\n****************************\n\n";
const std::string kLastZero =
    "****************************\nERROR: Last 3 seeds = 0.\n****************************\n\n";

}  // namespace

// ---------------------------------------------------------------------------
// Constants: every jump matrix the class uses is re-derived here by squaring.

TEST(RngStreamConstants, StepMatricesAreTheRecurrences) {
    EXPECT_EQ(RngStream::m1, static_cast<double>(M1));
    EXPECT_EQ(RngStream::m2, static_cast<double>(M2));
    EXPECT_EQ(RngStream::a12, static_cast<double>(A12));
    EXPECT_EQ(RngStream::a13n, static_cast<double>(A13N));
    EXPECT_EQ(RngStream::a21, static_cast<double>(A21));
    EXPECT_EQ(RngStream::a23n, static_cast<double>(A23N));
    EXPECT_EQ(reduce(RngStream::A1p0, M1), stepMatrix1());
    EXPECT_EQ(reduce(RngStream::A2p0, M2), stepMatrix2());
}

TEST(RngStreamConstants, SquaringTheStepMatrixMatchesSteppingTheGenerator) {
    // Validates the derivation method itself: A^(2^10) applied to a state is
    // the state after 1024 steps of the recurrences.
    RefMrg ref(kSomeSeed);
    ref.skip(1024);
    EXPECT_EQ(jumpSteps2Pow(kSomeSeed, 10), ref.state());
}

TEST(RngStreamConstants, StreamJumpIsStepMatrixSquared127Times) {
    EXPECT_EQ(reduce(RngStream::A1p127, M1), squareTimes(stepMatrix1(), 127, M1));
    EXPECT_EQ(reduce(RngStream::A2p127, M2), squareTimes(stepMatrix2(), 127, M2));
}

TEST(RngStreamConstants, SubstreamJumpIsStepMatrixSquared76Times) {
    EXPECT_EQ(reduce(RngStream::A1p76, M1), squareTimes(stepMatrix1(), 76, M1));
    EXPECT_EQ(reduce(RngStream::A2p76, M2), squareTimes(stepMatrix2(), 76, M2));
}

TEST(RngStreamConstants, InverseMatricesUndoOneStep) {
    EXPECT_EQ(mul(stepMatrix1(), reduce(RngStream::InvA1, M1), M1), identity());
    EXPECT_EQ(mul(reduce(RngStream::InvA1, M1), stepMatrix1(), M1), identity());
    EXPECT_EQ(mul(stepMatrix2(), reduce(RngStream::InvA2, M2), M2), identity());
    EXPECT_EQ(mul(reduce(RngStream::InvA2, M2), stepMatrix2(), M2), identity());
}

// ---------------------------------------------------------------------------
// Published values of the package with its default seed.

TEST(RngStreamPublished, FirstStreamsAfterDefaultSeed) {
    setPackageSeed(kDefaultSeed);
    RngStream g1("g1");
    RngStream g2("g2");
    EXPECT_EQ(stateOf(g1), kDefaultSeed);
    EXPECT_TRUE(hasTenDecimals(g1.RandU01(), 0.1270111220));
    EXPECT_TRUE(hasTenDecimals(g1.RandU01(), 0.3185275653));
    EXPECT_TRUE(hasTenDecimals(g1.RandU01(), 0.3091860155));
    EXPECT_TRUE(hasTenDecimals(g2.RandU01(), 0.7595818622));
}

TEST(RngStreamPublishedDeathTest, FreshProcessStartsAtDefaultSeed) {
    // Other tests move the package seed, so this runs in a newly started copy
    // of the test program in which nothing has created a stream yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RngStream g;
            const bool startsAtDefault = stateOf(g) == kDefaultSeed;
            const bool firstValue = hasTenDecimals(g.RandU01(), 0.1270111220);
            std::cerr << "state ok " << startsAtDefault << ", first value ok " << firstValue;
            std::exit(startsAtDefault && firstValue ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "state ok 1, first value ok 1");
}

// ---------------------------------------------------------------------------
// Streams and substreams.

TEST(RngStreamStreams, SuccessiveStreamsStart2To127StepsApart) {
    setPackageSeed(kSomeSeed);
    RngStream a, b, c;
    EXPECT_EQ(stateOf(a), kSomeSeed);
    const Seed second = jumpSteps2Pow(kSomeSeed, 127);
    EXPECT_EQ(stateOf(b), second);
    EXPECT_EQ(stateOf(c), jumpSteps2Pow(second, 127));
    EXPECT_NE(a.RandU01(), b.RandU01());
}

TEST(RngStreamStreams, DefaultSeedSecondStreamIsFirstJumped) {
    setPackageSeed(kDefaultSeed);
    RngStream a, b;
    EXPECT_EQ(stateOf(b), jumpSteps2Pow(stateOf(a), 127));
}

TEST(RngStreamStreams, OutputFollowsTheRecurrences) {
    setPackageSeed(kSomeSeed);
    RngStream g;
    RefMrg ref(kSomeSeed);
    for (int i = 0; i < 2000; ++i) {
        const double u = g.RandU01();
        ASSERT_DOUBLE_EQ(u, ref.next()) << "draw " << i;
        ASSERT_GT(u, 0.0);
        ASSERT_LT(u, 1.0);
    }
    EXPECT_EQ(stateOf(g), ref.state());
}

TEST(RngStreamStreams, NewPackageSeedLeavesExistingStreamsAlone) {
    setPackageSeed(kSomeSeed);
    RngStream g;
    RefMrg ref(kSomeSeed);
    EXPECT_DOUBLE_EQ(g.RandU01(), ref.next());
    setPackageSeed(kDefaultSeed);
    EXPECT_DOUBLE_EQ(g.RandU01(), ref.next());
    RngStream h;
    EXPECT_EQ(stateOf(h), kDefaultSeed);
}

TEST(RngStreamSubstreams, NextSubstreamJumps2To76Steps) {
    setPackageSeed(kSomeSeed);
    RngStream g;
    g.RandU01();
    g.ResetNextSubstream();
    const Seed sub1 = jumpSteps2Pow(kSomeSeed, 76);
    EXPECT_EQ(stateOf(g), sub1);
    g.RandU01();
    g.ResetNextSubstream();
    const Seed sub2 = jumpSteps2Pow(sub1, 76);
    EXPECT_EQ(stateOf(g), sub2);
    EXPECT_EQ(sub2, jumpSteps2Pow(kSomeSeed, 77));
}

TEST(RngStreamSubstreams, ResetsReturnToSubstreamAndStreamStarts) {
    setPackageSeed(kSomeSeed);
    RngStream g;
    g.ResetNextSubstream();
    const Seed sub1 = jumpSteps2Pow(kSomeSeed, 76);
    RefMrg ref(sub1);
    const double first = g.RandU01();
    EXPECT_DOUBLE_EQ(first, ref.next());
    g.RandU01();
    g.ResetStartSubstream();
    EXPECT_EQ(stateOf(g), sub1);
    EXPECT_DOUBLE_EQ(g.RandU01(), first);

    g.ResetStartStream();
    EXPECT_EQ(stateOf(g), kSomeSeed);
    // The stream start is also the current substream's start again.
    g.RandU01();
    g.ResetStartSubstream();
    EXPECT_EQ(stateOf(g), kSomeSeed);
    g.ResetNextSubstream();
    EXPECT_EQ(stateOf(g), sub1);
}

namespace {
// Substream k of a stream starting at `seed`: k * 2^76 steps on, composed of
// the reference's jumps of 2^(76 + i) for every bit i of k.
Seed substreamRef(Seed seed, unsigned long k) {
    for (int bit = 0; k != 0; ++bit, k >>= 1)
        if (k & 1UL) seed = jumpSteps2Pow(seed, 76 + bit);
    return seed;
}
}  // namespace

TEST(RngStreamSubstreams, SetSubstreamJumpsStraightToSubstreamK) {
    for (unsigned long k : {0UL, 1UL, 2UL, 5UL, 1000003UL, 1UL << 40, (1UL << 50) + 12345UL}) {
        SCOPED_TRACE(k);
        setPackageSeed(kSomeSeed);
        RngStream g;
        g.RandU01();
        g.ResetNextSubstream();  // wherever the stream stood before
        g.SetSubstream(k);
        const Seed expected = substreamRef(kSomeSeed, k);
        EXPECT_EQ(stateOf(g), expected);
        // It is the current substream: its start is where a reset returns.
        g.RandU01();
        g.ResetStartSubstream();
        EXPECT_EQ(stateOf(g), expected);
        // The stream start is not moved.
        g.ResetStartStream();
        EXPECT_EQ(stateOf(g), kSomeSeed);
    }
    // The same place as stepping substream by substream.
    setPackageSeed(kSomeSeed);
    RngStream stepped;
    RngStream jumped = stepped;
    for (int i = 0; i < 7; ++i) stepped.ResetNextSubstream();
    jumped.SetSubstream(7);
    EXPECT_EQ(stateOf(jumped), stateOf(stepped));
}

TEST(RngStreamSubstreams, PackageSeedSubstreamGivesEveryNewStreamItsSubstreamK) {
    setPackageSeed(kSomeSeed);
    const RngStream::Seed base = RngStream::PackageSeed();
    // The streams that would be created at base: base, base + 2^127, ...
    const Seed first = kSomeSeed;
    const Seed second = jumpSteps2Pow(kSomeSeed, 127);
    for (unsigned long k : {0UL, 3UL, 77777UL}) {
        SCOPED_TRACE(k);
        RngStream::SetPackageSeedSubstream(base, k);
        RngStream a, b;
        EXPECT_EQ(stateOf(a), substreamRef(first, k));
        EXPECT_EQ(stateOf(b), substreamRef(second, k));
        // Each new stream starts at its substream k: that is its stream start.
        a.RandU01();
        a.ResetStartStream();
        EXPECT_EQ(stateOf(a), substreamRef(first, k));
    }
    // Whatever was created in between, the same k gives the same streams.
    RngStream::SetPackageSeedSubstream(base, 3);
    RngStream again;
    EXPECT_EQ(stateOf(again), substreamRef(first, 3));
}

TEST(RandomWrapper, UseSubstreamReplaysTheSameDrawsWhateverCameBefore) {
    setPackageSeed(kSomeSeed);
    RandomWrapper w;
    w.useSubstream(4);
    const double a = w.randu01(), b = w.randu01();
    for (int i = 0; i < 1000; ++i) w.randu01();
    w.useSubstream(9);
    w.randu01();
    w.useSubstream(4);
    EXPECT_EQ(w.randu01(), a);
    EXPECT_EQ(w.randu01(), b);
    w.useSubstream(5);
    EXPECT_NE(w.randu01(), a);
}

TEST(RngStreamSubstreams, AdvanceStateMovesByStepCounts) {
    setPackageSeed(kSomeSeed);
    RngStream g;

    g.AdvanceState(0, 5);
    RefMrg ref(kSomeSeed);
    ref.skip(5);
    EXPECT_EQ(stateOf(g), ref.state());

    g.AdvanceState(0, -5);
    EXPECT_EQ(stateOf(g), kSomeSeed);

    g.AdvanceState(3, 2);  // 2^3 + 2 steps
    RefMrg ref10(kSomeSeed);
    ref10.skip(10);
    EXPECT_EQ(stateOf(g), ref10.state());

    g.AdvanceState(-3, -2);  // back by 2^3 + 2 steps
    EXPECT_EQ(stateOf(g), kSomeSeed);

    g.AdvanceState(76, 0);
    EXPECT_EQ(stateOf(g), jumpSteps2Pow(kSomeSeed, 76));

    // The substream start did not move.
    g.ResetStartSubstream();
    EXPECT_EQ(stateOf(g), kSomeSeed);
}

TEST(RngStreamSubstreams, SetSeedRestartsStreamAndSubstream) {
    setPackageSeed(kDefaultSeed);
    RngStream g;
    EXPECT_TRUE(g.SetSeed(kSomeSeed.data()));
    EXPECT_EQ(stateOf(g), kSomeSeed);
    g.RandU01();
    g.ResetStartSubstream();
    EXPECT_EQ(stateOf(g), kSomeSeed);
    g.ResetNextSubstream();
    g.ResetStartStream();
    EXPECT_EQ(stateOf(g), kSomeSeed);
}

// ---------------------------------------------------------------------------
// Modes and integers.

TEST(RngStreamModes, AntitheticGivesOneMinusU) {
    setPackageSeed(kSomeSeed);
    RngStream g;
    g.SetAntithetic(true);
    RefMrg ref(kSomeSeed);
    for (int i = 0; i < 100; ++i)
        ASSERT_DOUBLE_EQ(g.RandU01(), 1.0 - ref.next());
    g.SetAntithetic(false);
    EXPECT_DOUBLE_EQ(g.RandU01(), ref.next());
}

TEST(RngStreamModes, IncreasedPrecisionCombinesTwoDraws) {
    setPackageSeed(kSomeSeed);
    RngStream g;
    g.IncreasedPrecis(true);
    RefMrg ref(kSomeSeed);
    const double fact = 1.0 / 16777216.0;  // 2^-24
    for (int i = 0; i < 100; ++i) {
        const double u1 = ref.next();
        const double u2 = ref.next();
        double expected = u1 + u2 * fact;
        if (expected >= 1.0)
            expected -= 1.0;
        ASSERT_DOUBLE_EQ(g.RandU01(), expected);
    }
    EXPECT_EQ(stateOf(g), ref.state());  // two draws per value
}

TEST(RngStreamModes, AntitheticIncreasedPrecisionMirrorsIncreasedPrecision) {
    setPackageSeed(kSomeSeed);
    RngStream plain, mirrored;
    EXPECT_TRUE(mirrored.SetSeed(kSomeSeed.data()));
    plain.IncreasedPrecis(true);
    mirrored.IncreasedPrecis(true);
    mirrored.SetAntithetic(true);
    for (int i = 0; i < 100; ++i)
        ASSERT_NEAR(plain.RandU01() + mirrored.RandU01(), 1.0, 1e-15);
}

TEST(RngStreamModes, RandIntUsesOneDrawOverTheWholeRange) {
    setPackageSeed(kSomeSeed);
    RngStream g;
    RefMrg ref(kSomeSeed);
    std::set<int> seen;
    for (int i = 0; i < 2000; ++i) {
        const int v = g.RandInt(-3, 4);
        ASSERT_EQ(v, -3 + static_cast<int>(8.0 * ref.next()));
        ASSERT_GE(v, -3);
        ASSERT_LE(v, 4);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 8u);
    EXPECT_EQ(g.RandInt(0, 0), 0);
    ref.next();
    EXPECT_EQ(stateOf(g), ref.state());
}

TEST(RngStreamModes, WriteStatePrintsTheState) {
    const Seed s{1, 2, 3, 4, 5, 6};
    RngStream named("g1");
    ASSERT_TRUE(named.SetSeed(s.data()));
    {
        testsupport::CaptureStream out(std::cout);
        named.WriteState();
        EXPECT_EQ(out.text(),
                  "The current state of the Rngstream g1:\n   Cg = { 1, 2, 3, 4, 5, 6 }\n\n");
    }
    RngStream unnamed;
    ASSERT_TRUE(unnamed.SetSeed(s.data()));
    {
        testsupport::CaptureStream out(std::cout);
        unnamed.WriteState();
        EXPECT_EQ(out.text(),
                  "The current state of the Rngstream:\n   Cg = { 1, 2, 3, 4, 5, 6 }\n\n");
    }
    // One step: 1403580 * 2 - 810728 * 1 = 1996432 and
    // 527612 * 6 - 1370589 * 4 + 4294944443 = 4292627759.
    named.RandU01();
    named.SetAntithetic(true);
    {
        testsupport::CaptureStream out(std::cout);
        named.WriteStateFull();
        EXPECT_EQ(out.text(),
                  "The RngStream g1:\n"
                  "   anti = true\n"
                  "   incPrec = false\n"
                  "   Ig = { 1, 2, 3, 4, 5, 6 }\n"
                  "   Bg = { 1, 2, 3, 4, 5, 6 }\n"
                  "   Cg = { 2, 3, 1996432, 5, 6, 4292627759 }\n\n");
    }
}

// ---------------------------------------------------------------------------
// Seed checks: the first failing check is reported, and nothing changes.

TEST(RngStreamSeedCheck, GoodSeedIsSilentAndUsed) {
    // Boundaries: each component just below its modulus; the first three may
    // exceed the second modulus.
    const Seed edge{4294967086, 4294944443, 0, 4294944442, 0, 0};
    const auto [ok, err] = trySeed(edge);
    EXPECT_TRUE(ok);
    EXPECT_EQ(err, "");
    RngStream g;
    EXPECT_EQ(stateOf(g), edge);
}

TEST(RngStreamSeedCheck, FirstComponentTooLarge) {
    auto [ok, err] = trySeed(Seed{4294967087, 1, 1, 1, 1, 1});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, firstComponentError(0));

    // The first offending index is reported.
    std::tie(ok, err) = trySeed(Seed{1, 4294967088, 4294967087, 1, 1, 1});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, firstComponentError(1));

    std::tie(ok, err) = trySeed(Seed{1, 1, 4294967295, 1, 1, 1});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, firstComponentError(2));
}

TEST(RngStreamSeedCheck, SecondComponentTooLarge) {
    auto [ok, err] = trySeed(Seed{1, 1, 1, 4294944443, 1, 1});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, secondComponentError(3));

    std::tie(ok, err) = trySeed(Seed{1, 1, 1, 1, 4294944443, 4294967087});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, secondComponentError(4));

    std::tie(ok, err) = trySeed(Seed{1, 1, 1, 0, 0, 4294944444});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, secondComponentError(5));
}

TEST(RngStreamSeedCheck, ZeroComponents) {
    auto [ok, err] = trySeed(Seed{0, 0, 0, 1, 1, 1});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, kFirstZero);

    std::tie(ok, err) = trySeed(Seed{1, 0, 0, 0, 0, 0});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, kLastZero);
}

TEST(RngStreamSeedCheck, ChecksRunInOrder) {
    // Too large in the first component beats too large in the second.
    auto [ok, err] = trySeed(Seed{1, 1, 4294967087, 4294944443, 1, 1});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, firstComponentError(2));
    // Too large in the first component beats zeros in the second.
    std::tie(ok, err) = trySeed(Seed{4294967087, 0, 0, 0, 0, 0});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, firstComponentError(0));
    // Too large in the second component beats zeros in the first.
    std::tie(ok, err) = trySeed(Seed{0, 0, 0, 0, 4294944443, 0});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, secondComponentError(4));
    // Zeros in the first component beat zeros in the second.
    std::tie(ok, err) = trySeed(Seed{0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, kFirstZero);
}

TEST(RngStreamSeedCheck, RejectedSeedChangesNothing) {
    setPackageSeed(kSomeSeed);
    EXPECT_FALSE(trySeed(Seed{0, 0, 0, 1, 1, 1}).first);
    RngStream g;
    EXPECT_EQ(stateOf(g), kSomeSeed);

    // SetSeed applies the same checks to one stream.
    testsupport::CaptureStream capture(std::cerr);
    const Seed bad{1, 2, 3, 4294944443, 5, 6};
    EXPECT_FALSE(g.SetSeed(bad.data()));
    EXPECT_EQ(capture.text(), secondComponentError(3));
    EXPECT_EQ(stateOf(g), kSomeSeed);
}

// ---------------------------------------------------------------------------
// RandomWrapper: one stream each, from the package's sequence of streams.

TEST(RandomWrapper, SuccessiveWrappersUseSuccessiveStreams) {
    setPackageSeed(kSomeSeed);
    RandomWrapper w1, w2;
    RefMrg ref1(kSomeSeed);
    RefMrg ref2(jumpSteps2Pow(kSomeSeed, 127));
    int differing = 0;
    for (int i = 0; i < 100; ++i) {
        const double u1 = w1.randu01();
        const double u2 = w2.randu01();
        ASSERT_DOUBLE_EQ(u1, ref1.next());
        ASSERT_DOUBLE_EQ(u2, ref2.next());
        differing += (u1 != u2);
    }
    EXPECT_EQ(differing, 100);
}

TEST(RandomWrapper, RandintIsOneDrawOverTheRange) {
    setPackageSeed(kSomeSeed);
    RandomWrapper w;
    RefMrg ref(kSomeSeed);
    EXPECT_EQ(w.randint(0, 0), 0L);
    ref.next();
    EXPECT_DOUBLE_EQ(w.randu01(), ref.next());  // randint(0, 0) used exactly one draw

    std::set<long> seen;
    for (int i = 0; i < 1000; ++i) {
        const long v = w.randint(10, 15);
        ASSERT_EQ(v, 10L + static_cast<long>(6.0 * ref.next()));
        seen.insert(v);
    }
    EXPECT_EQ(seen, (std::set<long>{10, 11, 12, 13, 14, 15}));
}

TEST(RandomWrapper, SetPackageSeedSeedsLaterWrappers) {
    const Seed bad{0, 0, 0, 1, 1, 1};
    {
        testsupport::CaptureStream capture(std::cerr);
        EXPECT_FALSE(RandomWrapper::SetPackageSeed(bad.data()));
        EXPECT_EQ(capture.text(), kFirstZero);
    }
    EXPECT_TRUE(RandomWrapper::SetPackageSeed(kSomeSeed.data()));
    RandomWrapper w;
    RefMrg ref(kSomeSeed);
    EXPECT_DOUBLE_EQ(w.randu01(), ref.next());
}
