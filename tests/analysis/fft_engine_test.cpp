// SPDX-License-Identifier: GPL-3.0-or-later
// SpectrumEngine against independent transforms: a long-double DFT, FFTW and
// the plain routines of fft.h.
#include "analysis/fft_engine.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analyzer_stage.h"
#include "analysis/fft.h"
#include "analysis/fft_display.h"
#include "analysis/fft_kernels.h"
#include "analysis/window.h"
#include "support/long_dft.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime's allocator interface: called on every malloc and free.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));
#define MIRAL_HAVE_MALLOC_HOOKS 1
#endif

namespace miral::analysis {
namespace {

// A double's bits with every NaN alike: a NaN's sign and payload mean
// nothing, and an optimised build may flip them; a zero's sign does count.
std::uint64_t ValueBits(double x) {
    if (std::isnan(x)) return 0x7ff8000000000000ull;
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}
bool SameValues(const double* a, const double* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (ValueBits(a[i]) != ValueBits(b[i])) return false;
    return true;
}

constexpr std::size_t kArray = 65537;  // the spectrum arrays' length

struct Spectrum {
    std::vector<double> magA, phaseA, magB, phaseB;
    explicit Spectrum(std::size_t count = kArray)
        : magA(count, 7.0), phaseA(count, 7.0), magB(count, 7.0), phaseB(count, 7.0) {}
};

// One channel's expected bins, from complex values X[k] for all n bins.
struct Expected {
    std::vector<double> mag, phase;
};
Expected FromComplex(const std::vector<std::complex<long double>>& x) {
    Expected e;
    for (const auto& v : x) {
        const MagnitudePhase mp =
            ToMagnitudePhaseOne(static_cast<double>(v.real()), static_cast<double>(v.imag()));
        e.mag.push_back(mp.magnitude);
        e.phase.push_back(mp.phase);
    }
    return e;
}

std::vector<double> Windowed(const std::vector<double>& x, WindowKind w) {
    std::vector<double> out(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = WindowFactor(w, i, x.size() + 1) * x[i];
    return out;
}

std::vector<std::complex<long double>> Fftw(const std::vector<double>& x) {
    const std::size_t n = x.size();
    std::vector<double> in(x);
    std::vector<fftw_complex> out(n / 2 + 1);
    fftw_plan p = fftw_plan_dft_r2c_1d(static_cast<int>(n), in.data(), out.data(), FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
    std::vector<std::complex<long double>> full(n);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        full[k] = {out[k][0] / static_cast<long double>(n), out[k][1] / static_cast<long double>(n)};
        if (k != 0 && k != n - k) full[n - k] = std::conj(full[k]);
    }
    return full;
}

// Magnitudes within 1e-12 of the peak. Phases (compared modulo 360, the
// rule puts near-equal values at -90 and 270) within 1e-9 degrees plus what
// rounding of the order of 1e-15 of the peak can do to a weaker bin: a bin
// at 1e-9 of the peak cannot hold its phase to better than about 1e-6 rad in
// any double precision transform.
void ExpectClose(const Expected& want, const double* mag, const double* phase, std::size_t n,
                 const std::string& what, double phaseRounding = 2e-13) {
    const double peak = *std::max_element(want.mag.begin(), want.mag.end());
    int failures = 0;
    for (std::size_t k = 0; k < n && failures < 5; ++k) {
        if (std::fabs(mag[k] - want.mag[k]) > 1e-12 * peak) {
            ADD_FAILURE() << what << " bin " << k << " magnitude " << mag[k] << " want " << want.mag[k];
            ++failures;
        }
        if (want.mag[k] > 1e-9 * peak) {
            double d = std::fmod(std::fabs(phase[k] - want.phase[k]), 360.0);
            d = std::min(d, 360.0 - d);
            const double tol = 1e-9 + phaseRounding * peak / want.mag[k];
            if (!(d <= tol)) {
                ADD_FAILURE() << what << " bin " << k << " phase " << phase[k] << " want " << want.phase[k]
                              << " (magnitude " << want.mag[k] / peak << " of peak)";
                ++failures;
            }
        }
    }
}

// A test signal with a strong tone, a weak one, some DC and noise.
std::vector<double> Signal(std::size_t n, unsigned seed, double bin, double amplitude) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 30.0);
    std::vector<double> x(n);
    const double pi = 4.0 * std::atan(1.0);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = amplitude * std::sin(2 * pi * bin * i / n + 0.3) +
               0.001 * amplitude * std::cos(2 * pi * (bin * 2.7 + 1) * i / n) + 12.5 + noise(rng);
    }
    return x;
}

std::vector<FftKernel> Kernels() {
    std::vector<FftKernel> k{FftKernel::Portable};
    if (FftKernelSupported(FftKernel::Avx2)) k.push_back(FftKernel::Avx2);
    return k;
}
std::string Name(FftKernel k) {
    return k == FftKernel::Avx2 ? "avx2" : "portable";
}

const WindowKind kWindows[] = {WindowKind::Rectangular, WindowKind::Hann,    WindowKind::Hamming,
                               WindowKind::Blackman,    WindowKind::Nuttall, WindowKind::FlatTop};

TEST(SpectrumEngine, MatchesLongDoubleDftForSmallSizes) {
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        for (std::size_t n = 1; n <= 256; n *= 2) {
            for (WindowKind w : kWindows) {
                const auto a = Signal(n, 1 + static_cast<unsigned>(n), n / 8.0 + 1, 20000.0);
                const auto b = Signal(n, 100 + static_cast<unsigned>(n), n / 3.0, 300.0);
                Spectrum s;
                engine.Analyze(a.data(), b.data(), n, w, s.magA.data(), s.phaseA.data(), s.magB.data(),
                               s.phaseB.data());
                const std::string what = Name(kernel) + " n=" + std::to_string(n) + " window " +
                                         std::to_string(static_cast<int>(w));
                ExpectClose(FromComplex(test::LongDoubleDft(Windowed(a, w))), s.magA.data(), s.phaseA.data(),
                            n, what + " A");
                ExpectClose(FromComplex(test::LongDoubleDft(Windowed(b, w))), s.magB.data(), s.phaseB.data(),
                            n, what + " B");
            }
        }
    }
}

