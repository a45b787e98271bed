// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/preferences.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <system_error>

#include "storage/file_io.h"

namespace miral::storage {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Files bigger than this are not preference files: they are not read.
constexpr std::size_t kMaxFileBytes = 16u << 20;

constexpr double kNoRange = 0;
using T = PrefType;

// Every key the program reads. Keep docs/preferences.md in step
// (preferenceKeysMarkdown() gives its table; a test compares the two).
constexpr PreferenceKey kKeys[] = {
    {"ADC_Bits", T::Integer, 8, 32, "16", "",
     "sample size of the capture: 24 selects the 24-bit format, any other the float one; cards offer nothing "
     "outside 8 to 32 bits"},
    {"DAC_Bits", T::Integer, 8, 32, "16", "", "sample size of the playback, as `ADC_Bits`"},
    {"ADC_MaxFreq_24Bits", T::Integer, 4000, 192000, "88200", "",
     "highest capture rate of the 24-bit format (above it the float one); within the rates the rate boxes "
     "offer"},
    {"DAC_MaxFreq_24Bits", T::Integer, 4000, 192000, "88200", "", "the same for the playback"},
    {"num_rx_buffers", T::Integer, 0, 256, "64", "",
     "buffers asked of the audio library for the capture: 0 leaves the number to it; more only add delay"},
    {"num_tx_buffers", T::Integer, 0, 256, "32", "", "the same for the playback"},
    {"rx_buffersize", T::Integer, 16, 16384, "512", "",
     "frames per capture buffer: fewer ask for more callbacks than a desktop keeps up with; more (0.37 s at "
     "44.1 kHz) hold back every picture"},
    {"tx_buffersize", T::Integer, 16, 16384, "512", "", "the same for the playback"},
    {"rx_priority", T::Integer, 0, 15, "15", "",
     "thread priority of the capture callback: 0 leaves the thread alone, 15 is time-critical"},
    {"tx_priority", T::Integer, 0, 15, "15", "", "the same for the playback callback"},
    {"num_rx_device", T::Integer, 0, 32, "", "the card chosen in the card list",
     "capture device: 0 the system's default, k the k-th card; ALSA numbers at most 32 cards"},
    {"num_tx_device", T::Integer, 0, 32, "", "the card chosen in the card list", "the same for the playback"},
    {"rx_device_name", T::Text, kNoRange, kNoRange, "", "",
     "capture device by its name as the card list shows it (empty: by number)"},
    {"tx_device_name", T::Text, kNoRange, kNoRange, "", "", "the same for the playback"},
    {"Mag_Scale", T::Integer, 1, 1000, "10", "",
     "multiplier of the \"x10\" buttons, a probe's division ratio: from 1:1 to the 1000:1 of high-voltage "
     "probes"},
    {"Ratio_1", T::Integer, 1, 1000000, "20", "",
     "first impedance range limit, a ratio of |Z| to the shunt: below 1 every reading would lose digits; "
     "beyond "
     "a million no reading is left to trim"},
    {"Ratio_2", T::Integer, 1, 1000000, "200", "", "second impedance range limit, as `Ratio_1`"},
    {"Base_Freq", T::Real, 4000, 192000, "44100", "",
     "the time base's nominal capture rate, a rate a card runs at"},
    {"Max_ADC_Freq", T::Integer, 4000, 192000, "88200", "", "the time base's highest capture rate"},
    {"Freq_Corr_44100", T::Real, 0.9, 1.1, "1", "",
     "sample-clock correction at 44100 Hz (true rate / nominal rate), set by a calibration against a known "
     "frequency; no card's clock is off by 10 %"},
    {"Freq_Corr_48000", T::Real, 0.9, 1.1, "1", "", "the same at 48000 Hz"},
    {"Freq_Corr_88200", T::Real, 0.9, 1.1, "1", "", "the same at 88200 Hz"},
    {"Freq_Corr_96000", T::Real, 0.9, 1.1, "1", "", "the same at 96000 Hz"},
    {"Freq_Corr_176400", T::Real, 0.9, 1.1, "1", "", "the same at 176400 Hz"},
    {"Freq_Corr_192000", T::Real, 0.9, 1.1, "1", "", "the same at 192000 Hz"},
    {"Freq_Var", T::Integer, -1, 1, "0", "",
     "square-wave rate adjustment of the generators: 0 off, 1 (or -1, as some tools write true) on"},
    {"Phase_Smoth", T::Integer, -1, 1, "0", "",
     "smoothing of the transfer view's phase: 0 off, 1 (or -1) on"},
    {"tune_max_freq", T::Integer, 20, 1000, "200", "",
     "upper end of the band-width knob (x1, x10 or x100 Hz): above the knob's lowest value 10, and at most "
     "1000 "
     "(x100 is 100 kHz, beyond the widest band)"},
    {"tune_center_freq", T::Integer, 20, 1000, "100", "",
     "upper end of the band-centre knob, as `tune_max_freq`"},
    {"RLC_Freq_C", T::Real, 0, 96000, "0", "",
     "test frequency of the RLC meter for capacitors, Hz: 0 chooses automatically; nothing is analysed "
     "beyond "
     "96 kHz"},
    {"RLC_Freq_L", T::Real, 0, 96000, "0", "", "the same for inductors"},
    {"RLC_Freq_R", T::Real, 0, 96000, "0", "", "the same for resistors"},
    {"Max_Refresh", T::Integer, 10, 240, "60", "",
     "frames per second of the screen at most: below 10 the knobs lag behind the hand; above 240 no screen "
     "shows more"},
    {"Probe1", T::Text, kNoRange, kNoRange, "Shunt 1", "", "name of the first entry of the probe list"},
    {"Probe2", T::Text, kNoRange, kNoRange, "Shunt 2", "", "name of the second entry"},
    {"Probe3", T::Text, kNoRange, kNoRange, "Shunt 3", "", "name of the third entry"},
    {"Probe4", T::Text, kNoRange, kNoRange, "Shunt 4", "", "name of the fourth entry"},
    {"Probe5", T::Text, kNoRange, kNoRange, "Probe 1", "", "name of the fifth entry"},
    {"Probe6", T::Text, kNoRange, kNoRange, "Probe 2", "", "name of the sixth entry"},
    {"Probe7", T::Text, kNoRange, kNoRange, "Probe 3", "", "name of the seventh entry"},
    {"Probe8", T::Text, kNoRange, kNoRange, "Probe 4", "", "name of the eighth entry"},
    {"Probe9", T::Text, kNoRange, kNoRange, "User 1", "", "name of the ninth entry"},
    {"Probe10", T::Text, kNoRange, kNoRange, "User 2", "", "name of the tenth entry"},
};

bool isNumeric(const PreferenceKey& k) {
    return k.type != PrefType::Text;
}

}  // namespace

