// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/bundle_driver.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>

namespace miral::audio {

BundleDriver::BundleDriver(std::vector<float> a, std::vector<float> b, int captureRate, int decimation)
    : a_(std::move(a)), b_(std::move(b)), captureRate_(captureRate), decimation_(std::max(1, decimation)) {
    b_.resize(a_.size(), 0.0f);
}

bool BundleDriver::Open(StreamDirection direction, const StreamRequest& request, std::string& error) {
    if (request.rate <= 0 || request.rate > 1000000) {
        error = "the bundle player does not run at " + std::to_string(request.rate) + " Hz";
        return false;
    }
    Stream& s = Select(direction);
    s = Stream{};
    s.open = true;
    s.request = request;
    return true;
}

bool BundleDriver::FramesAt(int rate, std::vector<float>& frames, std::string& error) const {
    const std::size_t n = a_.size();
    if (rate == captureRate_) {
        // Each saved sample as many times as the decimation keeps one.
        frames.resize(2 * n * static_cast<std::size_t>(decimation_));
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i)
            for (int r = 0; r < decimation_; ++r) {
                frames[k++] = a_[i];
                frames[k++] = b_[i];
            }
        return true;
    }
    const double sampleRate = static_cast<double>(captureRate_) / decimation_;
    const double ratio = rate / sampleRate;
    if (ratio < 1.0 / 256 || ratio > 256) {
        error = "the bundle's capture cannot be resampled from " + std::to_string(sampleRate) + " to " +
                std::to_string(rate) + " Hz";
        return false;
    }
    std::vector<float> in(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        in[2 * i] = a_[i];
        in[2 * i + 1] = b_[i];
    }
    // At most what the capture ring can show of it (half the ring is never
    // more than the longest window).
    const auto outFrames = static_cast<long>(std::ceil(static_cast<double>(n) * ratio)) + 16;
    frames.assign(2 * static_cast<std::size_t>(outFrames), 0.0f);
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = static_cast<long>(n);
    data.data_out = frames.data();
    data.output_frames = outFrames;
    data.src_ratio = ratio;
    const int code = src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 2);
    if (code != 0) {
        error = std::string("resampling the bundle's capture failed: ") + src_strerror(code);
        return false;
    }
    frames.resize(2 * static_cast<std::size_t>(data.output_frames_gen));
    // Each frame kept by the decimation in force is one frame of the new rate.
    return true;
}

bool BundleDriver::Start(StreamDirection direction, std::string& error) {
    Stream& s = Select(direction);
    if (!s.open) {
        error = "no stream is open";
        return false;
    }
    s.running = true;
    if (direction == StreamDirection::Playback) return true;
    // The whole capture at once, through the stream's own callback and format.
    std::vector<float> frames;
    if (!FramesAt(s.request.rate, frames, error)) {
        s.running = false;
        return false;
    }
    const std::size_t total = frames.size() / 2;
    const bool int24 = s.request.format == SampleFormat::Int24;
    std::vector<std::uint8_t> wire;
    constexpr std::size_t kChunk = 4096;
    if (int24) wire.resize(6 * kChunk);
    for (std::size_t done = 0; done < total;) {
        const std::size_t count = std::min(kChunk, total - done);
        float* chunk = frames.data() + 2 * done;
        void* input = chunk;
        if (int24) {
            for (std::size_t i = 0; i < 2 * count; ++i) EncodeInt24(chunk[i], wire.data() + 3 * i);
            input = wire.data();
        }
        if (s.request.callback)
            s.request.callback(nullptr, input, static_cast<unsigned int>(count), 0.0, 0, s.request.userData);
        done += count;
    }
    delivered_ = static_cast<long long>(total);
    return true;
}

bool BundleDriver::Close(StreamDirection direction, std::string& /*error*/) {
    Select(direction) = Stream{};
    return true;
}

bool BundleDriver::IsRunning(StreamDirection direction) const {
    return Select(direction).running;
}

unsigned int BundleDriver::BufferFrames(StreamDirection direction) const {
    const Stream& s = Select(direction);
    return s.open ? s.request.bufferFrames : 0;
}

}  // namespace miral::audio
