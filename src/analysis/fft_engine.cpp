// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/fft_engine.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "analysis/fft.h"
#include "analysis/fft_kernels.h"

namespace miral::analysis {
namespace {

using detail::FftPlan;

// Smallest size the vector kernel handles; below it the portable one runs.
constexpr std::size_t kVectorMinSize = 64;

// 64-byte aligned array of T that never changes size after construction.
template <typename T>
class AlignedArray {
  public:
    AlignedArray() = default;
    explicit AlignedArray(std::size_t count)
        : data_(count ? static_cast<T*>(::operator new[](count * sizeof(T), std::align_val_t{64}))
                      : nullptr) {
        for (std::size_t i = 0; i < count; ++i) data_[i] = T{};
    }
    ~AlignedArray() { Free(); }
    AlignedArray(AlignedArray&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
    AlignedArray& operator=(AlignedArray&& other) noexcept {
        if (this != &other) {
            Free();
            data_ = other.data_;
            other.data_ = nullptr;
        }
        return *this;
    }
    AlignedArray(const AlignedArray&) = delete;
    AlignedArray& operator=(const AlignedArray&) = delete;

    T* get() const { return data_; }
    T& operator[](std::size_t i) const { return data_[i]; }

  private:
    void Free() {
        if (data_) ::operator delete[](data_, std::align_val_t{64});
        data_ = nullptr;
    }
    T* data_ = nullptr;
};

// e^(-j 2 pi k / m), rounded once from long double.
struct Root {
    double re;
    double im;
};
Root UnitRoot(std::size_t k, std::size_t m) {
    k %= m;
    if ((4 * k) % m == 0) {
        switch (4 * k / m) {
            case 0:
                return {1.0, 0.0};
            case 1:
                return {0.0, -1.0};
            case 2:
                return {-1.0, 0.0};
            default:
                return {0.0, 1.0};
        }
    }
    const long double pi = 3.141592653589793238462643383279502884L;
    const long double angle = 2.0L * pi * static_cast<long double>(k) / static_cast<long double>(m);
    return {static_cast<double>(std::cos(angle)), static_cast<double>(-std::sin(angle))};
}

unsigned Log2(std::size_t n) {
    unsigned l = 0;
    while ((std::size_t{1} << l) < n) ++l;
    return l;
}

std::uint32_t Reverse(std::uint32_t value, unsigned bits) {
    std::uint32_t r = 0;
    for (unsigned b = 0; b < bits; ++b) {
        r = (r << 1) | (value & 1u);
        value >>= 1;
    }
    return r;
}

// The tables of one size; the window table lives in the engine.
struct SizeTables {
    AlignedArray<double> rootRe, rootIm;
    AlignedArray<std::uint32_t> reverse;
    AlignedArray<std::uint32_t> groupReverse;
    AlignedArray<double> stageTwiddle, radix2Twiddle, finalTwiddle;

