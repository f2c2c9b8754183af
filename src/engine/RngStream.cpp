#include "engine/RngStream.h"

#include <cstdint>
#include <iostream>

namespace {

constexpr double norm = 2.328306549295728e-10;  // 1 / (m1 + 1)
constexpr double fact = 5.9604644775390625e-8;  // 1 / 2^24
constexpr double two17 = 131072.0;
constexpr double two53 = 9007199254740992.0;

// (a * s + c) mod m in [0, m), exactly, for |a|, s and |c| below m < 2^32.
// When a * s + c may not be representable in a double, a is split into its
// high part and its low 17 bits so that every partial result stays below 2^53.
double multModM(double a, double s, double c, double m) {
    double v = a * s + c;
    if (v >= two53 || v <= -two53) {
        long a1 = static_cast<long>(a / two17);
        a -= a1 * two17;
        v = a1 * s;
        a1 = static_cast<long>(v / m);
        v -= a1 * m;
        v = v * two17 + a * s + c;
    }
    long a1 = static_cast<long>(v / m);
    v -= a1 * m;
    if (v < 0.0)
        v += m;
    return v;
}

// v = A s mod m; v may be the same array as s.
void matVecModM(const double A[3][3], const double s[3], double v[3], double m) {
    double x[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = multModM(A[i][0], s[0], 0.0, m);
        x[i] = multModM(A[i][1], s[1], x[i], m);
        x[i] = multModM(A[i][2], s[2], x[i], m);
    }
    for (int i = 0; i < 3; ++i)
        v[i] = x[i];
}

// C = A B mod m; C may be the same matrix as A or B.
void matMatModM(const double A[3][3], const double B[3][3], double C[3][3], double m) {
    double W[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double col[3] = {B[0][j], B[1][j], B[2][j]};
            double x = multModM(A[i][0], col[0], 0.0, m);
            x = multModM(A[i][1], col[1], x, m);
            W[i][j] = multModM(A[i][2], col[2], x, m);
        }
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            C[i][j] = W[i][j];
}

// B = A^(2^e) mod m.
void matTwoPowModM(const double A[3][3], double B[3][3], double m, long e) {
    if (&A[0][0] != &B[0][0])
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                B[i][j] = A[i][j];
    for (long i = 0; i < e; ++i)
        matMatModM(B, B, B, m);
}

// B = A^n mod m.
void matPowModM(const double A[3][3], double B[3][3], double m, long n) {
    double W[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            W[i][j] = A[i][j];
            B[i][j] = (i == j) ? 1.0 : 0.0;
        }
    while (n > 0) {
        if (n % 2)
            matMatModM(W, B, B, m);
        matMatModM(W, W, W, m);
        n /= 2;
    }
}

// Reports the first problem with a seed on standard error; true when the seed
// is usable. Either component with an all-zero state would stay at zero forever.
bool checkSeed(const unsigned long seed[6]) {
    for (int i = 0; i < 3; ++i) {
        if (seed[i] >= static_cast<unsigned long>(RngStream::m1)) {
            std::cerr << "****************************************\n"
                      << "ERROR: Seed[" << i << "] >= 4294967087, Seed is not set."
                      << "\n****************************************\n\n";
            return false;
        }
    }
    for (int i = 3; i < 6; ++i) {
        if (seed[i] >= static_cast<unsigned long>(RngStream::m2)) {
            std::cerr << "*****************************************\n"
                      << "ERROR: Seed[" << i << "] >= 4294944443, Seed is not set."
                      << "\n*****************************************\n\n";
            return false;
        }
    }
    if (seed[0] == 0 && seed[1] == 0 && seed[2] == 0) {
        std::cerr << "****************************\n"
                  << "ERROR: First 3 seeds = 0.\n"
                  << "****************************\n\n";
        return false;
    }
    if (seed[3] == 0 && seed[4] == 0 && seed[5] == 0) {
        std::cerr << "****************************\n"
                  << "ERROR: Last 3 seeds = 0.\n"
                  << "****************************\n\n";
        return false;
    }
    return true;
}

// state = A^(k * 2^76) state for both components: k substreams on.
void jumpSubstreams(double state[6], unsigned long k) {
    if (k == 0) return;
    double B1[3][3], B2[3][3];
    matPowModM(RngStream::A1p76, B1, RngStream::m1, static_cast<long>(k));
    matPowModM(RngStream::A2p76, B2, RngStream::m2, static_cast<long>(k));
    matVecModM(B1, state, state, RngStream::m1);
    matVecModM(B2, &state[3], &state[3], RngStream::m2);
}

void writeSix(const char* label, const double v[6]) {
    std::cout << label << " = { ";
    for (int i = 0; i < 5; ++i)
        std::cout << static_cast<unsigned long>(v[i]) << ", ";
    std::cout << static_cast<unsigned long>(v[5]) << " }\n";
}

}  // namespace

double RngStream::nextSeed[6] = {12345.0, 12345.0, 12345.0, 12345.0, 12345.0, 12345.0};

RngStream::RngStream(const char* s) : anti(false), incPrec(false), name(s) {
    for (int i = 0; i < 6; ++i)
        Cg[i] = Bg[i] = Ig[i] = nextSeed[i];
    matVecModM(A1p127, nextSeed, nextSeed, m1);
    matVecModM(A2p127, &nextSeed[3], &nextSeed[3], m2);
}

bool RngStream::SetPackageSeed(const unsigned long seed[6]) {
    if (!checkSeed(seed))
        return false;
    for (int i = 0; i < 6; ++i)
        nextSeed[i] = static_cast<double>(seed[i]);
    return true;
}

void RngStream::ResetStartStream() {
    for (int i = 0; i < 6; ++i)
        Cg[i] = Bg[i] = Ig[i];
}

