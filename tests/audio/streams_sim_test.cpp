// SPDX-License-Identifier: GPL-3.0-or-later
// The stream operations, driven through the simulated bench in simulated
// time: the frames really pass through the callbacks, the conversions and
// the decimation.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <thread>

#include "audio/rtaudio_driver.h"
#include "audio/sim_driver.h"
#include "audio/streams.h"
#include "audio_test_support.h"

namespace miral::audio {
namespace {

using test::Db;
using test::Newest;
using test::PhaseDeg;
using test::PublishSines;
using test::ToneAt;

struct Bench {
    std::unique_ptr<CaptureRing> ring = std::make_unique<CaptureRing>();
    std::unique_ptr<PlaybackTables> tables = std::make_unique<PlaybackTables>();
    std::unique_ptr<AudioStreams> audio = std::make_unique<AudioStreams>(*ring, *tables);

    explicit Bench(const char* dut = "", TimeMode mode = TimeMode::Simulated) {
        EXPECT_TRUE(audio->SetDeviceUnderTest(dut)) << audio->LastError();
        EXPECT_TRUE(audio->SelectDriver("sim", mode)) << audio->LastError();
    }
    // Plays sines (amplitude 0.5 on A, 0.25 on B) at playRate and records at
    // captureRate for `seconds` of simulated time.
    void Run(int playRate, int captureRate, double freq, double seconds, StreamSettings capture = {},
             StreamSettings playback = DefaultPlaybackSettings()) {
        PublishSines(*tables, playRate, freq, 0.5, freq, 0.25);
        ASSERT_TRUE(audio->StartPlayback(playRate, 1, playback)) << audio->LastError();
        ASSERT_TRUE(audio->StartCapture(captureRate, 1, capture)) << audio->LastError();
        for (int ms = 1; ms <= static_cast<int>(seconds * 1000); ++ms) audio->AdvanceTo(ms / 1000.0);
    }
};

// Wraps a driver, counting opens and failing on request.
class CountingDriver : public AudioDriver {
  public:
    explicit CountingDriver(std::unique_ptr<AudioDriver> inner) : inner_(std::move(inner)) {}
    std::string Name() const override { return "counting"; }
    bool Open(StreamDirection d, const StreamRequest& r, std::string& error) override {
        ++opens;
        if (failNextOpen) {
            failNextOpen = false;
            error = "device unplugged";
            return false;
        }
        return inner_->Open(d, r, error);
    }
    bool Start(StreamDirection d, std::string& e) override { return inner_->Start(d, e); }
    bool Close(StreamDirection d, std::string& e) override { return inner_->Close(d, e); }
    bool IsRunning(StreamDirection d) const override { return inner_->IsRunning(d); }
    unsigned int BufferFrames(StreamDirection d) const override { return inner_->BufferFrames(d); }
    void AdvanceTo(double s) override { inner_->AdvanceTo(s); }
    void TakeRuntimeError(std::string& text) override {
        text = failing ? "audio read error, Connection terminated." : "";
    }
    bool Failing() const override { return failing; }
    int opens = 0;
    bool failNextOpen = false;
    bool failing = false;