std::span<const PreferenceKey> preferenceKeys() {
    return kKeys;
}

const PreferenceKey* findPreferenceKey(std::string_view key) {
    for (const PreferenceKey& k : kKeys)
        if (equalsNoCase(k.key, key)) return &k;
    return nullptr;
}

std::string preferenceKeysMarkdown() {
    std::string t = "| Key | Type | Range | Default | What it does |\n|---|---|---|---|---|\n";
    for (const PreferenceKey& k : kKeys) {
        const char* type = k.type == PrefType::Integer ? "whole number"
                           : k.type == PrefType::Real  ? "number"
                                                       : "text";
        std::string range = isNumeric(k) ? shortestNumber(k.min) + " .. " + shortestNumber(k.max) : "";
        std::string def = !k.defNote.empty() ? std::string(k.defNote)
                          : k.def.empty()    ? std::string("(none)")
                                             : "`" + std::string(k.def) + "`";
        t += "| `" + std::string(k.key) + "` | " + type + " | " + range + " | " + def + " | ";
        // A "|" inside a cell would end it.
        for (char ch : k.doc) t += ch == '|' ? std::string("\\|") : std::string(1, ch);
        t += " |\n";
    }
    return t;
}

std::optional<long long> parseInteger(std::string_view text) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    long long v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return v;
}

std::string shortestNumber(double v) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

std::optional<double> parseReal(std::string_view text) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

bool Preferences::load(const std::filesystem::path& file) {
    clear();
    std::string content, error;
    switch (readWholeFile(file, kMaxFileBytes, &content, &error)) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::Missing:
            missing_ = true;
            loadError_ = "cannot open " + file.string() + ": " + std::strerror(ENOENT);
            return false;
        case ReadStatus::NotAFile:
        case ReadStatus::TooLarge:
        case ReadStatus::Failed:
            loadError_ = error;
            return false;
    }
    loadFromText(content, file.string());
    return true;
}

