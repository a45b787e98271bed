// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/fft_engine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
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

// The windows are applied to the separated spectra: a bin of the windowed
// spectrum sums the taps times bins of the unwindowed one, so its round-off
// is at most the taps' sum of magnitudes times the largest round-off of
// those bins, and the unwindowed spectrum's 2-norm, not the windowed one's,
// bounds that. The limit above is therefore taken relative to the other
// channel's largest unwindowed bin, times the taps' sum (2.0 for Hann, 4.6
// for the flat-top; -217 dB and -210 dB below the other channel at 65536
// points).
double TapSum(const detail::WindowTaps& w) {
    double sum = std::fabs(w.tap[0]);
    for (int m = 1; m < w.terms; ++m) sum += 2.0 * std::fabs(w.tap[m]);
    return sum;
}

// The first count bins (all n, or 0 .. n/2): a bin above n/2 holds its
// mirror's magnitude, so each bin decides alone, in one forward pass the
// compiler makes vector selections of.
void ZeroAtOrBelow(double* magnitude, double* phase, std::size_t count, double limit) {
    for (std::size_t k = 0; k < count; ++k) {
        const bool zero = !(magnitude[k] > limit);
        magnitude[k] = zero ? 0.0 : magnitude[k];
        phase[k] = zero ? 90.0 : phase[k];
    }
}

// The power path's counterpart: the limit squared, bins 0 .. n/2 only.
void ZeroPowerAtOrBelow(double* p, std::size_t n, double limit) {
    for (std::size_t k = 0; k <= n / 2; ++k)
        if (p[k] <= limit) p[k] = 0.0;
}

void SuppressPowerCrossTalk(const detail::PeaksAndFloors& scan, std::size_t n, double* powerA,
                            double* powerB) {
    const double factor = CrossTalkFactor(n);
    if (factor == 0.0) return;
    const double f2 = factor * factor;
    if (scan.floorB <= f2 * scan.peakA) ZeroPowerAtOrBelow(powerB, n, f2 * scan.peakA);
    if (scan.floorA <= f2 * scan.peakB) ZeroPowerAtOrBelow(powerA, n, f2 * scan.peakB);
}

// Magnitudes and phases of the windowed spectra, against the other channel's
// largest unwindowed power (raw, squared magnitudes).
void SuppressCrossTalk(const detail::PeaksAndFloors& scan, const detail::RawPeaks& raw, double tapSum,
                       std::size_t n, std::size_t written, double* magA, double* phaseA, double* magB,
                       double* phaseB) {
    const double factor = CrossTalkFactor(n) * tapSum;
    if (factor == 0.0) return;
    // Most spectra have no bin near the limit: the floors spare them the
    // second pass.
    const double limitB = factor * std::sqrt(raw.a);
    const double limitA = factor * std::sqrt(raw.b);
    if (scan.floorB <= limitB) ZeroAtOrBelow(magB, phaseB, written, limitB);
    if (scan.floorA <= limitA) ZeroAtOrBelow(magA, phaseA, written, limitA);
}

void SuppressWindowedPowerCrossTalk(const detail::PeaksAndFloors& scan, const detail::RawPeaks& raw,
                                    double tapSum, std::size_t n, double* powerA, double* powerB) {
    const double factor = CrossTalkFactor(n) * tapSum;
    if (factor == 0.0) return;
    const double f2 = factor * factor;
    if (scan.floorB <= f2 * raw.a) ZeroPowerAtOrBelow(powerB, n, f2 * raw.a);
    if (scan.floorA <= f2 * raw.b) ZeroPowerAtOrBelow(powerA, n, f2 * raw.b);
}

// A cosine window's taps on the spectrum (terms 1 .. kMaxWindowTerms).
detail::WindowTaps TapsOfCosine(const CosineWindow& w) {
    detail::WindowTaps taps;
    taps.terms = std::clamp(w.terms, 1, detail::kMaxWindowTerms);
    for (int m = 0; m < taps.terms; ++m)
        taps.tap[m] = m == 0 ? w.b[0] : w.b[static_cast<std::size_t>(m)] / 2.0;
    return taps;
}

