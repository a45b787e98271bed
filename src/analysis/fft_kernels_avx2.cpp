// SPDX-License-Identifier: GPL-3.0-or-later
// The AVX2 + FMA kernels. This file alone is compiled with -mavx2 -mfma; the
// engine calls into it only after checking the CPU. Everything here has
// internal linkage and uses no inline code from shared headers, so no
// AVX2-compiled copy of a common function can end up in the portable code.
//
// Layout of the transform (n points, n >= 64, L = log2 n, Q = n / 4):
//   The complex sequence z = a + jb (channel A real, channel B imaginary) is
//   split into four decimated sequences y_l[m] = z[4m + l], l = 0..3. Row p
//   (p < Q) of the work arrays holds four doubles, lane l belonging to y_l, so
//   the first L - 2 stages are four independent Q-point transforms computed
//   side by side with the same (broadcast) twiddle in every lane. Rows start in
//   bit-reversed order (radix-2 decimation in time), which for row p means
//   the four consecutive samples z[4 rev(p) .. 4 rev(p) + 3]: the reversal
//   costs no shuffles. The last radix-4 step combines the lanes,
//   X[j + qQ] = sum_l W^(lj) (-j)^(lq) Y_l[j] (W = e^(-j 2 pi / n)), after a
//   4 x 4 transpose, and is fused with the separation of the two channels and
//   the magnitude and phase.
#include <cmath>

#include "analysis/fft.h"
#include "analysis/fft_kernels.h"

#if defined(__AVX2__) && defined(__FMA__)

#include <immintrin.h>

#include <cstddef>
#include <initializer_list>
#include <limits>

