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
#include "analysis/fft.h"
#include "analysis/fft_kernels.h"

#if defined(__AVX2__) && defined(__FMA__)

#include <immintrin.h>

namespace miral::analysis::detail {
namespace {

using V = __m256d;

struct Cv {
  V re;
  V im;
};

inline V Set1(double x) { return _mm256_set1_pd(x); }
inline V Load(const double* p) { return _mm256_load_pd(p); }
inline V LoadU(const double* p) { return _mm256_loadu_pd(p); }
inline void Store(double* p, V v) { _mm256_store_pd(p, v); }
inline void StoreU(double* p, V v) { _mm256_storeu_pd(p, v); }
inline V Add(V a, V b) { return _mm256_add_pd(a, b); }
inline V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
inline V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
inline V Fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
inline V Select(V mask, V ifFalse, V ifTrue) { return _mm256_blendv_pd(ifFalse, ifTrue, mask); }
inline V SignBit() { return Set1(-0.0); }
inline V Abs(V a) { return _mm256_andnot_pd(SignBit(), a); }
inline V Neg(V a) { return _mm256_xor_pd(a, SignBit()); }
inline V Reverse(V a) { return _mm256_permute4x64_pd(a, 0x1B); }

inline Cv Add(Cv a, Cv b) { return {Add(a.re, b.re), Add(a.im, b.im)}; }
inline Cv Sub(Cv a, Cv b) { return {Sub(a.re, b.re), Sub(a.im, b.im)}; }
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
// cache lines, so they are done together.
void FirstPass(const FftPlan& plan, const double* a, const double* b, std::size_t gBegin,
               std::size_t gEnd) {
  const std::size_t n = plan.n;
  const std::size_t quarter = n / 4;
  const std::size_t halfGroups = n / 32;
  const double* w = plan.window;
  double* xr = plan.workRe;
  double* xi = plan.workIm;
  for (std::size_t g = gBegin; g < gEnd; ++g) {
    const std::size_t s = plan.groupReverse[g];
    for (std::size_t half = 0; half < 2; ++half) {
      const std::size_t off = s + 4 * half;
      Cv t[4];
      for (std::size_t q = 0; q < 4; ++q) {
        const std::size_t i = q * quarter + off;
        const V wv = Load(w + i);
        t[q] = {Mul(LoadU(a + i), wv), Mul(LoadU(b + i), wv)};
      }
      Cv o[4];
      Dft4(t[0], t[1], t[2], t[3], o[0], o[1], o[2], o[3]);
      const std::size_t row = 4 * (g + half * halfGroups);
      for (std::size_t lo = 0; lo < 4; ++lo) {
        Store(xr + 4 * (row + lo), o[lo].re);
        Store(xi + 4 * (row + lo), o[lo].im);
      }
    }
  }
}

// ---- Lane-wise stages ----

// One radix-4 decimation-in-time step of span h (rows) over rows
// [rowBegin, rowEnd): combines the four h-point transforms of each block of
// 4h rows (residues 0, 2, 1, 3 of the block's sequence, in that order).
void Radix4Stage(double* xr, double* xi, std::size_t rowBegin, std::size_t rowEnd,
                 std::size_t h, const double* tw) {
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

// ---- Magnitude and phase ----

constexpr double kTanPi8 = 0.4142135623730950488017;
constexpr double kPi4 = 0.7853981633974483096157;
constexpr double kPi2 = 1.570796326794896619231;

// atan(y / x) in radians for x >= 0 (x = y = 0 gives NaN; the callers
// replace those lanes). Octant reduction to |t| <= tan(pi/8) with a single
// division, then t + t^3 P(t^2), P a degree-10 fit (error below 1e-17).
inline V AtanRatio(V y, V x) {
  const V a = Abs(y);
  const V swap = _mm256_cmp_pd(a, x, _CMP_GT_OQ);
  const V num = _mm256_min_pd(a, x);
  const V den = _mm256_max_pd(a, x);
  const V big = _mm256_cmp_pd(num, Mul(den, Set1(kTanPi8)), _CMP_GT_OQ);
  const V t = _mm256_div_pd(Select(big, num, Sub(num, den)), Select(big, den, Add(num, den)));
  const V z = Mul(t, t);
  V p = Set1(-0.0191768871190622589893);
  p = Fma(p, z, Set1(0.03923165829558719130283));
  p = Fma(p, z, Set1(-0.05085449737940259861323));
  p = Fma(p, z, Set1(0.05858148912802209881646));
  p = Fma(p, z, Set1(-0.06664511447381948000098));
  p = Fma(p, z, Set1(0.07692183190826086563693));
  p = Fma(p, z, Set1(-0.09090904578123901890479));
  p = Fma(p, z, Set1(0.1111111101525636172749));
  p = Fma(p, z, Set1(-0.1428571428466654292249));
  p = Fma(p, z, Set1(0.1999999999999552067782));
  p = Fma(p, z, Set1(-0.3333333333333333015966));
  V r = Fma(Mul(t, z), p, t);
  r = Add(r, _mm256_and_pd(big, Set1(kPi4)));
  r = Select(swap, r, Sub(Set1(kPi2), r));
  return _mm256_or_pd(r, _mm256_and_pd(y, SignBit()));
}

struct MagPhase {
  V mag;
  V phase;        // of (re, im)
  V phaseMirror;  // of (re, -im), the conjugate bin
};

// Magnitude and phase by the rules of ToMagnitudePhaseOne, for a value and
// for its conjugate.
inline MagPhase ToMagPhase(V re, V im) {
  MagPhase out;
  out.mag = _mm256_sqrt_pd(Add(Mul(re, re), Mul(im, im)));
  const V ax = Abs(re);
  const V deg = Mul(AtanRatio(im, ax), Set1(kDegreesPerRadian));
  const V tiny = _mm256_cmp_pd(ax, Set1(kPhaseTinyReal), _CMP_NGE_UQ);
  const V up = Set1(90.0);
  const V down = Set1(-90.0);
  const V q = Select(tiny, deg, Select(_mm256_cmp_pd(im, _mm256_setzero_pd(), _CMP_GE_OQ), down, up));
  const V qm =
      Select(tiny, Neg(deg), Select(_mm256_cmp_pd(im, _mm256_setzero_pd(), _CMP_LE_OQ), down, up));
  const V negative = _mm256_cmp_pd(re, _mm256_setzero_pd(), _CMP_LT_OQ);
  const V c180 = Set1(180.0);
  out.phase = Select(negative, q, Sub(c180, q));
  out.phaseMirror = Select(negative, qm, Sub(c180, qm));
  return out;
}

// ---- Last radix-4 step across the lanes, separation, magnitude, phase ----

struct Outputs {
  double* magA;
  double* phaseA;
  double* magB;
  double* phaseB;
};

// Bins k = j + qQ for j in the chunk 4c .. 4c+3 (lanes) are computed with the
// chunk j' = Q - j (rows Q - 4c - l, lane l), which holds bins n - k, so both
// halves of a conjugate pair meet in the same lane.
void FinalChunk(const FftPlan& plan, std::size_t c, const Outputs& out) {
  const std::size_t n = plan.n;
  const std::size_t quarter = n / 4;
  const double* xr = plan.workRe;
  const double* xi = plan.workIm;
  const std::size_t j0 = 4 * c;

  V tJr[4], tJi[4], tKr[4], tKi[4];
  Transpose(Load(xr + 4 * j0), Load(xr + 4 * (j0 + 1)), Load(xr + 4 * (j0 + 2)),
            Load(xr + 4 * (j0 + 3)), tJr);
  Transpose(Load(xi + 4 * j0), Load(xi + 4 * (j0 + 1)), Load(xi + 4 * (j0 + 2)),
            Load(xi + 4 * (j0 + 3)), tJi);
  const std::size_t k0 = quarter - j0;
  Transpose(Load(xr + 4 * k0), Load(xr + 4 * (k0 - 1)), Load(xr + 4 * (k0 - 2)),
            Load(xr + 4 * (k0 - 3)), tKr);
  Transpose(Load(xi + 4 * k0), Load(xi + 4 * (k0 - 1)), Load(xi + 4 * (k0 - 2)),
            Load(xi + 4 * (k0 - 3)), tKi);

  const double* tw = plan.finalTwiddle + 24 * c;
  const V w1r = Load(tw), w1i = Load(tw + 4);
  const V w2r = Load(tw + 8), w2i = Load(tw + 12);
  const V w3r = Load(tw + 16), w3i = Load(tw + 20);

  Cv oJ[4], oK[4];
  Dft4({tJr[0], tJi[0]}, Mul(Cv{tJr[1], tJi[1]}, w1r, w1i), Mul(Cv{tJr[2], tJi[2]}, w2r, w2i),
       Mul(Cv{tJr[3], tJi[3]}, w3r, w3i), oJ[0], oJ[1], oJ[2], oJ[3]);
  // W^(Q - j) = -j conj(W^j), W^(2(Q - j)) = -conj(W^2j), W^(3(Q - j)) = j conj(W^3j).
  Dft4({tKr[0], tKi[0]}, Mul(Cv{tKr[1], tKi[1]}, Neg(w1i), Neg(w1r)),
       Mul(Cv{tKr[2], tKi[2]}, Neg(w2r), w2i), Mul(Cv{tKr[3], tKi[3]}, w3i, w3r), oK[0], oK[1],
       oK[2], oK[3]);

  for (std::size_t q = 0; q < 4; ++q) {
    const Cv z = oJ[q];
    const Cv m = oK[3 - q];
    const MagPhase a = ToMagPhase(Add(z.re, m.re), Sub(z.im, m.im));
    const MagPhase b = ToMagPhase(Add(z.im, m.im), Sub(m.re, z.re));
    const std::size_t k = q * quarter + j0;
    StoreU(out.magA + k, a.mag);
    StoreU(out.phaseA + k, a.phase);
    StoreU(out.magB + k, b.mag);
    StoreU(out.phaseB + k, b.phase);
    const std::size_t km = n - k - 3;
    StoreU(out.magA + km, Reverse(a.mag));
    StoreU(out.phaseA + km, Reverse(a.phaseMirror));
    StoreU(out.magB + km, Reverse(b.mag));
    StoreU(out.phaseB + km, Reverse(b.phaseMirror));
  }
}

// The rows the chunks leave out (j = 0..3, n/8, Q-3..Q-1), in scalar code.
void FinalEdges(const FftPlan& plan, const Outputs& out) {
  const std::size_t n = plan.n;
  const std::size_t quarter = n / 4;
  const std::size_t js[8] = {0, 1, 2, 3, n / 8, quarter - 3, quarter - 2, quarter - 1};
  double zr[8][4], zi[8][4];
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
  // Slot of Q - j: 0 <-> 0, 1 <-> 7, 2 <-> 6, 3 <-> 5, 4 <-> 4.
  const std::size_t mirrorSlot[8] = {0, 7, 6, 5, 4, 3, 2, 1};
  for (std::size_t s = 0; s < 8; ++s) {
    for (std::size_t q = 0; q < 4; ++q) {
      const std::size_t k = js[s] + q * quarter;
      const std::size_t ms = mirrorSlot[s];
      const std::size_t mq = s == 0 ? (4 - q) % 4 : 3 - q;
      const double mr = zr[ms][mq], mi = zi[ms][mq];
      const MagnitudePhase a = ToMagnitudePhaseOne(zr[s][q] + mr, zi[s][q] - mi);
      const MagnitudePhase b = ToMagnitudePhaseOne(zi[s][q] + mi, mr - zr[s][q]);
      out.magA[k] = a.magnitude;
      out.phaseA[k] = a.phase;
      out.magB[k] = b.magnitude;
      out.phaseB[k] = b.phase;
    }
  }
}

}  // namespace

void AnalyzeAvx2(const FftPlan& plan, const double* timeA, const double* timeB, double* magA,
                 double* phaseA, double* magB, double* phaseB) {
  const std::size_t n = plan.n;
  const std::size_t rows = n / 4;
  double* xr = plan.workRe;
  double* xi = plan.workIm;

  FirstPass(plan, timeA, timeB, 0, n / 32);

  const double* tw = plan.stageTwiddle;
  std::size_t h = 4;
  for (; 4 * h <= rows; h *= 4) {
    Radix4Stage(xr, xi, 0, rows, h, tw);
    tw += 6 * h;
  }
  if (h < rows) Radix2Stage(xr, xi, rows / 2, plan.radix2Twiddle);

  const Outputs out{magA, phaseA, magB, phaseB};
  for (std::size_t c = 1; c < n / 32; ++c) FinalChunk(plan, c, out);
  FinalEdges(plan, out);
}

void DisplayLogAvx2(const double* magnitude, double* out, std::size_t count, double scale) {
  DisplayLogPortable(magnitude, out, count, scale);
}

}  // namespace miral::analysis::detail

#else  // not built for AVX2: never selected (CpuHasAvx2Fma is false), kept linkable

namespace miral::analysis::detail {

void AnalyzeAvx2(const FftPlan& plan, const double* timeA, const double* timeB, double* magA,
                 double* phaseA, double* magB, double* phaseB) {
  AnalyzePortable(plan, timeA, timeB, magA, phaseA, magB, phaseB);
}

void DisplayLogAvx2(const double* magnitude, double* out, std::size_t count, double scale) {
  DisplayLogPortable(magnitude, out, count, scale);
}

}  // namespace miral::analysis::detail

#endif
