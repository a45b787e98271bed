// The WAV player: real files written with libsndfile, replayed into the
// capture ring through the stream operations in simulated time.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "audio/streams.h"
#include "audio_test_support.h"

namespace miral::audio {
namespace {

namespace fs = std::filesystem;

class WavInput : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("miral-wav-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Writes interleaved samples as a WAV file (format: SF_FORMAT_FLOAT or PCM_16/24).
    std::string Write(const std::string& name, int rate, int channels, const std::vector<float>& samples,
                      int subtype = SF_FORMAT_FLOAT) {
        const std::string path = (dir_ / name).string();
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | subtype;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
        if (f == nullptr) return path;
        sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size() / channels));
        sf_close(f);
        return path;
    }

    fs::path dir_;
    std::unique_ptr<CaptureRing> ring_ = std::make_unique<CaptureRing>();
    std::unique_ptr<PlaybackTables> tables_ = std::make_unique<PlaybackTables>();
    AudioStreams audio_{*ring_, *tables_};
};

TEST_F(WavInput, StereoFileAtTheCaptureRateArrivesSampleForSampleAndLoops) {
    // 1000 frames: left counts up, right counts down (exact in float).
    std::vector<float> s;
    for (int i = 0; i < 1000; ++i) {
        s.push_back(static_cast<float>(i) / 1024.0f);
        s.push_back(-static_cast<float>(i) / 1024.0f);
    }
    ASSERT_TRUE(audio_.SelectDriver("wav:" + Write("ramp.wav", 44100, 2, s), TimeMode::Simulated))
        << audio_.LastError();
    EXPECT_EQ(audio_.DriverName(), "wav");
    EXPECT_TRUE(audio_.RepeatableInput());  // a run on a file repeats
    StreamSettings settings;
    settings.bufferFrames = 300;
    ASSERT_TRUE(audio_.StartCapture(44100, 1, settings));
    audio_.AdvanceTo(0.1);  // 4410 frames sampled: 14 buffers of 300 = 4200 frames
    ASSERT_EQ(ring_->WriteIndex.load(), 4199);
    // Slot k holds capture frame k + 1, i.e. file frame (k + 1) mod 1000.
    for (int k = 0; k < 4199; ++k) {
        ASSERT_EQ(ring_->SampleA(k), static_cast<float>((k + 1) % 1000) / 1024.0f) << k;
        ASSERT_EQ(ring_->SampleB(k), -ring_->SampleA(k)) << k;
    }
    // Playback is accepted and discarded.
    EXPECT_TRUE(audio_.StartPlayback(44100, 1, DefaultPlaybackSettings()));
    audio_.AdvanceTo(0.2);
    EXPECT_GT(tables_->ReadIndex.load(), 0);
}

TEST_F(WavInput, MonoFeedsBothChannelsAndOtherRatesAreResampled) {
    std::vector<float> mono;
    for (int i = 0; i < 48000; ++i) mono.push_back(static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 48000)));
    ASSERT_TRUE(audio_.SelectDriver("wav:" + Write("tone.wav", 48000, 1, mono, SF_FORMAT_PCM_24), TimeMode::Simulated))
        << audio_.LastError();
    ASSERT_TRUE(audio_.StartCapture(44100, 1, {}));
    audio_.AdvanceTo(0.5);
    const auto a = test::Newest(*ring_, 8820, false);
    const auto b = test::Newest(*ring_, 8820, true);
    EXPECT_EQ(a, b);
    EXPECT_NEAR(std::abs(test::ToneAt(a, 1000.0, 44100.0)), 0.5, 0.5 * 1e-3);
    // Nothing at other frequencies: a clean conversion.
    EXPECT_LT(std::abs(test::ToneAt(a, 1100.0, 44100.0)), 1e-5);
}

TEST_F(WavInput, TheInputLevelScalesTheFile) {
    std::vector<float> s(2 * 4410, 0.5f);
    ASSERT_TRUE(audio_.SelectDriver("wav:" + Write("dc.wav", 44100, 2, s), TimeMode::Simulated));
    audio_.SetInputLevel(0.25);
    ASSERT_TRUE(audio_.StartCapture(44100, 1, {}));
    audio_.AdvanceTo(0.05);
    EXPECT_EQ(ring_->SampleA(10), 0.125f);
}

TEST_F(WavInput, UnreadableFilesGiveOneLineNamingTheFileAndTheReason) {
    const std::string missing = (dir_ / "missing.wav").string();
    EXPECT_FALSE(audio_.SelectDriver("wav:" + missing));
    EXPECT_NE(audio_.LastError().find(missing), std::string::npos) << audio_.LastError();
    EXPECT_NE(audio_.LastError().find("No such file"), std::string::npos) << audio_.LastError();

    const std::string text = (dir_ / "notes.txt").string();
    std::ofstream(text) << "these are not samples\n";
    EXPECT_FALSE(audio_.SelectDriver("wav:" + text));
    EXPECT_NE(audio_.LastError().find(text), std::string::npos);
    EXPECT_EQ(audio_.LastError().find('\n'), std::string::npos);

    const std::string empty = Write("empty.wav", 44100, 2, {});
    EXPECT_FALSE(audio_.SelectDriver("wav:" + empty));
    EXPECT_NE(audio_.LastError().find("no audio frames"), std::string::npos) << audio_.LastError();
}

}  // namespace
}  // namespace miral::audio