namespace miral::analysis::detail {
namespace {

using V = __m256d;

struct Cv {
    V re;
    V im;
};

inline V Set1(double x) {
    return _mm256_set1_pd(x);
}
inline V Load(const double* p) {
    return _mm256_load_pd(p);
}
inline V LoadU(const double* p) {
    return _mm256_loadu_pd(p);
}
inline void Store(double* p, V v) {
    _mm256_store_pd(p, v);
}
inline void StoreU(double* p, V v) {
    _mm256_storeu_pd(p, v);
}
inline V Add(V a, V b) {
    return _mm256_add_pd(a, b);
}
inline V Sub(V a, V b) {
    return _mm256_sub_pd(a, b);
}
inline V Mul(V a, V b) {
    return _mm256_mul_pd(a, b);
}
inline V Fma(V a, V b, V c) {
    return _mm256_fmadd_pd(a, b, c);
}
inline V SignBit() {
    return Set1(-0.0);
}
inline V Abs(V a) {
    return _mm256_andnot_pd(SignBit(), a);
}
inline V Neg(V a) {
    return _mm256_xor_pd(a, SignBit());
}
inline V Reverse(V a) {
    return _mm256_permute4x64_pd(a, 0x1B);
}

inline Cv Add(Cv a, Cv b) {
    return {Add(a.re, b.re), Add(a.im, b.im)};
}
inline Cv Sub(Cv a, Cv b) {
    return {Sub(a.re, b.re), Sub(a.im, b.im)};
}
// x * (wr + j wi)
inline Cv Mul(Cv x, V wr, V wi) {
    return {_mm256_fmsub_pd(x.re, wr, Mul(x.im, wi)), _mm256_fmadd_pd(x.re, wi, Mul(x.im, wr))};
}

// Forward 4-point DFT: o_q = sum_l t_l (-j)^(lq).
inline void Dft4(Cv t0, Cv t1, Cv t2, Cv t3, Cv& o0, Cv& o1, Cv& o2, Cv& o3) {
    const Cv a = Add(t0, t2);
    const Cv b = Sub(t0, t2);
    const Cv c = Add(t1, t3);
    const Cv d = Sub(t1, t3);
    o0 = Add(a, c);
    o2 = Sub(a, c);
    o1 = {Add(b.re, d.im), Sub(b.im, d.re)};
    o3 = {Sub(b.re, d.im), Add(b.im, d.re)};
}

// Rows r0..r3 become columns: out[i] lane k = r_k lane i.
inline void Transpose(V r0, V r1, V r2, V r3, V out[4]) {
    const V t0 = _mm256_unpacklo_pd(r0, r1);
    const V t1 = _mm256_unpackhi_pd(r0, r1);
    const V t2 = _mm256_unpacklo_pd(r2, r3);
    const V t3 = _mm256_unpackhi_pd(r2, r3);
    out[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    out[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    out[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    out[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// ---- First stages: window, bit reversal and a radix-4 step in one pass ----

// Group g (< n/16) forms rows 4g .. 4g+3 from z[qQ + groupReverse(g) + l]
// (quarter q, lane l). Groups g and g + n/32 read the two halves of the same
// cache lines, so they are done together: groups [gBegin, gEnd) of the first
// half write rows [4 gBegin, 4 gEnd) and the same rows plus n/8.
void FirstPass(const FftPlan& plan, const double* a, const double* b, std::size_t gBegin, std::size_t gEnd) {
    const std::size_t n = plan.n;
    const std::size_t quarter = n / 4;
    const std::size_t halfGroups = n / 32;
    const double* w = plan.window;
    const V scale = Set1(plan.scale);
    double* xr = plan.workRe;
    double* xi = plan.workIm;
    // The groups read the records in bit-reversed order, which no hardware
    // prefetcher follows: the lines of the group a few ahead are asked for now.
    constexpr std::size_t kAhead = 4;
    const std::size_t last = n / 32;
    for (std::size_t g = gBegin; g < gEnd; ++g) {
        const std::size_t s = plan.groupReverse[g];
        if (g + kAhead < last) {
            const std::size_t next = plan.groupReverse[g + kAhead];
            for (std::size_t q = 0; q < 4; ++q) {
                _mm_prefetch(reinterpret_cast<const char*>(a + q * quarter + next), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(b + q * quarter + next), _MM_HINT_T0);
            }
        }
        for (std::size_t half = 0; half < 2; ++half) {
            const std::size_t off = s + 4 * half;
            Cv x[4];
            for (std::size_t q = 0; q < 4; ++q) {
                const std::size_t i = q * quarter + off;
                const V wv = w ? Load(w + i) : scale;
                x[q] = {Mul(LoadU(a + i), wv), Mul(LoadU(b + i), wv)};
            }
            Cv o[4];
            Dft4(x[0], x[1], x[2], x[3], o[0], o[1], o[2], o[3]);
            const std::size_t row = 4 * (g + half * halfGroups);
            for (std::size_t lo = 0; lo < 4; ++lo) {
                Store(xr + 4 * (row + lo), o[lo].re);
                Store(xi + 4 * (row + lo), o[lo].im);
            }
        }
    }
}

// ---- Lane-wise stages ----

constexpr std::size_t kL1Rows = 256;   // 16 KiB of the two work arrays
constexpr std::size_t kL2Rows = 4096;  // 256 KiB

// One radix-4 decimation-in-time step of span h (rows) over rows
// [rowBegin, rowEnd): combines the four h-point transforms of each block of
// 4h rows (residues 0, 2, 1, 3 of the block's sequence, in that order).
void Radix4Stage(double* xr, double* xi, std::size_t rowBegin, std::size_t rowEnd, std::size_t h,
                 const double* tw) {
    for (std::size_t blk = rowBegin; blk < rowEnd; blk += 4 * h) {
        double* r = xr + 4 * blk;
        double* i = xi + 4 * blk;
        for (std::size_t j = 0; j < h; ++j) {
            const double* wj = tw + 6 * j;
            const std::size_t p0 = 4 * j;
            const std::size_t p1 = 4 * (j + h);
            const std::size_t p2 = 4 * (j + 2 * h);
            const std::size_t p3 = 4 * (j + 3 * h);
            const Cv x0 = {Load(r + p0), Load(i + p0)};
            const Cv x1 = {Load(r + p1), Load(i + p1)};
            const Cv x2 = {Load(r + p2), Load(i + p2)};
            const Cv x3 = {Load(r + p3), Load(i + p3)};
            const Cv t1 = Mul(x2, Set1(wj[0]), Set1(wj[1]));
            const Cv t2 = Mul(x1, Set1(wj[2]), Set1(wj[3]));
            const Cv t3 = Mul(x3, Set1(wj[4]), Set1(wj[5]));
            Cv o0, o1, o2, o3;
            Dft4(x0, t1, t2, t3, o0, o1, o2, o3);
            Store(r + p0, o0.re);
            Store(i + p0, o0.im);
            Store(r + p1, o1.re);
            Store(i + p1, o1.im);
            Store(r + p2, o2.re);
            Store(i + p2, o2.im);
            Store(r + p3, o3.re);
            Store(i + p3, o3.im);
        }
    }
}

// The radix-2 step of span h = n/8 rows, when L - 2 is odd.
void Radix2Stage(double* xr, double* xi, std::size_t h, const double* tw) {
    for (std::size_t j = 0; j < h; ++j) {
        const std::size_t p0 = 4 * j;
        const std::size_t p1 = 4 * (j + h);
        const Cv u = {Load(xr + p0), Load(xi + p0)};
        const Cv v = {Load(xr + p1), Load(xi + p1)};
        const Cv t = Mul(v, Set1(tw[2 * j]), Set1(tw[2 * j + 1]));
        const Cv s = Add(u, t);
        const Cv d = Sub(u, t);
        Store(xr + p0, s.re);
        Store(xi + p0, s.im);
        Store(xr + p1, d.re);
        Store(xi + p1, d.im);
    }
}

// The radix-4 stages of spans h = hBegin, 4 hBegin, ... below hEnd over rows
// [rowBegin, rowEnd) (a multiple of 4h rows).
void RunStages(const FftPlan& plan, std::size_t rowBegin, std::size_t rowEnd, std::size_t hBegin,
               std::size_t hEnd) {
    for (std::size_t h = hBegin; h < hEnd; h *= 4) {
        // Stage tables follow one another: 6 (4 + 16 + ... + h/4) = 2 (h - 4) doubles first.
        Radix4Stage(plan.workRe, plan.workIm, rowBegin, rowEnd, h, plan.stageTwiddle + 2 * (h - 4));
    }
}

// The span of the first radix-4 stage that does not fit in `rows` rows.
std::size_t FirstSpanBeyond(std::size_t rows) {
    std::size_t h = 4;
    while (4 * h <= rows) h *= 4;
    return h;
}

// ---- Magnitude and phase ----

constexpr double kTanPi8 = 0.4142135623730950488017;
constexpr double kPi4 = 0.7853981633974483096157;
constexpr double kPi2 = 1.570796326794896619231;

inline V And(V a, V b) {
    return _mm256_and_pd(a, b);
}
inline V AndNot(V a, V b) {
    return _mm256_andnot_pd(a, b);
}  // ~a & b
inline V Or(V a, V b) {
    return _mm256_or_pd(a, b);
}
inline V Xor(V a, V b) {
    return _mm256_xor_pd(a, b);
}
template <int kPredicate>
inline V Cmp(V a, V b) {
    return _mm256_cmp_pd(a, b, kPredicate);
}

// atan(y / x) in radians for x >= 0 (x = y = 0 gives NaN). Octant reduction
// to |t| <= tan(pi/8) with a single division, then t + t^3 P(t^2), P a
// degree-10 fit (error below 1e-17) evaluated in Estrin's scheme to keep the
// dependency chain short. Selections are done with masks, not blends.
inline V AtanRatio(V y, V x) {
    const V sign = SignBit();
    const V a = Abs(y);
    const V swap = Cmp<_CMP_GT_OQ>(a, x);
    // min/max return their second operand when either is NaN: a NaN y stays NaN.
    const V num = _mm256_min_pd(x, a);
    const V den = _mm256_max_pd(x, a);
    const V big = Cmp<_CMP_GT_OQ>(num, Mul(den, Set1(kTanPi8)));
    // big: t = (num - den) / (num + den) and atan = pi/4 + atan(t).
    const V t = _mm256_div_pd(Sub(num, And(big, den)), Add(den, And(big, num)));
    const V z = Mul(t, t);
    const V z2 = Mul(z, z);
    const V z4 = Mul(z2, z2);
    const V p01 = Fma(Set1(0.1999999999999552067782), z, Set1(-0.3333333333333333015966));
    const V p23 = Fma(Set1(0.1111111101525636172749), z, Set1(-0.1428571428466654292249));
    const V p45 = Fma(Set1(0.07692183190826086563693), z, Set1(-0.09090904578123901890479));
    const V p67 = Fma(Set1(0.05858148912802209881646), z, Set1(-0.06664511447381948000098));
    const V p89 = Fma(Set1(0.03923165829558719130283), z, Set1(-0.05085449737940259861323));
    const V p0_3 = Fma(p23, z2, p01);
    const V p4_7 = Fma(p67, z2, p45);
    const V p8_10 = Fma(Set1(-0.0191768871190622589893), z2, p89);
    const V p = Fma(Fma(p8_10, z4, p4_7), z4, p0_3);
    V r = Add(Fma(Mul(t, z), p, t), And(big, Set1(kPi4)));
    // swap: pi/2 - r.
    r = Add(Xor(r, And(swap, sign)), And(swap, Set1(kPi2)));
    return Or(r, And(y, sign));
}

struct MagPhase {
    V mag;
    V phase;        // of (re, im)
    V phaseMirror;  // of (re, -im), the conjugate bin
};

// ln m for positive normal finite m (other lanes give garbage): m = 2^e f
// with f in [sqrt(1/2), sqrt(2)), ln f = 2 atanh(t), t = (f - 1) / (f + 1),
// as 2t + t^3 P(t^2) with P a degree-6 fit (error below 1e-17).
inline V LogNormal(V m) {
    const __m256i bits = _mm256_castpd_si256(m);
    // e + 1024 in the exponent field position: bits - bits(sqrt(1/2)) + 1024 * 2^52.
    const __m256i shifted = _mm256_add_epi64(_mm256_sub_epi64(bits, _mm256_set1_epi64x(0x3FE6A09E667F3BCDLL)),
                                             _mm256_set1_epi64x(1024LL << 52));
    const __m256i biased = _mm256_srli_epi64(shifted, 52);  // e + 1024, 0 .. 2047
    const __m256i scaled = _mm256_slli_epi64(_mm256_sub_epi64(biased, _mm256_set1_epi64x(1024)), 52);
    const V f = _mm256_castsi256_pd(_mm256_sub_epi64(bits, scaled));
    // (double) e: 2^52 + biased as a double, minus 2^52 + 1024.
    const V e = Sub(_mm256_castsi256_pd(_mm256_or_si256(biased, _mm256_set1_epi64x(0x4330000000000000LL))),
                    Set1(4503599627371520.0));
    const V one = Set1(1.0);
    const V t = _mm256_div_pd(Sub(f, one), Add(f, one));
    const V z = Mul(t, t);
    const V z2 = Mul(z, z);
    const V z4 = Mul(z2, z2);
    const V p01 = Fma(Set1(0.3999999999989950448979), z, Set1(0.6666666666666669686164));
    const V p23 = Fma(Set1(0.2222221113479507985507), z, Set1(0.2857142862597548492145));
    const V p45 = Fma(Set1(0.1533172160055604126863), z, Set1(0.1818288912526172208027));
    const V p6 = Set1(0.1461644968504340586042);
    const V p = Fma(Fma(p6, z2, p45), z4, Fma(p23, z2, p01));
    const V lnF = Fma(Mul(t, z), p, Add(t, t));
    // e ln 2 with ln 2 split so that e * hi is exact.
    return Fma(e, Set1(6.93147180369123816490e-01), Fma(e, Set1(1.90821492927058770002e-10), lnF));
}

// Magnitude and phase by the rules of ToMagnitudePhaseOne, for a value and
// for its conjugate.
inline MagPhase ToMagPhase(V re, V im) {
    const V sign = SignBit();
    const V zero = _mm256_setzero_pd();
    MagPhase out;
    out.mag = _mm256_sqrt_pd(Add(Mul(re, re), Mul(im, im)));
    const V ax = Abs(re);
    const V deg = Mul(AtanRatio(im, ax), Set1(kDegreesPerRadian));
    // |re| below 1e-80: +90 when im >= 0, else -90; for the conjugate +90 when
    // im <= 0. Otherwise the conjugate's phase is -deg.
    const V tiny = Cmp<_CMP_NGE_UQ>(ax, Set1(kPhaseTinyReal));
    const V c90 = Set1(90.0);
    const V up = Or(c90, And(Cmp<_CMP_NGE_UQ>(im, zero), sign));
    const V upMirror = Or(c90, And(Cmp<_CMP_NLE_UQ>(im, zero), sign));
    const V q = Or(And(tiny, up), AndNot(tiny, deg));
    const V qm = Or(And(tiny, upMirror), AndNot(tiny, Xor(deg, sign)));
    // re < 0: 180 - p.
    const V negative = Cmp<_CMP_LT_OQ>(re, zero);
    const V negSign = And(negative, sign);
    const V c180 = And(negative, Set1(180.0));
    out.phase = Add(Xor(q, negSign), c180);
    out.phaseMirror = Add(Xor(qm, negSign), c180);
    return out;
}

// ---- Last radix-4 step across the lanes, separation, magnitude, phase ----

// Bins k = j + qQ for j in the chunk 4c .. 4c+3 (lanes) are computed with the
// chunk j' = Q - j (rows Q - 4c - l, lane l), which holds bins n - k, so both
// halves of a conjugate pair meet in the same lane.
// The last radix-4 step for chunk c: oJ[q] holds Z at bins j + qQ (j in the
// chunk, by lane), oK[q] at bins (Q - j) + qQ.
void LastStep(const FftPlan& plan, std::size_t c, Cv oJ[4], Cv oK[4]) {
    const std::size_t quarter = plan.n / 4;
    const double* xr = plan.workRe;
    const double* xi = plan.workIm;
    const std::size_t j0 = 4 * c;

    V tJr[4], tJi[4], tKr[4], tKi[4];
    Transpose(Load(xr + 4 * j0), Load(xr + 4 * (j0 + 1)), Load(xr + 4 * (j0 + 2)), Load(xr + 4 * (j0 + 3)),
              tJr);
    Transpose(Load(xi + 4 * j0), Load(xi + 4 * (j0 + 1)), Load(xi + 4 * (j0 + 2)), Load(xi + 4 * (j0 + 3)),
              tJi);
    const std::size_t k0 = quarter - j0;
    Transpose(Load(xr + 4 * k0), Load(xr + 4 * (k0 - 1)), Load(xr + 4 * (k0 - 2)), Load(xr + 4 * (k0 - 3)),
              tKr);
    Transpose(Load(xi + 4 * k0), Load(xi + 4 * (k0 - 1)), Load(xi + 4 * (k0 - 2)), Load(xi + 4 * (k0 - 3)),
              tKi);

    const double* tw = plan.finalTwiddle + 24 * c;
    const V w1r = Load(tw), w1i = Load(tw + 4);
    const V w2r = Load(tw + 8), w2i = Load(tw + 12);
    const V w3r = Load(tw + 16), w3i = Load(tw + 20);

    Dft4({tJr[0], tJi[0]}, Mul(Cv{tJr[1], tJi[1]}, w1r, w1i), Mul(Cv{tJr[2], tJi[2]}, w2r, w2i),
         Mul(Cv{tJr[3], tJi[3]}, w3r, w3i), oJ[0], oJ[1], oJ[2], oJ[3]);
    // W^(Q - j) = -j conj(W^j), W^(2(Q - j)) = -conj(W^2j), W^(3(Q - j)) = j conj(W^3j).
    Dft4({tKr[0], tKi[0]}, Mul(Cv{tKr[1], tKi[1]}, Neg(w1i), Neg(w1r)),
         Mul(Cv{tKr[2], tKi[2]}, Neg(w2r), w2i), Mul(Cv{tKr[3], tKi[3]}, w3i, w3r), oK[0], oK[1], oK[2],
         oK[3]);
}

// The rows the chunks leave out (j = 0..3, n/8, Q-3..Q-1), in scalar code.
struct EdgeBins {
    std::size_t js[8];
    double zr[8][4], zi[8][4];
};

// Slot of Q - j: 0 <-> 0, 1 <-> 7, 2 <-> 6, 3 <-> 5, 4 <-> 4.
constexpr std::size_t kMirrorSlot[8] = {0, 7, 6, 5, 4, 3, 2, 1};

void EdgeValues(const FftPlan& plan, EdgeBins& e8) {
    const std::size_t n = plan.n;
    const std::size_t quarter = n / 4;
    const std::size_t js[8] = {0, 1, 2, 3, n / 8, quarter - 3, quarter - 2, quarter - 1};
    auto& zr = e8.zr;
    auto& zi = e8.zi;
    for (std::size_t s = 0; s < 8; ++s) e8.js[s] = js[s];
    for (std::size_t s = 0; s < 8; ++s) {
        const std::size_t j = js[s];
        double tr[4], ti[4];
        for (std::size_t l = 0; l < 4; ++l) {
            const double yr = plan.workRe[4 * j + l];
            const double yi = plan.workIm[4 * j + l];
            std::size_t e = l * j;  // W^(lj), from the half table: W^(e + n/2) = -W^e
            double wr, wi;
            if (e < n / 2) {
                wr = plan.rootRe[e];
                wi = plan.rootIm[e];
            } else {
                e -= n / 2;
                wr = -plan.rootRe[e];
                wi = -plan.rootIm[e];
            }
            tr[l] = yr * wr - yi * wi;
            ti[l] = yr * wi + yi * wr;
        }
        const double ar = tr[0] + tr[2], ai = ti[0] + ti[2];
        const double br = tr[0] - tr[2], bi = ti[0] - ti[2];
        const double cr = tr[1] + tr[3], ci = ti[1] + ti[3];
        const double dr = tr[1] - tr[3], di = ti[1] - ti[3];
        zr[s][0] = ar + cr;
        zi[s][0] = ai + ci;
        zr[s][2] = ar - cr;
        zi[s][2] = ai - ci;
        zr[s][1] = br + di;
        zi[s][1] = bi - dr;
        zr[s][3] = br - di;
        zi[s][3] = bi + dr;
    }
}

// The spectra of both channels at bins 0 .. n/2 from chunk c: bins j and
// j + Q directly, 2Q - j and Q - j as the conjugates of j + 2Q and j + 3Q.
void FinalChunkSpectra(const FftPlan& plan, std::size_t c, const HalfSpectra& s) {
    const std::size_t n = plan.n;
    const std::size_t quarter = n / 4;
    const std::size_t j0 = 4 * c;
    Cv oJ[4], oK[4];
    LastStep(plan, c, oJ, oK);
    for (std::size_t q = 0; q < 4; ++q) {
        const Cv z = oJ[q];
        const Cv y = oK[3 - q];
        const V ar = Add(z.re, y.re), ai = Sub(z.im, y.im);
        const V br = Add(z.im, y.im), bi = Sub(y.re, z.re);
        const std::size_t k = q * quarter + j0;
        if (q < 2) {
            StoreU(s.re[0] + k, ar);
            StoreU(s.im[0] + k, ai);
            StoreU(s.re[1] + k, br);
            StoreU(s.im[1] + k, bi);
        } else {
            const std::size_t km = n - k - 3;
            StoreU(s.re[0] + km, Reverse(ar));
            StoreU(s.im[0] + km, Reverse(Neg(ai)));
            StoreU(s.re[1] + km, Reverse(br));
            StoreU(s.im[1] + km, Reverse(Neg(bi)));
        }
    }
}

void FinalEdgesSpectra(const FftPlan& plan, const HalfSpectra& s) {
    const std::size_t n = plan.n;
    const std::size_t quarter = n / 4;
    EdgeBins e8;
    EdgeValues(plan, e8);
    for (std::size_t slot = 0; slot < 8; ++slot) {
        for (std::size_t q = 0; q < 4; ++q) {
            const std::size_t k = e8.js[slot] + q * quarter;
            if (k > n / 2) continue;  // its mirror n - k is an edge bin too
            const std::size_t ms = kMirrorSlot[slot];
            const std::size_t mq = slot == 0 ? (4 - q) % 4 : 3 - q;
            const double mr = e8.zr[ms][mq], mi = e8.zi[ms][mq];
            s.re[0][k] = e8.zr[slot][q] + mr;
            s.im[0][k] = e8.zi[slot][q] - mi;
            s.re[1][k] = e8.zi[slot][q] + mi;
            s.im[1][k] = mr - e8.zr[slot][q];
        }
    }
}

// Power of bins 0 .. n/2 from chunk c: bins j and j + Q directly, 2Q - j and
// Q - j as the mirrors of j + 2Q and j + 3Q (a conjugate has the same power).
void FinalChunkPower(const FftPlan& plan, std::size_t c, double* powerA, double* powerB) {
    const std::size_t n = plan.n;
    const std::size_t quarter = n / 4;
    const std::size_t j0 = 4 * c;
    Cv oJ[4], oK[4];
    LastStep(plan, c, oJ, oK);
    for (std::size_t q = 0; q < 4; ++q) {
        const Cv z = oJ[q];
        const Cv y = oK[3 - q];
        const V ar = Add(z.re, y.re), ai = Sub(z.im, y.im);
        const V br = Add(z.im, y.im), bi = Sub(y.re, z.re);
        const V pa = Add(Mul(ar, ar), Mul(ai, ai));
        const V pb = Add(Mul(br, br), Mul(bi, bi));
        const std::size_t k = q * quarter + j0;
        if (q < 2) {
            StoreU(powerA + k, pa);
            StoreU(powerB + k, pb);
        } else {
            StoreU(powerA + n - k - 3, Reverse(pa));
            StoreU(powerB + n - k - 3, Reverse(pb));
        }
    }
}

void FinalEdgesPower(const FftPlan& plan, double* powerA, double* powerB) {
    const std::size_t n = plan.n;
    const std::size_t quarter = n / 4;
    EdgeBins e8;
    EdgeValues(plan, e8);
    for (std::size_t s = 0; s < 8; ++s) {
        for (std::size_t q = 0; q < 4; ++q) {
            const std::size_t k = e8.js[s] + q * quarter;
            if (k > n / 2) continue;  // its mirror n - k is an edge bin too
            const std::size_t ms = kMirrorSlot[s];
            const std::size_t mq = s == 0 ? (4 - q) % 4 : 3 - q;
            const double mr = e8.zr[ms][mq], mi = e8.zi[ms][mq];
            const double ar = e8.zr[s][q] + mr, ai = e8.zi[s][q] - mi;
            const double br = e8.zi[s][q] + mi, bi = mr - e8.zr[s][q];
            powerA[k] = ar * ar + ai * ai;
            powerB[k] = br * br + bi * bi;
        }
    }
}

// Window, bit reversal and every stage but the last radix-4 step.
void Transform(const FftPlan& plan, const double* timeA, const double* timeB) {
    const std::size_t n = plan.n;
    const std::size_t rows = n / 4;
    double* xr = plan.workRe;
    double* xi = plan.workIm;

    // Stages that stay within blocks small enough for the first-level cache
    // run right after the first pass has written such a block; the next ones
    // block by block at second-level cache size; the rest pass over all rows.
    const std::size_t l1Rows = rows / 2 < kL1Rows ? rows / 2 : kL1Rows;
    const std::size_t l2Rows = rows < kL2Rows ? rows : kL2Rows;
    const std::size_t hL1 = FirstSpanBeyond(l1Rows);
    const std::size_t hL2 = FirstSpanBeyond(l2Rows);
    const std::size_t hAll = FirstSpanBeyond(rows);
    for (std::size_t g0 = 0; g0 < n / 32; g0 += l1Rows / 4) {
        FirstPass(plan, timeA, timeB, g0, g0 + l1Rows / 4);
        RunStages(plan, 4 * g0, 4 * g0 + l1Rows, 4, hL1);
        RunStages(plan, rows / 2 + 4 * g0, rows / 2 + 4 * g0 + l1Rows, 4, hL1);
    }
    for (std::size_t blk = 0; blk < rows; blk += l2Rows) RunStages(plan, blk, blk + l2Rows, hL1, hL2);
    RunStages(plan, 0, rows, hL2, hAll);
    if (hAll < rows) Radix2Stage(xr, xi, rows / 2, plan.radix2Twiddle);
}

}  // namespace

void SpectraAvx2(const FftPlan& plan, const double* timeA, const double* timeB, const HalfSpectra& s) {
    Transform(plan, timeA, timeB);
    for (std::size_t c = 1; c < plan.n / 32; ++c) FinalChunkSpectra(plan, c, s);
    FinalEdgesSpectra(plan, s);
}

namespace {

// The window over the four bins k .. k+3 of one channel: taps from the
// outermost in, as the portable form sums them.
inline Cv WindowAt(const double* re, const double* im, std::ptrdiff_t k, const WindowTaps& w) {
    V sr = _mm256_setzero_pd(), si = _mm256_setzero_pd();
    for (int m = w.terms - 1; m >= 1; --m) {
        const V t = Set1(w.tap[m]);
        sr = Fma(t, Add(LoadU(re + k - m), LoadU(re + k + m)), sr);
        si = Fma(t, Add(LoadU(im + k - m), LoadU(im + k + m)), si);
    }
    const V t0 = Set1(w.tap[0]);
    return {Fma(t0, LoadU(re + k), sr), Fma(t0, LoadU(im + k), si)};
}

inline V RawPower(const double* re, const double* im, std::ptrdiff_t k) {
    const V r = LoadU(re + k), i = LoadU(im + k);
    return Fma(r, r, Mul(i, i));
}

double HorizontalMax(V v) {
    alignas(32) double x[4];
    Store(x, v);
    double m = x[0];
    for (int l = 1; l < 4; ++l) m = x[l] > m ? x[l] : m;
    return m;
}

// ScanAvx2's lanes start from the first four values and take each later
// four with max/min, which skip a NaN value but keep a NaN start. Lanes
// `hi` and `lo` that started from -inf and +inf over the same later values
// give the same once their start is put in (a comparison with a NaN start is
// false, which keeps it).
void LanesFromStart(const double* start, V hi, V lo, double peak[4], double floor[4]) {
    alignas(32) double h[4], l[4];
    Store(h, hi);
    Store(l, lo);
    for (int k = 0; k < 4; ++k) {
        const double x = start[k];
        peak[k] = h[k] > x ? h[k] : x;
        floor[k] = l[k] < x ? l[k] : x;
    }
}

// ScanAvx2's end: the lanes folded into one, then the values after the
// last four one by one.
void FoldScan(const double peak[4], const double floor[4], const double* rest, std::size_t count, double& p,
              double& f) {
    p = peak[0];
    f = floor[0];
    for (int l = 1; l < 4; ++l) {
        p = peak[l] > p ? peak[l] : p;
        f = floor[l] < f ? floor[l] : f;
    }
    for (std::size_t k = 0; k < count; ++k) {
        p = rest[k] > p ? rest[k] : p;
        f = rest[k] < f ? rest[k] : f;
    }
}

// |X[k]|^2 of the bins the window passes take one by one; every pass that
// finds a channel's largest unwindowed power uses these two forms.
inline double EdgePower(const double* re, const double* im, std::ptrdiff_t k) {
    return re[k] * re[k] + im[k] * im[k];
}

inline bool AnySet(V mask) {
    return _mm256_movemask_pd(mask) != 0;
}

inline void StoreWhere(double* p, V mask, V v) {
    _mm256_maskstore_pd(p, _mm256_castpd_si256(mask), v);
}

// One channel of WindowMagPhaseAvx2; kZero: with the zeroing of `zero`.
template <bool kZero>
double MagPhaseChannel(const double* re, const double* im, std::size_t n, const WindowTaps& w, double* mag,
                       double* phase, bool mirrors, double* scanPeak, double* scanFloor, ZeroBelow* zero) {
    const std::size_t h = n / 2;
    V top = _mm256_setzero_pd();
    V hi = Set1(-std::numeric_limits<double>::infinity());
    V lo = Set1(std::numeric_limits<double>::infinity());
    const V limit = Set1(kZero ? zero->limit : 0.0);
    const V ninety = Set1(90.0);
    double* zeroPhase = kZero && !phase ? zero->phase : nullptr;
    V zeroed = _mm256_setzero_pd(), nan = _mm256_setzero_pd();
    // Bins 4 .. h - 1 in fours, each with its mirror n - k; bins 0 .. 3
    // and h (no mirror of their own in a four) one by one.
    for (std::size_t k = 4; k + 4 <= h; k += 4) {
        const auto kk = static_cast<std::ptrdiff_t>(k);
        top = _mm256_max_pd(RawPower(re, im, kk), top);
        const Cv x = WindowAt(re, im, kk, w);
        MagPhase mp = ToMagPhase(x.re, x.im);
        hi = _mm256_max_pd(mp.mag, hi);
        lo = _mm256_min_pd(mp.mag, lo);
        V z = _mm256_setzero_pd();
        if constexpr (kZero) {
            z = Cmp<_CMP_LE_OQ>(mp.mag, limit);
            zeroed = Or(zeroed, z);
            nan = Or(nan, Cmp<_CMP_UNORD_Q>(mp.mag, mp.mag));
            mp.mag = AndNot(z, mp.mag);
            mp.phase = _mm256_blendv_pd(mp.phase, ninety, z);
            mp.phaseMirror = _mm256_blendv_pd(mp.phaseMirror, ninety, z);
        }
        StoreU(mag + k, mp.mag);
        if (!phase) {
            // Magnitudes only: the phases are left to the compiler to drop.
            if (mirrors) StoreU(mag + n - k - 3, Reverse(mp.mag));
            if (kZero && zeroPhase && AnySet(z)) {
                StoreWhere(zeroPhase + k, z, ninety);
                if (mirrors) StoreWhere(zeroPhase + n - k - 3, Reverse(z), ninety);
            }
            continue;
        }
        StoreU(phase + k, mp.phase);
        if (mirrors) {
            StoreU(mag + n - k - 3, Reverse(mp.mag));
            StoreU(phase + n - k - 3, Reverse(mp.phaseMirror));
        }
    }
    double peak = HorizontalMax(top);
    // The edge bins' values as computed, for the scan: 0 .. 3, then h.
    double edge[5];
    int e = 0;
    for (std::size_t k : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, h}) {
        const auto kk = static_cast<std::ptrdiff_t>(k);
        const double p = EdgePower(re, im, kk);
        peak = p > peak ? p : peak;
        // One lane of the vector form, so that these bins round as the others.
        alignas(32) double m[4], ph[4], pm[4];
        const Cv x = WindowAt(re, im, kk, w);
        const MagPhase mp = ToMagPhase(x.re, x.im);
        Store(m, mp.mag);
        Store(ph, mp.phase);
        Store(pm, mp.phaseMirror);
        edge[e++] = m[0];
        bool z = false;
        if constexpr (kZero) {
            z = m[0] <= zero->limit;
            if (z) {
                zero->zeroed = true;
                m[0] = 0.0;
                ph[0] = pm[0] = 90.0;
            }
            if (std::isnan(m[0])) zero->nan = true;
        }
        mag[k] = m[0];
        if (phase) phase[k] = ph[0];
        if (zeroPhase && z) zeroPhase[k] = 90.0;
        if (mirrors && k != 0 && k != h) {
            mag[n - k] = m[0];
            if (phase) phase[n - k] = pm[0];
            if (zeroPhase && z) zeroPhase[n - k] = 90.0;
        }
    }
    if constexpr (kZero) {
        zero->zeroed = zero->zeroed || AnySet(zeroed);
        zero->nan = zero->nan || AnySet(nan);
    }
    if (scanPeak) {
        double lanePeak[4], laneFloor[4];
        LanesFromStart(edge, hi, lo, lanePeak, laneFloor);
        FoldScan(lanePeak, laneFloor, edge + 4, 1, *scanPeak, *scanFloor);
    }
    return peak;
}

// One channel of WindowPowerAvx2; kZero: with the zeroing of `zero`.
template <bool kZero>
double PowerChannel(const double* re, const double* im, std::size_t n, const WindowTaps& w, double* power,
                    double* scanPeak, double* scanFloor, ZeroBelow* zero) {
    const std::size_t h = n / 2;
    V top = _mm256_setzero_pd();
    V hi = Set1(-std::numeric_limits<double>::infinity());
    V lo = Set1(std::numeric_limits<double>::infinity());
    const V limit = Set1(kZero ? zero->limit : 0.0);
    V zeroed = _mm256_setzero_pd();
    // The first four and the last values as computed, for the scan.
    alignas(32) double first[4];
    double last[4];
    std::size_t k = 0;
    for (; k + 4 <= h + 1; k += 4) {
        const auto kk = static_cast<std::ptrdiff_t>(k);
        top = _mm256_max_pd(RawPower(re, im, kk), top);
        const Cv x = WindowAt(re, im, kk, w);
        V p = Fma(x.re, x.re, Mul(x.im, x.im));
        if (k != 0) {
            hi = _mm256_max_pd(p, hi);
            lo = _mm256_min_pd(p, lo);
        } else {
            Store(first, p);
        }
        if constexpr (kZero) {
            const V z = Cmp<_CMP_LE_OQ>(p, limit);
            zeroed = Or(zeroed, z);
            p = AndNot(z, p);
        }
        StoreU(power + k, p);
    }
    const std::size_t tail = k;
    double peak = HorizontalMax(top);
    for (; k <= h; ++k) {
        const auto kk = static_cast<std::ptrdiff_t>(k);
        const double p = EdgePower(re, im, kk);
        peak = p > peak ? p : peak;
        alignas(32) double xr[4], xi[4];
        const Cv x = WindowAt(re, im, kk, w);
        Store(xr, x.re);
        Store(xi, x.im);
        const double value = xr[0] * xr[0] + xi[0] * xi[0];
        last[k - tail] = value;
        power[k] = value;
        if constexpr (kZero) {
            if (value <= zero->limit) {
                power[k] = 0.0;
                zero->zeroed = true;
            }
        }
    }
    if constexpr (kZero) zero->zeroed = zero->zeroed || AnySet(zeroed);
    if (scanPeak) {
        double lanePeak[4], laneFloor[4];
        LanesFromStart(first, hi, lo, lanePeak, laneFloor);
        FoldScan(lanePeak, laneFloor, last, h + 1 - tail, *scanPeak, *scanFloor);
    }
    return peak;
}

}  // namespace

RawPeaks UnwindowedPeaksAvx2(const HalfSpectra& s, std::size_t n, int channel) {
    const std::size_t h = n / 2;
    const double* re = s.re[channel];
    const double* im = s.im[channel];
    V top = _mm256_setzero_pd();
    for (std::size_t k = 4; k + 4 <= h; k += 4)
        top = _mm256_max_pd(RawPower(re, im, static_cast<std::ptrdiff_t>(k)), top);
    RawPeaks peaks;
    // The display's pass: bins 4 .. h - 1 in fours, 0 .. 3 and h one by one.
    peaks.a = HorizontalMax(top);
    for (std::size_t k : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, h}) {
        const double p = EdgePower(re, im, static_cast<std::ptrdiff_t>(k));
        peaks.a = p > peaks.a ? p : peaks.a;
    }
    // The power's pass: bins 0 .. h - 1 in fours, h alone.
    peaks.b = HorizontalMax(_mm256_max_pd(RawPower(re, im, 0), top));
    const double p = EdgePower(re, im, static_cast<std::ptrdiff_t>(h));
    peaks.b = p > peaks.b ? p : peaks.b;
    return peaks;
}

RawPeaks WindowMagPhaseAvx2(const HalfSpectra& s, std::size_t n, const WindowTaps& w, double* magA,
                            double* phaseA, double* magB, double* phaseB, bool mirrors, PeaksAndFloors* scan,
                            int channel, ZeroBelow* zero) {
    double* mag[2] = {magA, magB};
    double* phase[2] = {phaseA, phaseB};
    RawPeaks peaks;
    double* peak[2] = {&peaks.a, &peaks.b};
    for (int c = 0; c < 2; ++c) {
        if (channel >= 0 && c != channel) continue;
        double* scanPeak = scan ? (c == 0 ? &scan->peakA : &scan->peakB) : nullptr;
        double* scanFloor = scan ? (c == 0 ? &scan->floorA : &scan->floorB) : nullptr;
        *peak[c] = zero && channel >= 0 ? MagPhaseChannel<true>(s.re[c], s.im[c], n, w, mag[c], phase[c],
                                                                mirrors, scanPeak, scanFloor, zero)
                                        : MagPhaseChannel<false>(s.re[c], s.im[c], n, w, mag[c], phase[c],
                                                                 mirrors, scanPeak, scanFloor, nullptr);
    }
    return peaks;
}

RawPeaks WindowPowerAvx2(const HalfSpectra& s, std::size_t n, const WindowTaps& w, double* powerA,
                         double* powerB, PeaksAndFloors* scan, int channel, ZeroBelow* zero) {
    double* power[2] = {powerA, powerB};
    RawPeaks peaks;
    double* peak[2] = {&peaks.a, &peaks.b};
    for (int c = 0; c < 2; ++c) {
        if (channel >= 0 && c != channel) continue;
        double* scanPeak = scan ? (c == 0 ? &scan->peakA : &scan->peakB) : nullptr;
        double* scanFloor = scan ? (c == 0 ? &scan->floorA : &scan->floorB) : nullptr;
        *peak[c] = zero && channel >= 0
                       ? PowerChannel<true>(s.re[c], s.im[c], n, w, power[c], scanPeak, scanFloor, zero)
                       : PowerChannel<false>(s.re[c], s.im[c], n, w, power[c], scanPeak, scanFloor, nullptr);
    }
    return peaks;
}

void PowerAvx2(const FftPlan& plan, const double* timeA, const double* timeB, double* powerA,
               double* powerB) {
    Transform(plan, timeA, timeB);
    for (std::size_t c = 1; c < plan.n / 32; ++c) FinalChunkPower(plan, c, powerA, powerB);
    FinalEdgesPower(plan, powerA, powerB);
}

void MagnitudePhaseAvx2(const double* re, const double* im, double* mag, double* phase,
                        double* phaseOfConjugate, std::size_t count) {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const MagPhase mp = ToMagPhase(LoadU(re + i), LoadU(im + i));
        StoreU(mag + i, mp.mag);
        StoreU(phase + i, mp.phase);
        StoreU(phaseOfConjugate + i, mp.phaseMirror);
    }
    for (; i < count; ++i) {
        const MagnitudePhase mp = ToMagnitudePhaseOne(re[i], im[i]);
        mag[i] = mp.magnitude;
        phase[i] = mp.phase;
        phaseOfConjugate[i] = ToMagnitudePhaseOne(re[i], -im[i]).phase;
    }
}

PeaksAndFloors ScanAvx2(const double* a, const double* b, std::size_t count) {
    if (count < 8) return ScanPortable(a, b, count);
    V peakA = LoadU(a), floorA = peakA, peakB = LoadU(b), floorB = peakB;
    std::size_t k = 4;
    for (; k + 4 <= count; k += 4) {
        const V va = LoadU(a + k), vb = LoadU(b + k);
        peakA = _mm256_max_pd(va, peakA);
        floorA = _mm256_min_pd(va, floorA);
        peakB = _mm256_max_pd(vb, peakB);
        floorB = _mm256_min_pd(vb, floorB);
    }
    alignas(32) double pa[4], fa[4], pb[4], fb[4];
    Store(pa, peakA);
    Store(fa, floorA);
    Store(pb, peakB);
    Store(fb, floorB);
    PeaksAndFloors r{pa[0], fa[0], pb[0], fb[0]};
    for (std::size_t l = 1; l < 4; ++l) {
        r.peakA = pa[l] > r.peakA ? pa[l] : r.peakA;
        r.floorA = fa[l] < r.floorA ? fa[l] : r.floorA;
        r.peakB = pb[l] > r.peakB ? pb[l] : r.peakB;
        r.floorB = fb[l] < r.floorB ? fb[l] : r.floorB;
    }
    for (; k < count; ++k) {
        r.peakA = a[k] > r.peakA ? a[k] : r.peakA;
        r.floorA = a[k] < r.floorA ? a[k] : r.floorA;
        r.peakB = b[k] > r.peakB ? b[k] : r.peakB;
        r.floorB = b[k] < r.floorB ? b[k] : r.floorB;
    }
    return r;
}

// GCC and clang would fuse the products and the sum into one rounding (FMA);
// the average must round as the plain expression does, in either compiler.
#if defined(__clang__)
#define MIRAL_NO_FP_CONTRACT
#else
#define MIRAL_NO_FP_CONTRACT __attribute__((optimize("fp-contract=off")))
#endif
MIRAL_NO_FP_CONTRACT void LfAverageAvx2(double* shown, const double* fresh, std::size_t count) {
#if defined(__clang__)
#pragma clang fp contract(off)
#endif
    const V maxFinite = Set1(1.7976931348623157e308);
    const V c9 = Set1(0.9), c1 = Set1(0.1);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const V q = LoadU(shown + i);
        const V p = LoadU(fresh + i);
        // Products and sum rounded one by one, as the plain expression.
        const V mixed = Add(Mul(c9, q), Mul(c1, p));
        const V qFinite = Cmp<_CMP_LE_OQ>(Abs(q), maxFinite);
        const V pFinite = Cmp<_CMP_LE_OQ>(Abs(p), maxFinite);
        const V next = Or(And(qFinite, mixed), AndNot(qFinite, p));
        StoreU(shown + i, Or(And(pFinite, next), AndNot(pFinite, q)));
    }
    for (; i < count; ++i) {
        const double q = shown[i], p = fresh[i];
        if (!(std::fabs(p) <= 1.7976931348623157e308)) continue;
        shown[i] = std::fabs(q) <= 1.7976931348623157e308 ? 0.9 * q + 0.1 * p : p;
    }
}

void TakeFiniteAvx2(double* shown, const double* fresh, std::size_t count) {
    const V maxFinite = Set1(1.7976931348623157e308);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const V p = LoadU(fresh + i);
        const V pFinite = Cmp<_CMP_LE_OQ>(Abs(p), maxFinite);
        StoreU(shown + i, Or(And(pFinite, p), AndNot(pFinite, LoadU(shown + i))));
    }
    for (; i < count; ++i)
        if (std::fabs(fresh[i]) <= 1.7976931348623157e308) shown[i] = fresh[i];
}

void DisplayLogAvx2(const double* magnitude, double* out, std::size_t count, double scale, double* shown) {
    // Blocks whose values are all zero or positive normal finite numbers take
    // the vector path; any other value (subnormal, negative, infinite, NaN)
    // sends its block through the plain formula.
    constexpr std::size_t kBlock = 32;
    const V vScale = Set1(scale);
    std::size_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        const double* m = magnitude + i;
        V ordinary = Cmp<_CMP_EQ_OQ>(Set1(0.0), Set1(0.0));
        for (std::size_t k = 0; k < kBlock; k += 4) {
            const V v = LoadU(m + k);
            const V normal = And(Cmp<_CMP_GE_OQ>(v, Set1(2.2250738585072014e-308)),
                                 Cmp<_CMP_LE_OQ>(v, Set1(1.7976931348623157e308)));
            ordinary = And(ordinary, Or(normal, Cmp<_CMP_EQ_OQ>(v, _mm256_setzero_pd())));
        }
        if (_mm256_movemask_pd(ordinary) != 0xF) {
            DisplayLogPortable(m, out + i, kBlock, scale, shown == nullptr ? nullptr : shown + i);
            continue;
        }
        for (std::size_t k = 0; k < kBlock; k += 4) {
            const V v = LoadU(m + k);
            const V zero = Cmp<_CMP_EQ_OQ>(v, _mm256_setzero_pd());
            const V d = Mul(vScale, Fma(LogNormal(v), Set1(2000.0), Set1(-5160.0)));
            const V r = Or(AndNot(zero, d), And(zero, Set1(-450.0)));
            StoreU(out + i + k, r);
            if (shown != nullptr) {
                // A huge scale can still carry a value past the largest finite one.
                const V finite = Cmp<_CMP_LE_OQ>(Abs(r), Set1(1.7976931348623157e308));
                StoreU(shown + i + k, Or(And(finite, r), AndNot(finite, LoadU(shown + i + k))));
            }
        }
    }
    DisplayLogPortable(magnitude + i, out + i, count - i, scale, shown == nullptr ? nullptr : shown + i);
}

}  // namespace miral::analysis::detail