TEST(SpectrumEngine, MatchesFftwForEverySize) {
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        for (std::size_t n = 2; n <= 65536; n *= 2) {
            const WindowKind w = n == 16384 || n == 2048 ? WindowKind::Hann : WindowKind::Rectangular;
            const auto a = Signal(n, 7, n / 10.0 + 0.25, 32000.0);
            const auto b = Signal(n, 8, n / 5.0, 1000.0);
            Spectrum s;
            engine.Analyze(a.data(), b.data(), n, w, s.magA.data(), s.phaseA.data(), s.magB.data(),
                           s.phaseB.data());
            const std::string what = Name(kernel) + " n=" + std::to_string(n);
            ExpectClose(FromComplex(Fftw(Windowed(a, w))), s.magA.data(), s.phaseA.data(), n, what + " A");
            ExpectClose(FromComplex(Fftw(Windowed(b, w))), s.magB.data(), s.phaseB.data(), n, what + " B");
        }
    }
}

void Analyze(SpectrumEngine& engine, const std::vector<double>& a, const std::vector<double>& b,
             std::size_t n, WindowKind w, Spectrum& s) {
    engine.Analyze(a.data(), b.data(), n, w, s.magA.data(), s.phaseA.data(), s.magB.data(), s.phaseB.data());
}

// The steps of one cycle with the plain routines: copy, window of count
// n + 1, Fft, ToMagnitudePhase over n bins.
void PlainCycle(const std::vector<double>& x, std::size_t n, WindowKind w, std::vector<double>& re,
                std::vector<double>& im) {
    re.assign(kArray, 0.0);
    im.assign(kArray, 0.0);
    std::copy(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n), re.begin());
    ApplyWindow(w, re.data(), im.data(), n + 1);
    Fft(re.data(), im.data(), n, 1);
    ToMagnitudePhase(re.data(), im.data(), re.data(), im.data(), n);
}

TEST(SpectrumEngine, AgreesWithThePlainRoutines) {
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        for (std::size_t n : {64u, 2048u, 16384u, 65536u}) {
            for (WindowKind w : {WindowKind::Hann, WindowKind::FlatTop}) {
                const auto a = Signal(n, 21, n / 7.0 + 0.5, 30000.0);
                const auto b = Signal(n, 22, 3.0, 5.0);
                Spectrum s;
                Analyze(engine, a, b, n, w, s);
                std::vector<double> re, im;
                const std::string what = Name(kernel) + " n=" + std::to_string(n);
                // The plain transform rounds a little more than FFTW (its twiddles come
                // from double cos/sin and it halves at every stage).
                PlainCycle(a, n, w, re, im);
                ExpectClose({re, im}, s.magA.data(), s.phaseA.data(), n, what + " A", 2e-12);
                PlainCycle(b, n, w, re, im);
                ExpectClose({re, im}, s.magB.data(), s.phaseB.data(), n, what + " B", 2e-12);
            }
        }
    }
}

TEST(SpectrumEngine, UnitCosineOnABinWithoutWindow) {
    const double pi = 4.0 * std::atan(1.0);
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        for (std::size_t n : {8u, 64u, 1024u, 16384u}) {
            for (std::size_t k : {std::size_t{1}, n / 8 + 1, n / 4 - 1, n / 2 - 1}) {
                std::vector<double> a(n), b(n);
                for (std::size_t i = 0; i < n; ++i) {
                    a[i] = std::cos(2 * pi * static_cast<double>(k * i % n) / static_cast<double>(n));
                    b[i] = 2 * a[i];
                }
                Spectrum s;
                Analyze(engine, a, b, n, WindowKind::Rectangular, s);
                for (std::size_t bin = 0; bin < n; ++bin) {
                    const bool on = bin == k || bin == n - k;
                    ASSERT_NEAR(s.magA[bin], on ? 0.5 : 0.0, 1e-14)
                        << Name(kernel) << " n " << n << " bin " << bin;
                    ASSERT_NEAR(s.magB[bin], on ? 1.0 : 0.0, 1e-14);
                }
                EXPECT_NEAR(s.phaseA[k], 0.0, 1e-9);
                EXPECT_NEAR(s.phaseA[n - k], 0.0, 1e-9);
                EXPECT_NEAR(s.phaseB[k], 0.0, 1e-9);
            }
        }
    }
}

TEST(SpectrumEngine, ZerosGiveMagnitudeZeroAndPhasePlus90Everywhere) {
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        for (std::size_t n = 2; n <= 65536; n *= 4) {
            const std::vector<double> zeros(n, 0.0);
            Spectrum s;
            Analyze(engine, zeros, zeros, n, WindowKind::Hann, s);
            for (std::size_t bin = 0; bin < n; ++bin) {
                ASSERT_EQ(s.magA[bin], 0.0);
                ASSERT_EQ(s.phaseA[bin], 90.0) << Name(kernel) << " n " << n << " bin " << bin;
                ASSERT_EQ(s.magB[bin], 0.0);
                ASSERT_EQ(s.phaseB[bin], 90.0);
            }
        }
    }
}

TEST(SpectrumEngine, FullScaleSineWithHann) {
    const double pi = 4.0 * std::atan(1.0);
    const std::size_t n = 16384, k = 2000;
    std::vector<double> a(n), b(n);
    for (std::size_t i = 0; i < n; ++i) {
        a[i] = 32768.0 * std::sin(2 * pi * static_cast<double>(k * i) / n);
        b[i] = -a[i];
    }
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        Spectrum s;
        Analyze(engine, a, b, n, WindowKind::Hann, s);
        const double peak = 32768.0 / 2 * 2.0071 / 2;  // 16442.1632
        EXPECT_NEAR(s.magA[k], peak, 1e-9);
        EXPECT_NEAR(s.magB[k], peak, 1e-9);
        EXPECT_NEAR(s.magA[n - k], peak, 1e-9);
        // Sine: -90, written as 270 by the rule (re rounds to either sign); inverted:
        // +90. The stored degrees factor puts atan(+-inf) 9e-9 short of 90.
        EXPECT_NEAR(std::fmod(s.phaseA[k] + 360.0, 360.0), 270.0, 1e-8);
        EXPECT_NEAR(s.phaseB[k], 90.0, 1e-8);
    }
}

