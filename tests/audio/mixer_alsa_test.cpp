// The ALSA mixer on a machine whose ALSA has no card at all. (The real
// mixer of a sound server is tested in mixer_loop.cpp.)

#include "audio/mixer_alsa.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <unistd.h>

namespace miral::audio {
namespace {

namespace fs = std::filesystem;

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

TEST(AlsaMixer, WithoutAnyCardEveryOperationFailsQuietly) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev/snd", ec))
        if (entry.path().filename().string().rfind("controlC", 0) == 0)
            GTEST_SKIP() << "this machine has a sound card (" << entry.path() << ")";
    const fs::path dir = fs::temp_directory_path() / ("miral_mixer_none_" + std::to_string(getpid()));
    fs::create_directories(dir);
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