  private:
    std::unique_ptr<AudioDriver> inner_;
};

TEST(StartCapture, TheSameRequestOpensOnceAndAFailureIsRetried) {
    Bench bench;
    auto owned =
        std::make_unique<CountingDriver>(std::make_unique<SimDriver>(TimeMode::Simulated, DutSetup{}));
    CountingDriver* driver = owned.get();
    bench.audio->UseDriver(std::move(owned));

    StreamSettings s;
    ASSERT_TRUE(bench.audio->StartCapture(44100, 2, s));
    bench.audio->AdvanceTo(0.1);
    const int written = bench.ring->WriteIndex.load();
    EXPECT_GT(written, 0);
    EXPECT_TRUE(bench.audio->StartCapture(44100, 2, s));
    EXPECT_EQ(driver->opens, 1);
    EXPECT_EQ(bench.ring->WriteIndex.load(), written);  // not restarted
    // Another rate or device reopens; WriteIndex starts again at 0.
    EXPECT_TRUE(bench.audio->StartCapture(44100, 3, s));
    EXPECT_EQ(driver->opens, 2);
    EXPECT_EQ(bench.ring->WriteIndex.load(), 0);

    // A failure leaves the stream absent, says why, and the same request tries again.
    driver->failNextOpen = true;
    EXPECT_FALSE(bench.audio->StartCapture(48000, 3, s));
    EXPECT_FALSE(bench.audio->CaptureRunning());
    EXPECT_NE(bench.audio->LastError().find("capture stream failed"), std::string::npos);
    EXPECT_NE(bench.audio->LastError().find("device unplugged"), std::string::npos);
    EXPECT_NE(bench.audio->StatusText().find("device unplugged"), std::string::npos);
    EXPECT_TRUE(bench.audio->StartCapture(48000, 3, s));
    EXPECT_EQ(driver->opens, 4);
    EXPECT_TRUE(bench.audio->CaptureRunning());
    EXPECT_EQ(bench.audio->LastError(), "");
    EXPECT_EQ(bench.audio->StatusText(), "");
}

TEST(StatusText, StreamsThatKeepFailingAreClosedAndCanStartAgain) {
    Bench bench;
    auto owned =
        std::make_unique<CountingDriver>(std::make_unique<SimDriver>(TimeMode::Simulated, DutSetup{}));
    CountingDriver* driver = owned.get();
    bench.audio->UseDriver(std::move(owned));
    ASSERT_TRUE(bench.audio->StartCapture(44100, 1, {}));
    ASSERT_TRUE(bench.audio->StartPlayback(44100, 1, DefaultPlaybackSettings()));
    EXPECT_EQ(bench.audio->StatusText(), "");
    driver->failing = true;  // e.g. the sound server went away
    ::testing::internal::CaptureStderr();
    const std::string status = bench.audio->StatusText();
    const std::string log = ::testing::internal::GetCapturedStderr();
    // The status line says what happened in the program's words; the
    // library's own text goes to the log only.
    EXPECT_NE(status.find("capture stream closed (audio: the sound server reported an error)"),
              std::string::npos)
        << status;
    EXPECT_NE(status.find("playback stream closed"), std::string::npos) << status;
    EXPECT_EQ(status.find("audio read error"), std::string::npos) << status;
    EXPECT_NE(log.find("miral: audio: audio read error"), std::string::npos) << log;
    EXPECT_FALSE(bench.audio->CaptureRunning());
    EXPECT_FALSE(bench.audio->PlaybackRunning());
    driver->failing = false;
    EXPECT_TRUE(bench.audio->StartCapture(44100, 1, {}));  // the same request opens again
    EXPECT_EQ(driver->opens, 3);
    EXPECT_EQ(bench.audio->StatusText().find("capture"), std::string::npos);
}

TEST(StartCapture, TwentyFourBitsOnlyUpToTheLimit) {
    Bench bench;
    StreamSettings s;
    s.bits = 24;
    s.maxRate24 = 88200;
    ASSERT_TRUE(bench.audio->StartCapture(88200, 1, s));
    EXPECT_EQ(bench.audio->CaptureFormat(), SampleFormat::Int24);
    ASSERT_TRUE(bench.audio->StartCapture(96000, 1, s));
    EXPECT_EQ(bench.audio->CaptureFormat(), SampleFormat::Float32);
    s.bits = 16;
    ASSERT_TRUE(bench.audio->StartPlayback(44100, 1, s));
    EXPECT_EQ(bench.audio->PlaybackFormat(), SampleFormat::Float32);
    s.bits = 24;
    ASSERT_TRUE(bench.audio->StartPlayback(48000, 1, s));
    EXPECT_EQ(bench.audio->PlaybackFormat(), SampleFormat::Int24);
    // RtAudio's ALSA back end cannot take the packed format: floats instead.
    EXPECT_EQ(RtAudioDriver(RtApiKind::Alsa).WireFormat(SampleFormat::Int24), SampleFormat::Float32);
    EXPECT_EQ(RtAudioDriver(RtApiKind::Pulse).WireFormat(SampleFormat::Int24), SampleFormat::Int24);
}

TEST(StartPlayback, SetsTheLoopLengthToTheRateAndRejectsRatesBeyondTheTables) {
    Bench bench;
    StreamSettings s = DefaultPlaybackSettings();
    s.bufferFrames = 1000;
    bench.tables->ReadIndex.store(17);
    ASSERT_TRUE(bench.audio->StartPlayback(48000, 1, s));
    EXPECT_EQ(bench.tables->PlaybackLength.load(), 48000);
    EXPECT_EQ(bench.tables->ReadIndex.load(), 0);
    bench.audio->AdvanceTo(1.5);  // frames 0 .. 72000 are due: 73 buffers of 1000
    EXPECT_EQ(bench.tables->ReadIndex.load(), 73000 % 48000);

    EXPECT_FALSE(bench.audio->StartPlayback(200000, 1, s));
    EXPECT_NE(bench.audio->LastError().find("192000"), std::string::npos);
    EXPECT_FALSE(bench.audio->PlaybackRunning());
}

TEST(SimulatedTime, DeliversWholeBuffersAsTheyFallDue) {
    Bench bench;
    StreamSettings s;
    s.bufferFrames = 441;
    ASSERT_TRUE(bench.audio->StartCapture(44100, 1, s));
    bench.audio->AdvanceTo(0.0099);  // 436 frames sampled: no whole buffer yet
    EXPECT_EQ(bench.ring->WriteIndex.load(), 0);
    bench.audio->AdvanceTo(0.01);                   // frame 440 was sampled at 9.98 ms
    EXPECT_EQ(bench.ring->WriteIndex.load(), 440);  // the first frame is never kept
    bench.audio->AdvanceTo(0.5);
    EXPECT_EQ(bench.ring->WriteIndex.load(), 50 * 441 - 1);
    bench.audio->AdvanceTo(0.2);  // time never runs backwards
    EXPECT_EQ(bench.ring->WriteIndex.load(), 50 * 441 - 1);
}

TEST(SimWire, EqualRatesGiveThePlayedSamplesExactly) {
    for (int bits : {16, 24}) {
        Bench bench;
        StreamSettings capture;
        capture.bits = bits;
        StreamSettings playback = DefaultPlaybackSettings();
        playback.bits = bits;
        bench.Run(44100, 44100, 1000.0, 0.3, capture, playback);
        const std::vector<double> a = Newest(*bench.ring, 4410, false);
        const std::vector<double> b = Newest(*bench.ring, 4410, true);
        // Slot s holds capture frame s + 1 (the very first frame is not kept),
        // and capture frame k is playback frame k: both streams started at 0.
        const float* table = bench.tables->PublishedA();
        const int offset = bench.ring->WriteIndex.load() - 4410 + 1;
        const double tolerance = bits == 24 ? 1.0 / 8388608.0 : 0.0;
        for (int i = 0; i < 4410; ++i) {
            ASSERT_NEAR(a[i], table[(offset + i) % 44100], tolerance) << i;
            ASSERT_NEAR(b[i], bench.tables->PublishedB()[(offset + i) % 44100], tolerance) << i;
        }
    }
}

TEST(SimWire, DifferentRatesKeepFrequencyAndLevel) {
    {
        Bench bench;
        bench.Run(48000, 44100, 1000.0, 0.5);
        const auto a = Newest(*bench.ring, 8820, false);
        EXPECT_NEAR(std::abs(ToneAt(a, 1000.0, 44100.0)), 0.5, 0.5 * 1e-4);
        // What is left after the tone is the resampler's error.
        const auto tone = ToneAt(a, 1000.0, 44100.0, false);
        double err = 0.0;
        for (size_t i = 0; i < a.size(); ++i) {
            const double t = std::real(tone * std::polar(1.0, 2.0 * std::numbers::pi * 1000.0 * i / 44100.0));
            err = std::max(err, std::fabs(a[i] - t));
        }
        EXPECT_LT(Db(err / 0.5), -80.0);
    }
    {
        // Down by 24: a tone above the new Nyquist frequency must not alias.
        Bench bench;
        bench.Run(192000, 8000, 6000.0, 0.5);
        EXPECT_LT(test::Rms(Newest(*bench.ring, 800, false)), 0.5 * 1e-3);
        Bench pass;
        pass.Run(192000, 8000, 1000.0, 0.5);
        EXPECT_NEAR(std::abs(ToneAt(Newest(*pass.ring, 800, false), 1000.0, 8000.0)), 0.5, 0.5 * 1e-3);
    }
}

TEST(SimWire, DecimationKeepsOneFrameInD) {
    Bench bench;
    bench.ring->SetDecimation(4);
    bench.Run(44100, 44100, 1000.0, 0.5);
    // The ring now holds a 1 kHz tone sampled at 44100 / 4.
    const auto a = Newest(*bench.ring, 2205, false);
    EXPECT_NEAR(std::abs(ToneAt(a, 1000.0, 44100.0 / 4)), 0.5, 1e-3);
    const int kept = bench.ring->WriteIndex.load();
    EXPECT_NEAR(kept, 0.5 * 44100 / 4, 512.0 / 4 + 1);
}

TEST(SimDut, DelayOfBIsTheRightNumberOfSamples) {
    {
        // 20 us at 50 kHz is exactly one sample: B is A one frame later.
        Bench bench("delay-b:ns=20000");
        bench.Run(50000, 50000, 1000.0, 0.3);
        const auto a = Newest(*bench.ring, 5000, false);
        const auto b = Newest(*bench.ring, 5000, true);
        for (int i = 1; i < 5000; ++i)
            ASSERT_FLOAT_EQ(static_cast<float>(b[i]), static_cast<float>(a[i - 1] * 0.5)) << i;
    }
    for (int rate : {44100, 96000, 192000}) {
        // Fractional delays: 0.882, 1.92 and 3.84 samples, i.e. 7.2 degrees at 1 kHz.
        Bench bench("delay-b:ns=20000");
        bench.Run(rate, rate, 1000.0, 0.3);
        const auto a = Newest(*bench.ring, rate / 10, false);
        const auto b = Newest(*bench.ring, rate / 10, true);
        const auto ta = ToneAt(a, 1000.0, rate), tb = ToneAt(b, 1000.0, rate);
        EXPECT_NEAR(PhaseDeg(tb, ta), -7.2, 0.005) << rate;
        EXPECT_NEAR(std::abs(tb) / std::abs(ta), 0.5, 0.5 * 1e-4) << rate;
    }
    {
        Bench bench("delay-b:ns=-20000");  // A late instead
        bench.Run(44100, 44100, 1000.0, 0.3);
        EXPECT_NEAR(PhaseDeg(ToneAt(Newest(*bench.ring, 4410, true), 1000.0, 44100),
                             ToneAt(Newest(*bench.ring, 4410, false), 1000.0, 44100)),
                    7.2, 0.005);
    }
}

TEST(SimDut, RcNetworksFollowTheirResponse) {
    for (const char* dut : {"rc-lowpass:R=1k,C=100n", "rc-highpass:R=1k,C=100n"}) {
        Bench bench(dut);
        bench.Run(48000, 48000, 1000.0, 0.5);
        const auto a = Newest(*bench.ring, 4800, false);
        const auto b = Newest(*bench.ring, 4800, true);  // B sees the left output directly
        const std::complex<double> measured = ToneAt(a, 1000.0, 48000.0) / ToneAt(b, 1000.0, 48000.0);
        DutSetup setup;
        std::string error;
        ASSERT_TRUE(ParseDut(dut, setup, error));
        const auto expected = DutProcessor::NetworkResponse(setup, 1000.0, 48000.0);
        EXPECT_NEAR(std::abs(measured - expected), 0.0, 1e-4) << dut;
        // And the analog network within 0.02 dB and a tenth of a degree.
        const double wrc = 2.0 * std::numbers::pi * 1000.0 * 1e3 * 100e-9;
        const std::complex<double> analog =
            std::string(dut).find("low") != std::string::npos
                ? 1.0 / std::complex<double>(1.0, wrc)
                : std::complex<double>(0.0, wrc) / std::complex<double>(1.0, wrc);
        EXPECT_NEAR(Db(std::abs(measured) / std::abs(analog)), 0.0, 0.02) << dut;
        EXPECT_NEAR(std::arg(measured / analog) * 180.0 / std::numbers::pi, 0.0, 0.1) << dut;
    }
}

TEST(SimDut, GainNoiseAndHarmonics) {
    {
        Bench bench("gain-b:db=-6");
        bench.Run(44100, 44100, 1000.0, 0.3);
        // B plays at half of A's amplitude, then loses 6 dB.
        const double ratio = std::abs(ToneAt(Newest(*bench.ring, 4410, true), 1000.0, 44100)) /
                             std::abs(ToneAt(Newest(*bench.ring, 4410, false), 1000.0, 44100));
        EXPECT_NEAR(Db(ratio), Db(0.5) - 6.0, 1e-4);
    }
    {
        Bench bench("noise:dbfs=-60");
        ASSERT_TRUE(bench.audio->StartCapture(44100, 1, {}));
        bench.audio->AdvanceTo(1.0);
        const auto a = Newest(*bench.ring, 32768, false);
        const auto b = Newest(*bench.ring, 32768, true);
        EXPECT_NEAR(test::Rms(a), 1e-3, 0.03e-3);
        EXPECT_NEAR(test::Rms(b), 1e-3, 0.03e-3);
        double ab = 0.0;
        for (size_t i = 0; i < a.size(); ++i) ab += a[i] * b[i];
        EXPECT_LT(std::fabs(ab / a.size()) / 1e-6, 0.05);  // independent channels
    }
    {
        Bench bench("harmonics:h2=-60,h3=-70");
        bench.Run(44100, 44100, 1000.0, 0.3);
        const auto a = Newest(*bench.ring, 44100 / 5, false);
        const double f1 = std::abs(ToneAt(a, 1000.0, 44100));
        // A sine of peak 0.5: the 2nd harmonic 6 dB and the 3rd 12 dB further down.
        EXPECT_NEAR(Db(std::abs(ToneAt(a, 2000.0, 44100)) / f1), -66.02, 0.05);
        EXPECT_NEAR(Db(std::abs(ToneAt(a, 3000.0, 44100)) / f1), -82.04, 0.1);
        // B is untouched.
        const auto b = Newest(*bench.ring, 44100 / 5, true);
        EXPECT_LT(std::abs(ToneAt(b, 2000.0, 44100)), 1e-7);
    }
}

TEST(SimCard, InputLevelScalesAndTheConverterClips) {
    Bench bench;
    bench.audio->SetInputLevel(0.5);
    bench.Run(44100, 44100, 1000.0, 0.2);
    EXPECT_NEAR(std::abs(ToneAt(Newest(*bench.ring, 4410, false), 1000.0, 44100)), 0.25, 1e-6);
    bench.audio->SetInputLevel(8.0);
    bench.audio->AdvanceTo(0.5);
    const auto a = Newest(*bench.ring, 4410, false);
    EXPECT_EQ(*std::max_element(a.begin(), a.end()), 1.0);
    EXPECT_EQ(*std::min_element(a.begin(), a.end()), -1.0);
}

TEST(SimCard, RunsAreRepeatableBitForBit) {
    auto run = [] {
        auto bench = std::make_unique<Bench>("rc-lowpass:R=1k,C=47n+delay-b:ns=3333+noise:dbfs=-70");
        bench->Run(48000, 44100, 997.0, 0.4);
        std::vector<float> all;
        for (int s = 0; s < CaptureRing::kSize; ++s) {
            all.push_back(bench->ring->SampleA(s));
            all.push_back(bench->ring->SampleB(s));
        }
        all.push_back(static_cast<float>(bench->ring->WriteIndex.load()));
        return all;
    };
    EXPECT_EQ(run(), run());
}

TEST(SimCard, StoppingPlaybackSilencesTheInputs) {
    Bench bench;
    bench.Run(44100, 44100, 1000.0, 0.2);
    ASSERT_TRUE(bench.audio->StopPlayback());
    bench.audio->AdvanceTo(0.4);
    EXPECT_EQ(test::Rms(Newest(*bench.ring, 4410, false)), 0.0);
}

TEST(SelectDriver, NamesThatDoNotExistAreRefusedClearly) {
    Bench bench;
    EXPECT_FALSE(bench.audio->SelectDriver("coreaudio"));
    EXPECT_NE(bench.audio->LastError().find("unknown audio driver \"coreaudio\""), std::string::npos);
    EXPECT_EQ(bench.audio->DriverName(), "sim");  // the previous driver stays
    EXPECT_TRUE(bench.audio->RepeatableInput());
    EXPECT_FALSE(bench.audio->SelectDriver("wav:"));
    EXPECT_NE(bench.audio->LastError().find("needs a file name"), std::string::npos);
    EXPECT_FALSE(bench.audio->SetDeviceUnderTest("rc-lowpass"));
    EXPECT_NE(bench.audio->LastError().find("needs parameters"), std::string::npos);
}

TEST(SimCardRealTime, ItsOwnThreadDeliversAtTheRealRate) {
    Bench bench("", TimeMode::RealTime);
    PublishSines(*bench.tables, 44100, 1000.0, 0.5, 1000.0, 0.25);
    ASSERT_TRUE(bench.audio->StartPlayback(44100, 1, DefaultPlaybackSettings()));
    ASSERT_TRUE(bench.audio->StartCapture(44100, 1, {}));
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<double> a(2048), b(2048);
    AcquireWindow(*bench.ring, 2048, a.data(), b.data());  // concurrently with the card's thread
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int written = bench.ring->WriteIndex.load();
    EXPECT_GT(written, 0.5 * elapsed * 44100 - 1024);
    EXPECT_LT(written, elapsed * 44100 + 1024);
    ASSERT_TRUE(bench.audio->StopCapture());
    ASSERT_TRUE(bench.audio->StopPlayback());
    const int after = bench.ring->WriteIndex.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(bench.ring->WriteIndex.load(), after);  // no callback after the stop
}

}  // namespace
}  // namespace miral::audio