// One channel digitally silent, the other a full-scale tone off the bins
// (its leakage reaches every bin): the silent channel holds no round-off of
// the shared transform, only the zero magnitude and its phase, +90, in
// every bin, the mirrored ones included.
TEST(SpectrumEngine, SilentChannelReadsExactlyZeroBesideAFullScaleTone) {
    const double pi = 4.0 * std::atan(1.0);
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        for (std::size_t n : {64u, 2048u, 16384u, 65536u}) {
            for (WindowKind w : {WindowKind::Hann, WindowKind::Rectangular, WindowKind::Nuttall}) {
                std::vector<double> tone(n), silent(n, 0.0);
                for (std::size_t i = 0; i < n; ++i)
                    tone[i] =
                        32767.0 * std::sin(2 * pi * (n / 7.0 + 0.37) * static_cast<double>(i) / n + 0.2);
                for (int side = 0; side < 2; ++side) {
                    Spectrum s;
                    if (side == 0) {
                        Analyze(engine, tone, silent, n, w, s);
                    } else {
                        Analyze(engine, silent, tone, n, w, s);
                    }
                    const std::vector<double>& mag = side == 0 ? s.magB : s.magA;
                    const std::vector<double>& phase = side == 0 ? s.phaseB : s.phaseA;
                    const std::vector<double>& loud = side == 0 ? s.magA : s.magB;
                    const std::string what = Name(kernel) + " n=" + std::to_string(n) + " window " +
                                             std::to_string(static_cast<int>(w)) + (side == 0 ? " B" : " A");
                    for (std::size_t k = 0; k < n; ++k) {
                        ASSERT_EQ(mag[k], 0.0) << what << " bin " << k;
                        ASSERT_EQ(phase[k], 90.0) << what << " bin " << k;
                    }
                    // The tone's own channel is untouched: its far leakage is still there.
                    EXPECT_GT(loud[n / 2 - 1], 0.0) << what;
                }
            }
        }
    }
}

// The power path: |X[k]|^2 of the record weighted by the caller's window,
// bins 0 .. n/2, against FFTW's transform of the same products; nothing
// beyond n/2 written; a silent channel beside a full-scale tone reads exactly
// zero; a size without its window is refused.
TEST(SpectrumEngine, PowerPathMatchesFftwAndWritesHalfTheBins) {
    const double pi = 4.0 * std::atan(1.0);
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        for (std::size_t n : {1u, 2u, 8u, 64u, 128u, 1024u, 32768u, 65536u}) {
            const std::vector<double> a = Signal(n, 3, n / 9.0 + 0.41, 30000.0);
            const std::vector<double> b = Signal(n, 4, n / 5.0 + 0.13, 900.0);
            std::vector<double> w(n);
            for (std::size_t i = 0; i < n; ++i)
                w[i] = 0.42 - 0.5 * std::cos(2 * pi * i / n) + 0.08 * std::cos(4 * pi * i / n);
            engine.UseWindow(n, w.data());
            std::vector<double> powA(n + 3, 7.0), powB(n + 3, 7.0);
            engine.AnalyzePower(a.data(), b.data(), n, powA.data(), powB.data());
            const std::string what = Name(kernel) + " n=" + std::to_string(n);
            for (int c = 0; c < 2; ++c) {
                const std::vector<double>& x = c == 0 ? a : b;
                std::vector<double> xw(n);
                for (std::size_t i = 0; i < n; ++i) xw[i] = x[i] * w[i];
                const auto want = Fftw(xw);
                const std::vector<double>& got = c == 0 ? powA : powB;
                long double peak = 0;
                for (std::size_t k = 0; k <= n / 2; ++k) peak = std::max(peak, std::norm(want[k]));
                for (std::size_t k = 0; k <= n / 2; ++k)
                    ASSERT_NEAR(got[k], static_cast<double>(std::norm(want[k])),
                                1e-12 * static_cast<double>(peak))
                        << what << " channel " << c << " bin " << k;
                for (std::size_t k = n / 2 + 1; k < n + 3; ++k)
                    ASSERT_EQ(got[k], 7.0) << what << " bin " << k;
            }
        }
        for (std::size_t n : {64u, 65536u}) {
            std::vector<double> tone(n), silent(n, 0.0), w(n, 1.0), powA(n / 2 + 1), powB(n / 2 + 1);
            for (std::size_t i = 0; i < n; ++i)
                tone[i] = 32767.0 * std::sin(2 * pi * (n / 7.0 + 0.37) * static_cast<double>(i) / n + 0.2);
            engine.UseWindow(n, w.data());
            engine.AnalyzePower(tone.data(), silent.data(), n, powA.data(), powB.data());
            for (std::size_t k = 0; k <= n / 2; ++k)
                ASSERT_EQ(powB[k], 0.0) << Name(kernel) << " n=" << n << " bin " << k;
            EXPECT_GT(powA[n / 2 - 1], 0.0);
            engine.AnalyzePower(silent.data(), tone.data(), n, powA.data(), powB.data());
            for (std::size_t k = 0; k <= n / 2; ++k)
                ASSERT_EQ(powA[k], 0.0) << Name(kernel) << " n=" << n << " bin " << k;
        }
        std::vector<double> x(128, 1.0), p(65, 0.0);
        EXPECT_THROW(engine.AnalyzePower(x.data(), x.data(), 128, p.data(), p.data()), std::invalid_argument);
    }
}

