// SPDX-License-Identifier: GPL-3.0-or-later
// The portable kernels: plain C++ for any CPU, and the reference the vector
// kernels are tested against.
#include <cmath>
#include <cstddef>

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
        const double w = plan.window ? plan.window[i] : plan.scale;
        xr[r] = timeA[i] * w;
        xi[r] = timeB[i] * w;
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

void SpectraPortable(const FftPlan& plan, const double* timeA, const double* timeB, const HalfSpectra& s) {
    const std::size_t n = plan.n;
    const double* xr = plan.workRe;
    const double* xi = plan.workIm;

    Transform(plan, timeA, timeB);

    // Z = A + jB, so A[k] = (Z[k] + conj Z[n-k]) / 2 and B[k] = (Z[k] - conj Z[n-k]) / 2j; the
    // halves are in the scale already.
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const std::size_t m = (n - k) & (n - 1);
        s.re[0][k] = xr[k] + xr[m];
        s.im[0][k] = xi[k] - xi[m];
        s.re[1][k] = xi[k] + xi[m];
        s.im[1][k] = xr[m] - xr[k];
    }
}

void FillSpectrumPads(const HalfSpectra& s, std::size_t n) {
    const std::size_t h = n / 2;
    for (int c = 0; c < 2; ++c) {
        for (std::size_t m = 1; m <= kSpectrumPad; ++m) {
            s.re[c][-static_cast<std::ptrdiff_t>(m)] = s.re[c][m];
            s.im[c][-static_cast<std::ptrdiff_t>(m)] = -s.im[c][m];
            s.re[c][h + m] = s.re[c][h - m];
            s.im[c][h + m] = -s.im[c][h - m];
        }
    }
}

namespace {

// Bin k of channel c (any integer k): the spectrum of a real record of n
// points repeats every n bins and bin n - k is the conjugate of bin k.
void BinAt(const HalfSpectra& s, int c, std::size_t n, std::ptrdiff_t k, double& re, double& im) {
    const auto nn = static_cast<std::ptrdiff_t>(n);
    std::size_t i = static_cast<std::size_t>(((k % nn) + nn) % nn);
    if (i <= n / 2) {
        re = s.re[c][i];
        im = s.im[c][i];
    } else {
        re = s.re[c][n - i];
        im = -s.im[c][n - i];
    }
}

// The windowed bin k of channel c, the taps summed from the outermost in.
void WindowedBin(const HalfSpectra& s, int c, std::size_t n, const WindowTaps& w, std::size_t k, double& re,
                 double& im) {
    const auto kk = static_cast<std::ptrdiff_t>(k);
    // From 64 points on the pads hold the neighbours beyond both ends.
    const bool padded = n >= 64;
    double sr = 0, si = 0;
    for (int m = w.terms - 1; m >= 1; --m) {
        double lr, li, ur, ui;
        if (padded) {
            lr = s.re[c][kk - m];
            li = s.im[c][kk - m];
            ur = s.re[c][kk + m];
            ui = s.im[c][kk + m];
        } else {
            BinAt(s, c, n, kk - m, lr, li);
            BinAt(s, c, n, kk + m, ur, ui);
        }
        sr += w.tap[m] * (lr + ur);
        si += w.tap[m] * (li + ui);
    }
    re = sr + w.tap[0] * s.re[c][k];
    im = si + w.tap[0] * s.im[c][k];
}

}  // namespace

RawPeaks WindowMagPhasePortable(const HalfSpectra& s, std::size_t n, const WindowTaps& w, double* magA,
                                double* phaseA, double* magB, double* phaseB, bool mirrors) {
    RawPeaks peaks;
    double* mag[2] = {magA, magB};
    double* phase[2] = {phaseA, phaseB};
    double* peak[2] = {&peaks.a, &peaks.b};
    for (int c = 0; c < 2; ++c) {
        for (std::size_t k = 0; k <= n / 2; ++k) {
            const double p = s.re[c][k] * s.re[c][k] + s.im[c][k] * s.im[c][k];
            *peak[c] = p > *peak[c] ? p : *peak[c];
            double re, im;
            WindowedBin(s, c, n, w, k, re, im);
            const Bin b = ToBin(re, im);
            mag[c][k] = b.magnitude;
            if (phase[c]) phase[c][k] = b.phase;
            const std::size_t m = (n - k) & (n - 1);
            if (mirrors && k != 0 && k != m) {
                mag[c][m] = b.magnitude;
                if (phase[c]) phase[c][m] = b.phaseConjugate;
            }
        }
    }
    return peaks;
}

RawPeaks WindowPowerPortable(const HalfSpectra& s, std::size_t n, const WindowTaps& w, double* powerA,
                             double* powerB) {
    RawPeaks peaks;
    double* power[2] = {powerA, powerB};
    double* peak[2] = {&peaks.a, &peaks.b};
    for (int c = 0; c < 2; ++c) {
        for (std::size_t k = 0; k <= n / 2; ++k) {
            const double p = s.re[c][k] * s.re[c][k] + s.im[c][k] * s.im[c][k];
            *peak[c] = p > *peak[c] ? p : *peak[c];
            double re, im;
            WindowedBin(s, c, n, w, k, re, im);
            power[c][k] = re * re + im * im;
        }
    }
    return peaks;
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

void DisplayLogPortable(const double* magnitude, double* out, std::size_t count, double scale,
                        double* shown) {
    for (std::size_t i = 0; i < count; ++i) {
        const double m = magnitude[i];
        const double d = m == 0 ? -450.0 : scale * (2000.0 * std::log(m) - 5160.0);
        out[i] = d;
        if (shown != nullptr && std::isfinite(d)) shown[i] = d;
    }
}

}  // namespace miral::analysis::detail
