// SPDX-License-Identifier: GPL-3.0-or-later
// The WAV player: real files written with libsndfile, replayed into the
// capture ring through the stream operations in simulated time.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
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

    // A RIFF/WAVE file put together by hand, for the damaged ones that no
    // writer makes: a PCM "fmt " chunk with the given fields and declared
    // sizes, then a "data" chunk declaring dataSize bytes and holding data.
    std::string WriteRaw(const std::string& name, int channels, int rate, int bits, std::uint32_t dataSize,
                         const std::string& data, std::uint32_t fmtSize = 16) {
        auto le = [](std::string& b, std::uint32_t v, int n) {
            for (int i = 0; i < n; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        };
        std::string b = "RIFF";
        le(b, static_cast<std::uint32_t>(4 + 8 + 16 + 8 + data.size()), 4);
        b += "WAVEfmt ";
        le(b, fmtSize, 4);
        const int blockAlign = channels * bits / 8;
        le(b, 1, 2);  // PCM
        le(b, static_cast<std::uint32_t>(channels), 2);
        le(b, static_cast<std::uint32_t>(rate), 4);
        le(b, static_cast<std::uint32_t>(rate * blockAlign), 4);
        le(b, static_cast<std::uint32_t>(blockAlign), 2);
        le(b, static_cast<std::uint32_t>(bits), 2);
        b += "data";
        le(b, dataSize, 4);
        b += data;
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary).write(b.data(), static_cast<std::streamsize>(b.size()));
        return path;
    }

    // Selects the file as the input, giving up after 10 s: a file that makes
    // the player wait for ever is a failure, not a hung test run.
    bool SelectWithin10s(const std::string& path) { return SelectWithin10s(audio_, path); }
    static bool SelectWithin10s(AudioStreams& audio, const std::string& path) {
        auto done = std::make_shared<std::promise<bool>>();
        std::future<bool> result = done->get_future();
        std::thread([&audio, path, done] {
            done->set_value(audio.SelectDriver("wav:" + path, TimeMode::Simulated));
        }).detach();
        if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "selecting " << path << " did not return within 10 s";
            std::_Exit(1);  // the thread still blocks inside the player
        }
        return result.get();
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
    for (int i = 0; i < 48000; ++i)
        mono.push_back(static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 48000)));
    ASSERT_TRUE(audio_.SelectDriver("wav:" + Write("tone.wav", 48000, 1, mono, SF_FORMAT_PCM_24),
                                    TimeMode::Simulated))
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

// 16-bit stereo frames: left = i * 64, right = -i * 64.
std::string Pcm16Frames(int frames) {
    std::string d;
    for (int i = 0; i < frames; ++i)
        for (int v : {i * 64, -i * 64}) {
            const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
            d.push_back(static_cast<char>(u & 0xFF));
            d.push_back(static_cast<char>(u >> 8));
        }
    return d;
}

TEST_F(WavInput, ACutOrOverlongDataChunkPlaysTheFramesThatAreThere) {
    // The data chunk claims far more than the file holds: cut short by a
    // copy that stopped, or a header that says 4 GiB.
    const std::string data = Pcm16Frames(500);
    for (const std::uint32_t declared :
         {std::uint32_t{400000}, std::uint32_t{0xFFFFFFFFu}, std::uint32_t{0xFFFFFFF0u}}) {
        SCOPED_TRACE(declared);
        const std::string path =
            WriteRaw("cut" + std::to_string(declared) + ".wav", 2, 44100, 16, declared, data);
        auto ring = std::make_unique<CaptureRing>();
        auto tables = std::make_unique<PlaybackTables>();
        AudioStreams audio(*ring, *tables);
        ASSERT_TRUE(SelectWithin10s(audio, path)) << audio.LastError();
        ASSERT_TRUE(audio.StartCapture(44100, 1, {}));
        audio.AdvanceTo(0.05);  // 2205 frames: the 500 of the file four times and more
        ASSERT_GE(ring->WriteIndex.load(), 1500);
        for (int k = 0; k < 1500; ++k) {
            const int i = (k + 1) % 500;
            ASSERT_EQ(ring->SampleA(k), static_cast<float>(i * 64) / 32768.0f) << k;
            ASSERT_EQ(ring->SampleB(k), -static_cast<float>(i * 64) / 32768.0f) << k;
        }
    }
    // A frame cut in its middle is no frame.
    const std::string odd = WriteRaw("odd.wav", 2, 44100, 16, 4 * 300 + 3, Pcm16Frames(300) + "xyz");
    ASSERT_TRUE(SelectWithin10s(odd)) << audio_.LastError();
    ASSERT_TRUE(audio_.StartCapture(44100, 1, {}));
    audio_.AdvanceTo(0.05);
    for (int k = 0; k < 1500; ++k)
        ASSERT_EQ(ring_->SampleA(k), static_cast<float>((k + 1) % 300 * 64) / 32768.0f) << k;
}