// Weak tones on B beside a full-scale tone on A keep their level and phase:
// -150 dB and -200 dB below A, on a bin, with Hann: magnitude a/2 x 0.5 x 2.0071.
TEST(SpectrumEngine, TonesFarBelowTheOtherChannelStayAtTheirLevel) {
    const double pi = 4.0 * std::atan(1.0);
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        for (std::size_t n : {16384u, 65536u}) {
            for (double db : {-150.0, -200.0}) {
                const std::size_t kB = n / 5;
                const double amplitude = 32767.0 * std::pow(10.0, db / 20.0);
                std::vector<double> a(n), b(n);
                for (std::size_t i = 0; i < n; ++i) {
                    a[i] = 32767.0 * std::sin(2 * pi * (n / 11.0 + 0.41) * static_cast<double>(i) / n);
                    b[i] = amplitude * std::cos(2 * pi * static_cast<double>(kB * i % n) / n);
                }
                Spectrum s;
                Analyze(engine, a, b, n, WindowKind::Hann, s);
                const std::string what =
                    Name(kernel) + " n=" + std::to_string(n) + " " + std::to_string(db) + " dB";
                const double want = amplitude / 2 * 0.5 * 2.0071;
                EXPECT_NEAR(s.magB[kB] / want, 1.0, 1e-6) << what;
                EXPECT_NEAR(s.magB[kB - 1] / want, 0.5, 1e-6) << what;
                EXPECT_NEAR(s.magB[n - kB] / want, 1.0, 1e-6) << what;
                EXPECT_NEAR(s.phaseB[kB], 0.0, 1e-4) << what;
            }
        }
    }
}

TEST(SpectrumEngine, WritesOnlyTheFirstNElementsAndTakesUnalignedArrays) {
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        const std::size_t n = 4096;
        const auto a = Signal(n + 1, 31, 100.5, 9000.0);
        const auto b = Signal(n + 1, 32, 50.0, 9000.0);
        const std::vector<double> a0(a.begin(), a.begin() + n), b0(b.begin(), b.begin() + n);
        Spectrum want;
        Analyze(engine, a0, b0, n, WindowKind::Blackman, want);
        // Inputs and outputs one double off their alignment.
        const std::vector<double> a1(a.begin() + 1, a.end()), b1(b.begin() + 1, b.end());
        std::vector<double> sa(a.size()), sb(b.size());
        std::copy(a0.begin(), a0.end(), sa.begin() + 1);
        std::copy(b0.begin(), b0.end(), sb.begin() + 1);
        Spectrum got(kArray + 1);
        engine.Analyze(sa.data() + 1, sb.data() + 1, n, WindowKind::Blackman, got.magA.data() + 1,
                       got.phaseA.data() + 1, got.magB.data() + 1, got.phaseB.data() + 1);
        for (std::size_t k = 0; k < n; ++k) {
            ASSERT_EQ(got.magA[k + 1], want.magA[k]);
            ASSERT_EQ(got.phaseA[k + 1], want.phaseA[k]);
            ASSERT_EQ(got.magB[k + 1], want.magB[k]);
            ASSERT_EQ(got.phaseB[k + 1], want.phaseB[k]);
        }
        // Nothing before the arrays or from element n on (the spare element n included).
        for (const auto* v : {&got.magA, &got.phaseA, &got.magB, &got.phaseB}) {
            EXPECT_EQ((*v)[0], 7.0);
            for (std::size_t k = n + 1; k < v->size(); ++k) ASSERT_EQ((*v)[k], 7.0);
        }
    }
}

TEST(SpectrumEngine, SizeAndWindowChangesGiveFreshResults) {
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine, fresh;
        ASSERT_TRUE(engine.UseKernel(kernel));
        ASSERT_TRUE(fresh.UseKernel(kernel));
        const auto a = Signal(65536, 41, 777.0, 1000.0);
        const auto b = Signal(65536, 42, 333.0, 1000.0);
        const struct {
            std::size_t n;
            WindowKind w;
        } steps[] = {{16384, WindowKind::Hann},       {2048, WindowKind::Hann},  {2048, WindowKind::Nuttall},
                     {65536, WindowKind::Hamming},    {16384, WindowKind::Hann}, {32, WindowKind::FlatTop},
                     {16384, WindowKind::Rectangular}};
        for (const auto& step : steps) {
            Spectrum s, t;
            Analyze(engine, a, b, step.n, step.w, s);
            SpectrumEngine once;
            ASSERT_TRUE(once.UseKernel(kernel));
            Analyze(once, a, b, step.n, step.w, t);
            ASSERT_EQ(s.magA, t.magA);
            ASSERT_EQ(s.phaseB, t.phaseB);
        }
    }
}

TEST(SpectrumEngine, RejectsBadSizes) {
    SpectrumEngine engine;
    std::vector<double> x(131072), out(131073);
    for (std::size_t n : {0u, 3u, 100u, 131072u}) {
        EXPECT_THROW(engine.Analyze(x.data(), x.data(), n, WindowKind::Hann, out.data(), out.data(),
                                    out.data(), out.data()),
                     std::invalid_argument)
            << n;
    }
}

TEST(SpectrumEngine, KernelChoiceFollowsTheCpu) {
    SpectrumEngine engine;
    EXPECT_EQ(engine.kernel(), BestFftKernel());
    EXPECT_TRUE(engine.UseKernel(FftKernel::Portable));
    EXPECT_EQ(engine.kernel(), FftKernel::Portable);
    EXPECT_EQ(engine.UseKernel(FftKernel::Avx2), FftKernelSupported(FftKernel::Avx2));
}

#ifdef MIRAL_HAVE_MALLOC_HOOKS
std::atomic<long> gAllocations{0};
void CountMalloc(const volatile void*, std::size_t) {
    gAllocations.fetch_add(1);
}
void IgnoreFree(const volatile void*) {}

TEST(SpectrumEngine, AllocatesNothingOncePrepared) {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(CountMalloc, IgnoreFree) != 0;
    ASSERT_TRUE(installed);
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        const auto a = Signal(16384, 51, 10.0, 100.0);
        const auto b = Signal(16384, 52, 20.0, 100.0);
        Spectrum s;
        engine.Prepare(16384, WindowKind::Hann);
        const long before = gAllocations.load();
        for (int i = 0; i < 3; ++i) Analyze(engine, a, b, 16384, WindowKind::Hann, s);
        ToDisplayLog(s.magA.data(), s.magA.data(), 8192, 1.0, kernel);
        EXPECT_EQ(gAllocations.load(), before) << Name(kernel);
    }
    // The hook does see allocations.
    void* (*volatile allocate)(std::size_t) = std::malloc;
    const long before = gAllocations.load();
    std::free(allocate(16));
    EXPECT_GT(gAllocations.load(), before);
}
#endif

