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

// The numeric keys that the program reads, with the values that make sense.
constexpr KeyRange kNumericKeys[] = {
    // Sample sizes: 24 selects the 24-bit format, any other the float one;
    // sound cards offer nothing outside 8 to 32 bits.
    {"ADC_Bits", true, 8, 32},
    {"DAC_Bits", true, 8, 32},
    // Highest rate of the 24-bit format: within the rates the rate boxes offer.
    {"ADC_MaxFreq_24Bits", true, 4000, 192000},
    {"DAC_MaxFreq_24Bits", true, 4000, 192000},
    // Buffers asked of the audio library: 0 leaves the number to it; more
    // than 256 only add delay.
    {"num_rx_buffers", true, 0, 256},
    {"num_tx_buffers", true, 0, 256},
    // Frames per buffer: fewer than 16 ask for more callbacks than a desktop
    // scheduler keeps up with; more than 16384 (0.37 s at 44.1 kHz) hold back
    // every picture.
    {"rx_buffersize", true, 16, 16384},
    {"tx_buffersize", true, 16, 16384},
    // Thread priority of the callbacks: 0 leaves the thread alone, 15 is
    // time-critical, the highest the streams use.
    {"rx_priority", true, 0, 15},
    {"tx_priority", true, 0, 15},
    // Device: 0 the system's default, k the k-th card of the card list (the
    // audio layer gets k + 1); ALSA numbers at most 32 cards.
    {"num_rx_device", true, 0, 32},
    {"num_tx_device", true, 0, 32},
    // Multiplier of the "x10" buttons, a probe's division ratio: from 1:1 to
    // the 1000:1 of high-voltage probes.
    {"Mag_Scale", true, 1, 1000},
    // Impedance range limits, ratios of |Z| to the shunt: below 1 every
    // reading would lose digits; beyond a million no reading is left to trim.
    {"Ratio_1", true, 1, 1000000},
    {"Ratio_2", true, 1, 1000000},
    // The time base's nominal capture rate and its highest one: rates that a
    // sound card runs at.
    {"Base_Freq", false, 4000, 192000},
    {"Max_ADC_Freq", true, 4000, 192000},
    // Sample-clock corrections: no sound card's clock is off by 10 %.
    {"Freq_Corr_44100", false, 0.9, 1.1},
    {"Freq_Corr_48000", false, 0.9, 1.1},
    {"Freq_Corr_88200", false, 0.9, 1.1},
    {"Freq_Corr_96000", false, 0.9, 1.1},
    {"Freq_Corr_176400", false, 0.9, 1.1},
    {"Freq_Corr_192000", false, 0.9, 1.1},
    // Switches: 0 off; 1, or -1 as some tools write "true", on.
    {"Freq_Var", true, -1, 1},
    {"Phase_Smoth", true, -1, 1},
    // Upper ends of the band knobs (x1, x10 or x100 hertz): above the knobs'
    // lowest value 10, and at most 1000 (x100 is 100 kHz, beyond the widest
    // band, 96 kHz).
    {"tune_max_freq", true, 20, 1000},
    {"tune_center_freq", true, 20, 1000},
    // RLC test frequencies in hertz: 0 chooses automatically; no rate
    // analyses beyond 96 kHz.
    {"RLC_Freq_C", false, 0, 96000},
    {"RLC_Freq_L", false, 0, 96000},
    {"RLC_Freq_R", false, 0, 96000},
};

}  // namespace

std::span<const KeyRange> numericKeys() {
    return kNumericKeys;
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
    for (const KeyRange& k : kNumericKeys) {
        const auto raw = firstValue(k.key);
        if (!raw) continue;
        std::string why;
        if (k.integer) {
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

int Preferences::readInt(std::string_view key, int def) const {
    auto v = value(key);
    if (!v) return def;
    auto n = parseInteger(*v);
    if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max()) return def;
    return static_cast<int>(*n);
}

double Preferences::readReal(std::string_view key, double def) const {
    auto v = value(key);
    if (!v) return def;
    auto d = parseReal(*v);
    return d ? *d : def;
}

std::string Preferences::readText(std::string_view key, std::string_view def) const {
    auto v = value(key);
    return std::string(v ? *v : def);
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
