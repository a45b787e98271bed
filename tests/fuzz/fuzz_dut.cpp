// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated bench's --dut text: parsed, and when accepted, realised at a
// few rates and run for a moment on the bench.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "audio/streams.h"

using namespace miral::audio;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    DutSetup setup;
    std::string error;
    if (!ParseDut(text, setup, error)) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    static CaptureRing ring;
    static PlaybackTables tables;
    AudioStreams streams(ring, tables);
    if (!streams.SetDeviceUnderTest(text)) std::abort();  // accepted above
    if (!streams.SelectDriver("sim", TimeMode::Simulated)) return 0;
    for (int rate : {8000, 44100, 192000}) {
        if (!streams.StartPlayback(rate, 0, DefaultPlaybackSettings())) continue;
        if (!streams.StartCapture(rate, 0, DefaultCaptureSettings())) continue;
        streams.AdvanceTo(0.02);
        for (int i = 0; i < CaptureRing::kSize; i += 61)
            if (!std::isfinite(ring.SampleA(i)) || !std::isfinite(ring.SampleB(i))) std::abort();
        streams.StopCapture();
        streams.StopPlayback();
        break;
    }
    return 0;
}