// The vector arithmetic of magnitude and phase, on the values where the
// rules branch: tiny, zero and negative real parts, zero imaginary parts,
// the octant boundaries of the arctangent, NaN.
TEST(SpectrumEngine, VectorPhaseFollowsTheRulesAtEveryBranch) {
    if (!FftKernelSupported(FftKernel::Avx2)) GTEST_SKIP() << "no AVX2";
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double tan8 = std::tan(std::atan(1.0) / 2);
    std::vector<double> values{0.0, -0.0, 1e-90, -1e-90, 1e-80, -1e-80, 9.9e-81,   -9.9e-81, 1e-300,
                               1.0, -1.0, 3.0,   -7.5,   1e300, -1e300, 12345.678, nan};
    std::vector<double> re, im;
    for (double r : values) {
        for (double i : values) {
            re.push_back(r);
            im.push_back(i);
        }
    }
    std::mt19937 rng(61);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int k = 0; k < 4000; ++k) {
        const double r = u(rng) * 1000.0;
        const double ratio = k % 4 == 0 ? tan8 : k % 4 == 1 ? 1.0 : k % 4 == 2 ? 1.0 / tan8 : u(rng) * 50;
        const double wiggle = 1.0 + (k % 7 - 3) * 2.2e-16;
        re.push_back(r);
        im.push_back(r * ratio * wiggle * (k % 3 == 0 ? -1.0 : 1.0));
    }
    const std::size_t count = re.size();
    std::vector<double> mag(count), phase(count), mirror(count);
    detail::MagnitudePhaseAvx2(re.data(), im.data(), mag.data(), phase.data(), mirror.data(), count);
    for (std::size_t i = 0; i < count; ++i) {
        const MagnitudePhase want = ToMagnitudePhaseOne(re[i], im[i]);
        const MagnitudePhase wantMirror = ToMagnitudePhaseOne(re[i], -im[i]);
        const std::string what = "re " + std::to_string(re[i]) + " im " + std::to_string(im[i]);
        if (std::isnan(want.magnitude)) {
            EXPECT_TRUE(std::isnan(mag[i])) << what;
        } else if (std::isinf(want.magnitude)) {
            EXPECT_EQ(mag[i], want.magnitude) << what;
        } else {
            EXPECT_NEAR(mag[i], want.magnitude, 2.3e-16 * want.magnitude) << what;
        }
        for (const auto& [got, ref] :
             {std::pair{phase[i], want.phase}, std::pair{mirror[i], wantMirror.phase}}) {
            if (std::isnan(ref)) {
                EXPECT_TRUE(std::isnan(got)) << what;
            } else if (std::fabs(re[i]) < kPhaseTinyReal || im[i] == 0 || std::isnan(re[i])) {
                EXPECT_EQ(got, ref) << what;  // the exact branches: +-90, 0, 180, 270
            } else {
                EXPECT_NEAR(got, ref, 1e-12) << what;
            }
        }
    }
}

// A window applied to the kept spectra (taps on the bins) against FFTW's
// transform of the record multiplied by the same window: bins 0 .. n/2,
// nothing beyond; the spectra that Analyze keeps are those of Transform;
// a silent channel beside a full-scale tone reads exactly zero; without
// kept spectra nothing is written.
TEST(SpectrumEngine, WindowOnTheKeptSpectraMatchesFftwOfTheWindowedRecord) {
    const double pi = 4.0 * std::atan(1.0);
    // The 7-term Blackman-Harris window and a 3-term one with all signs.
    CosineWindow bh7;
    bh7.b = {0.27105140069342, -0.43329793923448, 0.21812299954311, -0.06592544638803,
             0.01081174209837, -0.00077658482522, 0.00001388721735};
    bh7.terms = 7;
    CosineWindow three;
    three.b = {0.42, 0.5, -0.08};
    three.terms = 3;
    for (FftKernel kernel : Kernels()) {
        for (const CosineWindow& cw : {bh7, three}) {
            SpectrumEngine engine;
            ASSERT_TRUE(engine.UseKernel(kernel));
            for (std::size_t n : {1u, 2u, 8u, 32u, 64u, 128u, 1024u, 65536u}) {
                const std::vector<double> a = Signal(n, 13, n / 9.0 + 0.41, 30000.0);
                const std::vector<double> b = Signal(n, 14, n / 5.0 + 0.13, 900.0);
                std::vector<double> w(n);
                for (std::size_t i = 0; i < n; ++i) {
                    for (int m = 0; m < cw.terms; ++m)
                        w[i] += cw.b[static_cast<std::size_t>(m)] *
                                std::cos(2 * pi * m * static_cast<double>(i) / n);
                }
                engine.Transform(a.data(), b.data(), n);
                ASSERT_EQ(engine.keptSize(), n);
                std::vector<double> powA(n + 3, 7.0), powB(n + 3, 7.0);
                engine.WindowedPower(cw, powA.data(), powB.data());
                const std::string what =
                    Name(kernel) + " n=" + std::to_string(n) + " terms " + std::to_string(cw.terms);
                for (int c = 0; c < 2; ++c) {
                    const std::vector<double>& x = c == 0 ? a : b;
                    std::vector<double> xw(n);
                    for (std::size_t i = 0; i < n; ++i) xw[i] = x[i] * w[i];
                    const auto want = Fftw(xw);
                    const std::vector<double>& got = c == 0 ? powA : powB;
                    // Rounding is relative to the bins the taps are applied
                    // to: with a few points the window is near zero on all of
                    // them, and the windowed peak is itself round-off.
                    const auto raw = Fftw(x);
                    long double peak = 0;
                    for (std::size_t k = 0; k <= n / 2; ++k)
                        peak = std::max({peak, std::norm(want[k]), std::norm(raw[k]) / 100});
                    for (std::size_t k = 0; k <= n / 2; ++k)
                        ASSERT_NEAR(got[k], static_cast<double>(std::norm(want[k])),
                                    1e-12 * static_cast<double>(peak))
                            << what << " channel " << c << " bin " << k;
                    for (std::size_t k = n / 2 + 1; k < n + 3; ++k)
                        ASSERT_EQ(got[k], 7.0) << what << " bin " << k;
                }
                // Analyze (any display window) keeps the same spectra.
                Spectrum s;
                engine.Analyze(a.data(), b.data(), n, WindowKind::FlatTop, s.magA.data(), s.phaseA.data(),
                               s.magB.data(), s.phaseB.data());
                if (n < 64) {
                    // Below 64 points the display window multiplies the record: nothing is kept.
                    EXPECT_EQ(engine.keptSize(), 0u) << what;
                    continue;
                }
                ASSERT_EQ(engine.keptSize(), n);
                std::vector<double> againA(n / 2 + 1), againB(n / 2 + 1);
                engine.WindowedPower(cw, againA.data(), againB.data());
                for (std::size_t k = 0; k <= n / 2; ++k) {
                    ASSERT_EQ(againA[k], powA[k]) << what << " bin " << k;
                    ASSERT_EQ(againB[k], powB[k]) << what << " bin " << k;
                }
            }
            for (std::size_t n : {64u, 65536u}) {
                std::vector<double> tone(n), silent(n, 0.0), powA(n / 2 + 1), powB(n / 2 + 1);
                for (std::size_t i = 0; i < n; ++i)
                    tone[i] =
                        32767.0 * std::sin(2 * pi * (n / 7.0 + 0.37) * static_cast<double>(i) / n + 0.2);
                engine.Transform(tone.data(), silent.data(), n);
                engine.WindowedPower(cw, powA.data(), powB.data());
                for (std::size_t k = 0; k <= n / 2; ++k)
                    ASSERT_EQ(powB[k], 0.0) << Name(kernel) << " n=" << n << " bin " << k;
                EXPECT_GT(powA[n / 2 - 1], 0.0);
                engine.Transform(silent.data(), tone.data(), n);
                engine.WindowedPower(cw, powA.data(), powB.data());
                for (std::size_t k = 0; k <= n / 2; ++k)
                    ASSERT_EQ(powA[k], 0.0) << Name(kernel) << " n=" << n << " bin " << k;
            }
        }
    }
    SpectrumEngine fresh;
    EXPECT_EQ(fresh.keptSize(), 0u);
    std::vector<double> p(5, 7.0);
    fresh.WindowedPower(bh7, p.data(), p.data());
    for (double v : p) EXPECT_EQ(v, 7.0);
}

