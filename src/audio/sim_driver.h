// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The simulated bench ("sim"): a sound card whose outputs are wired back to
// its inputs through a device under test (sim_dut.h).
//
// The playback callback produces the output at the playback rate; the
// device's network and nonlinearity act on it sample by sample; the capture
// converter samples the result at the capture rate. Between the two rates,
// and for the delay of one channel, the output is treated as the band-limited
// signal that a real converter reconstructs (Kaiser-windowed sinc
// interpolation, cut off just below the lower of the two Nyquist
// frequencies). With equal rates and no delay every captured sample is
// exactly a played one. Gain, noise and the input level act at the capture
// rate.

#include <cstdint>
#include <vector>

#include "audio/clocked_driver.h"
#include "audio/sim_dut.h"

namespace miral::audio {

class SimDriver : public ClockedDriver {
  public:
    SimDriver(TimeMode mode, const DutSetup& dut);
    ~SimDriver() override;

    std::string Name() const override { return "sim"; }
    // Replaces the device under test; takes effect at once.
    void SetDut(const DutSetup& dut);

  protected:
    bool OnCaptureOpen(const Stream& capture, std::string& error) override;
    void OnCaptureStart(const Stream& capture) override;
    void RenderCapture(std::int64_t first, unsigned int count, float* interleaved) override;
    bool OnPlaybackOpen(const Stream& playback, std::string& error) override;
    void OnPlaybackStart(const Stream& playback) override;
    void OnPlaybackClose() override;
    void OnPlayed(std::int64_t first, unsigned int count, const float* interleaved) override;

  private:
    // Rebuilds the processor and the interpolation kernel for the present
    // rates; resizes the history when needed, keeping its contents.
    void Rebuild(int playbackRate, unsigned int playbackBuffer, int captureRate, unsigned int captureBuffer);
    // The output of one device channel at playback position pos + frac
    // (frac in [0, 1)), delayed by `delay` playback samples.
    float Read(const std::vector<float>& history, std::int64_t pos, double frac, double delay);
    float History(const std::vector<float>& history, std::int64_t n) const;

    DutSetup dut_;
    DutProcessor processor_;
    // Interpolation kernel: sinc(u) * Kaiser(u / kZeroCrossings) tabulated
    // for u = 0 .. kZeroCrossings in steps of 1 / kTableSteps.
    std::vector<float> kernel_;
    double cutoff_ = 1.0;  // kernel scale s: cutoff relative to the playback Nyquist frequency
    int halfWidth_ = 0;    // taps each side, in playback samples
    // Device outputs (after network and harmonics) by playback frame number.
    std::vector<float> historyA_;
    std::vector<float> historyB_;
    std::int64_t historyMask_ = 0;
    std::int64_t played_ = 0;  // frames in the history so far
    int playRate_ = 0;
    int captureRate_ = 0;
    unsigned int playBuffer_ = 0;
    unsigned int captureBuffer_ = 0;
};

}  // namespace miral::audio
