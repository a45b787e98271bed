// SPDX-License-Identifier: GPL-3.0-or-later
// A model sound card for the mixer tests: an ALSA external control plugin
// (control_external.h). Model "hda" has the controls of a common HDA codec
// with an analog loopback mixer: the outputs (Master, Headphone, Speaker,
// Front, PCM), the inputs mixed into them (Line, Mic, CD, Beep), the
// recording side (Capture, an "Input Source" selector, Mic Boost), volumes
// with dB scales as such codecs report them. Model "usb" is a USB headset
// whose PCM element also records (see UsbCard).
//
// An ALSA configuration selects it:
//   ctl_type.miral_model_card { lib "/path/to/this/module.so" }
//   ctl.!default { type miral_model_card instance "any name" model "hda" }
// Every instance name is a card of its own, created at its first open with
// the controls at their initial values; the values last for the life of the
// process (the module is linked so that it is never unloaded), so a mixer
// that opens and closes the card for every operation sees what it set.

#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Control {
    std::string name;
    int type;
    unsigned count;
    long min, max;
    int dbMin, dbStep;  // 0.01 dB; no dB scale when dbStep is 0
    std::vector<std::string> items;
    std::vector<long> values;
};

Control Volume(const char* name, unsigned count, long max, int dbMin, int dbStep, long value) {
    return {name, SND_CTL_ELEM_TYPE_INTEGER,      count, 0, max, dbMin, dbStep,
            {},   std::vector<long>(count, value)};
}
Control Switch(const char* name, unsigned count, bool on) {
    return {name, SND_CTL_ELEM_TYPE_BOOLEAN, count, 0, 1, 0, 0, {}, std::vector<long>(count, on ? 1 : 0)};
}

std::vector<Control> HdaCodec() {
    return {
        Volume("Master Playback Volume", 2, 87, -6525, 75, 70),
        Switch("Master Playback Switch", 2, true),
        Volume("Headphone Playback Volume", 2, 87, -6525, 75, 87),
        Switch("Headphone Playback Switch", 2, true),
        Volume("Speaker Playback Volume", 2, 87, -6525, 75, 87),
        Switch("Speaker Playback Switch", 2, true),
        Volume("Front Playback Volume", 2, 87, -6525, 75, 87),
        Switch("Front Playback Switch", 2, true),
        Volume("PCM Playback Volume", 2, 255, -5100, 20, 255),
        // The loopback mixer: inputs heard on the outputs.
        Volume("Line Playback Volume", 2, 31, -3450, 150, 23),
        Switch("Line Playback Switch", 2, true),
        Volume("Mic Playback Volume", 2, 31, -3450, 150, 23),
        Switch("Mic Playback Switch", 2, true),
        Volume("CD Playback Volume", 2, 31, -3450, 150, 23),
        Switch("CD Playback Switch", 2, true),
        Volume("Beep Playback Volume", 1, 31, -3450, 150, 10),
        Switch("Beep Playback Switch", 1, true),
        // Recording: -17.25 .. +30 dB in 0.75 dB steps.
        Volume("Capture Volume", 2, 63, -1725, 75, 23),
        Switch("Capture Switch", 2, true),
        {"Input Source", SND_CTL_ELEM_TYPE_ENUMERATED, 1, 0, 0, 0, 0, {"Mic", "Line", "CD"}, {1}},
        Volume("Mic Boost Volume", 2, 3, 0, 1000, 0),
    };
}

// A USB headset-like card: its "PCM" records as well as plays, the
// microphone is monitored on the output, and a synthesizer plays into it.
std::vector<Control> UsbCard() {
    return {
        Volume("Speaker Playback Volume", 2, 46, -4600, 100, 40),
        Switch("Speaker Playback Switch", 2, true),
        Volume("PCM Playback Volume", 2, 127, -12700, 100, 127),
        Switch("PCM Playback Switch", 2, true),
        Volume("PCM Capture Volume", 2, 127, -12700, 100, 127),
        Switch("PCM Capture Switch", 2, true),
        Volume("Mic Playback Volume", 1, 31, -3450, 150, 23),
        Switch("Mic Playback Switch", 1, true),
        Volume("Mic Capture Volume", 1, 16, 0, 150, 8),
        Switch("Mic Capture Switch", 1, true),
        Switch("Synth Playback Switch", 2, true),
    };
}

std::map<std::string, std::vector<Control>>& Cards() {
    static std::map<std::string, std::vector<Control>> cards;
    return cards;
}

struct Handle {
    snd_ctl_ext_t ext;
    std::vector<Control>* controls;
};

std::vector<Control>& Of(snd_ctl_ext_t* ext) {
    return *static_cast<Handle*>(ext->private_data)->controls;
}

void Close(snd_ctl_ext_t* ext) {
    delete static_cast<Handle*>(ext->private_data);
}

int Count(snd_ctl_ext_t* ext) {
    return static_cast<int>(Of(ext).size());
}

int List(snd_ctl_ext_t* ext, unsigned int offset, snd_ctl_elem_id_t* id) {
    if (offset >= Of(ext).size()) return -EINVAL;
    snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_id_set_name(id, Of(ext)[offset].name.c_str());
    return 0;
}

snd_ctl_ext_key_t Find(snd_ctl_ext_t* ext, const snd_ctl_elem_id_t* id) {
    const unsigned int numid = snd_ctl_elem_id_get_numid(id);
    if (numid > 0 && numid <= Of(ext).size()) return numid - 1;
    if (snd_ctl_elem_id_get_index(id) != 0) return SND_CTL_EXT_KEY_NOT_FOUND;
    const char* name = snd_ctl_elem_id_get_name(id);
    for (size_t i = 0; i < Of(ext).size(); ++i)
        if (Of(ext)[i].name == name) return i;
    return SND_CTL_EXT_KEY_NOT_FOUND;
}