// The half form writes bins 0 .. n/2 exactly as Analyze does and nothing
// beyond, a silent channel included.
// The power made in the display's window pass (AlsoWindowedPower) is the
// one WindowedPower makes on its own, and a later transform is never
// answered with the power of the spectra before it.
TEST(SpectrumEngine, PowerMadeInTheDisplaysPassIsWindowedPowersOwn) {
    CosineWindow bh7;
    bh7.b = {0.27105140069342, -0.43329793923448, 0.21812299954311, -0.06592544638803,
             0.01081174209837, -0.00077658482522, 0.00001388721735};
    bh7.terms = 7;
    CosineWindow other = bh7;
    other.b[1] = -0.4;
    std::mt19937 rng(11);
    std::normal_distribution<double> g;
    for (std::size_t n : {64u, 4096u, 65536u}) {
        const std::size_t h = n / 2 + 1;
        std::vector<double> a(n), b(n), c(n), mag[4], want[2], got[2];
        for (auto& v : mag) v.assign(n, 0.0);
        for (auto* v : {&want[0], &want[1], &got[0], &got[1]}) v->assign(h, 0.0);
        SpectrumEngine plain, shared;
        shared.AlsoWindowedPower(bh7, got[0].data(), got[1].data());
        auto same = [&](const char* what) {
            for (int ch = 0; ch < 2; ++ch)
                EXPECT_TRUE(SameValues(got[ch].data(), want[ch].data(), h))
                    << what << " n " << n << " channel " << ch;
        };
        for (int round = 0; round < 3; ++round) {
            for (std::size_t i = 0; i < n; ++i) {
                a[i] = g(rng) + std::sin(0.3 * static_cast<double>(i));
                b[i] = round == 1 ? 0.0 : g(rng);  // a silent channel: the cross-talk limit at work
                c[i] = g(rng);
            }
            plain.AnalyzeHalf(a.data(), b.data(), n, WindowKind::Hann, mag[0].data(), mag[1].data(),
                              mag[2].data(), mag[3].data(), false);
            plain.WindowedPower(bh7, want[0].data(), want[1].data());
            shared.AnalyzeHalf(a.data(), b.data(), n, WindowKind::Hann, mag[0].data(), mag[1].data(),
                               mag[2].data(), mag[3].data(), false);
            shared.WindowedPower(bh7, got[0].data(), got[1].data());
            same("with the display's pass");
            // Another window, or spectra of another record: made afresh.
            plain.WindowedPower(other, want[0].data(), want[1].data());
            shared.WindowedPower(other, got[0].data(), got[1].data());
            same("another window");
            plain.Transform(c.data(), a.data(), n);
            shared.Transform(c.data(), a.data(), n);
            plain.WindowedPower(bh7, want[0].data(), want[1].data());
            shared.WindowedPower(bh7, got[0].data(), got[1].data());
            same("after a transform");
        }
    }
}