#else  // not built for AVX2: never selected (CpuHasAvx2Fma is false), kept linkable

namespace miral::analysis::detail {

void SpectraAvx2(const FftPlan& plan, const double* timeA, const double* timeB, const HalfSpectra& s) {
    SpectraPortable(plan, timeA, timeB, s);
}

RawPeaks WindowMagPhaseAvx2(const HalfSpectra& s, std::size_t n, const WindowTaps& w, double* magA,
                            double* phaseA, double* magB, double* phaseB, bool mirrors, PeaksAndFloors* scan,
                            int channel, ZeroBelow* zero) {
    const RawPeaks raw = WindowMagPhasePortable(s, n, w, magA, phaseA, magB, phaseB, mirrors);
    if (scan) *scan = ScanPortable(magA, magB, n / 2 + 1);
    if (zero && channel >= 0) {
        double* mag = channel == 0 ? magA : magB;
        double* phase = channel == 0 ? phaseA : phaseB;
        if (!phase) phase = zero->phase;
        for (std::size_t k = 0; k < (mirrors ? n : n / 2 + 1); ++k) {
            if (std::isnan(mag[k])) zero->nan = true;
            if (!(mag[k] <= zero->limit)) continue;
            zero->zeroed = true;
            mag[k] = 0.0;
            if (phase) phase[k] = 90.0;
        }
    }
    return raw;
}

RawPeaks WindowPowerAvx2(const HalfSpectra& s, std::size_t n, const WindowTaps& w, double* powerA,
                         double* powerB, PeaksAndFloors* scan, int channel, ZeroBelow* zero) {
    const RawPeaks raw = WindowPowerPortable(s, n, w, powerA, powerB);
    if (scan) *scan = ScanPortable(powerA, powerB, n / 2 + 1);
    if (zero && channel >= 0) {
        double* power = channel == 0 ? powerA : powerB;
        for (std::size_t k = 0; k <= n / 2; ++k) {
            if (!(power[k] <= zero->limit)) continue;
            zero->zeroed = true;
            power[k] = 0.0;
        }
    }
    return raw;
}

RawPeaks UnwindowedPeaksAvx2(const HalfSpectra& s, std::size_t n, int channel) {
    RawPeaks peaks;
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const double p = s.re[channel][k] * s.re[channel][k] + s.im[channel][k] * s.im[channel][k];
        peaks.a = p > peaks.a ? p : peaks.a;
    }
    peaks.b = peaks.a;
    return peaks;
}

