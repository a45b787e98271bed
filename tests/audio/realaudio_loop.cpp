// SPDX-License-Identifier: GPL-3.0-or-later
// Real streams through RtAudio and a real sound server: what StartPlayback
// plays into a PulseAudio null sink comes back through StartCapture from its
// monitor. scripts/test starts a private server and sets MIRAL_PULSE=1 and
// PULSE_SERVER; without them these tests are skipped.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "audio/rtaudio_driver.h"
#include "audio/streams.h"
#include "audio_test_support.h"
#include "sound_servers.h"

namespace miral::audio {
namespace {

bool PulseThere() {
    const char* flag = std::getenv("MIRAL_PULSE");
    return flag != nullptr && std::string(flag) == "1" && std::getenv("PULSE_SERVER") != nullptr;
}

#define REQUIRE_PULSE()                                                                                \
    do {                                                                                               \
        if (!PulseThere())                                                                             \
            GTEST_SKIP()                                                                               \
                << "no private PulseAudio server (scripts/test starts one and sets MIRAL_PULSE=1 and " \
                   "PULSE_SERVER)";                                                                    \
    } while (0)

struct Measured {
    double freqA = 0, levelA = 0, levelB = 0;
};

// The strongest frequency near 1 kHz (1 Hz steps) and the levels there.
Measured Measure(const CaptureRing& ring, int rate) {
    const int n = rate / 2;  // half a second
    const auto a = test::Newest(ring, n, false);
    const auto b = test::Newest(ring, n, true);
    Measured m;
    double best = -1.0;
    for (double f = 950.0; f <= 1050.0; f += 1.0) {
        const double level = std::abs(test::ToneAt(a, f, rate));
        if (level > best) {
            best = level;
            m.freqA = f;
        }
    }
    m.levelA = std::abs(test::ToneAt(a, 1000.0, rate));
    m.levelB = std::abs(test::ToneAt(b, 1000.0, rate));
    return m;
}

// Other programs may have left the test server's sink or its monitor quiet
// or muted: every loop starts from full volume.
void ResetServerVolumes() {
    for (const char* cmd :
         {"pactl set-sink-mute @DEFAULT_SINK@ 0", "pactl set-sink-volume @DEFAULT_SINK@ 100%",
          "pactl set-source-mute @DEFAULT_SOURCE@ 0", "pactl set-source-volume @DEFAULT_SOURCE@ 100%"}) {
        const std::string quiet = std::string(cmd) + " >/dev/null 2>&1";
        if (std::system(quiet.c_str()) != 0) std::cerr << "warning: " << cmd << " failed\n";
    }
}

void Loop(int rate, int bits, const char* driver = "pulse") {
    ResetServerVolumes();  // ALSA reaches the same server through its plug-in
    auto ring = std::make_unique<CaptureRing>();
    auto tables = std::make_unique<PlaybackTables>();
    AudioStreams audio(*ring, *tables);
    ASSERT_TRUE(audio.SelectDriver(driver)) << audio.LastError();
    // ALSA plays the 24-bit setting as floats (see rtaudio_driver.cpp).
    const SampleFormat expected =
        bits == 24 && std::string(driver) != "alsa" ? SampleFormat::Int24 : SampleFormat::Float32;
    test::PublishSines(*tables, rate, 1000.0, 0.5, 1000.0, 0.25);

    StreamSettings capture;
    capture.bufferFrames = 1024;
    capture.bufferCount = 4;
    capture.bits = bits;
    capture.maxRate24 = 192000;
    capture.priority = 0;
    StreamSettings playback = capture;

    Measured m;
    for (int attempt = 0; attempt < 2; ++attempt) {  // one retry on a dropout
        ASSERT_TRUE(audio.StartPlayback(rate, 1, playback)) << audio.LastError();
        ASSERT_TRUE(audio.StartCapture(rate, 1, capture)) << audio.LastError();
        EXPECT_EQ(audio.CaptureFormat(), expected);
        EXPECT_EQ(audio.PlaybackFormat(), expected);
        // Wait until well over half a second has been recorded.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (ring->WriteIndex.load() < rate && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        m = Measure(*ring, rate);
        const bool good = std::abs(m.freqA - 1000.0) <= 1.0 && std::abs(test::Db(m.levelA / 0.5)) < 0.5 &&
                          std::abs(test::Db(m.levelB / 0.25)) < 0.5;
        if (good) break;
        ASSERT_TRUE(audio.StopCapture());
        ASSERT_TRUE(audio.StopPlayback());
    }
    EXPECT_NEAR(m.freqA, 1000.0, 1.0) << rate << " Hz, " << bits << " bits";
    EXPECT_NEAR(test::Db(m.levelA / 0.5), 0.0, 0.5) << rate << " Hz, " << bits << " bits";
    EXPECT_NEAR(test::Db(m.levelB / 0.25), 0.0, 0.5) << rate << " Hz, " << bits << " bits";
    EXPECT_EQ(audio.StatusText(), "");
}

TEST(PulseLoop, Float44100) {
    REQUIRE_PULSE();
    Loop(44100, 16);
}

TEST(PulseLoop, AServerSlowToAnswerIsWaitedFor) {
    // A loaded desktop's server may take a while to accept a new client: the
    // first open of a stream waits for it (here it answers nothing for 0.8 s)
    // instead of reporting that there is no server.
    REQUIRE_PULSE();
    miral::test::PulseRevival revival;
    auto ring = std::make_unique<CaptureRing>();
    auto tables = std::make_unique<PlaybackTables>();
    AudioStreams audio(*ring, *tables);
    ASSERT_TRUE(audio.SelectDriver("pulse")) << audio.LastError();
    ASSERT_TRUE(miral::test::PulseScript("miral_pulse_freeze"));
    std::thread thaw([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        miral::test::PulseScript("miral_pulse_thaw");
    });
    StreamSettings s;
    s.bufferFrames = 1024;
    s.bufferCount = 4;
    s.priority = 0;
    const bool opened = audio.StartCapture(44100, 1, s);
    thaw.join();
    EXPECT_TRUE(opened) << audio.LastError();
}

TEST(PulseLoop, Float96000) {
    REQUIRE_PULSE();
    Loop(96000, 16);
}

TEST(PulseLoop, Int24At44100) {
    REQUIRE_PULSE();
    Loop(44100, 24);
}

TEST(PulseLoop, Int24At96000) {
    REQUIRE_PULSE();
    Loop(96000, 24);
}

// ALSA's default device reaches the same server through its PulseAudio
// plug-in, where that plug-in is installed.
TEST(AlsaLoop, TwentyFourBitSettingPlaysAsFloat) {
    REQUIRE_PULSE();
    if (RtAudioDriver::DeviceNames(RtApiKind::Alsa, StreamDirection::Capture).empty())
        GTEST_SKIP() << "no ALSA capture device (the PulseAudio plug-in for ALSA is not installed)";
    Loop(44100, 24, "alsa");
}

TEST(PulseDevices, ChosenByNameAndAnUnknownNameFailsClearly) {
    REQUIRE_PULSE();
    EXPECT_TRUE(RtAudioDriver::PulseServerAnswers());
    const auto inputs = RtAudioDriver::DeviceNames(RtApiKind::Pulse, StreamDirection::Capture);
    ASSERT_FALSE(inputs.empty());
    auto ring = std::make_unique<CaptureRing>();
    auto tables = std::make_unique<PlaybackTables>();
    AudioStreams audio(*ring, *tables);
    ASSERT_TRUE(audio.SelectDriver(""));  // a server answers: PulseAudio
    EXPECT_EQ(audio.DriverName(), "pulse");
    StreamSettings s;
    s.bufferFrames = 1024;
    s.bufferCount = 4;
    s.priority = 0;
    s.deviceName = "monitor of miral";  // part of the name, any case
    ASSERT_TRUE(audio.StartCapture(44100, 1, s)) << audio.LastError();
    EXPECT_TRUE(audio.CaptureRunning());
    s.deviceName = "no such card";
    EXPECT_FALSE(audio.StartCapture(44100, 1, s));
    EXPECT_NE(audio.LastError().find("no stereo capture device matches \"no such card\""), std::string::npos)
        << audio.LastError();
    EXPECT_FALSE(audio.CaptureRunning());
    // The mixer's card list maps device numbers 2, 3, ... by name.
    audio.SetCardNames({"Nothing like it", "MiralNull"});
    s.deviceName.clear();
    ASSERT_TRUE(audio.StartPlayback(44100, 3, s)) << audio.LastError();
    EXPECT_TRUE(audio.PlaybackRunning());
}

}  // namespace
}  // namespace miral::audio