    explicit SizeTables(std::size_t n) {
        const unsigned log2n = Log2(n);
        const std::size_t half = n / 2 ? n / 2 : 1;
        rootRe = AlignedArray<double>(half);
        rootIm = AlignedArray<double>(half);
        for (std::size_t k = 0; k < n / 2; ++k) {
            const Root r = UnitRoot(k, n);
            rootRe[k] = r.re;
            rootIm[k] = r.im;
        }
        reverse = AlignedArray<std::uint32_t>(n);
        for (std::size_t i = 0; i < n; ++i) reverse[i] = Reverse(static_cast<std::uint32_t>(i), log2n);

        if (n < kVectorMinSize) return;
        // Vector kernel: four interleaved transforms of n/4 points (one per lane),
        // then one radix-4 step across the lanes.
        groupReverse = AlignedArray<std::uint32_t>(n / 32);
        for (std::size_t g = 0; g < n / 32; ++g) {
            groupReverse[g] = 4 * Reverse(static_cast<std::uint32_t>(g), log2n - 4);
        }
        const std::size_t m = n / 4;
        std::size_t stageCount = 0;
        for (std::size_t h = 4; 4 * h <= m; h *= 4) stageCount += h;
        stageTwiddle = AlignedArray<double>(6 * (stageCount ? stageCount : 1));
        std::size_t at = 0;
        for (std::size_t h = 4; 4 * h <= m; h *= 4) {
            for (std::size_t j = 0; j < h; ++j) {
                for (std::size_t p = 1; p <= 3; ++p) {
                    const Root r = UnitRoot(p * j, 4 * h);
                    stageTwiddle[at++] = r.re;
                    stageTwiddle[at++] = r.im;
                }
            }
        }
        radix2Twiddle = AlignedArray<double>(2 * (n / 8));
        for (std::size_t j = 0; j < n / 8; ++j) {
            const Root r = UnitRoot(j, m);
            radix2Twiddle[2 * j] = r.re;
            radix2Twiddle[2 * j + 1] = r.im;
        }
        finalTwiddle = AlignedArray<double>(24 * (n / 32));
        for (std::size_t c = 0; c < n / 32; ++c) {
            for (std::size_t l = 0; l < 4; ++l) {
                const std::size_t j = 4 * c + l;
                for (std::size_t p = 1; p <= 3; ++p) {
                    const Root r = UnitRoot(p * j, n);
                    finalTwiddle[24 * c + 8 * (p - 1) + l] = r.re;
                    finalTwiddle[24 * c + 8 * (p - 1) + 4 + l] = r.im;
                }
            }
        }
    }
};

bool ValidSize(std::size_t n) {
    return n != 0 && (n & (n - 1)) == 0 && n <= kMaxFftSize;
}

// Both channels share one complex transform, Z = A + jB, so its rounding
// spreads a trace of each channel into the other: beside a loud tone a
// digitally silent channel would read magnitudes of 1e-18 or so with
// arbitrary phases, drawn as deep dips, instead of exactly zero.
//
// How large that trace can be: the rounding error of a radix-2 (or radix-4)
// FFT is bounded in the 2-norm, ||dZ|| <= log2(n) eta ||Z|| with eta about
// 3.4 eps for correctly rounded twiddles (Higham, Accuracy and Stability of
// Numerical Algorithms, 2nd ed., theorem 24.2), and ||Z||^2 = ||A||^2 +
// ||B||^2 <= n (peakA^2 + peakB^2). The windowing and the separation of the
// channels round each channel relative to its own values only. So no bin of
// a silent B holds more than about 3.4 eps log2(n) sqrt(n) peakA. With a
// margin of more than two, a magnitude at or below
//     8 eps log2(n) sqrt(n) x the other channel's peak
// is taken for round-off and reads as exactly zero, with the zero
// magnitude's phase (+90). At the largest size that limit is 7.3e-12 of the
// other channel's peak (-223 dB; -229 dB at 16384 points): a real component
// 200 dB below the other channel keeps its value.
double CrossTalkFactor(std::size_t n) {
    if (n < 2) return 0.0;  // no transform, no rounding
    return 8.0 * std::numeric_limits<double>::epsilon() * Log2(n) * std::sqrt(static_cast<double>(n));
}

// Bins 0 .. n/2 and their mirrors n - k.
void ZeroAtOrBelow(double* magnitude, double* phase, std::size_t n, double limit) {
    for (std::size_t k = 0; k <= n / 2; ++k) {
        if (magnitude[k] > limit) continue;
        const std::size_t m = (n - k) & (n - 1);
        magnitude[k] = magnitude[m] = 0.0;
        phase[k] = phase[m] = 90.0;
    }
}

// The power path's counterpart: the limit squared, bins 0 .. n/2 only.
void SuppressPowerCrossTalk(const detail::PeaksAndFloors& scan, std::size_t n, double* powerA,
                            double* powerB) {
    const double factor = CrossTalkFactor(n);
    if (factor == 0.0) return;
    const double f2 = factor * factor;
    auto zero = [n](double* p, double limit) {
        for (std::size_t k = 0; k <= n / 2; ++k)
            if (p[k] <= limit) p[k] = 0.0;
    };
    if (scan.floorB <= f2 * scan.peakA) zero(powerB, f2 * scan.peakA);
    if (scan.floorA <= f2 * scan.peakB) zero(powerA, f2 * scan.peakB);
}

void SuppressCrossTalk(const detail::PeaksAndFloors& scan, std::size_t n, double* magA, double* phaseA,
                       double* magB, double* phaseB) {
    const double factor = CrossTalkFactor(n);
    if (factor == 0.0) return;
    // Most spectra have no bin near the limit: the floors spare them the
    // second pass.
    if (scan.floorB <= factor * scan.peakA) ZeroAtOrBelow(magB, phaseB, n, factor * scan.peakA);
    if (scan.floorA <= factor * scan.peakB) ZeroAtOrBelow(magA, phaseA, n, factor * scan.peakB);
}
}  // namespace

namespace detail {
bool CpuHasAvx2Fma() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
#else
    return false;
#endif
}
}  // namespace detail

bool FftKernelSupported(FftKernel kernel) {
    return kernel == FftKernel::Portable || detail::CpuHasAvx2Fma();
}

FftKernel BestFftKernel() {
    return detail::CpuHasAvx2Fma() ? FftKernel::Avx2 : FftKernel::Portable;
}

struct SpectrumEngine::Impl {
    std::array<std::unique_ptr<SizeTables>, 17> sizes;  // by log2 n
    AlignedArray<double> workRe{kMaxFftSize}, workIm{kMaxFftSize};
    AlignedArray<double> window{kMaxFftSize};
    std::size_t windowSize = 0;  // 0: not built yet
    WindowKind windowKind = WindowKind::Rectangular;
    FftKernel kernel = BestFftKernel();
    // The caller's window of the power path (allocated by its first UseWindow).
    AlignedArray<double> ownWindow;
    std::size_t ownWindowSize = 0;  // 0: none

