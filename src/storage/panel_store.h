// SPDX-License-Identifier: GPL-3.0-or-later
// The stored panel: the per-user registry of keys with named values, and the
// binary file prefs.dat with the colour schemes and the probe table.
//
// ---- The registry file --------------------------------------------------------
// One text file (kRegistryFileName in the configuration folder) holds every
// key. Lines end with "\n"; the first line is exactly "miral-registry 1"; then
// for each key a line "key NAME" followed by its values, one per line:
//     int NAME VALUE        a signed 32-bit decimal integer
//     text NAME VALUE       a text: the rest of the line after one space
// and last a line "end KEYS VALUES" with the number of keys and of values in
// the file, so that a truncated file is recognised. Names and texts are
// written byte for byte except that "%", control characters (below 0x20 and
// 0x7F) and, in names, the space are written as "%" and two upper-case hex
// digits. Example:
//     miral-registry 1
//     key Software\Zorvane\V1_005\States
//     int check_all 334
//     text modul ADD
//     end 1 2
// A file that breaks any of these rules is damaged: it is moved aside to
// FILE.bad and the registry reads as empty. So is a file that cannot be read
// (an I/O error, no permission). Something that is not a plain file (a
// folder, a FIFO) in its place is left alone and never written over.
//
// ---- prefs.dat ------------------------------------------------------------------
// Exactly 1440 bytes, little-endian: 11 colour schemes x 20 int32 slots from
// offset 0 (scheme k slot t at 80k + 4t; slot 0 of scheme 0 is the selected
// scheme; slots 1..18 are colours 0x00BBGGRR), 144 reserved zero bytes from
// 880, then from 1024 float64 arrays: 10 channel delays (ns), 10 shunts
// (ohms), 10 probe resistances (milliohms), 10 probe capacitances (pF), the
// input impedance (ohms) at 1344, the common gain (dB) at 1352 and 10
// differential gains (dB) from 1360.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace miral::storage {

inline constexpr const char* kRegistryFileName = "registry.txt";
inline constexpr const char* kPrefsDatFileName = "prefs.dat";

// ---- Registry -------------------------------------------------------------------

struct RegistryValue {
    bool isText = false;
    std::int32_t number = 0;
    std::string text;
};

// One key: named values in the order they were first written.
class RegistryKey {
  public:
    void setInt(std::string_view name, std::int32_t v);
    void setText(std::string_view name, std::string_view v);
    const RegistryValue* find(std::string_view name) const;
    // Nothing when the value is missing or of the other type.
    std::optional<std::int32_t> readInt(std::string_view name) const;
    std::optional<std::string> readText(std::string_view name) const;
    std::size_t size() const { return values_.size(); }
    const std::vector<std::pair<std::string, RegistryValue>>& values() const { return values_; }

  private:
    RegistryValue& slot(std::string_view name);
    std::vector<std::pair<std::string, RegistryValue>> values_;
    std::map<std::string, std::size_t, std::less<>> index_;
};

enum class LoadStatus {
    Loaded,      // the file was read
    Missing,     // there is no file yet: an empty store
    Unreadable,  // it exists but cannot be read: an empty store; a plain file is moved aside,
                 // anything else (a folder, a FIFO) is left alone
    Damaged,     // it is not what we write: an empty store, the file moved aside
};

class Registry {
  public:
    explicit Registry(std::filesystem::path file) : file_(std::move(file)) {}

    // Reads the file. Anything but Loaded and Missing leaves a one-line
    // message in message() (naming the file, and where a damaged one was put).
    LoadStatus load();
    // Whether the file may be written: not when the last load left a file it
    // could not read in its place (it could not be moved aside). False with
    // the reason in *error.
    bool writable(std::string* error) const;
    // Writes the whole registry (atomically). False with the reason in *error.
    bool save(std::string* error) const;

    // The key of that name; created when `create` (else null when missing).
    RegistryKey* openKey(std::string_view name, bool create);
    const RegistryKey* findKey(std::string_view name) const;

    const std::filesystem::path& file() const { return file_; }
    const std::string& message() const { return message_; }

