// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The model HDA card (alsa_model_card.cpp) as ALSA's "default" control for the
// life of the object, and its controls read straight through ALSA's control
// interface (not through the simple mixer that the instrument's mixer uses).
//
//   test::ModelCard card;                      // a fresh HDA card ("usb": a USB headset)
//   audio::AlsaMixer mixer;                    // its first card is "default"
//   ...
//   card.Value("Line Playback Switch");        // 0 or 1

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace miral::audio::test {

class ModelCard {
  public:
    explicit ModelCard(const std::string& model = "hda") {
        static std::atomic<int> made{0};
        const std::string instance = "card" + std::to_string(getpid()) + "_" + std::to_string(made++);
        dir_ = std::filesystem::temp_directory_path() / ("miral_model_" + instance);
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "asound.conf")
            << "ctl_type.miral_model_card { lib \"" MIRAL_MODEL_CARD_MODULE "\" }\n"
            << "ctl.!default { type miral_model_card instance \"" << instance << "\" model \"" << model
            << "\" }\n";
        if (const char* old = std::getenv("ALSA_CONFIG_PATH")) old_ = old;
        setenv("ALSA_CONFIG_PATH", (dir_ / "asound.conf").c_str(), 1);
    }
    ~ModelCard() {
        if (old_) {
            setenv("ALSA_CONFIG_PATH", old_->c_str(), 1);
        } else {
            unsetenv("ALSA_CONFIG_PATH");
        }
        std::filesystem::remove_all(dir_);
    }
    ModelCard(const ModelCard&) = delete;
    ModelCard& operator=(const ModelCard&) = delete;

    // Channel `channel` of a control ("Line Playback Switch", "Input
    // Source"); -1 when it cannot be read.
    long Value(const std::string& control, unsigned channel = 0) const {
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open(&ctl, "default", 0) < 0) return -1;
        snd_ctl_elem_info_t* info = nullptr;
        snd_ctl_elem_value_t* value = nullptr;
        snd_ctl_elem_info_malloc(&info);
        snd_ctl_elem_value_malloc(&value);
        snd_ctl_elem_info_set_interface(info, SND_CTL_ELEM_IFACE_MIXER);
        snd_ctl_elem_info_set_name(info, control.c_str());
        long out = -1;
        if (snd_ctl_elem_info(ctl, info) >= 0) {
            snd_ctl_elem_value_set_interface(value, SND_CTL_ELEM_IFACE_MIXER);
            snd_ctl_elem_value_set_name(value, control.c_str());
            if (snd_ctl_elem_read(ctl, value) >= 0) {
                switch (snd_ctl_elem_info_get_type(info)) {
                    case SND_CTL_ELEM_TYPE_BOOLEAN:
                        out = snd_ctl_elem_value_get_boolean(value, channel);
                        break;
                    case SND_CTL_ELEM_TYPE_INTEGER:
                        out = snd_ctl_elem_value_get_integer(value, channel);
                        break;
                    case SND_CTL_ELEM_TYPE_ENUMERATED:
                        out = snd_ctl_elem_value_get_enumerated(value, channel);
                        break;
                    default:
                        break;
                }
            }
        }
        snd_ctl_elem_value_free(value);
        snd_ctl_elem_info_free(info);
        snd_ctl_close(ctl);
        return out;
    }

  private:
    std::filesystem::path dir_;
    std::optional<std::string> old_;
};

}  // namespace miral::audio::test
