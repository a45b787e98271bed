// SPDX-License-Identifier: GPL-3.0-or-later
// The ALSA mixer on a real mixer: the PulseAudio server that scripts/test
// starts (MIRAL_PULSE=1, PULSE_SERVER), reached through ALSA's pulse plugin
// as the "default" card; what it sets is heard in a real loop through the
// streams (without the server these tests are skipped). And the ALSA mixer
// on a machine without any card.
//
// Each test gets a null sink of its own, points ALSA's default control at it
// and plays and records through it, so that other tests playing on the
// server at the same time neither hear nor disturb it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "audio/mixer_alsa.h"
#include "audio/streams.h"
#include "audio_test_support.h"

namespace miral::audio {
namespace {

namespace fs = std::filesystem;

bool PulseThere() {
    const char* flag = std::getenv("MIRAL_PULSE");
    return flag != nullptr && std::string(flag) == "1" && std::getenv("PULSE_SERVER") != nullptr;
}

// Output of a shell command ("" on failure).
std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        if (pclose(p) != 0) out.clear();
    }
    return out;
}

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

fs::path TempDir(const std::string& tag) {
    fs::path dir = fs::temp_directory_path() / ("miral_mixer_" + tag + "_" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
}

class PulseMixer : public ::testing::Test {
  protected:
    static std::string LoadSink() {
        const std::string out = Shell("pactl load-module module-null-sink sink_name=" + sink_ +
                                      " sink_properties=device.description=" + sink_ + " norewinds=1");
        return out.substr(0, out.find_first_not_of("0123456789"));
    }

    void SetUp() override {
        if (!PulseThere())
            GTEST_SKIP() << "no private PulseAudio server (scripts/test starts one and sets MIRAL_PULSE=1)";
        sink_ = "miral_mixer_" + std::to_string(getpid());
        module_ = LoadSink();
        ASSERT_FALSE(module_.empty()) << "pactl could not load a null sink";
        dir_ = TempDir("pulse");
        env_.push_back(std::make_unique<ScopedEnv>("ALSA_CONFIG_PATH", Config("asound.conf", "")));
        const auto cards = mixer_.ListMixers();
        ASSERT_FALSE(cards.empty()) << mixer_.LastError();
        ASSERT_EQ(cards[0], "default");
        mixer_.ListLines(0);
    }

    void TearDown() override {
        env_.clear();
        if (!module_.empty()) Shell("pactl unload-module " + module_);
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    // Writes an ALSA configuration whose default control is the sink's mixer
    // on the server (the environment's when ""); returns its path. Only this
    // file: the system's configuration would let its own pulse hook override
    // the default control.
    std::string Config(const std::string& file, const std::string& server) const {
        std::ofstream out(dir_ / file);
        out << "ctl.!default { type pulse sink \"" << sink_ << "\" source \"" << sink_ << ".monitor\"";
        if (!server.empty()) out << " server \"" << server << "\"";
        out << " }\n";
        return (dir_ / file).string();
    }

    // The sink's volume as the server reports it, in percent.
    static int ServerPercent() {
        const std::string out = Shell("pactl get-sink-volume " + sink_);
        const auto slash = out.find('/');
        const auto pct = out.find('%');
        if (slash == std::string::npos || pct == std::string::npos) return -1;
        return std::atoi(out.substr(slash + 1, pct - slash - 1).c_str());
    }

    static inline std::string sink_;
    std::string module_;
    fs::path dir_;
    std::vector<std::unique_ptr<ScopedEnv>> env_;
    AlsaMixer mixer_;
};

// A 1 kHz sine of amplitude 0.5 played into the sink and recorded from its
// monitor through the streams.
struct Loop {
    static constexpr int kRate = 44100;
    std::unique_ptr<CaptureRing> ring = std::make_unique<CaptureRing>();
    std::unique_ptr<PlaybackTables> tables = std::make_unique<PlaybackTables>();
    AudioStreams audio{*ring, *tables};

    // The streams find the sink and its monitor ("Monitor of ...") by the
    // sink's description.
    void Start(const std::string& sink) {
        ASSERT_TRUE(audio.SelectDriver("pulse")) << audio.LastError();
        test::PublishSines(*tables, kRate, 1000.0, 0.5, 1000.0, 0.5);
        StreamSettings s;
        s.bufferFrames = 1024;
        s.bufferCount = 4;
        s.priority = 0;
        s.deviceName = sink;
        ASSERT_TRUE(audio.StartPlayback(kRate, 1, s)) << audio.LastError();
        ASSERT_TRUE(audio.StartCapture(kRate, 1, s)) << audio.LastError();
    }
    // The tone's amplitude over the newest quarter second, once 0.75 s more
    // has been recorded.
    double Level() {
        const int start = ring->WriteIndex.load();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((ring->WriteIndex.load() - start + CaptureRing::kSize) % CaptureRing::kSize < kRate * 3 / 4 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return std::abs(test::ToneAt(test::Newest(*ring, kRate / 4, false), 1000.0, kRate));
    }
};

TEST_F(PulseMixer, DefaultCardIsTheServersMixer) {
    const MixerLines lines = mixer_.ListLines(0);
    ASSERT_TRUE(lines.playback.present);
    ASSERT_TRUE(lines.recording.present);
    EXPECT_EQ(lines.playback.sources, std::vector<std::string>{"Master"});  // the master is the only line
    EXPECT_EQ(lines.recording.sources, std::vector<std::string>{"Capture"});

    ASSERT_TRUE(mixer_.SetVolume(0, -1, 32768)) << mixer_.LastError();
    EXPECT_EQ(ServerPercent(), 50);
    EXPECT_EQ(mixer_.GetVolume(0, -1), 32768);
    EXPECT_EQ(mixer_.GetVolume(0, 0), 32768);  // the same element
    ASSERT_TRUE(mixer_.SetVolume(0, -1, Mixer::kFullScale));
    EXPECT_EQ(ServerPercent(), 100);
    EXPECT_EQ(mixer_.GetVolume(0, -1), Mixer::kFullScale);

    EXPECT_FALSE(mixer_.GetMute(0, -1));
    EXPECT_TRUE(mixer_.IsInputSelected("Capt"));
    EXPECT_TRUE(mixer_.SelectInput("Capture"));
    EXPECT_EQ(mixer_.LastError(), "");
    EXPECT_EQ(mixer_.GetVolume(0, 1), -1);  // no second playback line
    EXPECT_FALSE(mixer_.LastError().empty());
}

TEST_F(PulseMixer, MasterAtHalfLowersTheLevelAsTheServersVolumeCurveSays) {
    ASSERT_TRUE(mixer_.SetVolume(0, -1, Mixer::kFullScale)) << mixer_.LastError();
    Loop loop;
    loop.Start(sink_);
    const double full = loop.Level();
    EXPECT_NEAR(test::Db(full / 0.5), 0.0, 0.5);
    ASSERT_TRUE(mixer_.SetVolume(0, -1, 32768)) << mixer_.LastError();
    const double half = loop.Level();
    // PulseAudio's software volume is cubic: half the slider is 0.5^3.
    EXPECT_NEAR(test::Db(half / full), 60.0 * std::log10(32768.0 / 65535.0), 0.5);
    ASSERT_TRUE(mixer_.SetMute(0, -1, true));
    EXPECT_LT(loop.Level(), 1e-5);
    ASSERT_TRUE(mixer_.SetMute(0, -1, false));
    ASSERT_TRUE(mixer_.SetVolume(0, -1, Mixer::kFullScale));
}

TEST_F(PulseMixer, MutedCaptureRecordsSilence) {
    Loop loop;
    loop.Start(sink_);
    EXPECT_NEAR(loop.Level(), 0.5, 0.05);
    ASSERT_TRUE(mixer_.SetMute(1, 0, true)) << mixer_.LastError();
    EXPECT_TRUE(mixer_.GetMute(1, 0));
    EXPECT_FALSE(mixer_.IsInputSelected("Capture"));
    EXPECT_LT(loop.Level(), 1e-5);
    ASSERT_TRUE(mixer_.SelectInput("Capture")) << mixer_.LastError();
    EXPECT_FALSE(mixer_.GetMute(1, 0));
    EXPECT_NEAR(loop.Level(), 0.5, 0.05);
}

// The server's controls report no dB scale; the gain the mixer gives for a
// recording level is what the server really does to the recorded signal.
TEST_F(PulseMixer, RecordingLevelGainIsWhatTheServerApplies) {
    Loop loop;
    loop.Start(sink_);
    ASSERT_TRUE(mixer_.SetVolume(1, 0, Mixer::kFullScale)) << mixer_.LastError();
    // A dropout on a busy machine only lowers a reading: the higher of two,
    // and a few attempts for each level.
    const double full = std::max(loop.Level(), loop.Level());
    ASSERT_GT(full, 0.1);
    const auto fullDb = mixer_.LevelDb(1, 0, Mixer::kFullScale);
    ASSERT_TRUE(fullDb.has_value()) << mixer_.LastError();
    EXPECT_NEAR(*fullDb, 0.0, 1e-3);
    for (int level : {45875, 32768, 13107}) {  // 70 %, 50 %, 20 %
        ASSERT_TRUE(mixer_.SetVolume(1, 0, level)) << mixer_.LastError();
        const auto db = mixer_.LevelDb(1, 0, level);
        ASSERT_TRUE(db.has_value()) << mixer_.LastError();
        double measured = 0;
        for (int attempt = 0; attempt < 3; ++attempt) {
            measured = test::Db(loop.Level() / full);
            if (std::fabs(*db - *fullDb - measured) < 0.05) break;
        }
        EXPECT_NEAR(*db - *fullDb, measured, 0.05) << "level " << level;
    }
    EXPECT_EQ(mixer_.LevelDb(1, 0, 0), -std::numeric_limits<double>::infinity());
    ASSERT_TRUE(mixer_.SetVolume(1, 0, Mixer::kFullScale));
}

TEST_F(PulseMixer, ACardWhoseServerGoesAwayFailsQuietlyUntilItIsBack) {
    ASSERT_TRUE(mixer_.SetVolume(0, -1, 40000)) << mixer_.LastError();
    {
        // The same card, now served by a server that does not answer.
        ScopedEnv gone("ALSA_CONFIG_PATH", Config("gone.conf", "unix:" + (dir_ / "no-server").string()));
        EXPECT_EQ(mixer_.GetVolume(0, -1), -1);
        EXPECT_FALSE(mixer_.LastError().empty());
        EXPECT_FALSE(mixer_.SetVolume(0, -1, 100));
        EXPECT_TRUE(mixer_.GetMute(0, -1));
        EXPECT_FALSE(mixer_.IsInputSelected("Capture"));
        EXPECT_FALSE(mixer_.ListLines(0).playback.present);
    }
    EXPECT_EQ(mixer_.GetVolume(0, -1), 40000) << mixer_.LastError();
    EXPECT_EQ(mixer_.LastError(), "");
}

TEST(AlsaMixer, WithoutAnyCardEveryOperationFailsQuietly) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev/snd", ec))
        if (entry.path().filename().string().rfind("controlC", 0) == 0)
            GTEST_SKIP() << "this machine has a sound card (" << entry.path() << ")";
    const fs::path dir = TempDir("none");
    std::ofstream(dir / "asound.conf") << "ctl.!default { type hw card 31 }\n";
    ScopedEnv config("ALSA_CONFIG_PATH", (dir / "asound.conf").string());

    AlsaMixer mixer;
    EXPECT_TRUE(mixer.ListMixers().empty());
    EXPECT_FALSE(mixer.LastError().empty());
    const MixerLines lines = mixer.ListLines(0);
    EXPECT_FALSE(lines.playback.present);
    EXPECT_FALSE(lines.recording.present);
    EXPECT_EQ(mixer.GetVolume(0, -1), -1);
    EXPECT_FALSE(mixer.SetVolume(0, -1, 1000));
    EXPECT_TRUE(mixer.GetMute(0, 0));
    EXPECT_FALSE(mixer.SetMute(0, -1, false));
    EXPECT_FALSE(mixer.SelectInput("Mic"));
    EXPECT_FALSE(mixer.IsInputSelected("Mic"));
    EXPECT_FALSE(mixer.LastError().empty());
    fs::remove_all(dir);
}

}  // namespace
}  // namespace miral::audio