void PowerAvx2(const FftPlan& plan, const double* timeA, const double* timeB, double* powerA,
               double* powerB) {
    PowerPortable(plan, timeA, timeB, powerA, powerB);
}

void MagnitudePhaseAvx2(const double* re, const double* im, double* mag, double* phase,
                        double* phaseOfConjugate, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const MagnitudePhase mp = ToMagnitudePhaseOne(re[i], im[i]);
        mag[i] = mp.magnitude;
        phase[i] = mp.phase;
        phaseOfConjugate[i] = ToMagnitudePhaseOne(re[i], -im[i]).phase;
    }
}

void DisplayLogAvx2(const double* magnitude, double* out, std::size_t count, double scale, double* shown) {
    DisplayLogPortable(magnitude, out, count, scale, shown);
}

void TakeFiniteAvx2(double* shown, const double* fresh, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (std::isfinite(fresh[i])) shown[i] = fresh[i];
}

void LfAverageAvx2(double* shown, const double* fresh, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const double q = shown[i], p = fresh[i];
        if (!std::isfinite(p)) continue;
        shown[i] = std::isfinite(q) ? 0.9 * q + 0.1 * p : p;
    }
}

PeaksAndFloors ScanAvx2(const double* a, const double* b, std::size_t count) {
    return ScanPortable(a, b, count);
}

}  // namespace miral::analysis::detail

#endif
