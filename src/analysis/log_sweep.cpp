// SPDX-License-Identifier: GPL-3.0-or-later
// The synchronized exponential sweep: x(t) = sin(2 pi f1 L (e^(t/L) - 1))
// with f1 L whole, so that sin(n phi(t)) = sin(phi(t + L ln n)): the sweep's
// n-th harmonic is the sweep itself, L ln n earlier, with its phase. Its
// spectrum (stationary phase) is X(f) = 1/2 sqrt(L/f) e^(j (2 pi f L (1 -
// ln(f/f1)) - pi/4)), so the inverse filter is 2 sqrt(f/L) e^(-j (...)).
// Deconvolving the recording (its spectrum times the inverse filter, back to
// time) gives h_1 at the latency and h_n at the latency - L ln n.
// (InverseFilter below inverts the sampled sweep's own transform instead.)
#include "analysis/log_sweep.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

#include "analysis/long_fft.h"

namespace miral::analysis {
namespace {

using Complex = std::complex<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = std::numbers::pi;

// Where the inverse filter starts to roll off above the band.
double HighEdge(const LogSweepPlan& plan) {
    return std::min(1.05 * plan.bandHigh, plan.f2);
}

std::size_t NextPowerOfTwo(std::size_t n) {
    std::size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

// The inverse filter, n points: the sampled sweep's own transform inverted
// where it has energy (exact; the stationary-phase form 2 sqrt(f/L)
// e^(-j (2 pi f L (1 - ln(f/f1)) - pi/4)) is off by tenths of a dB over the
// lowest octaves, where the sweep lasts only a few cycles per octave),
// rolling off smoothly outside the band (raised cosines in log frequency,
// from f1 to 0.9 x the band's start and from 1.05 x its end to f2): a sharp
// edge would ring for long and reach the harmonics' places.
std::vector<Complex> InverseFilter(const LogSweepPlan& plan, const LongFft& fft) {
    const std::size_t n = fft.size();
    std::vector<Complex> x(n, Complex(0.0, 0.0));
    std::vector<double> sweep(plan.samples);
    RenderLogSweep(plan, sweep.data());
    for (std::size_t i = 0; i < std::min(plan.samples, n); ++i) x[i] = sweep[i];
    fft.Forward(x.data());
    std::vector<Complex> inverse(n / 2 + 1, Complex(0.0, 0.0));
    const double lowEdge = 0.9 * plan.bandLow, highEdge = HighEdge(plan);
    for (std::size_t k = 1; k <= n / 2; ++k) {
        const double f = plan.rate * static_cast<double>(k) / static_cast<double>(n);
        const double p = std::norm(x[k]);
        if (f <= plan.f1 || f >= plan.f2 || !(p > 0)) continue;
        double weight = 1.0;
        if (f < lowEdge)
            weight = 0.5 - 0.5 * std::cos(kPi * std::log(f / plan.f1) / std::log(lowEdge / plan.f1));
        if (f > highEdge)
            weight = 0.5 + 0.5 * std::cos(kPi * std::log(f / highEdge) / std::log(plan.f2 / highEdge));
        inverse[k] = weight * std::conj(x[k]) / p;
    }
    inverse[n / 2] = inverse[n / 2].real();
    return inverse;
}

// A recording deconvolved: the impulse responses of every order, n points
// (circular: negative times at the end).
std::vector<double> Deconvolve(const std::vector<Complex>& inverse, const LongFft& fft, const double* x,
                               std::size_t count) {
    const std::size_t n = fft.size();
    std::vector<Complex> buf(n, Complex(0.0, 0.0));
    for (std::size_t i = 0; i < std::min(count, n); ++i) buf[i] = x[i];
    fft.Forward(buf.data());
    buf[0] = 0.0;
    for (std::size_t k = 1; k <= n / 2; ++k) {
        buf[k] *= inverse[k];
        if (k < n / 2) buf[n - k] *= std::conj(inverse[k]);
    }
    fft.Inverse(buf.data());
    std::vector<double> h(n);
    for (std::size_t i = 0; i < n; ++i) h[i] = buf[i].real();
    return h;
}

// One impulse response cut out of the circular deconvolution: the samples
// around `centre` (fractional, in samples; its time 0) from centre - pre to
// centre + post, with half-cosine tapers over `taper` of each side.
struct Chunk {
    std::vector<double> value;  // windowed samples
    double firstTime = 0;       // time of value[0] relative to the centre, samples
};

Chunk Cut(const std::vector<double>& h, double centre, double pre, double post, double taper) {
    const long n = static_cast<long>(h.size());
    const long first = static_cast<long>(std::floor(centre - pre));
    const long last = static_cast<long>(std::ceil(centre + post));
    Chunk c;
    c.firstTime = static_cast<double>(first) - centre;
    const double rampIn = std::max(1.0, pre * taper), rampOut = std::max(1.0, post * taper);
    for (long m = first; m <= last; ++m) {
        const double t = static_cast<double>(m) - centre;
        double w = 1.0;
        if (t < -pre + rampIn) w = 0.5 - 0.5 * std::cos(kPi * std::clamp((t + pre) / rampIn, 0.0, 1.0));
        if (t > post - rampOut) w = 0.5 - 0.5 * std::cos(kPi * std::clamp((post - t) / rampOut, 0.0, 1.0));
        c.value.push_back(w * h[static_cast<std::size_t>(((m % n) + n) % n)]);
    }
    return c;
}

// The chunk's transform at f Hz, time 0 at its centre.
Complex Response(const Chunk& c, double f, double rate) {
    const double w = -2 * kPi * f / rate;
    Complex rotor = std::polar(1.0, w * c.firstTime);
    const Complex step = std::polar(1.0, w);
    Complex sum = 0;
    for (std::size_t i = 0; i < c.value.size(); ++i) {
        sum += c.value[i] * rotor;
        rotor *= step;
        // Keep the rotor on the unit circle over long chunks.
        if ((i & 1023) == 1023) rotor /= std::abs(rotor);
    }
    return sum;
}

long PeakIndex(const std::vector<double>& h) {
    long best = 0;
    for (std::size_t i = 1; i < h.size(); ++i)
        if (std::fabs(h[i]) > std::fabs(h[static_cast<std::size_t>(best)])) best = static_cast<long>(i);
    return best;
}

}  // namespace

LogSweepPlan PlanLogSweep(double from, double to, double seconds, double rate) {
    LogSweepPlan p;
    p.rate = rate > 0 ? rate : 48000;
    p.bandLow = std::clamp(std::isfinite(from) ? from : 20.0, 1.0, 0.45 * p.rate);
    p.bandHigh = std::clamp(std::isfinite(to) ? to : 20000.0, p.bandLow * 1.01, 0.45 * p.rate);
    p.f2 = std::min(1.15 * p.bandHigh, 0.47 * p.rate);
    const double t = std::isfinite(seconds) && seconds > 0 ? seconds : 3.0;
    // f1 L whole and the sweep as long as asked: f1 T / ln(f2 / f1) grows
    // with f1, so f1 is lowered from half the band's start until it is whole.
    auto cycles = [&](double f1) { return f1 * t / std::log(p.f2 / f1); };
    double hi = 0.5 * p.bandLow;
    const double whole = std::max(1.0, std::floor(cycles(hi)));
    double lo = hi / 2;
    while (cycles(lo) > whole) lo /= 2;
    for (int i = 0; i < 100 && hi - lo > 1e-12 * hi; ++i) {
        const double mid = 0.5 * (lo + hi);
        (cycles(mid) > whole ? hi : lo) = mid;
    }
    p.f1 = lo;
    p.L = whole / p.f1;
    const double ratio = std::log(p.f2 / p.f1);
    p.samples = static_cast<std::size_t>(std::llround(p.L * ratio * p.rate));
    // In from f1 to 0.9 x the band's start, out from 1.05 x its end to f2
    // (at least 2 ms each).
    const auto stretch = [&](double fa, double fb) {
        const double s = fb > fa ? p.L * std::log(fb / fa) * p.rate : 0.0;
        return static_cast<std::size_t>(std::max(s, 0.002 * p.rate));
    };
    p.fadeIn = std::min(p.samples / 4, stretch(p.f1, 0.9 * p.bandLow));
    p.fadeOut = std::min(p.samples / 4, stretch(1.05 * p.bandHigh, p.f2));
    return p;
}

void RenderLogSweep(const LogSweepPlan& plan, double* out) {
    for (std::size_t i = 0; i < plan.samples; ++i) {
        const double t = static_cast<double>(i) / plan.rate;
        double v = std::sin(2 * kPi * plan.f1 * plan.L * std::expm1(t / plan.L));
        if (i < plan.fadeIn) v *= 0.5 - 0.5 * std::cos(kPi * static_cast<double>(i) / plan.fadeIn);
        const std::size_t left = plan.samples - i;
        if (left <= plan.fadeOut)
            v *= 0.5 - 0.5 * std::cos(kPi * static_cast<double>(left) / (plan.fadeOut + 1.0));
        out[i] = v;
    }
}

LogSweepResult AnalyzeLogSweep(const LogSweepPlan& plan, double amplitude, const double* output,
                               const double* reference, std::size_t count, const std::vector<double>& freqs) {
    LogSweepResult r;
    r.freq = freqs;
    r.gainDb.assign(freqs.size(), kNaN);
    r.phaseDeg.assign(freqs.size(), kNaN);
    for (auto& h : r.harmonicDbc) h.assign(freqs.size(), kNaN);
    if (plan.samples == 0 || count == 0 || output == nullptr || !(plan.L > 0)) return r;
    const double rate = plan.rate;
    // Room for the recording and, before it, the harmonics up to the 8th.
    const double lead = plan.L * std::log(8.0) * rate;
    const std::size_t n =
        NextPowerOfTwo(count + static_cast<std::size_t>(lead) + static_cast<std::size_t>(rate / 2));
    const LongFft fft(n);
    const std::vector<Complex> inverse = InverseFilter(plan, fft);

    const std::vector<double> hOut = Deconvolve(inverse, fft, output, count);
    std::vector<double> played;
    if (reference == nullptr) {
        played.assign(plan.samples, 0.0);
        RenderLogSweep(plan, played.data());
        for (double& v : played) v *= amplitude;
    }
    const std::vector<double> hRef = reference ? Deconvolve(inverse, fft, reference, count)
                                               : Deconvolve(inverse, fft, played.data(), plan.samples);
    // The linear responses' place: the reference's (the recorded input); with
    // the played sweep as the reference, the output's own peak.
    const long refAt = PeakIndex(hRef);
    const long outAt = reference ? refAt : PeakIndex(hOut);
    r.latency = outAt;

    const double pre1 = 0.5 * plan.L * std::log(2.0) * rate;
    const double post1 = std::min(0.25 * rate, static_cast<double>(n) - lead - pre1);
    // The linear responses flat over most of their stretch (what the
    // device's own response does there counts); the harmonics' wholly
    // tapered, so that the lowest frequencies' long ringing beside them
    // leaks in as little as it can.
    const Chunk out1 = Cut(hOut, static_cast<double>(outAt), pre1, post1, 0.25);
    const Chunk ref1 = Cut(hRef, static_cast<double>(refAt), pre1, post1, 0.25);
    const double scale = amplitude != 0 ? 1.0 / amplitude : 1.0;
    for (double v : out1.value) r.impulse.push_back(v * scale);

    std::array<Chunk, kSweepHighestHarmonic + 1> harmonic;
    for (int h = 2; h <= kSweepHighestHarmonic; ++h) {
        const double centre = static_cast<double>(outAt) - plan.L * std::log(static_cast<double>(h)) * rate;
        const double pre = 0.5 * plan.L * std::log(static_cast<double>(h) / (h - 1)) * rate;
        const double post = 0.5 * plan.L * std::log(static_cast<double>(h + 1) / h) * rate;
        harmonic[static_cast<std::size_t>(h)] = Cut(hOut, centre, pre, post, 1.0);
    }

    for (std::size_t i = 0; i < freqs.size(); ++i) {
        const double f = freqs[i];
        if (!(f > 0) || f >= 0.5 * rate) continue;
        const Complex g = Response(out1, f, rate);
        const Complex ref = Response(ref1, f, rate);
        const Complex h1 = g / ref;
        r.gainDb[i] = 20 * std::log10(std::abs(h1));
        r.phaseDeg[i] = std::arg(h1) * 180 / kPi;
        for (int h = 2; h <= kSweepHighestHarmonic; ++h) {
            const double fh = h * f;
            // Read where the inverse filter is whole (the band, a little wider).
            if (fh > HighEdge(plan) || f < plan.f1) continue;
            const Complex gh = Response(harmonic[static_cast<std::size_t>(h)], fh, rate);
            r.harmonicDbc[static_cast<std::size_t>(h)][i] = 20 * std::log10(std::abs(gh) / std::abs(g));
        }
    }
    return r;
}

}  // namespace miral::analysis