TEST(SpectrumEngine, HalfFormWritesTheLowerBinsOfAnalyzeAndNothingElse) {
    const double pi = 4.0 * std::atan(1.0);
    for (FftKernel kernel : Kernels()) {
        SpectrumEngine engine;
        ASSERT_TRUE(engine.UseKernel(kernel));
        for (std::size_t n : {2u, 16u, 64u, 2048u, 65536u}) {
            for (WindowKind w : {WindowKind::Hann, WindowKind::FlatTop, WindowKind::Rectangular}) {
                auto a = Signal(n, 51, n / 6.0 + 0.3, 20000.0);
                std::vector<double> b(n, 0.0);
                for (std::size_t i = 0; i < n; ++i)
                    a[i] += 32767.0 * std::sin(2 * pi * (n / 7.0 + 0.37) * static_cast<double>(i) / n);
                for (int side = 0; side < 2; ++side) {
                    const std::vector<double>& x = side == 0 ? a : b;
                    const std::vector<double>& y = side == 0 ? b : a;
                    Spectrum full, half;
                    Analyze(engine, x, y, n, w, full);
                    engine.AnalyzeHalf(x.data(), y.data(), n, w, half.magA.data(), half.phaseA.data(),
                                       half.magB.data(), half.phaseB.data());
                    const std::string what = Name(kernel) + " n=" + std::to_string(n) + " window " +
                                             std::to_string(static_cast<int>(w));
                    const std::vector<double>* f[] = {&full.magA, &full.phaseA, &full.magB, &full.phaseB};
                    const std::vector<double>* g[] = {&half.magA, &half.phaseA, &half.magB, &half.phaseB};
                    for (int arr = 0; arr < 4; ++arr) {
                        for (std::size_t k = 0; k <= n / 2; ++k)
                            ASSERT_EQ((*g[arr])[k], (*f[arr])[k]) << what << " array " << arr << " bin " << k;
                        for (std::size_t k = n / 2 + 1; k < kArray; ++k)
                            ASSERT_EQ((*g[arr])[k], 7.0) << what << " array " << arr << " bin " << k;
                    }
                    // Without channel B's phase: the same magnitudes, +90
                    // where B reads zero, nothing else in B's phases.
                    Spectrum noPhase;
                    engine.AnalyzeHalf(x.data(), y.data(), n, w, noPhase.magA.data(), noPhase.phaseA.data(),
                                       noPhase.magB.data(), noPhase.phaseB.data(), false);
                    for (std::size_t k = 0; k <= n / 2; ++k) {
                        ASSERT_EQ(noPhase.magA[k], full.magA[k]) << what << " bin " << k;
                        ASSERT_EQ(noPhase.phaseA[k], full.phaseA[k]) << what << " bin " << k;
                        ASSERT_EQ(noPhase.magB[k], full.magB[k]) << what << " bin " << k;
                        ASSERT_EQ(noPhase.phaseB[k], full.magB[k] == 0.0 ? 90.0 : 7.0)
                            << what << " bin " << k;
                    }
                    for (std::size_t k = n / 2 + 1; k < kArray; ++k) ASSERT_EQ(noPhase.phaseB[k], 7.0);
                }
            }
        }
    }
}

// The vector updates of the display (the unaveraged one and the LF average)
// against the plain rules, value by value and to the last bit, with values
// that are no finite numbers on either side.
TEST(SpectrumEngine, VectorDisplayUpdatesAreThePlainOnes) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double specials[] = {0.0, -0.0, 1e-310, -450.0, 1e308, -1e308, inf, -inf, nan};
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> u(-9000.0, 9000.0);
    std::vector<double> shown, fresh;
    for (double a : specials)
        for (double b : specials) {
            shown.push_back(a);
            fresh.push_back(b);
        }
    for (int i = 0; i < 1001; ++i) {
        shown.push_back(u(rng));
        fresh.push_back(u(rng));
    }
    std::vector<double> taken = shown;
    detail::TakeFiniteAvx2(taken.data(), fresh.data(), taken.size());
    for (std::size_t i = 0; i < taken.size(); ++i) {
        const double want = std::isfinite(fresh[i]) ? fresh[i] : shown[i];
        EXPECT_EQ(ValueBits(taken[i]), ValueBits(want)) << i;
    }
    std::vector<double> got = shown;
    detail::LfAverageAvx2(got.data(), fresh.data(), got.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        const double want = LfAverage(shown[i], fresh[i]);
        if (std::isnan(want)) {
            EXPECT_TRUE(std::isnan(got[i])) << i;
        } else {
            EXPECT_EQ(std::memcmp(&got[i], &want, sizeof want), 0) << i << ": " << got[i] << " want " << want;
        }
    }
    // The logarithmic units with the take-over in the same pass: the units
    // as without it, and the finite ones taken as TakeFiniteAvx2 takes them.
    std::vector<double> mags = {0.0, -0.0, 1e-310, -1.0, 1e-300, 1e300, inf, nan};
    for (int i = 0; i < 300; ++i) mags.push_back(std::exp(u(rng) / 100.0));
    for (double scale : {1.0, 2.5, 1e306}) {
        for (FftKernel kernel : {FftKernel::Portable, FftKernel::Avx2}) {
            if (!FftKernelSupported(kernel)) continue;
            std::vector<double> units(mags.size()), plain(mags.size());
            std::vector<double> display(shown.begin(),
                                        shown.begin() + static_cast<std::ptrdiff_t>(mags.size()));
            std::vector<double> want = display;
            ToDisplayLog(mags.data(), plain.data(), mags.size(), scale, kernel);
            for (std::size_t i = 0; i < want.size(); ++i)
                if (std::isfinite(plain[i])) want[i] = plain[i];
            ToDisplayLog(mags.data(), units.data(), mags.size(), scale, kernel, display.data());
            EXPECT_TRUE(SameValues(units.data(), plain.data(), units.size())) << scale;
            EXPECT_TRUE(SameValues(display.data(), want.data(), want.size())) << scale;
        }
    }
}

