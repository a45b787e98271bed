// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/sim_driver.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace miral::audio {

namespace {

constexpr int kZeroCrossings = 48;  // of the sinc, each side
constexpr int kTableSteps = 1024;   // table entries per zero crossing
constexpr double kCutoff = 0.97;    // of the lower Nyquist frequency
constexpr double kKaiserBeta = 8.0;

// Modified Bessel function of the first kind, order 0 (power series).
double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    const double q = x * x / 4.0;
    for (int k = 1; k < 60; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

}  // namespace

SimDriver::SimDriver(TimeMode mode, const DutSetup& dut) : ClockedDriver(mode), dut_(dut) {
    processor_ = DutProcessor(dut_, 44100, 44100);
    kernel_.resize(static_cast<size_t>(kZeroCrossings) * kTableSteps + 2);
    const double i0Beta = BesselI0(kKaiserBeta);
    for (size_t i = 0; i < kernel_.size(); ++i) {
        const double u = static_cast<double>(i) / kTableSteps;
        if (u >= kZeroCrossings) {
            kernel_[i] = 0.0f;
            continue;
        }
        const double sinc = u == 0.0 ? 1.0 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
        const double t = u / kZeroCrossings;
        kernel_[i] = static_cast<float>(sinc * BesselI0(kKaiserBeta * std::sqrt(1.0 - t * t)) / i0Beta);
    }
}

SimDriver::~SimDriver() {
    Shutdown();
}

void SimDriver::SetDut(const DutSetup& dut) {
    std::lock_guard<std::mutex> lock(mutex_);
    dut_ = dut;
    processor_ =
        DutProcessor(dut_, playRate_ > 0 ? playRate_ : 44100, captureRate_ > 0 ? captureRate_ : 44100);
    if (playRate_ > 0) Rebuild(playRate_, playBuffer_, captureRate_, captureBuffer_);
}

void SimDriver::Rebuild(int playbackRate, unsigned int playbackBuffer, int captureRate,
                        unsigned int captureBuffer) {
    playRate_ = playbackRate;
    playBuffer_ = playbackBuffer;
    captureRate_ = captureRate;
    captureBuffer_ = captureBuffer;
    if (playbackRate <= 0) return;
    const double ratio =
        captureRate > 0 ? std::min(1.0, static_cast<double>(captureRate) / playbackRate) : 1.0;
    cutoff_ = kCutoff * ratio;
    halfWidth_ = static_cast<int>(std::ceil(kZeroCrossings / cutoff_)) + 1;

    // The history must reach from the oldest tap of the frame being captured
    // (delay and kernel behind) to the newest frame played, which may run up
    // to a capture buffer plus a playback buffer ahead.
    const double captureSpan =
        captureRate > 0 ? static_cast<double>(captureBuffer) * playbackRate / captureRate : 0.0;
    const double maxDelay = DutSetup::kMaxDelayNs * 1e-9 * playbackRate;
    const double need = captureSpan + playbackBuffer + 2.0 * halfWidth_ + maxDelay + 1024.0;
    const auto size = static_cast<std::int64_t>(std::bit_ceil(static_cast<std::uint64_t>(2.0 * need)));
    if (size <= historyMask_ + 1) return;
    std::vector<float> a(static_cast<size_t>(size), 0.0f), b(static_cast<size_t>(size), 0.0f);
    const std::int64_t oldSize = historyMask_ + 1;
    if (!historyA_.empty()) {
        for (std::int64_t n = std::max<std::int64_t>(0, played_ - oldSize); n < played_; ++n) {
            a[static_cast<size_t>(n & (size - 1))] = historyA_[static_cast<size_t>(n & historyMask_)];
            b[static_cast<size_t>(n & (size - 1))] = historyB_[static_cast<size_t>(n & historyMask_)];
        }
    }
    historyA_.swap(a);
    historyB_.swap(b);
    historyMask_ = size - 1;
}

bool SimDriver::OnCaptureOpen(const Stream& capture, std::string& /*error*/) {
    Rebuild(playRate_, playBuffer_, capture.rate, capture.bufferFrames);
    return true;
}

void SimDriver::OnCaptureStart(const Stream& /*capture*/) {
    processor_.ResetNoise();
}

bool SimDriver::OnPlaybackOpen(const Stream& playback, std::string& /*error*/) {
    Rebuild(playback.rate, playback.bufferFrames, captureRate_, captureBuffer_);
    return true;
}

void SimDriver::OnPlaybackStart(const Stream& playback) {
    // A fresh start: the outputs were silent, the network at rest.
    std::fill(historyA_.begin(), historyA_.end(), 0.0f);
    std::fill(historyB_.begin(), historyB_.end(), 0.0f);
    played_ = 0;
    processor_ = DutProcessor(dut_, playback.rate, captureRate_ > 0 ? captureRate_ : playback.rate);
}

void SimDriver::OnPlaybackClose() {
    played_ = 0;
    playRate_ = 0;
}

void SimDriver::OnPlayed(std::int64_t first, unsigned int count, const float* interleaved) {
    if (historyA_.empty()) return;
    // Frames skipped after a stall of the card's thread were silent.
    for (std::int64_t n = std::max(played_, first - historyMask_ - 1); n < first; ++n) {
        historyA_[static_cast<size_t>(n & historyMask_)] = 0.0f;
        historyB_[static_cast<size_t>(n & historyMask_)] = 0.0f;
    }
    for (unsigned int i = 0; i < count; ++i) {
        float a, b;
        processor_.Network(interleaved[2 * i], interleaved[2 * i + 1], a, b);
        const auto slot = static_cast<size_t>((first + i) & historyMask_);
        historyA_[slot] = a;
        historyB_[slot] = b;
    }
    played_ = first + count;
}

float SimDriver::History(const std::vector<float>& history, std::int64_t n) const {
    if (n < 0 || n >= played_ || n <= played_ - historyMask_ - 1) return 0.0f;
    return history[static_cast<size_t>(n & historyMask_)];
}

float SimDriver::Read(const std::vector<float>& history, std::int64_t pos, double frac, double delay) {
    const double p = frac - delay;
    const double whole = std::floor(p);
    const std::int64_t base = pos + static_cast<std::int64_t>(whole);
    const double f = p - whole;
    // On a played sample the reconstructed signal is that sample, unless the
    // capture rate is lower and the signal must first lose what lies above
    // the capture's Nyquist frequency.
    if (f == 0.0 && captureRate_ >= playRate_) {
        RequestPlaybackUpTo(base + 1);
        return History(history, base);
    }
    RequestPlaybackUpTo(base + halfWidth_ + 1);
    const double scale = cutoff_ * kTableSteps;
    double sum = 0.0;
    for (int j = 1 - halfWidth_; j <= halfWidth_; ++j) {
        const double u = std::fabs(f - j) * scale;
        const auto i0 = static_cast<size_t>(u);
        if (i0 + 1 >= kernel_.size()) continue;
        const double t = u - static_cast<double>(i0);
        const double w = kernel_[i0] + t * (kernel_[i0 + 1] - kernel_[i0]);
        sum += w * History(history, base + j);
    }
    return static_cast<float>(cutoff_ * sum);
}

void SimDriver::RenderCapture(std::int64_t first, unsigned int count, float* interleaved) {
    const Stream& capture = CaptureStream();
    const Stream& playback = PlaybackStream();
    const bool playing = playback.running && playRate_ > 0 && !historyA_.empty();
    for (unsigned int i = 0; i < count; ++i) {
        float a = 0.0f, b = 0.0f;
        if (playing) {
            // Capture tick c is at time c / Rc, i.e. playback position
            // c * Rp / Rc on the playback grid: split exactly into whole and
            // fractional parts.
            const std::int64_t c = capture.startTick + first + i;
            const std::int64_t num = c * playback.rate;
            const std::int64_t pos = num / capture.rate - playback.startTick;
            const double frac = static_cast<double>(num % capture.rate) / capture.rate;
            a = Read(historyA_, pos, frac, processor_.DelayA());
            b = Read(historyB_, pos, frac, processor_.DelayB());
        }
        processor_.Converter(a, b);
        interleaved[2 * i] = a;
        interleaved[2 * i + 1] = b;
    }
}

}  // namespace miral::audio