int Attribute(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int* type, unsigned int* access,
              unsigned int* count) {
    const Control& c = Of(ext)[key];
    *type = c.type;
    *access = SND_CTL_EXT_ACCESS_READWRITE;
    if (c.dbStep != 0) *access |= SND_CTL_EXT_ACCESS_TLV_READ | SND_CTL_EXT_ACCESS_TLV_CALLBACK;
    *count = c.count;
    return 0;
}

int IntegerInfo(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* min, long* max, long* step) {
    const Control& c = Of(ext)[key];
    *min = c.min;
    *max = c.max;
    *step = 0;
    return 0;
}

int EnumInfo(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
    *items = static_cast<unsigned int>(Of(ext)[key].items.size());
    return 0;
}

int EnumName(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int item, char* name, size_t max) {
    const Control& c = Of(ext)[key];
    if (item >= c.items.size() || max == 0) return -EINVAL;
    std::strncpy(name, c.items[item].c_str(), max - 1);
    name[max - 1] = '\0';
    return 0;
}

int ReadInteger(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
    const Control& c = Of(ext)[key];
    for (unsigned i = 0; i < c.count; ++i) value[i] = c.values[i];
    return 0;
}

int WriteInteger(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
    Control& c = Of(ext)[key];
    int changed = 0;
    for (unsigned i = 0; i < c.count; ++i) {
        if (value[i] < c.min || value[i] > c.max) return -EINVAL;
        changed |= c.values[i] != value[i];
        c.values[i] = value[i];
    }
    return changed;
}

int ReadEnum(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
    const Control& c = Of(ext)[key];
    for (unsigned i = 0; i < c.count; ++i) items[i] = static_cast<unsigned int>(c.values[i]);
    return 0;
}

int WriteEnum(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
    Control& c = Of(ext)[key];
    int changed = 0;
    for (unsigned i = 0; i < c.count; ++i) {
        if (items[i] >= c.items.size()) return -EINVAL;
        changed |= c.values[i] != static_cast<long>(items[i]);
        c.values[i] = items[i];
    }
    return changed;
}

// The dB scale of a volume: its minimum and its step, in 0.01 dB.
int Tlv(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int op, unsigned int /*numid*/, unsigned int* tlv,
        unsigned int size) {
    const Control& c = Of(ext)[key];
    if (op != 0 || c.dbStep == 0) return -ENXIO;
    if (size < 4 * sizeof(unsigned int)) return -ENOMEM;
    tlv[0] = SND_CTL_TLVT_DB_SCALE;
    tlv[1] = 2 * sizeof(unsigned int);
    tlv[2] = static_cast<unsigned int>(c.dbMin);
    tlv[3] = static_cast<unsigned int>(c.dbStep);
    return 0;
}

const snd_ctl_ext_callback_t kCallbacks = [] {
    snd_ctl_ext_callback_t cb{};
    cb.close = Close;
    cb.elem_count = Count;
    cb.elem_list = List;
    cb.find_elem = Find;
    cb.get_attribute = Attribute;
    cb.get_integer_info = IntegerInfo;
    cb.get_enumerated_info = EnumInfo;
    cb.get_enumerated_name = EnumName;
    cb.read_integer = ReadInteger;
    cb.write_integer = WriteInteger;
    cb.read_enumerated = ReadEnum;
    cb.write_enumerated = WriteEnum;
    return cb;
}();

}  // namespace

extern "C" {

SND_CTL_PLUGIN_DEFINE_FUNC(miral_model_card) {
    (void)root;
    std::string instance = "default";
    std::string model = "hda";
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t* n = snd_config_iterator_entry(i);
        const char* id = nullptr;
        if (snd_config_get_id(n, &id) < 0) continue;
        if (std::strcmp(id, "comment") == 0 || std::strcmp(id, "type") == 0) continue;
        if (std::strcmp(id, "instance") == 0 || std::strcmp(id, "model") == 0) {
            const char* text = nullptr;
            if (snd_config_get_string(n, &text) < 0) return -EINVAL;
            (std::strcmp(id, "model") == 0 ? model : instance) = text;
            continue;
        }
        return -EINVAL;
    }
    auto& cards = Cards();
    if (model != "hda" && model != "usb") return -EINVAL;
    if (cards.find(instance) == cards.end()) cards[instance] = model == "usb" ? UsbCard() : HdaCodec();
    auto* h = new Handle{};
    h->controls = &cards[instance];
    snd_ctl_ext_t& ext = h->ext;
    ext.version = SND_CTL_EXT_VERSION;
    ext.card_idx = 0;
    std::strcpy(ext.id, "Model");
    std::strcpy(ext.driver, "Model HDA");
    std::strcpy(ext.name, "Model HDA card");
    std::strcpy(ext.longname, "Model HDA card with a loopback mixer");
    std::strcpy(ext.mixername, "Model codec");
    ext.poll_fd = -1;
    ext.callback = &kCallbacks;
    ext.private_data = h;
    ext.tlv.c = Tlv;
    const int err = snd_ctl_ext_create(&ext, name, mode);
    if (err < 0) {
        delete h;
        return err;
    }
    *handlep = ext.handle;
    return 0;
}

// The versioned symbol that ALSA looks for (SND_CTL_PLUGIN_SYMBOL, without
// its stray semicolon).
SND_DLSYM_BUILD_VERSION(SND_CTL_PLUGIN_ENTRY(miral_model_card), SND_CONTROL_DLSYM_VERSION)

}  // extern "C"
