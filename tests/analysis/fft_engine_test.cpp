// SpectrumEngine against independent transforms: a long-double DFT, FFTW and
// the plain routines of fft.h.
#include "analysis/fft_engine.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "analysis/fft.h"
#include "analysis/window.h"

namespace miral::analysis {
namespace {

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

// X[k] = (1/n) sum x[m] e^(-j 2 pi k m / n), straight from the definition.
std::vector<std::complex<long double>> SlowDft(const std::vector<double>& x) {
  const std::size_t n = x.size();
  const long double pi = 3.141592653589793238462643383279502884L;
  std::vector<std::complex<long double>> out(n);
  for (std::size_t k = 0; k < n; ++k) {
    std::complex<long double> s = 0;
    for (std::size_t m = 0; m < n; ++m) {
      const long double a = -2 * pi * static_cast<long double>((k * m) % n) / n;
      s += static_cast<long double>(x[m]) * std::complex<long double>(std::cos(a), std::sin(a));
    }
    out[k] = s / static_cast<long double>(n);
  }
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
                 const std::string& what) {
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
      const double tol = 1e-9 + 2e-13 * peak / want.mag[k];
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
std::string Name(FftKernel k) { return k == FftKernel::Avx2 ? "avx2" : "portable"; }

const WindowKind kWindows[] = {WindowKind::Rectangular, WindowKind::Hann, WindowKind::Hamming,
                               WindowKind::Blackman, WindowKind::Nuttall, WindowKind::FlatTop};

TEST(SpectrumEngine, MatchesLongDoubleDftForSmallSizes) {
  for (FftKernel kernel : Kernels()) {
    SpectrumEngine engine;
    ASSERT_TRUE(engine.UseKernel(kernel));
    for (std::size_t n = 1; n <= 512; n *= 2) {
      for (WindowKind w : kWindows) {
        const auto a = Signal(n, 1 + static_cast<unsigned>(n), n / 8.0 + 1, 20000.0);
        const auto b = Signal(n, 100 + static_cast<unsigned>(n), n / 3.0, 300.0);
        Spectrum s;
        engine.Analyze(a.data(), b.data(), n, w, s.magA.data(), s.phaseA.data(), s.magB.data(),
                       s.phaseB.data());
        const std::string what = Name(kernel) + " n=" + std::to_string(n) + " window " +
                                 std::to_string(static_cast<int>(w));
        ExpectClose(FromComplex(SlowDft(Windowed(a, w))), s.magA.data(), s.phaseA.data(), n,
                    what + " A");
        ExpectClose(FromComplex(SlowDft(Windowed(b, w))), s.magB.data(), s.phaseB.data(), n,
                    what + " B");
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

}  // namespace
}  // namespace miral::analysis