// A channel's pass with zeroing: what the pass without it writes, with each
// magnitude (power) at or below the limit made 0 and its phase +90, NaNs
// left; the scan, the peaks and the flags of the values before zeroing; the
// peak also from the pass that only reads the spectrum.
void ZeroingInThePassIsTheRule(const detail::HalfSpectra& s, std::size_t n, const detail::WindowTaps& w,
                               int round) {
    const auto bits = ValueBits;
    for (bool mirrors : {false, true}) {
        const std::size_t written = mirrors ? n : n / 2 + 1;
        std::vector<double> mag[2], phase[2];
        for (auto& v : mag) v.assign(n, 7.0);
        for (auto& v : phase) v.assign(n, 7.0);
        detail::PeaksAndFloors plainScan{};
        const detail::RawPeaks plain = detail::WindowMagPhaseAvx2(
            s, n, w, mag[0].data(), phase[0].data(), mag[1].data(), phase[1].data(), mirrors, &plainScan);
        for (int c = 0; c < 2; ++c) {
            const double limit = mag[c][static_cast<std::size_t>(round) % (n / 2)];
            for (bool withPhase : {true, false}) {
                std::vector<double> zm(n, 7.0), zp(n, 7.0);
                detail::ZeroBelow zero;
                zero.limit = limit;
                zero.phase = zp.data();
                detail::PeaksAndFloors scan{};
                const detail::RawPeaks r =
                    detail::WindowMagPhaseAvx2(s, n, w, zm.data(), withPhase ? zp.data() : nullptr, zm.data(),
                                               withPhase ? zp.data() : nullptr, mirrors, &scan, c, &zero);
                bool anyZeroed = false, anyNan = false;
                for (std::size_t k = 0; k < written; ++k) {
                    const bool z = mag[c][k] <= limit;
                    anyZeroed |= z;
                    anyNan |= std::isnan(mag[c][k]);
                    ASSERT_EQ(bits(zm[k]), bits(z ? 0.0 : mag[c][k]))
                        << round << " channel " << c << " bin " << k;
                    const double phaseWanted = z ? 90.0 : withPhase ? phase[c][k] : 7.0;
                    ASSERT_EQ(bits(zp[k]), bits(phaseWanted)) << round << " channel " << c << " bin " << k;
                }
                EXPECT_EQ(zero.zeroed, anyZeroed) << round;
                EXPECT_EQ(zero.nan, anyNan) << round;
                EXPECT_EQ(bits(c == 0 ? scan.peakA : scan.peakB),
                          bits(c == 0 ? plainScan.peakA : plainScan.peakB));
                EXPECT_EQ(bits(c == 0 ? scan.floorA : scan.floorB),
                          bits(c == 0 ? plainScan.floorA : plainScan.floorB));
                EXPECT_EQ(c == 0 ? r.a : r.b, c == 0 ? plain.a : plain.b) << round;
                EXPECT_EQ(detail::UnwindowedPeaksAvx2(s, n, c).a, c == 0 ? plain.a : plain.b) << round;
            }
        }
    }
    std::vector<double> power[2];
    for (auto& v : power) v.assign(n / 2 + 1, 7.0);
    detail::PeaksAndFloors plainScan{};
    const detail::RawPeaks plain =
        detail::WindowPowerAvx2(s, n, w, power[0].data(), power[1].data(), &plainScan);
    for (int c = 0; c < 2; ++c) {
        std::vector<double> zpow(n / 2 + 1, 7.0);
        detail::ZeroBelow zero;
        zero.limit = power[c][static_cast<std::size_t>(round) % (n / 2)];
        detail::PeaksAndFloors scan{};
        const detail::RawPeaks r =
            detail::WindowPowerAvx2(s, n, w, zpow.data(), zpow.data(), &scan, c, &zero);
        bool anyZeroed = false;
        for (std::size_t k = 0; k <= n / 2; ++k) {
            const bool z = power[c][k] <= zero.limit;
            anyZeroed |= z;
            ASSERT_EQ(bits(zpow[k]), bits(z ? 0.0 : power[c][k]))
                << round << " channel " << c << " bin " << k;
        }
        EXPECT_EQ(zero.zeroed, anyZeroed) << round;
        EXPECT_EQ(bits(c == 0 ? scan.floorA : scan.floorB),
                  bits(c == 0 ? plainScan.floorA : plainScan.floorB));
        EXPECT_EQ(c == 0 ? r.a : r.b, c == 0 ? plain.a : plain.b) << round;
        EXPECT_EQ(detail::UnwindowedPeaksAvx2(s, n, c).b, c == 0 ? plain.a : plain.b) << round;
    }
}

// The window kernels' own scan of what they wrote is ScanAvx2's, to the
// bit, also with NaNs and infinities in the spectra (a NaN among the first
// four bins holds one lane of ScanAvx2 at NaN).
TEST(SpectrumEngine, WindowKernelsScanWhatTheyWrite) {
    if (!detail::CpuHasAvx2Fma()) GTEST_SKIP() << "no AVX2";
    constexpr std::size_t n = 256, h = n / 2;
    std::vector<double> store[4];
    detail::HalfSpectra s;
    for (int c = 0; c < 4; ++c) store[c].assign(h + 1 + 2 * detail::kSpectrumPad, 0.0);
    for (int c = 0; c < 2; ++c) {
        s.re[c] = store[2 * c].data() + detail::kSpectrumPad;
        s.im[c] = store[2 * c + 1].data() + detail::kSpectrumPad;
    }
    detail::WindowTaps hann, seven;
    hann.terms = 2;
    hann.tap[0] = 0.5, hann.tap[1] = -0.25;
    seven.terms = 7;
    for (int m = 0; m < 7; ++m) seven.tap[m] = (m % 2 ? -0.3 : 0.4) / (m + 1);
    std::mt19937 rng(3);
    std::normal_distribution<double> g;
    const double odd[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          0.0};
    std::vector<double> magA(n), phA(n), magB(n), phB(n);
    auto same = [](const detail::PeaksAndFloors& x, const detail::PeaksAndFloors& y) {
        return ValueBits(x.peakA) == ValueBits(y.peakA) && ValueBits(x.floorA) == ValueBits(y.floorA) &&
               ValueBits(x.peakB) == ValueBits(y.peakB) && ValueBits(x.floorB) == ValueBits(y.floorB);
    };
    for (int round = 0; round < 400; ++round) {
        for (auto& v : store)
            for (double& x : v) x = g(rng);
        // Now and then odd values, often among the first bins.
        for (int k = static_cast<int>(rng() % 4); k > 0; --k) {
            const std::size_t bin = rng() % 2 ? rng() % 6 : rng() % (h + 1);
            store[rng() % 4][detail::kSpectrumPad + bin] = odd[rng() % 3];
        }
        detail::FillSpectrumPads(s, n);
        for (const detail::WindowTaps& w : {hann, seven}) {
            detail::PeaksAndFloors got{};
            detail::WindowMagPhaseAvx2(s, n, w, magA.data(), phA.data(), magB.data(), phB.data(), false,
                                       &got);
            EXPECT_TRUE(same(got, detail::ScanAvx2(magA.data(), magB.data(), h + 1))) << "round " << round;
            detail::WindowPowerAvx2(s, n, w, magA.data(), magB.data(), &got);
            EXPECT_TRUE(same(got, detail::ScanAvx2(magA.data(), magB.data(), h + 1))) << "round " << round;
            ZeroingInThePassIsTheRule(s, n, w, round);
        }
    }
}

}  // namespace
}  // namespace miral::analysis