    // The file's text and its reading, for tests and tools.
    std::string serialize() const;
    // Parses a registry text; false with the reason when it is damaged.
    bool parse(std::string_view text, std::string* why);

  private:
    std::filesystem::path file_;
    std::vector<std::pair<std::string, std::unique_ptr<RegistryKey>>> keys_;
    std::string message_;
    std::string blocked_;  // why the file may not be written ("" when it may)
};

// ---- prefs.dat --------------------------------------------------------------------

struct PrefsDat {
    static constexpr std::size_t kSize = 1440;
    static constexpr int kSchemes = 11;
    static constexpr int kSlots = 20;
    static constexpr int kProbes = 10;

    // colors[0][0] is the selected scheme.
    std::array<std::array<std::int32_t, kSlots>, kSchemes> colors{};
    std::array<double, kProbes> delayNs{};
    std::array<double, kProbes> shuntOhm{};
    std::array<double, kProbes> probeMilliOhm{};
    std::array<double, kProbes> probePf{};
    double inputImpedance = 0;
    double commonGain = 0;
    std::array<double, kProbes> diffGainDb{};

    int selectedScheme() const { return colors[0][0]; }
};

// The values of the probe table that make sense, and the value an entry
// outside them takes (the one a first run starts with). The calibration
// boxes of the settings page refuse typed values outside them too.
struct ProbeRange {
    std::string_view name;  // for messages
    std::string_view unit;
    double min;
    double max;
    double fallback;
    bool contains(double v) const { return v >= min && v <= max; }  // false for NaN
};
// Delay of channel B against A: a millisecond is 44 samples at 44.1 kHz,
// far more than the skew between the two channels of any card.
inline constexpr ProbeRange kProbeDelayRange{"channel delay", "ns", -1e6, 1e6, 0};
// Shunt: from the milliohm of a current shunt to 10 megohms; zero or less
// measures nothing.
inline constexpr ProbeRange kProbeShuntRange{"shunt", "Ohm", 1e-3, 1e7, 10};
// Corrections subtracted from a reading: up to 1 kOhm and 1 uF either way,
// beyond any lead or cable.
inline constexpr ProbeRange kProbeResistanceRange{"probe resistance", "mOhm", -1e6, 1e6, 0};
inline constexpr ProbeRange kProbeCapacitanceRange{"probe capacitance", "pF", -1e6, 1e6, 0};
// Input impedance of the card: from 1 Ohm to a gigaohm.
inline constexpr ProbeRange kInputImpedanceRange{"input impedance", "Ohm", 1, 1e9, 10000};
// Gain corrections: no card's two channels, nor its input stage, differ by
// more than 40 dB (a probe's division belongs to the "x10" buttons); the
// time view at -120 dB would take a minute a frame.
inline constexpr ProbeRange kCommonGainRange{"common gain", "dB", -40, 40, 0};
inline constexpr ProbeRange kDiffGainRange{"diff. gain", "dB", -40, 40, 0};

std::string encodePrefsDat(const PrefsDat& p);
// False with the reason when the bytes are not a prefs.dat we would write
// (wrong size, selected scheme outside 0..10, a colour with bits above
// 0x00FFFFFF, a probe value that is no finite number). A finite probe value
// outside its range above takes that range's fallback; `outside` (when
// given) then lists them, e.g. "probe 2 diff. gain -1e+308 dB is outside -40..40".
bool decodePrefsDat(std::string_view bytes, PrefsDat& out, std::string* why, std::string* outside = nullptr);

// Loads prefs.dat: Loaded fills out; otherwise out is untouched and, except
// for Missing, *message says what was wrong (a damaged or unreadable file is
// moved aside). A file Loaded with values outside their ranges also leaves a
// message. *blocked (when given) says why nothing may be written over the
// file ("" when it may): one that could not be read nor moved aside.
LoadStatus loadPrefsDat(const std::filesystem::path& file, PrefsDat& out, std::string* message,
                        std::string* blocked = nullptr);
bool savePrefsDat(const std::filesystem::path& file, const PrefsDat& p, std::string* error);

}  // namespace miral::storage