// The display windows as taps on the spectrum: w = gain x sum b_m cos(m theta).
detail::WindowTaps TapsOf(WindowKind kind) {
    return TapsOfCosine(CosineWindowOf(kind));
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
    static constexpr std::size_t kSpectrumLength = kMaxFftSize / 2 + 1 + 2 * detail::kSpectrumPad;

    std::array<std::unique_ptr<SizeTables>, 17> sizes;  // by log2 n
    AlignedArray<double> workRe{kMaxFftSize}, workIm{kMaxFftSize};
    // The kept spectra of both channels, with their pads.
    AlignedArray<double> spectrum[4] = {
        AlignedArray<double>(kSpectrumLength), AlignedArray<double>(kSpectrumLength),
        AlignedArray<double>(kSpectrumLength), AlignedArray<double>(kSpectrumLength)};
    std::size_t keptSize = 0;  // 0: none
    FftKernel kernel = BestFftKernel();
    // The caller's window of the power path (allocated by its first UseWindow).
    AlignedArray<double> ownWindow;
    std::size_t ownWindowSize = 0;  // 0: none
    // Every transform is a new generation of the kept spectra. The power
    // asked for by AlsoWindowedPower is made for them by the window pass of
    // Analyze (alsoMade: the generation it was made for).
    std::uint64_t generation = 1;
    CosineWindow alsoWindow;
    double* alsoA = nullptr;
    double* alsoB = nullptr;
    std::uint64_t alsoMade = 0;

    detail::HalfSpectra Spectra() const {
        detail::HalfSpectra h;
        for (int c = 0; c < 2; ++c) {
            h.re[c] = spectrum[2 * c].get() + detail::kSpectrumPad;
            h.im[c] = spectrum[2 * c + 1].get() + detail::kSpectrumPad;
        }
        return h;
    }

    bool Vector(std::size_t n) const { return kernel == FftKernel::Avx2 && n >= kVectorMinSize; }

    // Below the vector kernel's sizes the display window multiplies the
    // record, as the plain routines do: with a handful of points the taps
    // would round a window value of zero (Blackman at n = 1) to a few ulps
    // of the record instead.
    AlignedArray<double> smallWindow{kVectorMinSize};
    std::size_t smallWindowSize = 0;  // 0: not built yet
    WindowKind smallWindowKind = WindowKind::Rectangular;

    // The transform of the record as it is (or, with window, of the record
    // times window values times 1/(2n), n below kVectorMinSize), separated
    // into the kept spectra.
    void Transform(const double* timeA, const double* timeB, std::size_t n,
                   const WindowKind* window = nullptr) {
        FftPlan plan = TablePlan(n);
        plan.window = nullptr;
        plan.scale = 0.5 / static_cast<double>(n);
        if (window && n < kVectorMinSize) {
            if (smallWindowSize != n || smallWindowKind != *window) {
                for (std::size_t i = 0; i < n; ++i)
                    smallWindow[i] = WindowFactor(*window, i, n + 1) * plan.scale;
                smallWindowSize = n;
                smallWindowKind = *window;
            }
            plan.window = smallWindow.get();
        }
        const bool windowed = plan.window != nullptr;
        const detail::HalfSpectra h = Spectra();
        keptSize = 0;
        ++generation;
        if (Vector(n)) {
            detail::SpectraAvx2(plan, timeA, timeB, h);
        } else {
            detail::SpectraPortable(plan, timeA, timeB, h);
        }
        // The vector kernels read the pads (whichever kernel made the spectra).
        if (n >= kVectorMinSize) detail::FillSpectrumPads(h, n);
        // The spectra of a windowed record are no record's own.
        keptSize = windowed ? 0 : n;
    }

    void Analyze(const double* timeA, const double* timeB, std::size_t n, WindowKind window, double* magA,
                 double* phaseA, double* magB, double* phaseB, bool mirrors, bool phaseOfB = true) {
        Transform(timeA, timeB, n, &window);
        const detail::HalfSpectra h = Spectra();
        const detail::WindowTaps taps = TapsOf(n < kVectorMinSize ? WindowKind::Rectangular : window);
        // Bins above n/2 mirror those below: the scan covers 0 .. n/2.
        const std::size_t written = mirrors ? n : n / 2 + 1;
        if (Vector(n)) {
            // Each channel's spectra once through the cache: the display's
            // window, then (when asked for) the power's, while they are near.
            const bool power = alsoA != nullptr && alsoB != nullptr && keptSize == n;
            const detail::WindowTaps powerTaps = TapsOfCosine(alsoWindow);
            const double factor = CrossTalkFactor(n) * TapSum(taps);
            const double powerFactor = CrossTalkFactor(n) * TapSum(powerTaps);
            double* mag[2] = {magA, magB};
            double* phase[2] = {phaseA, phaseB};
            // Each channel's bins at or below the round-off limit set by the
            // other channel's largest unwindowed power are zeroed in its own
            // pass: channel B's power is found first (a pass that only reads
            // its spectra), channel A's comes with A's pass.
            const detail::RawPeaks peaksB = detail::UnwindowedPeaksAvx2(h, n, 1);
            detail::PeaksAndFloors scan{}, powerScan{};
            double rawA = 0.0, powerRawA = 0.0;
            detail::ZeroBelow zero[2], powerZero[2];
            for (int c = 0; c < 2; ++c) {
                const bool fuse = factor != 0.0;
                zero[c].limit = factor * std::sqrt(c == 0 ? peaksB.a : rawA);
                zero[c].phase = phase[c];
                const detail::RawPeaks r =
                    detail::WindowMagPhaseAvx2(h, n, taps, magA, phaseA, magB, phaseOfB ? phaseB : nullptr,
                                               mirrors, &scan, c, fuse ? &zero[c] : nullptr);
                if (c == 0) rawA = r.a;
                if (!power) continue;
                const bool powerFuse = powerFactor != 0.0;
                powerZero[c].limit = powerFactor * powerFactor * (c == 0 ? peaksB.b : powerRawA);
                const detail::RawPeaks p = detail::WindowPowerAvx2(h, n, powerTaps, alsoA, alsoB, &powerScan,
                                                                   c, powerFuse ? &powerZero[c] : nullptr);
                if (c == 0) powerRawA = p.a;
            }
            // Whether a channel's bins should read as zero is known at the
            // end: when its floor is at or below the limit.
            const double floor[2] = {scan.floorA, scan.floorB};
            for (int c = 0; c < 2 && factor != 0.0; ++c) {
                if (floor[c] <= zero[c].limit) {
                    // The pass leaves NaN magnitudes as they are; these read as zero too.
                    if (zero[c].nan) ZeroAtOrBelow(mag[c], phase[c], written, zero[c].limit);
                } else if (zero[c].zeroed) {
                    // Bins at or below the limit beside a floor above it (NaN
                    // magnitudes among the first bins hide them from the
                    // floor): nothing is zeroed, the pass is made again (a
                    // channel whose phases are not computed keeps the +90s).
                    detail::WindowMagPhaseAvx2(h, n, taps, magA, phaseA, magB, phaseOfB ? phaseB : nullptr,
                                               mirrors, &scan, c);
                }
            }
            if (power) {
                const double powerFloor[2] = {powerScan.floorA, powerScan.floorB};
                for (int c = 0; c < 2 && powerFactor != 0.0; ++c)
                    if (!(powerFloor[c] <= powerZero[c].limit) && powerZero[c].zeroed)
                        detail::WindowPowerAvx2(h, n, powerTaps, alsoA, alsoB, &powerScan, c);
                alsoMade = generation;
            }
        } else {
            const detail::RawPeaks raw = detail::WindowMagPhasePortable(h, n, taps, magA, phaseA, magB,
                                                                        phaseOfB ? phaseB : nullptr, mirrors);
            SuppressCrossTalk(detail::ScanPortable(magA, magB, n / 2 + 1), raw, TapSum(taps), n, written,
                              magA, phaseA, magB, phaseB);
        }
    }

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

void SpectrumEngine::Prepare(std::size_t n, [[maybe_unused]] WindowKind window) {
    impl_->TablePlan(n);
}

void SpectrumEngine::Analyze(const double* timeA, const double* timeB, std::size_t n, WindowKind window,
                             double* magA, double* phaseA, double* magB, double* phaseB) {
    impl_->Analyze(timeA, timeB, n, window, magA, phaseA, magB, phaseB, true);
}

void SpectrumEngine::AnalyzeHalf(const double* timeA, const double* timeB, std::size_t n, WindowKind window,
                                 double* magA, double* phaseA, double* magB, double* phaseB, bool phaseOfB) {
    impl_->Analyze(timeA, timeB, n, window, magA, phaseA, magB, phaseB, false, phaseOfB);
}

void SpectrumEngine::Transform(const double* timeA, const double* timeB, std::size_t n) {
    impl_->Transform(timeA, timeB, n);
}

std::size_t SpectrumEngine::keptSize() const {
    return impl_->keptSize;
}

void SpectrumEngine::AlsoWindowedPower(const CosineWindow& w, double* powerA, double* powerB) {
    const bool valid = w.terms >= 1 && w.terms <= detail::kMaxWindowTerms && powerA && powerB;
    impl_->alsoWindow = w;
    impl_->alsoA = valid ? powerA : nullptr;
    impl_->alsoB = valid ? powerB : nullptr;
    impl_->alsoMade = 0;
}

void SpectrumEngine::WindowedPower(const CosineWindow& w, double* powerA, double* powerB) const {
    const std::size_t n = impl_->keptSize;
    if (n == 0 || w.terms < 1 || w.terms > detail::kMaxWindowTerms) return;
    // Made already by the window pass over these spectra?
    if (impl_->alsoMade == impl_->generation && powerA == impl_->alsoA && powerB == impl_->alsoB &&
        w.terms == impl_->alsoWindow.terms && w.b == impl_->alsoWindow.b)
        return;
    const detail::WindowTaps taps = TapsOfCosine(w);
    const detail::HalfSpectra h = impl_->Spectra();
    if (impl_->Vector(n)) {
        detail::PeaksAndFloors scan;
        const detail::RawPeaks raw = detail::WindowPowerAvx2(h, n, taps, powerA, powerB, &scan);
        SuppressWindowedPowerCrossTalk(scan, raw, TapSum(taps), n, powerA, powerB);
    } else {
        const detail::RawPeaks raw = detail::WindowPowerPortable(h, n, taps, powerA, powerB);
        SuppressWindowedPowerCrossTalk(detail::ScanPortable(powerA, powerB, n / 2 + 1), raw, TapSum(taps), n,
                                       powerA, powerB);
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
    if (impl_->Vector(n)) {
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