void RngStream::SetSubstream(unsigned long k) {
    for (int i = 0; i < 6; ++i)
        Bg[i] = Ig[i];
    jumpSubstreams(Bg, k);
    for (int i = 0; i < 6; ++i)
        Cg[i] = Bg[i];
}

RngStream::Seed RngStream::PackageSeed() {
    Seed s;
    for (int i = 0; i < 6; ++i)
        s[static_cast<std::size_t>(i)] = nextSeed[i];
    return s;
}

void RngStream::SetPackageSeedSubstream(const Seed& base, unsigned long k) {
    for (int i = 0; i < 6; ++i)
        nextSeed[i] = base[static_cast<std::size_t>(i)];
    jumpSubstreams(nextSeed, k);
}

void RngStream::ResetStartSubstream() {
    for (int i = 0; i < 6; ++i)
        Cg[i] = Bg[i];
}

void RngStream::ResetNextSubstream() {
    matVecModM(A1p76, Bg, Bg, m1);
    matVecModM(A2p76, &Bg[3], &Bg[3], m2);
    for (int i = 0; i < 6; ++i)
        Cg[i] = Bg[i];
}

void RngStream::SetAntithetic(bool a) { anti = a; }

void RngStream::IncreasedPrecis(bool incp) { incPrec = incp; }

bool RngStream::SetSeed(const unsigned long seed[6]) {
    if (!checkSeed(seed))
        return false;
    for (int i = 0; i < 6; ++i)
        Cg[i] = Bg[i] = Ig[i] = static_cast<double>(seed[i]);
    return true;
}

void RngStream::AdvanceState(long e, long c) {
    double B1[3][3], C1[3][3], B2[3][3], C2[3][3];

    if (e > 0) {
        matTwoPowModM(A1p0, B1, m1, e);
        matTwoPowModM(A2p0, B2, m2, e);
    } else if (e < 0) {
        matTwoPowModM(InvA1, B1, m1, -e);
        matTwoPowModM(InvA2, B2, m2, -e);
    }

    if (c >= 0) {
        matPowModM(A1p0, C1, m1, c);
        matPowModM(A2p0, C2, m2, c);
    } else {
        matPowModM(InvA1, C1, m1, -c);
        matPowModM(InvA2, C2, m2, -c);
    }

    if (e != 0) {
        matMatModM(B1, C1, C1, m1);
        matMatModM(B2, C2, C2, m2);
    }

    matVecModM(C1, Cg, Cg, m1);
    matVecModM(C2, &Cg[3], &Cg[3], m2);
}

void RngStream::GetState(unsigned long seed[6]) const {
    for (int i = 0; i < 6; ++i)
        seed[i] = static_cast<unsigned long>(Cg[i]);
}

void RngStream::WriteState() const {
    std::cout << "The current state of the Rngstream";
    if (!name.empty())
        std::cout << " " << name;
    std::cout << ":\n";
    writeSix("   Cg", Cg);
    std::cout << "\n";
}

void RngStream::WriteStateFull() const {
    std::cout << "The RngStream";
    if (!name.empty())
        std::cout << " " << name;
    std::cout << ":\n   anti = " << (anti ? "true" : "false") << "\n"
              << "   incPrec = " << (incPrec ? "true" : "false") << "\n";
    writeSix("   Ig", Ig);
    writeSix("   Bg", Bg);
    writeSix("   Cg", Cg);
    std::cout << "\n";
}

double RngStream::U01() {
    // The recurrences in 64-bit integers: every product and difference is
    // exact (below 2^53), so the states are those of the floating-point
    // formulation, and division by the constant moduli compiles to
    // multiplications.
    constexpr std::int64_t im1 = static_cast<std::int64_t>(m1);
    constexpr std::int64_t im2 = static_cast<std::int64_t>(m2);
    constexpr std::int64_t ia12 = static_cast<std::int64_t>(a12);
    constexpr std::int64_t ia13n = static_cast<std::int64_t>(a13n);
    constexpr std::int64_t ia21 = static_cast<std::int64_t>(a21);
    constexpr std::int64_t ia23n = static_cast<std::int64_t>(a23n);

    // First component.
    std::int64_t q1 = (ia12 * static_cast<std::int64_t>(Cg[1]) - ia13n * static_cast<std::int64_t>(Cg[0])) % im1;
    if (q1 < 0) q1 += im1;
    const double p1 = static_cast<double>(q1);
    Cg[0] = Cg[1];
    Cg[1] = Cg[2];
    Cg[2] = p1;

    // Second component.
    std::int64_t q2 = (ia21 * static_cast<std::int64_t>(Cg[5]) - ia23n * static_cast<std::int64_t>(Cg[3])) % im2;
    if (q2 < 0) q2 += im2;
    const double p2 = static_cast<double>(q2);
    Cg[3] = Cg[4];
    Cg[4] = Cg[5];
    Cg[5] = p2;

    // Combination. Equal components give m1 * norm rather than 0, so u lies
    // strictly between 0 and 1.
    double u = (p1 > p2) ? (p1 - p2) * norm : (p1 - p2 + m1) * norm;
    return anti ? (1.0 - u) : u;
}

double RngStream::U01d() {
    double u = U01();
    if (anti) {
        // U01 already returned 1 - u for both draws.
        u += (U01() - 1.0) * fact;
        return (u < 0.0) ? u + 1.0 : u;
    }
    u += U01() * fact;
    return (u < 1.0) ? u : (u - 1.0);
}

double RngStream::RandU01() { return incPrec ? U01d() : U01(); }

int RngStream::RandInt(int i, int j) {
    return i + static_cast<int>((j - i + 1.0) * RandU01());
}
