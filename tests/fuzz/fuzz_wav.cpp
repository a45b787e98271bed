// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files played into the inputs: the same path as --audio wav:FILE
// (driver selection, capture at a rate that may need resampling, the
// looping reader), with the fuzzer's bytes as the file.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/streams.h"

using namespace miral::audio;

namespace {

std::string InputFile() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/miral_fuzz_wav_" + std::to_string(::getpid()) + ".wav";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = InputFile();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size > 0 && std::fwrite(data, 1, size, f) != size) {
        std::fclose(f);
        return 0;
    }
    std::fclose(f);

    static CaptureRing ring;
    static PlaybackTables tables;
    AudioStreams streams(ring, tables);
    if (!streams.SelectDriver("wav:" + path, TimeMode::Simulated)) {
        if (streams.LastError().empty()) std::abort();  // a refusal always says why
        return 0;
    }
    if (streams.StartCapture(48000, 0, DefaultCaptureSettings())) {
        streams.AdvanceTo(0.03);
        for (int i = 0; i < CaptureRing::kSize; i += 37)
            if (!std::isfinite(ring.SampleA(i)) || !std::isfinite(ring.SampleB(i))) std::abort();
    }
    return 0;
}