    FftPlan Plan(std::size_t n, WindowKind kind) {
        FftPlan plan = TablePlan(n);
        if (windowSize != n || windowKind != kind) {
            const double scale = 0.5 / static_cast<double>(n);
            for (std::size_t i = 0; i < n; ++i) window[i] = WindowFactor(kind, i, n + 1) * scale;
            windowSize = n;
            windowKind = kind;
        }
        plan.window = window.get();
        return plan;
    }

    // The plan without its window.
    FftPlan TablePlan(std::size_t n) {
        if (!ValidSize(n)) {
            throw std::invalid_argument("SpectrumEngine: size must be a power of two from 1 to 65536");
        }
        const unsigned log2n = Log2(n);
        if (!sizes[log2n]) sizes[log2n] = std::make_unique<SizeTables>(n);
        const SizeTables& t = *sizes[log2n];
        FftPlan plan;
        plan.n = n;
        plan.log2n = log2n;
        plan.rootRe = t.rootRe.get();
        plan.rootIm = t.rootIm.get();
        plan.reverse = t.reverse.get();
        plan.groupReverse = t.groupReverse.get();
        plan.stageTwiddle = t.stageTwiddle.get();
        plan.radix2Twiddle = t.radix2Twiddle.get();
        plan.finalTwiddle = t.finalTwiddle.get();
        plan.workRe = workRe.get();
        plan.workIm = workIm.get();
        return plan;
    }
};

SpectrumEngine::SpectrumEngine() : impl_(std::make_unique<Impl>()) {}
SpectrumEngine::~SpectrumEngine() = default;

void SpectrumEngine::Prepare(std::size_t n, WindowKind window) {
    impl_->Plan(n, window);
}

void SpectrumEngine::Analyze(const double* timeA, const double* timeB, std::size_t n, WindowKind window,
                             double* magA, double* phaseA, double* magB, double* phaseB) {
    const FftPlan plan = impl_->Plan(n, window);
    // Bins above n/2 mirror those below: the scan covers 0 .. n/2.
    if (impl_->kernel == FftKernel::Avx2 && n >= kVectorMinSize) {
        detail::AnalyzeAvx2(plan, timeA, timeB, magA, phaseA, magB, phaseB);
        SuppressCrossTalk(detail::ScanAvx2(magA, magB, n / 2 + 1), n, magA, phaseA, magB, phaseB);
    } else {
        detail::AnalyzePortable(plan, timeA, timeB, magA, phaseA, magB, phaseB);
        SuppressCrossTalk(detail::ScanPortable(magA, magB, n / 2 + 1), n, magA, phaseA, magB, phaseB);
    }
}

void SpectrumEngine::UseWindow(std::size_t n, const double* w) {
    impl_->TablePlan(n);
    if (!impl_->ownWindow.get()) impl_->ownWindow = AlignedArray<double>(kMaxFftSize);
    // The 1/(2n) of the separation is a power of two: scaling the factors by it
    // is exact, so x w / (2n) rounds as x w does.
    const double scale = 0.5 / static_cast<double>(n);
    for (std::size_t i = 0; i < n; ++i) impl_->ownWindow[i] = w[i] * scale;
    impl_->ownWindowSize = n;
}

void SpectrumEngine::AnalyzePower(const double* timeA, const double* timeB, std::size_t n, double* powerA,
                                  double* powerB) {
    if (n == 0 || n != impl_->ownWindowSize) {
        throw std::invalid_argument("SpectrumEngine: AnalyzePower needs UseWindow of the same size first");
    }
    FftPlan plan = impl_->TablePlan(n);
    plan.window = impl_->ownWindow.get();
    if (impl_->kernel == FftKernel::Avx2 && n >= kVectorMinSize) {
        detail::PowerAvx2(plan, timeA, timeB, powerA, powerB);
        SuppressPowerCrossTalk(detail::ScanAvx2(powerA, powerB, n / 2 + 1), n, powerA, powerB);
    } else {
        detail::PowerPortable(plan, timeA, timeB, powerA, powerB);
        SuppressPowerCrossTalk(detail::ScanPortable(powerA, powerB, n / 2 + 1), n, powerA, powerB);
    }
}

FftKernel SpectrumEngine::kernel() const {
    return impl_->kernel;
}

bool SpectrumEngine::UseKernel(FftKernel kernel) {
    if (!FftKernelSupported(kernel)) return false;
    impl_->kernel = kernel;
    return true;
}

}  // namespace miral::analysis