void Preferences::loadFromText(std::string_view text, std::string_view source) {
    lines_.clear();
    loadError_.clear();
    missing_ = false;
    // Lines end with LF, CR LF or a lone CR.
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (ch == '\n' || ch == '\r') {
            lines_.emplace_back(text.substr(start, i - start));
            if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines_.emplace_back(text.substr(start));
    loaded_ = true;
    checkRanges(source);
}

void Preferences::checkRanges(std::string_view source) {
    rangeMessage_.clear();
    refused_.clear();
    std::string list;
    for (const PreferenceKey& k : kKeys) {
        if (!isNumeric(k)) continue;
        const auto raw = firstValue(k.key);
        if (!raw) continue;
        std::string why;
        if (k.type == PrefType::Integer) {
            const auto n = parseInteger(*raw);
            if (!n) {
                why = "is not a whole number";
            } else if (static_cast<double>(*n) < k.min || static_cast<double>(*n) > k.max) {
                why = "is outside " + shortestNumber(k.min) + ".." + shortestNumber(k.max);
            }
        } else {
            const auto d = parseReal(*raw);
            if (!d) {
                why = "is not a number";
            } else if (*d < k.min || *d > k.max) {
                why = "is outside " + shortestNumber(k.min) + ".." + shortestNumber(k.max);
            }
        }
        if (why.empty()) continue;
        refused_.push_back(k.key);
        std::string shown(trimBlanks(*raw).substr(0, 24));
        for (char& ch : shown)
            if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = '?';
        if (!list.empty()) list += ", ";
        list += std::string(k.key) + "=" + shown + " " + why;
    }
    if (!list.empty()) rangeMessage_ = std::string(source) + ": " + list + "; the defaults are used instead";
}

void Preferences::clear() {
    lines_.clear();
    loaded_ = false;
    loadError_.clear();
    missing_ = false;
    rangeMessage_.clear();
    refused_.clear();
}

std::optional<std::string_view> Preferences::value(std::string_view key) const {
    for (std::string_view refused : refused_)
        if (equalsNoCase(refused, key)) return std::nullopt;
    return firstValue(key);
}

std::optional<std::string_view> Preferences::firstValue(std::string_view key) const {
    for (const std::string& line : lines_) {
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (!equalsNoCase(std::string_view(line).substr(0, eq), key)) continue;
        std::string_view v = std::string_view(line).substr(eq + 1);
        if (v.empty()) return std::nullopt;
        return v;
    }
    return std::nullopt;
}

void Preferences::noteRead(std::string_view key, PrefType type, double def, std::string_view textDef) const {
    // Only a read that the table does not describe costs anything.
    const PreferenceKey* row = findPreferenceKey(key);
    if (row != nullptr && row->type == type) {
        if (!row->defNote.empty()) return;
        if (type == PrefType::Text ? row->def == textDef : parseReal(row->def) == def) return;
    }
    std::string note(key);
    if (row == nullptr) {
        note += " (no row)";
    } else if (row->type != type) {
        note += " (read as another type than the table's)";
    } else {
        note += " (default " +
                (type == PrefType::Text ? "\"" + std::string(textDef) + "\"" : shortestNumber(def)) +
                ", the table says " + std::string(row->def) + ")";
    }
    for (const std::string& u : unlisted_)
        if (u == note) return;
    unlisted_.push_back(std::move(note));
}

int Preferences::readInt(std::string_view key, int def) const {
    noteRead(key, PrefType::Integer, def, {});
    auto v = value(key);
    if (!v) return def;
    auto n = parseInteger(*v);
    if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max()) return def;
    return static_cast<int>(*n);
}

double Preferences::readReal(std::string_view key, double def) const {
    noteRead(key, PrefType::Real, def, {});
    auto v = value(key);
    if (!v) return def;
    auto d = parseReal(*v);
    return d ? *d : def;
}

std::string Preferences::readText(std::string_view key, std::string_view def) const {
    noteRead(key, PrefType::Text, 0, def);
    auto v = value(key);
    return std::string(v ? *v : def);
}

int Preferences::readInt(std::string_view key) const {
    const PreferenceKey* row = findPreferenceKey(key);
    const auto def = row ? parseInteger(row->def) : std::nullopt;
    return readInt(key, def ? static_cast<int>(*def) : 0);
}

double Preferences::readReal(std::string_view key) const {
    const PreferenceKey* row = findPreferenceKey(key);
    return readReal(key, row ? parseReal(row->def).value_or(0.0) : 0.0);
}

std::string Preferences::readText(std::string_view key) const {
    const PreferenceKey* row = findPreferenceKey(key);
    return readText(key, row ? row->def : std::string_view());
}

bool makeConfigDirectory(const std::filesystem::path& dir, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!ec && fs::is_directory(dir, ec)) return true;
    // create_directories reports no error when a file of that name is there,
    // and "Not a directory" when a file stands where a folder on the way
    // should be.
    std::string why = ec ? ec.message() : std::string("a file of that name is in the way");
    if (ec == std::errc::not_a_directory || ec == std::errc::file_exists)
        why = "a file is in the way (" + ec.message() + ")";
    if (error) *error = "cannot create the configuration folder " + dir.string() + ": " + why;
    return false;
}

std::filesystem::path configDirectory(const std::optional<std::filesystem::path>& chosen,
                                      std::string* error) {
    namespace fs = std::filesystem;
    fs::path dir;
    if (chosen) {
        dir = *chosen;
    } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        dir = fs::path(xdg) / "miral";
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        dir = fs::path(home) / ".config" / "miral";
    } else {
        std::error_code ec;
        dir = fs::current_path(ec);
    }
    // A folder that cannot be made is reported, never replaced by another
    // one: a panel stored elsewhere would not be found at the next start.
    if (!makeConfigDirectory(dir, error) && error)
        *error +=
            "; the stored panel and settings are not read, and nothing is stored until it can be created";
    return dir;
}

}  // namespace miral::storage
