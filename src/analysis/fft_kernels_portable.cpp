// SPDX-License-Identifier: GPL-3.0-or-later
// The portable kernels: plain C++ for any CPU, and the reference the vector
// kernels are tested against.
#include <cmath>

#include "analysis/fft.h"
#include "analysis/fft_kernels.h"

namespace miral::analysis::detail {
namespace {

struct Bin {
    double magnitude;
    double phase;           // of (re, im)
    double phaseConjugate;  // of (re, -im): the mirrored bin, without a second arctangent
};

Bin ToBin(double re, double im) {
    Bin b;
    b.magnitude = std::sqrt(re * re + im * im);
    double q, qc;
    if (std::fabs(re) >= kPhaseTinyReal) {
        q = std::atan(im / std::fabs(re)) * kDegreesPerRadian;
        qc = -q;  // atan is odd
    } else {
        q = im >= 0 ? 90.0 : -90.0;
        qc = -im >= 0 ? 90.0 : -90.0;
    }
    b.phase = re < 0 ? 180.0 - q : q;
    b.phaseConjugate = re < 0 ? 180.0 - qc : qc;
    return b;
}

// The complex transform of A + jB, windowed, into the work arrays (natural
// order).
void Transform(const FftPlan& plan, const double* timeA, const double* timeB) {
    const std::size_t n = plan.n;
    double* xr = plan.workRe;
    double* xi = plan.workIm;
    // Channel A as the real part and channel B as the imaginary part of one
    // complex sequence, windowed and stored in bit-reversed order.
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = plan.reverse[i];
        xr[r] = timeA[i] * plan.window[i];
        xi[r] = timeB[i] * plan.window[i];
    }

    // Radix-2 decimation in time; natural order out.
    for (std::size_t h = 1; h < n; h *= 2) {
        const std::size_t step = n / (2 * h);
        for (std::size_t k = 0; k < n; k += 2 * h) {
            for (std::size_t j = 0; j < h; ++j) {
                const double wr = plan.rootRe[j * step];
                const double wi = plan.rootIm[j * step];
                const std::size_t a = k + j;
                const std::size_t b = a + h;
                const double tr = xr[b] * wr - xi[b] * wi;
                const double ti = xr[b] * wi + xi[b] * wr;
                xr[b] = xr[a] - tr;
                xi[b] = xi[a] - ti;
                xr[a] += tr;
                xi[a] += ti;
            }
        }
    }
}

}  // namespace

void AnalyzePortable(const FftPlan& plan, const double* timeA, const double* timeB, double* magA,
                     double* phaseA, double* magB, double* phaseB) {
    const std::size_t n = plan.n;
    const double* xr = plan.workRe;
    const double* xi = plan.workIm;

    Transform(plan, timeA, timeB);

    // Z = A + jB, so A[k] = (Z[k] + conj Z[n-k]) / 2 and B[k] = (Z[k] - conj Z[n-k]) / 2j; the
    // halves are in the window table already. Bin n-k of a real signal is the
    // conjugate of bin k.
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const std::size_t m = (n - k) & (n - 1);
        const double ar = xr[k] + xr[m];
        const double ai = xi[k] - xi[m];
        const double br = xi[k] + xi[m];
        const double bi = xr[m] - xr[k];
        const Bin a = ToBin(ar, ai);
        const Bin b = ToBin(br, bi);
        magA[k] = a.magnitude;
        phaseA[k] = a.phase;
        magB[k] = b.magnitude;
        phaseB[k] = b.phase;
        if (k != 0 && k != m) {
            magA[m] = a.magnitude;
            phaseA[m] = a.phaseConjugate;
            magB[m] = b.magnitude;
            phaseB[m] = b.phaseConjugate;
        }
    }
}

void PowerPortable(const FftPlan& plan, const double* timeA, const double* timeB, double* powerA,
                   double* powerB) {
    const std::size_t n = plan.n;
    const double* xr = plan.workRe;
    const double* xi = plan.workIm;
    Transform(plan, timeA, timeB);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const std::size_t m = (n - k) & (n - 1);
        const double ar = xr[k] + xr[m];
        const double ai = xi[k] - xi[m];
        const double br = xi[k] + xi[m];
        const double bi = xr[m] - xr[k];
        powerA[k] = ar * ar + ai * ai;
        powerB[k] = br * br + bi * bi;
    }
}

PeaksAndFloors ScanPortable(const double* a, const double* b, std::size_t count) {
    // Four independent lanes keep the comparisons from waiting on each other.
    double peakA[4], floorA[4], peakB[4], floorB[4];
    for (std::size_t l = 0; l < 4; ++l) {
        peakA[l] = floorA[l] = a[0];
        peakB[l] = floorB[l] = b[0];
    }
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t l = k & 3;
        peakA[l] = a[k] > peakA[l] ? a[k] : peakA[l];
        floorA[l] = a[k] < floorA[l] ? a[k] : floorA[l];
        peakB[l] = b[k] > peakB[l] ? b[k] : peakB[l];
        floorB[l] = b[k] < floorB[l] ? b[k] : floorB[l];
    }
    PeaksAndFloors r{peakA[0], floorA[0], peakB[0], floorB[0]};
    for (std::size_t l = 1; l < 4; ++l) {
        r.peakA = peakA[l] > r.peakA ? peakA[l] : r.peakA;
        r.floorA = floorA[l] < r.floorA ? floorA[l] : r.floorA;
        r.peakB = peakB[l] > r.peakB ? peakB[l] : r.peakB;
        r.floorB = floorB[l] < r.floorB ? floorB[l] : r.floorB;
    }
    return r;
}

void DisplayLogPortable(const double* magnitude, double* out, std::size_t count, double scale) {
    for (std::size_t i = 0; i < count; ++i) {
        const double m = magnitude[i];
        out[i] = m == 0 ? -450.0 : scale * (2000.0 * std::log(m) - 5160.0);
    }
}

}  // namespace miral::analysis::detail