TEST_F(WavInput, HeadersWithNoChannelsNoRateOrNoDataAreRefusedByName) {
    struct Case {
        const char* what;
        std::string path;
    };
    const std::string data = Pcm16Frames(100);
    const Case cases[] = {
        {"no channels",
         WriteRaw("zero_channels.wav", 0, 44100, 16, static_cast<std::uint32_t>(data.size()), data)},
        {"no rate", WriteRaw("zero_rate.wav", 2, 0, 16, static_cast<std::uint32_t>(data.size()), data)},
        {"no bits", WriteRaw("zero_bits.wav", 2, 44100, 0, static_cast<std::uint32_t>(data.size()), data)},
        {"header only", WriteRaw("no_data.wav", 2, 44100, 16, 0, "")},
        {"huge fmt chunk",
         WriteRaw("huge_fmt.wav", 2, 44100, 16, static_cast<std::uint32_t>(data.size()), data, 0xFFFFFFF0u)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(SelectWithin10s(c.path));
        EXPECT_NE(audio_.LastError().find(c.path), std::string::npos) << audio_.LastError();
        EXPECT_EQ(audio_.LastError().find('\n'), std::string::npos) << audio_.LastError();
    }
    // Cut inside the header.
    WriteRaw("good.wav", 2, 44100, 16, 400, Pcm16Frames(100));
    std::string good;
    {
        std::ifstream in(dir_ / "good.wav", std::ios::binary);
        good.assign(std::istreambuf_iterator<char>(in), {});
    }
    for (std::size_t cut : {std::size_t{3}, std::size_t{12}, std::size_t{30}}) {
        SCOPED_TRACE(cut);
        const std::string path = (dir_ / ("head" + std::to_string(cut) + ".wav")).string();
        std::ofstream(path, std::ios::binary).write(good.data(), static_cast<std::streamsize>(cut));
        EXPECT_FALSE(SelectWithin10s(path));
        EXPECT_NE(audio_.LastError().find(path), std::string::npos) << audio_.LastError();
    }
}

TEST_F(WavInput, EightBitFloatAnd384kHzFilesPlay) {
    // 8-bit files are unsigned: 128 is zero, one step is 1/128.
    std::string bytes;
    for (int i = 0; i < 200; ++i) {
        bytes.push_back(static_cast<char>(128 + (i - 100)));
        bytes.push_back(static_cast<char>(128 - (i - 100)));
    }
    ASSERT_TRUE(SelectWithin10s(WriteRaw("u8.wav", 2, 44100, 8, 400, bytes))) << audio_.LastError();
    ASSERT_TRUE(audio_.StartCapture(44100, 1, {}));
    audio_.AdvanceTo(0.05);
    for (int k = 0; k < 800; ++k) {
        ASSERT_EQ(ring_->SampleA(k), static_cast<float>((k + 1) % 200 - 100) / 128.0f) << k;
        ASSERT_EQ(ring_->SampleB(k), -ring_->SampleA(k)) << k;
    }

    // 32-bit float, partly beyond full scale: those samples stop at full
    // scale as at a card's converter, they never wrap round.
    {
        std::vector<float> loud;
        for (int i = 0; i < 300; ++i) {
            loud.push_back(1.5f * static_cast<float>(i) / 300.0f);
            loud.push_back(-0.25f);
        }
        auto ring = std::make_unique<CaptureRing>();
        auto tables = std::make_unique<PlaybackTables>();
        AudioStreams audio(*ring, *tables);
        ASSERT_TRUE(SelectWithin10s(audio, Write("float.wav", 44100, 2, loud, SF_FORMAT_FLOAT)))
            << audio.LastError();
        ASSERT_TRUE(audio.StartCapture(44100, 1, {}));
        audio.AdvanceTo(0.05);
        for (int k = 0; k < 800; ++k) {
            ASSERT_EQ(ring->SampleA(k), std::min(1.5f * static_cast<float>((k + 1) % 300) / 300.0f, 1.0f))
                << k;
            ASSERT_EQ(ring->SampleB(k), -0.25f) << k;
        }
    }

    // 384 kHz mono, 1 kHz at half scale: resampled to the capture rate.
    std::vector<float> fast;
    for (int i = 0; i < 384000 / 2; ++i)
        fast.push_back(static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 384000.0)));
    auto ring = std::make_unique<CaptureRing>();
    auto tables = std::make_unique<PlaybackTables>();
    AudioStreams audio(*ring, *tables);
    ASSERT_TRUE(SelectWithin10s(audio, Write("fast.wav", 384000, 1, fast, SF_FORMAT_FLOAT)))
        << audio.LastError();
    ASSERT_TRUE(audio.StartCapture(48000, 1, {}));
    audio.AdvanceTo(0.4);
    const auto a = test::Newest(*ring, 9600, false);
    EXPECT_NEAR(std::abs(test::ToneAt(a, 1000.0, 48000.0)), 0.5, 0.5 * 1e-3);
    EXPECT_LT(std::abs(test::ToneAt(a, 1100.0, 48000.0)), 1e-4);
    EXPECT_EQ(test::Newest(*ring, 9600, true), a);
}

TEST_F(WavInput, AFolderOrAFifoIsRefusedAtOnce) {
    const std::string folder = (dir_ / "folder.wav").string();
    fs::create_directory(folder);
    EXPECT_FALSE(SelectWithin10s(folder));
    EXPECT_NE(audio_.LastError().find(folder), std::string::npos) << audio_.LastError();
    EXPECT_NE(audio_.LastError().find("folder"), std::string::npos) << audio_.LastError();

    // A FIFO with no writer: an ordinary open waits for one for ever.
    const std::string fifo = (dir_ / "pipe.wav").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(SelectWithin10s(fifo));
    EXPECT_NE(audio_.LastError().find(fifo), std::string::npos) << audio_.LastError();
    EXPECT_NE(audio_.LastError().find("FIFO"), std::string::npos) << audio_.LastError();
}

}  // namespace
}  // namespace miral::audio
