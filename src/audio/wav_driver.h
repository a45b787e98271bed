// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The WAV player ("wav:FILE"): a card whose inputs replay a sound file in a
// loop. Left = channel A, right = channel B; a mono file feeds both; channels
// beyond the second are ignored. Any format libsndfile reads is accepted.
// When the capture rate differs from the file's rate the signal is resampled
// with libsamplerate. Playback streams run (their callbacks are called in
// time) but what they play is discarded.

#include <memory>
#include <string>
#include <vector>

#include "audio/clocked_driver.h"

struct sf_private_tag;
struct SRC_STATE_tag;

namespace miral::audio {

class WavDriver : public ClockedDriver {
  public:
    // Opens the file. On failure returns null and a one-line message naming
    // the file and the reason.
    static std::unique_ptr<WavDriver> Create(const std::string& path, TimeMode mode, std::string& error);
    ~WavDriver() override;

    std::string Name() const override { return "wav"; }
    const std::string& Path() const { return path_; }
    int FileRate() const { return fileRate_; }
    int FileChannels() const { return channels_; }
    long long FileFrames() const { return frames_; }
    void TakeRuntimeError(std::string& text) override;

  protected:
    bool OnCaptureOpen(const Stream& capture, std::string& error) override;
    void OnCaptureStart(const Stream& capture) override;
    void RenderCapture(std::int64_t first, unsigned int count, float* interleaved) override;
    bool OnPlaybackOpen(const Stream&, std::string&) override { return true; }
    void OnPlaybackStart(const Stream&) override {}
    void OnPlaybackClose() override {}
    void OnPlayed(std::int64_t, unsigned int, const float*) override {}

  private:
    WavDriver(TimeMode mode, std::string path);
    // Reads up to `frames` stereo frames, starting over at the end of the file.
    unsigned int ReadLooping(float* stereo, unsigned int frames);

    std::string path_;
    sf_private_tag* file_ = nullptr;
    int fileRate_ = 0;
    int channels_ = 0;
    long long frames_ = 0;
    SRC_STATE_tag* resampler_ = nullptr;
    double ratio_ = 1.0;
    static constexpr unsigned int kChunk = 4096;
    std::vector<float> raw_;     // kChunk frames as the file has them
    std::vector<float> stereo_;  // kChunk stereo frames
    unsigned int stereoPos_ = 0;
    unsigned int stereoCount_ = 0;
    std::string runtimeError_;
};

}  // namespace miral::audio
